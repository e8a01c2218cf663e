// Velk21Session against velk-sim over a pseudo-terminal: whole exchanges
// through the real serial device code, with normal and faulty slaves.

#include "BlockBytes.h"
#include "SimChild.h"
#include "Velk21Session.h"

#include <QtTest>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

Q_DECLARE_METATYPE(Bytes)

namespace {

Velk21DataBlockKernel request(unsigned char code, unsigned char index, unsigned char wts,
                              unsigned char ef, Bytes data = {0, 0, 0, 0}) {
    Velk21DataBlockKernel kernel(Velk21ParameterId(code, index), 0x05, 0, 0x42, wts, 0, 0, ef, 0);
    for (unsigned i = 0; i < 4; ++i) {
        kernel.data[i] = data[i];
    }
    return kernel;
}

const Velk21AddressBlockKernel slave3(Velk21Address(3, 0, 0, 0), 0);

} // namespace

class TestVelk21SessionSim : public QObject {
    Q_OBJECT

private slots:
    void scenarios_data();
    void scenarios();
    void registersKeepWhatIsWritten();
    void extendedDataBothWays();
    void overlongAnswerIsPurged();
    void lateAnswerDoesNotSpoilTheNext();
    void concurrentExchangesTakeTurns();
    void portCanBeReopened();
    void unknownPortDoesNotOpen();

private:
    int nextCom = 1;
};

void TestVelk21SessionSim::scenarios_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("maxRestarts");
    QTest::addColumn<int>("expectedError");
    QTest::addColumn<int>("expectedErrBit");
    QTest::addColumn<Bytes>("expectedExtended");

    const Bytes none;
    QTest::newRow("echo") << QStringList{} << 0x10 << 0 << 0 << 0 << none;
    QTest::newRow("unknown register code")
        << QStringList{"--scenario", "registers"} << 0x33 << 0 << 0 << 1 << none;
    QTest::newRow("extended=10") << QStringList{"--scenario", "extended=10"} << 0x10 << 0 << 0 << 0
                                 << Bytes{0x80, 0x81, 0x82, 0x83, 0x84,
                                          0x85, 0x86, 0x87, 0x88, 0x89};
    QTest::newRow("extended=0") << QStringList{"--scenario", "extended=0"} << 0x10 << 0 << 0 << 0
                                << none;
    QTest::newRow("noise first, no restart")
        << QStringList{"--scenario", "garbage"} << 0x10 << 0 << 6 << 0 << none;
    QTest::newRow("noise first, one restart")
        << QStringList{"--scenario", "garbage"} << 0x10 << 1 << 0 << 0 << none;
    QTest::newRow("header in the middle, no restart")
        << QStringList{"--scenario", "header-mid"} << 0x10 << 0 << 6 << 0 << none;
    QTest::newRow("header in the middle, one restart")
        << QStringList{"--scenario", "header-mid"} << 0x10 << 1 << 0 << 0 << none;
    QTest::newRow("bad CRC") << QStringList{"--scenario", "bad-crc"} << 0x10 << 0 << 6 << 0 << none;
    QTest::newRow("silent") << QStringList{"--scenario", "silent"} << 0x10 << 0 << 5 << 0 << none;
    QTest::newRow("slow bytes within the byte time-out")
        << QStringList{"--scenario", "slow=5"} << 0x10 << 0 << 0 << 0 << none;
    QTest::newRow("answer delayed within the time-out")
        << QStringList{"--delay", "40"} << 0x10 << 0 << 0 << 0 << none;
    QTest::newRow("answer delayed beyond the time-out")
        << QStringList{"--delay", "400"} << 0x10 << 0 << 5 << 0 << none;
    QTest::newRow("extended blocks paced slowly")
        << QStringList{"--scenario", "extended=20,slow=2"} << 0x10 << 0 << 0 << 0
        << Bytes{0x80, 0x81, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89,
                 0x8A, 0x8B, 0x8C, 0x8D, 0x8E, 0x8F, 0x90, 0x91, 0x92, 0x93};
}

