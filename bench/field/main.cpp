// Field probe of the dialog, figures for several runs:
//  - the longest time the window does not answer when the user presses Stop,
//    closes it, or picks another port or baud rate during cyclic sending
//    while velk-sim trickles an answer that never ends (65,535 extended
//    bytes, 20 ms a byte): the time spent in the call, and the longest gap
//    between two ticks of a 5 ms timer from just before the action to a
//    second after it (goal <= 500 ms);
//  - the time from a slave's return (velk-sim killed during cyclic sending at
//    20 ms, then started again on the same COM link) to the first good
//    exchange shown (goal <= 1 s), and the CPU the process took while the
//    slave was gone (goal <= 1 % of a core).
//
// Settings and the ports folder live in a temporary XDG_CONFIG_HOME, and the
// port scan looks at empty /dev and /sys trees: no real device is touched.

#include "PortNames.h"
#include "SimChild.h"
#include "VelkTestUi.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QGroupBox>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

const int slowCom = 71;
const int spareCom = 72;
const int returningCom = 73;

template <class W> W* child(QWidget* dialog, const char* name) {
    return dialog->findChild<W*>(QString::fromLatin1(name));
}

void storeRequest(int com, int periodMs) {
    QSettings settings("ORBEK", "VelkTest");
    settings.clear();
    settings.setValue("address_1", "3");
    settings.setValue("code", "10");
    settings.setValue("cyclicSendTimeout", QString::number(periodMs));
    settings.setValue("portName", QString("COM%1").arg(com));
    settings.setValue("baudRate", "115200");
    settings.sync();
}

void startCyclicSending(QWidget* dialog) {
    child<QGroupBox>(dialog, "cyclicSendGroupBox")->setChecked(true);
    QTest::mouseClick(child<QPushButton>(dialog, "sendButton"), Qt::LeftButton);
}

QString loadAverage() {
    QFile file("/proc/loadavg");
    return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll()).section(' ', 0, 2)
                                          : QString("?");
}

double cpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// The longest gap between two ticks of a fast timer of the event loop.
class Ticker {
public:
    Ticker() {
        timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer, &QTimer::timeout, [this] {
            const qint64 now = clock.nsecsElapsed();
            longestNs = std::max(longestNs, now - lastNs);
            lastNs = now;
        });
        clock.start();
        timer.start(5);
    }
    double longestMs() const { return double(longestNs) / 1e6; }

private:
    QTimer timer;
    QElapsedTimer clock;
    qint64 lastNs = 0;
    qint64 longestNs = 0;
};

enum class Action { Stop, Close, PortChange, BaudChange };

struct Freeze {
    double callMs = -1;
    double longestGapMs = -1;
};

Freeze freeze(Action action, const PortRoots& roots) {
    Freeze result;
    SimChild slow;
    if (!slow.start(slowCom, {"--quiet", "--scenario", "extended=65535,slow=20"})) {
        return result;
    }
    storeRequest(slowCom, 10);
    auto dialog = std::make_unique<VelkTestUi>(nullptr, nullptr, roots);
    dialog->show();
    startCyclicSending(dialog.get());
    // Well inside the answer.
    QTest::qWait(500);
    {
        Ticker ticker;
        QTest::qWait(100);
        QElapsedTimer call;
        call.start();
        switch (action) {
        case Action::Stop:
            QTest::mouseClick(child<QPushButton>(dialog.get(), "stopCyclicSendButton"),
                              Qt::LeftButton);
            break;
        case Action::Close:
            dialog->close();
            break;
        case Action::PortChange: {
            auto* port = child<QComboBox>(dialog.get(), "portName");
            port->setCurrentIndex(port->findText(QString("COM%1").arg(spareCom)));
            break;
        }
        case Action::BaudChange: {
            auto* baud = child<QComboBox>(dialog.get(), "baudRate");
            baud->setCurrentIndex(baud->currentIndex() == 0 ? 1 : 0);
            break;
        }
        }
        result.callMs = double(call.nsecsElapsed()) / 1e6;
        QTest::qWait(1000);
        result.longestGapMs = ticker.longestMs();
    }
    // After Stop the exchange runs on to the pause limit: the window's
    // close ends it.
    dialog->close();
    dialog.reset();
    return result;
}

struct Recovery {
    double backMs = -1;  // slave started again to the first good exchange shown
    double titleMs = -1; // ... to the title saying the port is open again
    double goneCpu = -1; // percent of a core while the slave was gone
};

