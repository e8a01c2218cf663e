// Requests sent from the dialog to a slave on a pseudo-terminal, and the
// answers shown: the simulator for well-formed answers, a scripted slave for
// answers the simulator never gives.

#include "BlockBytes.h"
#include "UiTestSupport.h"

#include "CrcBit7Wrapper.h"
#include "Velk21AddressBlockPacketPackager.h"
#include "Velk21DataBlockPacketPackager.h"
#include "Velk21Session.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTextBrowser>
#include <QtTest>

#include <atomic>
#include <memory>
#include <thread>

using namespace uitest;

namespace {

QString hexLine(const QString& prefix, const DataBlock<unsigned char>& bytes) {
    QString line = prefix;
    for (unsigned i = 0; i < bytes.size(); ++i) {
        line += QString::number(bytes[i], 16).toUpper() + ' ';
    }
    return line;
}

DataBlock<unsigned char> packed(const Velk21AddressBlockKernel& address) {
    return framedBlock<Velk21AddressBlockPacketPackager>(address);
}

DataBlock<unsigned char> packed(const Velk21DataBlockKernel& data) {
    return framedBlock<Velk21DataBlockPacketPackager>(data);
}

DataBlock<unsigned char> toBlock(const QByteArray& bytes) {
    DataBlock<unsigned char> block;
    for (char c : bytes) {
        block.append(static_cast<unsigned char>(c));
    }
    return block;
}

QByteArray toBytes(const DataBlock<unsigned char>& block) {
    return QByteArray(reinterpret_cast<const char*>(block.data()), int(block.size()));
}

// Re-seals a data block whose bytes were changed by hand.
QByteArray resealed(QByteArray block) {
    block[11] = char(crc7(reinterpret_cast<const unsigned char*>(block.constData()), 11));
    return block;
}

int threadCount() {
    return int(QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
}

// Whether this process holds a descriptor of the device.
bool deviceOpen(const QString& device) {
    const QFileInfoList fds = QDir("/proc/self/fd").entryInfoList(QDir::System | QDir::Files);
    for (const QFileInfo& fd : fds) {
        if (fd.symLinkTarget() == device) {
            return true;
        }
    }
    return false;
}

// A slave that plays a script: for each request, the answer bytes (empty:
// stay silent).
class ScriptedSlave {
public:
    ScriptedSlave(PtyPort& port, QList<QByteArray> answers)
        : worker([this, &port, answers] {
              for (const QByteArray& answer : answers) {
                  std::size_t request = 0;
                  while (!stopping && request < 18) {
                      request += port.read(18 - request, 50).size();
                  }
                  if (stopping) {
                      return;
                  }
                  ++served;
                  if (!answer.isEmpty()) {
                      port.write(Pty::Bytes(answer.begin(), answer.end()));
                  }
              }
          }) {}
    ~ScriptedSlave() {
        stopping = true;
        worker.join();
    }

    std::atomic<bool> stopping{false};
    std::atomic<int> served{0};
    std::thread worker;
};

} // namespace

class TestUiExchange : public QObject, protected DialogReader {
    Q_OBJECT

private:
    std::unique_ptr<VelkTestUi> makeDialog(Velk21Session* session = nullptr) {
        auto d = std::make_unique<VelkTestUi>(session, nullptr, testRoots());
        d->show();
        if (!QTest::qWaitForWindowExposed(d.get())) {
            qFatal("dialog not exposed");
        }
        return d;
    }

    // Releases the send button until the slave has seen `count` requests: a
    // release while the previous single send is still winding down is ignored.
    template <class Counter> bool sendUntil(Counter served, int count) {
        auto* send = widget<QPushButton>(d(), "sendButton");
        for (int attempt = 0; attempt < 20 && served() < count; ++attempt) {
            QTest::mouseClick(send, Qt::LeftButton);
            for (int i = 0; i < 20 && served() < count; ++i) {
                QTest::qWait(10);
            }
        }
        return served() >= count;
    }

    // The request of the round trips: slave 5, code 10, index 1.
    void composeRequest() {
        field(d(), "address_1")->setText("5");
        field(d(), "code")->setText("10");
        field(d(), "index")->setText("1");
    }
    Velk21AddressBlockKernel requestAddress() {
        return Velk21AddressBlockKernel(Velk21Address(5, 0, 0, 0), 1);
    }

private slots:
    void initTestCase() {
        // Lets Qt create whatever it creates once, before threads are counted.
        clearSettings();
        makeDialog().reset();
    }
    void init() { clearSettings(); }
    void cleanup() {
        FullsizeKeyboard::instance()->hide();
        NumericKeyboard::instance()->hide();
        dialog.reset();
    }

