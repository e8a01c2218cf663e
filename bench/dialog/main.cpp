// Dialog benchmark, one run:
//  - time from process start to the dialog painted for the first time, and
//    resident memory then (a fresh child process, five times, median);
//  - the same with 65,535 saved extended bytes, the most a request carries
//    (three times, median); --start-up-only stops here;
//  - resident memory after 1,000 and after 10,000 cyclic exchanges with
//    velk-sim at a 1 ms period;
//  - the longest gap between two ticks of a 10 ms timer of the event loop
//    while sending cyclically, with every answer different (the request's
//    status changes on each tick), so that the display is updated all along.
//
// Settings and the ports folder live in a temporary XDG_CONFIG_HOME, and the
// port scan looks at empty /dev and /sys trees: no real device is touched.

#include "ApplicationLook.h"
#include "PortNames.h"
#include "QLineEditEmbedded.h"
#include "VelkTestUi.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGroupBox>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <unistd.h>
#include <vector>

namespace {

// Milliseconds since this process was started by the kernel.
double msSinceProcessStart() {
    QFile stat("/proc/self/stat");
    if (!stat.open(QIODevice::ReadOnly)) {
        return -1;
    }
    const QByteArray line = stat.readAll();
    // Field 22 (starttime) counts clock ticks since boot; the fields after
    // the command name, which ends at the last ')', start with field 3.
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    const double startTicks = fields.value(22 - 3).toDouble();
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    const double nowMs = now.tv_sec * 1000.0 + now.tv_nsec / 1e6;
    return nowMs - startTicks * 1000.0 / double(sysconf(_SC_CLK_TCK));
}

double residentMb() {
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly)) {
        return -1;
    }
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:")) {
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
        }
    }
    return -1;
}

PortRoots benchRoots(const QString& home) {
    return PortRoots::linksOnly(home.toStdString());
}

// Reports the first paint of a widget.
class FirstPaint : public QObject {
public:
    bool painted = false;
    double atMs = -1;
    double rssMb = -1;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (!painted && event->type() == QEvent::Paint) {
            painted = true;
            atMs = msSinceProcessStart();
            rssMb = residentMb();
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        }
        return QObject::eventFilter(watched, event);
    }
};

// Child mode: start as the program does, print "<ms> <MB>" once painted.
int startupChild(int argc, char* argv[]) {
    QApplication app(argc, argv);
    VelkTestUi dialog(nullptr, nullptr, benchRoots(qEnvironmentVariable("XDG_CONFIG_HOME")));
    applyApplicationLook(dialog.font());
    FirstPaint paint;
    dialog.installEventFilter(&paint);
    dialog.show();
    QTimer::singleShot(5000, &app, &QCoreApplication::quit);
    app.exec();
    std::printf("%.1f %.1f\n", paint.atMs, paint.rssMb);
    return paint.painted ? 0 : 1;
}

// Starts the program runs times in fresh processes; the start-up times and
// resident memory, sorted. False when a run fails.
bool startUp(const char* self, int runs, int timeoutMs, std::vector<double>& ms,
             std::vector<double>& rss) {
    for (int run = 0; run < runs; ++run) {
        QProcess child;
        child.start(QString::fromLocal8Bit(self), {"--startup-child"});
        if (!child.waitForFinished(timeoutMs) || child.exitCode() != 0) {
            std::fprintf(stderr, "start-up run failed: %s\n",
                         child.readAllStandardError().constData());
            return false;
        }
        const QList<QByteArray> figures = child.readAllStandardOutput().trimmed().split(' ');
        ms.push_back(figures.value(0).toDouble());
        rss.push_back(figures.value(1).toDouble());
    }
    std::sort(ms.begin(), ms.end());
    std::sort(rss.begin(), rss.end());
    return true;
}

