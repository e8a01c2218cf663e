// Renders the dialog after a successful exchange with velk-sim into a PNG,
// with the program's look. Run under a display (xvfb-run) so the real
// platform plugin draws it:
//   dialog-screenshot <velk-sim> <output.png>
// Settings and the ports folder live in a temporary XDG_CONFIG_HOME and the
// port scan looks at empty /dev and /sys trees, so no real device is touched.

#include "ApplicationLook.h"
#include "PortNames.h"
#include "QLineEditEmbedded.h"
#include "VelkTestUi.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>

#include <cstdio>
#include <functional>

namespace {

template <class W> W* child(QWidget* dialog, const char* name) {
    return dialog->findChild<W*>(QString::fromLatin1(name));
}

void waitFor(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < timeoutMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: dialog-screenshot <velk-sim> <output.png>\n");
        return 64;
    }
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.path().toLocal8Bit());
    QApplication app(argc, argv);
    useApplicationFontFamily();

    QProcess sim;
    sim.start(QString::fromLocal8Bit(argv[1]), {"--com", "3", "--scenario", "extended=10"});
    QByteArray line;
    while (!line.startsWith("READY")) {
        if (!sim.canReadLine() && !sim.waitForReadyRead(10000)) {
            std::fprintf(stderr, "velk-sim did not get ready\n");
            return 1;
        }
        line = sim.readLine();
    }

    VelkTestUi dialog(nullptr, nullptr, PortRoots::linksOnly(home.path().toStdString()));
    applyApplicationLook(dialog.font());
    dialog.show();

    child<QLineEditEmbedded>(&dialog, "address_1")->setText("5");
    child<QLineEditEmbedded>(&dialog, "code")->setText("10");
    child<QLineEditEmbedded>(&dialog, "index")->setText("1");
    child<QCheckBox>(&dialog, "wtsBit")->click();
    child<QComboBox>(&dialog, "dataType")->setCurrentIndex(3);
    emit child<QLineEditEmbedded>(&dialog, "userData")->dataEnteredSignal("12.5");
    child<QComboBox>(&dialog, "dataRxType")->setCurrentIndex(3);
    child<QComboBox>(&dialog, "exDataRxType")->setCurrentIndex(2);
    child<QComboBox>(&dialog, "exDataRxTypeBitSize")->setCurrentIndex(1);
    emit child<QPushButton>(&dialog, "sendButton")->released();

    QLabel* ok = child<QLabel>(&dialog, "rxBlockOkLabel");
    waitFor([&] { return !ok->isHidden(); }, 5000);
    waitFor([] { return false; }, 300); // let everything paint
    const bool saved = !ok->isHidden() && dialog.grab().save(QString::fromLocal8Bit(argv[2]));
    dialog.close();
    sim.terminate();
    sim.waitForFinished(5000);
    if (!saved) {
        std::fprintf(stderr, "no successful exchange to show\n");
        return 1;
    }
    return 0;
}