    void valueRoundTrip() {
        SimChild sim;
        QString error;
        QVERIFY2(sim.start(5, {"--scenario", "registers"}, &error), qPrintable(error));
        dialog = makeDialog();
        composeRequest();
        widget<QCheckBox>(d(), "wtsBit")->click();
        widget<QComboBox>(d(), "dataType")->setCurrentIndex(3);
        emit field(d(), "userData")->dataEnteredSignal("12.5");
        auto* rxType = widget<QComboBox>(d(), "dataRxType");
        rxType->setCurrentIndex(3);

        QVERIFY(sendUntil([&] { return sim.loggedLines("REQ"); }, 1));
        QTRY_VERIFY(okShown());
        QVERIFY(!errorShown());
        QCOMPARE(errorText(), QString::fromUtf8("Ошибок нет."));

        Velk21DataBlockKernel request(Velk21ParameterId(0x10, 1), 0x1F, 0, 0, 1, 0, 0, 0, 0);
        request.data[0] = 0x7D;
        request.data[3] = 1;
        Velk21DataBlockKernel answer = request;
        answer.ao = 5;
        answer.csBit = 1;
        QCOMPARE(log(), (QStringList{hexLine("Адрес (Tx): ", packed(requestAddress())),
                                     hexLine("Данные (Tx): ", packed(request)),
                                     hexLine("Данные (Rx): ", packed(answer))}));
        QCOMPARE(fieldTexts(d(), {"aoRx", "ntxtRx", "codeRx", "indexRx", "statusRx", "dataRx_0",
                                  "dataRx_1", "dataRx_2", "dataRx_3"}),
                 (QStringList{"5", "0", "10", "1", "0", "7D", "0", "0", "1"}));
        QVERIFY(box("wtsBitRx") && box("csBitRx"));
        QVERIFY(!box("efBitRx") && !box("errBitRx") && !box("subLBitRx"));
        QCOMPARE(widget<QTableWidget>(d(), "exBlockRxList")->rowCount(), 0);

        QCOMPARE(text("userDataRx"), QString("12.5"));
        rxType->setCurrentIndex(1);
        QCOMPARE(text("userDataRx"), QString("16777341"));
        rxType->setCurrentIndex(4);
        QCOMPARE(text("userDataRx"), QString("0.000"));
        rxType->setCurrentIndex(0);
        QCOMPARE(text("userDataRx"), QString("1"));

        // Enter sends too: the slave reads the stored value back.
        widget<QCheckBox>(d(), "wtsBit")->click();
        QTest::qWait(100);
        QTest::keyClick(d(), Qt::Key_Return);
        QTRY_COMPARE(sim.loggedLines("REQ"), 2);
        QTRY_VERIFY(!box("wtsBitRx"));
        QCOMPARE(text("dataRx_0"), QString("7D"));
    }