template <class W> W* child(QWidget* dialog, const char* name) {
    return dialog->findChild<W*>(QString::fromLatin1(name));
}

} // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    if (argc > 1 && QByteArray(argv[1]) == "--startup-child") {
        return startupChild(argc, argv);
    }

    QTemporaryDir home;
    if (!home.isValid()) {
        std::fprintf(stderr, "no temporary folder\n");
        return 1;
    }
    qputenv("XDG_CONFIG_HOME", home.path().toLocal8Bit());

    // 1. Start-up, in fresh processes.
    std::vector<double> startMs;
    std::vector<double> startRss;
    if (!startUp(argv[0], 5, 20000, startMs, startRss)) {
        return 1;
    }
    std::printf(
        "start to dialog painted (median of 5): %.1f ms  (min %.1f, max %.1f; goal <= 300)\n",
        startMs[2], startMs.front(), startMs.back());
    std::printf("resident memory when shown (median):   %.1f MB  (goal <= 60)\n", startRss[2]);

    // With every extended byte a request can carry saved.
    {
        QStringList bytes;
        for (int i = 0; i < 65535; ++i) {
            bytes << QString::number(i % 256, 16).toUpper();
        }
        QSettings settings(home.path() + "/ORBEK/VelkTest.conf", QSettings::NativeFormat);
        settings.setValue("exBlockStr", bytes.join(';') + ';');
    }
    std::vector<double> savedMs;
    std::vector<double> savedRss;
    if (!startUp(argv[0], 3, 600000, savedMs, savedRss)) {
        return 1;
    }
    QFile::remove(home.path() + "/ORBEK/VelkTest.conf");
    std::printf("start to dialog painted with 65,535 saved extended bytes (median of 3): %.1f ms"
                "  (min %.1f, max %.1f)\n",
                savedMs[1], savedMs.front(), savedMs.back());
    std::printf("  of which loading the bytes: %.1f ms  (goal < 1000)\n", savedMs[1] - startMs[2]);
    std::printf("  resident memory then: %.1f MB\n", savedRss[1]);
    if (argc > 1 && QByteArray(argv[1]) == "--start-up-only") {
        return 0;
    }

    QApplication app(argc, argv);

    // 2. Cyclic sending against the simulator.
    QProcess sim;
    sim.start(VELK_SIM_PATH, {"--com", "200", "--scenario", "echo"});
    if (!sim.waitForStarted(5000)) {
        std::fprintf(stderr, "cannot start %s\n", VELK_SIM_PATH);
        return 1;
    }
    while (true) {
        if (!sim.canReadLine() && !sim.waitForReadyRead(10000)) {
            std::fprintf(stderr, "velk-sim did not get ready\n");
            return 1;
        }
        if (sim.readLine().startsWith("READY")) {
            break;
        }
    }
    long requests = 0;
    QObject::connect(&sim, &QProcess::readyReadStandardOutput, [&] {
        while (sim.canReadLine()) {
            if (sim.readLine().startsWith("REQ")) {
                ++requests;
            }
        }
    });

    VelkTestUi dialog(nullptr, nullptr, benchRoots(home.path()));
    applyApplicationLook(dialog.font());
    dialog.show();
    const double shownRss = residentMb();

    child<QLineEditEmbedded>(&dialog, "address_1")->setText("5");
    child<QLineEditEmbedded>(&dialog, "code")->setText("10");
    child<QGroupBox>(&dialog, "cyclicSendGroupBox")->setChecked(true);
    emit child<QLineEditEmbedded>(&dialog, "cyclicSendTimeout")->dataEnteredSignal("1");
    QLineEditEmbedded* status = child<QLineEditEmbedded>(&dialog, "status");

    QElapsedTimer clock;
    qint64 lastTick = -1;
    qint64 longestGapMs = 0;
    std::vector<qint64> gaps;
    int tick = 0;
    double rssAt1000 = -1;
    double rssAt10000 = -1;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(10);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        if (lastTick >= 0) {
            longestGapMs = std::max(longestGapMs, now - lastTick);
            gaps.push_back(now - lastTick);
        }
        lastTick = now;
        status->setText(QString::number(++tick % 128, 16).toUpper());
        if (rssAt1000 < 0 && requests >= 1000) {
            rssAt1000 = residentMb();
        }
        if (requests >= 10000) {
            rssAt10000 = residentMb();
            app.quit();
        }
    });
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, &app, &QCoreApplication::quit);

    clock.start();
    ticker.start();
    watchdog.start(300000);
    emit child<QPushButton>(&dialog, "sendButton")->released();
    app.exec();
    const double seconds = clock.elapsed() / 1000.0;
    dialog.close();
    sim.terminate();
    sim.waitForFinished(5000);

    std::printf("resident memory when shown (this run): %.1f MB\n", shownRss);
    std::printf("resident memory after 1,000 exchanges:  %.1f MB\n", rssAt1000);
    std::printf("resident memory after 10,000 exchanges: %.1f MB  (growth %.2f MB; goal <= 1)\n",
                rssAt10000, rssAt10000 - rssAt1000);
    std::printf("exchanges: %ld in %.1f s (%.0f per second)\n", requests, seconds,
                requests / seconds);
    std::sort(gaps.begin(), gaps.end());
    const auto over = std::count_if(gaps.begin(), gaps.end(), [](qint64 g) { return g > 20; });
    std::printf("longest gap between 10 ms timer ticks: %lld ms  (goal <= 20)\n",
                static_cast<long long>(longestGapMs));
    std::printf("  ticks: %zu, gaps over 20 ms: %ld, 99th percentile: %lld ms\n", gaps.size() + 1,
                long(over),
                gaps.empty() ? 0LL : static_cast<long long>(gaps[gaps.size() * 99 / 100]));
    double load[3] = {0, 0, 0};
    if (getloadavg(load, 3) == 3) {
        std::printf("machine load average (1 min) at the end: %.2f on %ld cores\n", load[0],
                    sysconf(_SC_NPROCESSORS_ONLN));
    }
    return rssAt10000 < 0 ? 1 : 0;
}