void TestVelk21SessionSim::scenarios() {
    QFETCH(QStringList, arguments);
    QFETCH(int, code);
    QFETCH(int, maxRestarts);
    QFETCH(int, expectedError);
    QFETCH(int, expectedErrBit);
    QFETCH(Bytes, expectedExtended);

    SimChild sim;
    QString error;
    const int com = nextCom++;
    QVERIFY2(sim.start(com, arguments + QStringList{"--quiet"}, &error), qPrintable(error));
    Velk21Session session("COM" + std::to_string(com), 115200);
    QVERIFY(session.isOpen());

    Velk21DataBlockKernel data =
        request(static_cast<unsigned char>(code), 0x07, 0, 0, {0x12, 0x84, 0x56, 0xF8});
    DataBlock<unsigned char> extendedData;
    DataBlock<unsigned char> packet;
    int result = -1;
    session.exchange(slave3, data, extendedData, maxRestarts, 150, &result, &packet);
    QCOMPARE(result, expectedError);
    if (expectedError != 0) {
        return;
    }
    QCOMPARE(packet.size(), 12u);
    QCOMPARE(data.id.code, (unsigned char)code);
    QCOMPARE(data.id.index, (unsigned char)0x07);
    QCOMPARE(data.ao, (unsigned char)3); // the slave names itself by its address
    QCOMPARE(data.csBit, (unsigned char)1);
    QCOMPARE(data.errBit, (unsigned char)expectedErrBit);
    QCOMPARE(data.status, (unsigned char)0x42);
    QCOMPARE(bytesOf(extendedData), expectedExtended);
    if (expectedExtended.empty() && !data.efBit) {
        QCOMPARE(data.data[1], (unsigned char)0x84); // bit 7 survives the round trip
        QCOMPARE(data.data[3], (unsigned char)0xF8);
    }
}

void TestVelk21SessionSim::registersKeepWhatIsWritten() {
    SimChild sim;
    QString error;
    const int com = nextCom++;
    QVERIFY2(sim.start(com, {"--scenario", "registers", "--quiet"}, &error), qPrintable(error));
    Velk21Session session("COM" + std::to_string(com), 1000000);
    DataBlock<unsigned char> none;
    int result = -1;

    Velk21DataBlockKernel write = request(0x10, 4, 1, 0, {0xDE, 0xAD, 0xBE, 0xEF});
    QVERIFY(session.exchange(slave3, write, none, 0, 150, &result));
    Velk21DataBlockKernel other = request(0x10, 5, 1, 0, {1, 2, 3, 4});
    QVERIFY(session.exchange(slave3, other, none, 0, 150, &result));

    Velk21DataBlockKernel read = request(0x10, 4, 0, 0);
    QVERIFY(session.exchange(slave3, read, none, 0, 150, &result));
    QCOMPARE(Bytes(read.data, read.data + 4), Bytes({0xDE, 0xAD, 0xBE, 0xEF}));
    Velk21DataBlockKernel never = request(0x10, 6, 0, 0);
    QVERIFY(session.exchange(slave3, never, none, 0, 150, &result));
    QCOMPARE(Bytes(never.data, never.data + 4), Bytes({0, 0, 0, 0}));

    // A byte string: 9 bytes go out in 2 blocks (14 bytes on the wire); the
    // request's data_0 tells the slave how many count.
    const Bytes nine = {0x01, 0x82, 0x03, 0xFF, 0x05, 0x06, 0x07, 0x88, 0x09};
    DataBlock<unsigned char> extended = blockOf(nine);
    Velk21DataBlockKernel writeBytes = request(0x11, 4, 1, 1, {9, 0, 0, 0});
    QVERIFY(session.exchange(slave3, writeBytes, extended, 0, 150, &result));
    QCOMPARE(writeBytes.data[0], (unsigned char)9);
    QCOMPARE(extended.size(), 0u); // the answer announced nothing

    Velk21DataBlockKernel readBytes = request(0x11, 4, 0, 0);
    QVERIFY(session.exchange(slave3, readBytes, extended, 0, 150, &result));
    QCOMPARE(readBytes.efBit, (unsigned char)1);
    QCOMPARE(bytesOf(extended), nine);
}

void TestVelk21SessionSim::extendedDataBothWays() {
    SimChild sim;
    QString error;
    const int com = nextCom++;
    QVERIFY2(sim.start(com, {}, &error), qPrintable(error));
    Velk21Session session("COM" + std::to_string(com), 500000);

    Bytes payload(300);
    for (size_t i = 0; i < payload.size(); ++i) {
        payload[i] = static_cast<unsigned char>(i * 7 + 3);
    }
    DataBlock<unsigned char> extended = blockOf(payload);
    Velk21DataBlockKernel data = request(0x10, 1, 1, 1, {300 & 0xFF, 300 >> 8, 0, 0});
    int result = -1;
    QVERIFY(session.exchange(slave3, data, extended, 0, 150, &result));
    QCOMPARE(data.efBit, (unsigned char)1);
    QCOMPARE(bytesOf(extended), payload);

    // The simulator saw 43 blocks (301 bytes, the last group padded with bytes
    // of the group before) and logged the request.
    QTRY_VERIFY(sim.output().contains("ext=301"));
}