    void extendedRoundTrip() {
        SimChild sim;
        QString error;
        QVERIFY2(sim.start(6, {"--scenario", "echo"}, &error), qPrintable(error));
        dialog = makeDialog();
        composeRequest();
        widget<QCheckBox>(d(), "wtsBit")->click();
        widget<QCheckBox>(d(), "efBit")->click();
        for (const char* byte : {"41", "42", "43", "C0", "FF", "FF", "FF", "FF"}) {
            emit field(d(), "exData")->dataEnteredSignal(byte);
        }
        QVERIFY(sendUntil([&] { return sim.loggedLines("REQ"); }, 1));
        QTRY_VERIFY(okShown());
        QVERIFY(box("efBitRx"));
        QCOMPARE(text("dataRx_0"), QString("8"));

        auto* list = widget<QTableWidget>(d(), "exBlockRxList");
        QCOMPARE(list->rowCount(), 8);
        const QStringList hex{"41", "42", "43", "C0", "FF", "FF", "FF", "FF"};
        // Windows-1251: C0 is the Cyrillic capital A, FF the small ya.
        const QStringList chars{"A", "B", "C", QString(QChar(0x410)), QString(QChar(0x44F))};
        for (int row = 0; row < 8; ++row) {
            QCOMPARE(list->verticalHeaderItem(row)->text(), QString::number(row));
            QCOMPARE(list->item(row, 0)->text(), hex.at(row));
            QCOMPARE(list->item(row, 1)->text(), chars.at(qMin(row, 4)));
            QCOMPARE(list->item(row, 1)->textAlignment(), int(Qt::AlignHCenter | Qt::AlignVCenter));
        }

        struct View {
            int type;
            int bits;
            const char* offset;
            const char* value;
            const char* hex;
        };
        // Types by index: 0 BOOLEAN, 1 INTEGER, 2 UNSIGNED, 3 REAL32FIX, 4 REAL32.
        const View views[] = {
            {2, 1, "1", "17218", "0x4342"},
            {1, 0, "4", "255", "0xff"},
            {1, 3, "4", "-1", "0xffffffffffffffff"},
            {2, 3, "4", "4294967295", "0xffffffff"},
            {0, 0, "0", "1", "0x1"},
            // Past the end or before the start the value is emptied and the
            // hex view keeps what it showed last: 42 41 at offset 0 on the
            // way to the first, FF at offset 7 on the way to the second.
            {2, 1, "7", "", "0x4241"},
            {1, 0, "-1", "", "0xff"},
        };
        auto* type = widget<QComboBox>(d(), "exDataRxType");
        auto* bits = widget<QComboBox>(d(), "exDataRxTypeBitSize");
        for (const View& v : views) {
            type->setCurrentIndex(v.type);
            bits->setCurrentIndex(v.bits);
            emit field(d(), "exDataRxOffset")->dataEnteredSignal(v.offset);
            QCOMPARE(text("exDataRxOffset"), QString(v.offset));
            QCOMPARE(text("userExDataRx"), QString(v.value));
            QCOMPARE(text("userExDataRxHex"), QString(v.hex));
            QCOMPARE(bits->isHidden(), v.type != 1 && v.type != 2);
        }
    }

    void silentSlaveShowsCodeFive() {
        SimChild sim;
        QString error;
        QVERIFY2(sim.start(7, {"--scenario", "silent"}, &error), qPrintable(error));
        dialog = makeDialog();
        composeRequest();
        QVERIFY(sendUntil([&] { return sim.loggedLines("REQ"); }, 1));
        QTRY_VERIFY(errorShown());
        QVERIFY(!okShown());
        QCOMPARE(errorText(), QString::fromUtf8("Ошибка приёма блока данных (тайм-аут)."));
        QCOMPARE(log().size(), 2);
        QVERIFY(log().at(0).startsWith(QString::fromUtf8("Адрес (Tx): ")));
        QVERIFY(log().at(1).startsWith(QString::fromUtf8("Данные (Tx): ")));
        QCOMPARE(fieldTexts(d(), {"aoRx", "ntxtRx", "codeRx", "indexRx", "statusRx", "dataRx_0",
                                  "dataRx_1", "dataRx_2", "dataRx_3"}),
                 QStringList(9, "0"));
        QVERIFY(!box("csBitRx") && !box("wtsBitRx"));
    }

    void identicalAnswersUpdateOnce() {
        SimChild sim;
        QString error;
        QVERIFY2(sim.start(8, {"--scenario", "echo"}, &error), qPrintable(error));
        dialog = makeDialog();
        QSignalSpy updates(dialog.get(), &VelkTestUi::sessionComplete);
        composeRequest();
        QVERIFY(sendUntil([&] { return sim.loggedLines("REQ"); }, 1));
        QTRY_COMPARE(updates.count(), 1);
        QTest::qWait(100);
        QVERIFY(sendUntil([&] { return sim.loggedLines("REQ"); }, 2));
        QVERIFY(sendUntil([&] { return sim.loggedLines("REQ"); }, 3));
        QTest::qWait(300);
        QCOMPARE(updates.count(), 1);
        field(d(), "status")->setText("3");
        QVERIFY(sendUntil([&] { return sim.loggedLines("REQ"); }, 4));
        QTRY_COMPARE(updates.count(), 2);
        QTRY_COMPARE(text("statusRx"), QString("3"));
    }