Recovery recovery(const PortRoots& roots) {
    Recovery result;
    SimChild first;
    if (!first.start(returningCom, {"--quiet"})) {
        return result;
    }
    storeRequest(returningCom, 20);
    VelkTestUi dialog(nullptr, nullptr, roots);
    int lastCode = -1;
    QObject::connect(&dialog, &VelkTestUi::sessionComplete,
                     [&lastCode](int code) { lastCode = code; });
    dialog.show();
    auto* box = child<QGroupBox>(&dialog, "rs232GroupBox");
    startCyclicSending(&dialog);
    if (!QTest::qWaitFor([&] { return lastCode == 0; }, 5000)) {
        return result;
    }
    // The link goes first: the dead terminal's number may go to another
    // program's terminal, which the dialog would then open.
    QFile::remove(SimChild::linkPath(returningCom));
    first.stop(SIGKILL);
    if (!QTest::qWaitFor([&] { return box->title() != "Порт открыт"; }, 5000)) {
        return result;
    }
    const double cpuBefore = cpuSeconds();
    QElapsedTimer gone;
    gone.start();
    {
        // A plain event loop: qWait's own polling would be counted too.
        QEventLoop idle;
        QTimer::singleShot(3000, &idle, &QEventLoop::quit);
        idle.exec();
    }
    result.goneCpu = 100.0 * (cpuSeconds() - cpuBefore) / (double(gone.nsecsElapsed()) / 1e9);

    SimChild second;
    if (!second.start(returningCom, {"--quiet"})) {
        return result;
    }
    QElapsedTimer back;
    back.start();
    if (QTest::qWaitFor([&] { return lastCode == 0; }, 10000)) {
        result.backMs = double(back.nsecsElapsed()) / 1e6;
    }
    if (QTest::qWaitFor([&] { return box->title() == "Порт открыт"; }, 10000)) {
        result.titleMs = double(back.nsecsElapsed()) / 1e6;
    }
    dialog.close();
    return result;
}

void report(const char* what, std::vector<double> figures, const char* unit) {
    std::sort(figures.begin(), figures.end());
    std::printf("%-46s", what);
    for (double f : figures) {
        std::printf(" %8.1f", f);
    }
    std::printf("  %s (max %.1f)\n", unit, figures.empty() ? 0.0 : figures.back());
}

} // namespace

int main(int argc, char** argv) {
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.path().toLocal8Bit());
    qputenv("VELK_BINARY_DIR", VELK_BINARY_DIR);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    const PortRoots roots = PortRoots::linksOnly(home.path().toStdString());
    std::printf("load average at start: %s; %d runs, sorted\n", qPrintable(loadAverage()), runs);

    // The port to change to: a second simulator that answers at once.
    SimChild spare;
    if (!spare.start(spareCom, {"--quiet"})) {
        std::fprintf(stderr, "velk-sim did not start\n");
        return 1;
    }
    const struct {
        Action action;
        const char* name;
    } actions[] = {{Action::Stop, "Stop"},
                   {Action::Close, "close"},
                   {Action::PortChange, "port change"},
                   {Action::BaudChange, "baud change"}};
    for (const auto& a : actions) {
        std::vector<double> callMs;
        std::vector<double> gapMs;
        for (int i = 0; i < runs; ++i) {
            const Freeze f = freeze(a.action, roots);
            callMs.push_back(f.callMs);
            gapMs.push_back(f.longestGapMs);
        }
        const QByteArray call = QString("%1: time in the call").arg(a.name).toLatin1();
        const QByteArray gap = QString("%1: longest event loop gap").arg(a.name).toLatin1();
        report(call.constData(), callMs, "ms");
        report(gap.constData(), gapMs, "ms (goal <= 500)");
    }
    std::vector<double> back;
    std::vector<double> title;
    std::vector<double> cpu;
    for (int i = 0; i < runs; ++i) {
        const Recovery r = recovery(roots);
        back.push_back(r.backMs);
        title.push_back(r.titleMs);
        cpu.push_back(r.goneCpu);
    }
    report("slave back to first good exchange shown", back, "ms (goal <= 1000)");
    report("slave back to title \"port open\"", title, "ms");
    report("CPU while the slave is gone", cpu, "% of a core (goal <= 1)");
    std::printf("load average at end: %s\n", qPrintable(loadAverage()));
    return 0;
}