void TestVelk21SessionSim::overlongAnswerIsPurged() {
    SimChild sim;
    QString error;
    const int com = nextCom++;
    QVERIFY2(sim.start(com, {"--scenario", "long=5", "--quiet"}, &error), qPrintable(error));
    Velk21Session session("COM" + std::to_string(com), 115200);
    for (int i = 0; i < 5; ++i) {
        Velk21DataBlockKernel data = request(0x10, static_cast<unsigned char>(i), 0, 0);
        DataBlock<unsigned char> none;
        int result = -1;
        // No restart allowed: leftovers of the answer before would spoil this one.
        QVERIFY(session.exchange(slave3, data, none, 0, 150, &result));
        QCOMPARE(data.id.index, (unsigned char)i);
        QTest::qWait(5);
    }
}

void TestVelk21SessionSim::lateAnswerDoesNotSpoilTheNext() {
    SimChild sim;
    QString error;
    const int com = nextCom++;
    QVERIFY2(sim.start(com, {"--delay", "250", "--quiet"}, &error), qPrintable(error));
    Velk21Session session("COM" + std::to_string(com), 115200);
    DataBlock<unsigned char> none;
    int result = -1;
    Velk21DataBlockKernel first = request(0x10, 1, 0, 0);
    QVERIFY(!session.exchange(slave3, first, none, 0, 150, &result));
    QCOMPARE(result, 5);
    // This request reaches the slave before its late answer is due; that
    // answer is dropped and the new one comes 250 ms later.
    Velk21DataBlockKernel second = request(0x10, 2, 0, 0);
    QVERIFY(!session.exchange(slave3, second, none, 0, 150, &result));
    QTest::qWait(300);
    Velk21DataBlockKernel third = request(0x10, 3, 0, 0);
    session.exchange(slave3, third, none, 0, 400, &result);
    QCOMPARE(result, 0);
    QCOMPARE(third.id.index, (unsigned char)3);
}

void TestVelk21SessionSim::concurrentExchangesTakeTurns() {
    SimChild sim;
    QString error;
    const int com = nextCom++;
    QVERIFY2(sim.start(com, {"--quiet"}, &error), qPrintable(error));
    Velk21Session session("COM" + std::to_string(com), 1000000);

    std::atomic<int> failures{0};
    auto worker = [&](unsigned char index) {
        for (int i = 0; i < 40; ++i) {
            Velk21DataBlockKernel data =
                request(0x10, index, 0, 0, {index, static_cast<unsigned char>(i), 0, 0});
            DataBlock<unsigned char> none;
            int result = -1;
            if (!session.exchange(slave3, data, none, 0, 150, &result) || data.id.index != index ||
                data.data[1] != i) {
                ++failures;
            }
        }
    };
    std::thread a(worker, 1);
    std::thread b(worker, 2);
    a.join();
    b.join();
    QCOMPARE(failures.load(), 0);
}

void TestVelk21SessionSim::portCanBeReopened() {
    SimChild sim;
    QString error;
    const int com = nextCom++;
    QVERIFY2(sim.start(com, {"--quiet"}, &error), qPrintable(error));
    for (int round = 0; round < 3; ++round) {
        Velk21Session session("COM" + std::to_string(com), 115200);
        QVERIFY(session.isOpen());
        Velk21DataBlockKernel data = request(0x10, static_cast<unsigned char>(round), 0, 0);
        DataBlock<unsigned char> none;
        int result = -1;
        QVERIFY(session.exchange(slave3, data, none, 0, 150, &result));
    }
}

void TestVelk21SessionSim::unknownPortDoesNotOpen() {
    Velk21Session session("COM250", 115200); // no link, no device
    QVERIFY(!session.isOpen());
    Velk21DataBlockKernel data = request(0x10, 1, 0, 0);
    DataBlock<unsigned char> none;
    int result = -1;
    QVERIFY(!session.exchange(slave3, data, none, 0, 150, &result));
    QCOMPARE(result, 4);
}

QTEST_GUILESS_MAIN(TestVelk21SessionSim)
#include "tst_velk21session_sim.moc"