    // An echoing slave falls silent: the exchange that fails leaves the
    // request in the record, equal to the answer shown before. The failure
    // must still be shown.
    void failureAfterEqualRecordIsShown_data() {
        QTest::addColumn<bool>("corruptFirst");
        QTest::addColumn<QString>("firstText");
        QTest::newRow("answer, then silence") << false << QString::fromUtf8("Ошибок нет.");
        QTest::newRow("bad answer, then silence")
            << true << QString::fromUtf8("Ошибка распаковки принятого блока данных.");
    }
    void failureAfterEqualRecordIsShown() {
        QFETCH(bool, corruptFirst);
        QFETCH(QString, firstText);
        PtyPort port(9);
        // The request's own data block sent back is a well-formed answer that
        // equals the request; with its CRC broken it does not decode.
        Velk21DataBlockKernel request(Velk21ParameterId(0x10, 1), 0x1F, 0, 0, 0, 0, 0, 0, 0);
        QByteArray echo = toBytes(packed(request));
        if (corruptFirst) {
            echo[11] = char(echo[11] ^ 1);
        }
        ScriptedSlave slave(port, {echo, QByteArray()});
        dialog = makeDialog();
        QSignalSpy updates(dialog.get(), &VelkTestUi::sessionComplete);
        composeRequest();
        QVERIFY(sendUntil([&] { return slave.served.load(); }, 1));
        QTRY_COMPARE(updates.count(), 1);
        QTRY_COMPARE(errorText(), firstText);
        QTest::qWait(100);
        QVERIFY(sendUntil([&] { return slave.served.load(); }, 2));
        QTRY_COMPARE(updates.count(), 2);
        QTRY_COMPARE(errorText(), QString::fromUtf8("Ошибка приёма блока данных (тайм-аут)."));
        QVERIFY(errorShown() && !okShown());
    }

    // The received line shows the block as it came, also where the record
    // cannot say it again.
    void receivedLineShowsTheWireBytes_data() {
        QTest::addColumn<int>("offset");
        QTest::addColumn<int>("orMask");
        QTest::addColumn<bool>("errBit");
        QTest::newRow("ao with bit 7") << 1 << 0x80 << false;
        QTest::newRow("ERR without CS") << 0 << 0x02 << true;
    }
    void receivedLineShowsTheWireBytes() {
        QFETCH(int, offset);
        QFETCH(int, orMask);
        QFETCH(bool, errBit);
        PtyPort port(10);
        Velk21DataBlockKernel plain(Velk21ParameterId(0x10, 1), 5, 0, 0, 0, 0, 0, 0, 0);
        QByteArray answer = toBytes(packed(plain));
        answer[offset] = char(answer[offset] | orMask);
        answer = resealed(answer);
        ScriptedSlave slave(port, {answer});
        dialog = makeDialog();
        composeRequest();
        QVERIFY(sendUntil([&] { return slave.served.load(); }, 1));
        QTRY_VERIFY(okShown());
        QCOMPARE(log().value(2), hexLine("Данные (Rx): ", toBlock(answer)));
        QCOMPARE(box("errBitRx"), errBit);
        QVERIFY(!box("csBitRx"));
        QCOMPARE(text("aoRx"), QString::number(quint8(answer[1]), 16).toUpper());
    }

    void cyclicSendingStartsAndStops() {
        SimChild sim;
        QString error;
        QVERIFY2(sim.start(11, {"--scenario", "echo"}, &error), qPrintable(error));
        dialog = makeDialog();
        composeRequest();
        auto* send = widget<QPushButton>(d(), "sendButton");
        auto* stop = widget<QPushButton>(d(), "stopCyclicSendButton");
        widget<QGroupBox>(d(), "cyclicSendGroupBox")->setChecked(true);
        emit field(d(), "cyclicSendTimeout")->dataEnteredSignal("1");

        const std::function<void()> stoppers[] = {
            // Another baud rate re-creates the session and stops the cycle;
            // an exchange that ran is cut and shown as an error.
            [&] { widget<QComboBox>(d(), "baudRate")->setCurrentIndex(1); },
            // Stop lets an exchange that runs finish: shown as it came.
            [&] { QTest::mouseClick(stop, Qt::LeftButton); },
            [&] { QTest::keyClick(d(), Qt::Key_Escape); },
        };
        for (const auto& stopCycle : stoppers) {
            const int before = sim.loggedLines("REQ");
            QTest::mouseClick(send, Qt::LeftButton);
            QVERIFY(!send->isEnabled());
            QVERIFY(stop->isEnabled());
            // Enter while cycling changes nothing.
            QTest::keyClick(d(), Qt::Key_Enter);
            QVERIFY(!send->isEnabled());
            QTRY_VERIFY(sim.loggedLines("REQ") >= before + 5);
            stopCycle();
            QVERIFY(!stop->isEnabled());
            // At once, or as soon as the exchange running at Stop has ended.
            QTRY_VERIFY_WITH_TIMEOUT(send->isEnabled(), 2000);
            const int stopped = sim.loggedLines("REQ");
            QTest::qWait(100);
            QCOMPARE(sim.loggedLines("REQ"), stopped);
        }
        QCOMPARE(widget<QGroupBox>(d(), "rs232GroupBox")->title(),
                 QString::fromUtf8("Порт открыт"));
        QTRY_VERIFY(okShown());
    }

