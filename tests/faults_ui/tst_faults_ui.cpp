// The dialog under stress: the window closed while cyclic sending runs at a
// 1 ms period, and the session re-created again and again while sending.
// Nothing may crash, hang or stay behind (threads, open files); leaks and
// races are the sanitizer builds' part.

#include "FaultSupport.h"
#include "PortNames.h"
#include "SimChild.h"
#include "VelkTestUi.h"

#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

using namespace faults;

namespace {

const int com = 61;

// The port tree of the test: empty /dev and /sys, so that only velk-sim's
// link in the ports folder is listed and no real device is ever opened.
PortRoots testRoots() {
    const QString home = qEnvironmentVariable("XDG_CONFIG_HOME");
    Q_ASSERT(!home.isEmpty());
    return PortRoots::linksOnly(home.toStdString());
}

// A request that goes out (address_1 set) every millisecond.
void storeCyclicRequest() {
    QSettings settings("ORBEK", "VelkTest");
    settings.clear();
    settings.setValue("address_1", "3");
    settings.setValue("code", "10");
    settings.setValue("cyclicSendTimeout", "1");
    settings.setValue("portName", QString("COM%1").arg(com));
    settings.setValue("baudRate", "115200");
    settings.sync();
}

template <class W> W* child(QWidget* dialog, const char* name) {
    W* w = dialog->findChild<W*>(QString::fromLatin1(name));
    if (w == nullptr) {
        qFatal("no widget %s", name);
    }
    return w;
}

void startCyclicSending(QWidget* dialog) {
    child<QGroupBox>(dialog, "cyclicSendGroupBox")->setChecked(true);
    QTest::mouseClick(child<QPushButton>(dialog, "sendButton"), Qt::LeftButton);
}

} // namespace

class TestFaultsUi : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void closeDuringCyclicSending();
    void sessionRecreatedWhileSending();
    void cleanupTestCase();

private:
    SimChild sim;
    PortRoots roots;
    int baseThreads = 0;
    int baseFiles = 0;
};

void TestFaultsUi::initTestCase() {
    roots = testRoots();
    QVERIFY(sim.start(com, {"--quiet"}));
    storeCyclicRequest();
    // One dialog first, so that what Qt sets up once (fonts, style, the
    // keyboards) is not counted as left behind.
    {
        VelkTestUi warmUp(nullptr, nullptr, roots);
        warmUp.show();
        QVERIFY(QTest::qWaitForWindowExposed(&warmUp));
        warmUp.close();
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    baseThreads = settledThreadCount(0, 200);
    baseFiles = openFileCount();
}

void TestFaultsUi::closeDuringCyclicSending() {
    int results = 0;
    for (int i = 0; i < 50; ++i) {
        storeCyclicRequest();
        auto dialog = std::make_unique<VelkTestUi>(nullptr, nullptr, roots);
        QSignalSpy completed(dialog.get(), &VelkTestUi::sessionComplete);
        dialog->show();
        QVERIFY(child<QGroupBox>(dialog.get(), "rs232GroupBox")->title() == "Порт открыт");
        startCyclicSending(dialog.get());
        QVERIFY(!child<QPushButton>(dialog.get(), "sendButton")->isEnabled());
        // Close at a different moment of the cycle each time.
        QTest::qWait(2 + i % 7);
        {
            Watchdog watchdog("closing the window during cyclic sending", 30000);
            QVERIFY(dialog->close());
            dialog.reset();
        }
        results += completed.count();
    }
    // The sending really ran (one result per dialog at most: equal answers
    // are reported once), and each close stopped it.
    QVERIFY(results > 0);
    QCOMPARE(settledThreadCount(baseThreads), baseThreads);
    QCOMPARE(openFileCount(), baseFiles);
}

void TestFaultsUi::sessionRecreatedWhileSending() {
    storeCyclicRequest();
    {
        VelkTestUi dialog(nullptr, nullptr, roots);
        QSignalSpy completed(&dialog, &VelkTestUi::sessionComplete);
        dialog.show();
        auto* baud = child<QComboBox>(&dialog, "baudRate");
        auto* send = child<QPushButton>(&dialog, "sendButton");
        auto* stop = child<QPushButton>(&dialog, "stopCyclicSendButton");
        auto* box = child<QGroupBox>(&dialog, "rs232GroupBox");
        for (int i = 0; i < 100; ++i) {
            startCyclicSending(&dialog);
            QVERIFY(stop->isEnabled());
            QTest::qWait(1 + i % 5);
            Watchdog watchdog("re-creating the session during cyclic sending", 30000);
            // Another baud rate: the cyclic sending stops, a new session opens.
            baud->setCurrentIndex(i % 2 == 0 ? 1 : 0);
            QVERIFY(send->isEnabled());
            QVERIFY(!stop->isEnabled());
            QCOMPARE(box->title(), QString("Порт открыт"));
        }
        startCyclicSending(&dialog);
        QTRY_VERIFY_WITH_TIMEOUT(completed.count() > 0, 5000);
        Watchdog watchdog("closing the window", 30000);
        dialog.close();
    }
    QCOMPARE(settledThreadCount(baseThreads), baseThreads);
    QCOMPARE(openFileCount(), baseFiles);
}

void TestFaultsUi::cleanupTestCase() {
    QCOMPARE(sim.stop(SIGTERM), 0);
}

QTEST_MAIN(TestFaultsUi)
#include "tst_faults_ui.moc"