    void closingWhileCyclingEndsCleanly() {
        SimChild sim;
        QString error;
        QVERIFY2(sim.start(12, {"--scenario", "echo"}, &error), qPrintable(error));
        const QString device = QFileInfo(portsFolder() + "/COM12").symLinkTarget();
        const int threadsBefore = threadCount();
        dialog = makeDialog();
        QVERIFY(deviceOpen(device));
        composeRequest();
        widget<QGroupBox>(d(), "cyclicSendGroupBox")->setChecked(true);
        emit field(d(), "cyclicSendTimeout")->dataEnteredSignal("1");
        QTest::mouseClick(widget<QPushButton>(d(), "sendButton"), Qt::LeftButton);
        QTRY_VERIFY(sim.loggedLines("REQ") >= 20);

        QVERIFY(dialog->close());
        QVERIFY(!dialog->isVisible());
        QCOMPARE(dialog->result(), int(QDialog::Accepted));
        QVERIFY(!deviceOpen(device));
        // A request written just before the close may still be on its way
        // through a loaded machine; once the simulator has logged it, no
        // other may follow.
        int stopped = sim.loggedLines("REQ");
        for (int quiet = 0, polls = 0; quiet < 5 && polls < 50; ++polls) {
            QTest::qWait(40);
            const int now = sim.loggedLines("REQ");
            quiet = now == stopped ? quiet + 1 : 0;
            stopped = now;
        }
        QTest::qWait(100);
        QCOMPARE(sim.loggedLines("REQ"), stopped);
        QSettings stored("ORBEK", "VelkTest");
        QCOMPARE(stored.allKeys().size(), 33);
        QCOMPARE(stored.value("portName").toString(), QString("COM12"));
        QCOMPARE(stored.value("address_1").toString(), QString("5"));

        dialog.reset();
        QCOMPARE(threadCount(), threadsBefore);
    }

    // A dialog that is destroyed without its window being closed (an embedding
    // program's choice) still gives its port and threads back.
    void destroyingWithoutClosingReleasesThePort() {
        SimChild sim;
        QString error;
        QVERIFY2(sim.start(15, {"--scenario", "echo"}, &error), qPrintable(error));
        const QString device = QFileInfo(portsFolder() + "/COM15").symLinkTarget();
        const int threadsBefore = threadCount();
        dialog = makeDialog();
        composeRequest();
        widget<QGroupBox>(d(), "cyclicSendGroupBox")->setChecked(true);
        QTest::mouseClick(widget<QPushButton>(d(), "sendButton"), Qt::LeftButton);
        QTRY_VERIFY(sim.loggedLines("REQ") >= 2);
        QVERIFY(deviceOpen(device));
        dialog.reset();
        QVERIFY(!deviceOpen(device));
        QCOMPARE(threadCount(), threadsBefore);
    }

    void externalSessionLocksThePort() {
        SimChild sim;
        QString why;
        QVERIFY2(sim.start(13, {"--scenario", "echo"}, &why), qPrintable(why));
        PtyPort other(14);
        Velk21Session session("COM13", 500000);
        QVERIFY(session.isOpen());
        dialog = makeDialog(&session);
        auto* ports = widget<QComboBox>(d(), "portName");
        QCOMPARE(ports->count(), 1);
        QCOMPARE(ports->itemText(0), QString("COM13"));
        QCOMPARE(widget<QComboBox>(d(), "baudRate")->currentText(), QString("500000"));
        auto* box = widget<QGroupBox>(d(), "rs232GroupBox");
        QVERIFY(!box->isEnabled());
        QCOMPARE(box->title(), QString::fromUtf8("Порт открыт"));
        QVERIFY(box->styleSheet().contains("black"));

        composeRequest();
        QVERIFY(sendUntil([&] { return sim.loggedLines("REQ"); }, 1));
        QTRY_VERIFY(okShown());
        QVERIFY(dialog->close());
        dialog.reset();
        // The creator's session outlives the dialog, still open.
        QVERIFY(session.isOpen());
        int error = -1;
        Velk21DataBlockKernel data(Velk21ParameterId(0x10, 1), 0x1F, 0, 0, 0, 0, 0, 0, 0);
        DataBlock<unsigned char> extended;
        QVERIFY(session.exchange(requestAddress(), data, extended, 0, 150, &error));
        QCOMPARE(error, 0);
    }
};

QTEST_MAIN(TestUiExchange)
#include "tst_ui_exchange.moc"
