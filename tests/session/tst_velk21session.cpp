// Velk21Session against the scriptable fake device: the exact bytes of each
// request, the reception rules and the result codes.

#include "BlockBytes.h"
#include "FakeSerialDevice.h"
#include "SessionRig.h"
#include "Velk21AddressBlockPacketPackager.h"
#include "Velk21DataBlockPacketPackager.h"
#include "Velk21ExtendedBlockPacketPackager.h"
#include "Velk21Session.h"

#include <QElapsedTimer>
#include <QtTest>

#include <memory>
#include <vector>

Q_DECLARE_METATYPE(Bytes)

namespace {

Bytes packAddress(const Velk21AddressBlockKernel& address) {
    return framed<Velk21AddressBlockPacketPackager>(address);
}

Bytes packData(const Velk21DataBlockKernel& data) {
    return framed<Velk21DataBlockPacketPackager>(data);
}

Bytes packExtended(unsigned char wts, unsigned char cs, unsigned char subL, const Bytes& seven) {
    Velk21ExtendedBlockKernel kernel(wts, cs, subL);
    for (unsigned i = 0; i < 7 && i < seven.size(); ++i) {
        kernel.data[i] = seven[i];
    }
    return framed<Velk21ExtendedBlockPacketPackager>(kernel);
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

Velk21DataBlockKernel answerRecord(unsigned char ef, unsigned count) {
    Velk21DataBlockKernel answer(Velk21ParameterId(0x10, 0x02), 0x05, 0, 0x81, 1, 1, 0, ef, 0);
    answer.data[0] = static_cast<unsigned char>(count & 0xFF);
    answer.data[1] = static_cast<unsigned char>(count >> 8);
    answer.data[2] = 0xA5;
    answer.data[3] = 0x7E;
    return answer;
}

const Velk21AddressBlockKernel someAddress(Velk21Address(1, 0, 0, 0), 0);

using Rig = SessionRig;

} // namespace

class TestVelk21Session : public QObject {
    Q_OBJECT

private slots:
    void requestOnTheWire_data();
    void requestOnTheWire();
    void answers_data();
    void answers();
    void failedAnswerLeavesTheRequest();
    void portThatFailedToOpen();
    void incompleteTransmission();
    void nullErrorOut();
    void lateBytesArePurged();
    void silentSlaveTimesOut();
    void hugeAnnouncementStopsAtFirstMissingBlock();
};

void TestVelk21Session::requestOnTheWire_data() {
    QTest::addColumn<int>("wts");
    QTest::addColumn<int>("ef");
    QTest::addColumn<int>("cs");
    QTest::addColumn<Bytes>("extended");
    QTest::addColumn<Bytes>("expectedTail"); // bytes after address and data block

    const Bytes eight = {0, 1, 2, 3, 4, 5, 6, 7};
    QTest::newRow("EF without WTS sends no extended block") << 0 << 1 << 0 << eight << Bytes();
    QTest::newRow("WTS without EF sends no extended block") << 1 << 0 << 0 << eight << Bytes();
    QTest::newRow("EF and WTS with nothing to send") << 1 << 1 << 0 << Bytes() << Bytes();
    // The second block carries byte 7, then bytes 1 to 6 of the first group again.
    QTest::newRow("8 bytes: short last group keeps the group before")
        << 1 << 1 << 0 << eight
        << concat({packExtended(1, 0, 0, {0, 1, 2, 3, 4, 5, 6}),
                   packExtended(1, 0, 0, {7, 1, 2, 3, 4, 5, 6})});
    QTest::newRow("3 bytes: zeros after them")
        << 1 << 1 << 0 << Bytes{0x81, 0xFF, 0x02}
        << packExtended(1, 0, 0, {0x81, 0xFF, 0x02, 0, 0, 0, 0});
    QTest::newRow("CS never goes out, not in extended blocks either")
        << 1 << 1 << 1 << Bytes{9, 8, 7, 6, 5, 4, 3}
        << packExtended(1, 0, 0, {9, 8, 7, 6, 5, 4, 3});
}

void TestVelk21Session::requestOnTheWire() {
    QFETCH(int, wts);
    QFETCH(int, ef);
    QFETCH(int, cs);
    QFETCH(Bytes, extended);
    QFETCH(Bytes, expectedTail);

    Rig rig;
    QVERIFY(rig.session->isOpen());
    rig.fake->queueReply(packData(answerRecord(0, 0)));

    Velk21DataBlockKernel request(Velk21ParameterId(0x10, 0x01), 0x05, 0, 0, wts, cs, 0, ef, 0);
    Velk21DataBlockKernel sent = request;
    sent.csBit = 0;
    DataBlock<unsigned char> extendedData = blockOf(extended);
    int error = -1;
    QVERIFY(rig.session->exchange(someAddress, request, extendedData, 0, 150, &error));
    QCOMPARE(error, 0);

    const Bytes expected = concat({packAddress(someAddress), packData(sent), expectedTail});
    QCOMPARE(rig.fake->written(), expected);
    // The fixed head of this request, as the wire format defines it.
    const Bytes head = {0x80, 0x01, 0x00, 0x00, 0x00, 0x05};
    QCOMPARE(Bytes(expected.begin(), expected.begin() + 6), head);
}

void TestVelk21Session::answers_data() {
    QTest::addColumn<Bytes>("reply");
    QTest::addColumn<int>("maxRestarts");
    QTest::addColumn<int>("expectedError");
    QTest::addColumn<Bytes>("expectedExtended");
    QTest::addColumn<Bytes>("expectedPacket"); // receivedDataPacket
    QTest::addColumn<Bytes>("expectedStray"); // strayBytes: what the data block started again after

    const Bytes plain = packData(answerRecord(0, 0));
    const Bytes announcesNone = packData(answerRecord(1, 0));
    const Bytes announcesTen = packData(answerRecord(1, 10));
    const Bytes block1 = packExtended(1, 1, 0, {0x80, 1, 2, 3, 4, 5, 0xFF});
    const Bytes block2 = packExtended(1, 1, 0, {7, 8, 9, 0x7F, 0x55, 0x55, 0x55});
    const Bytes cutBlock2(block2.begin(), block2.begin() + 4);
    const Bytes tenBytes = {0x80, 1, 2, 3, 4, 5, 0xFF, 7, 8, 9};
    const Bytes noise = {0x11, 0x22};
    const Bytes brokenHalf(plain.begin(), plain.begin() + 5);
    const Bytes headerOnly = {plain[0]};
    Bytes badCrc = plain;
    badCrc.back() ^= 0x01;
    Bytes badExtendedCrc = block2;
    badExtendedCrc.back() ^= 0x01;

    QTest::newRow("plain answer") << plain << 0 << 0 << Bytes() << plain << Bytes();
    QTest::newRow("EF announcing 0 bytes")
        << announcesNone << 0 << 0 << Bytes() << announcesNone << Bytes();
    QTest::newRow("10 bytes in 2 blocks, the rest of the second dropped")
        << concat({announcesTen, block1, block2}) << 0 << 0 << tenBytes << announcesTen << Bytes();
    // A restart beyond the allowance ends the block with the new header alone.
    QTest::newRow("noise then answer, no restart allowed")
        << concat({noise, plain}) << 0 << 6 << Bytes() << headerOnly << noise;
    QTest::newRow("noise then answer, one restart allowed")
        << concat({noise, plain}) << 1 << 0 << Bytes() << plain << noise;
    // An address-block header (bit 6 clear) is not a block start for the receiver.
    QTest::newRow("0x80 to 0xBF never restart a block")
        << concat({Bytes{0x11, 0x85, 0xBF}, plain}) << 1 << 0 << Bytes() << plain
        << (Bytes{0x11, 0x85, 0xBF});
    QTest::newRow("broken block then answer, no restart allowed")
        << concat({brokenHalf, plain}) << 0 << 6 << Bytes() << headerOnly << brokenHalf;
    QTest::newRow("broken block then answer, one restart allowed")
        << concat({brokenHalf, plain}) << 1 << 0 << Bytes() << plain << brokenHalf;
    QTest::newRow("two broken blocks, one restart allowed")
        << concat({brokenHalf, brokenHalf, plain}) << 1 << 6 << Bytes() << headerOnly
        << concat({brokenHalf, brokenHalf});
    QTest::newRow("bad CRC") << badCrc << 0 << 6 << Bytes() << badCrc << Bytes();
    QTest::newRow("extended block cut by a header, no restart")
        << concat({announcesTen, block1, cutBlock2, block2}) << 0 << 8 << Bytes() << announcesTen
        << Bytes();
    QTest::newRow("extended block cut by a header, one restart")
        << concat({announcesTen, block1, cutBlock2, block2}) << 1 << 0 << tenBytes << announcesTen
        << Bytes();
    QTest::newRow("extended block with a bad CRC") << concat({announcesTen, block1, badExtendedCrc})
                                                   << 0 << 8 << Bytes() << announcesTen << Bytes();
    QTest::newRow("second extended block missing")
        << concat({announcesTen, block1}) << 0 << 7 << Bytes() << announcesTen << Bytes();
    QTest::newRow("data block cut short") << brokenHalf << 0 << 5 << Bytes() << Bytes() << Bytes();
    QTest::newRow("nothing at all") << Bytes() << 0 << 5 << Bytes() << Bytes() << Bytes();
}

void TestVelk21Session::answers() {
    QFETCH(Bytes, reply);
    QFETCH(int, maxRestarts);
    QFETCH(int, expectedError);
    QFETCH(Bytes, expectedExtended);
    QFETCH(Bytes, expectedPacket);
    QFETCH(Bytes, expectedStray);

    Rig rig;
    if (!reply.empty()) {
        rig.fake->queueReply(reply);
    }
    Velk21DataBlockKernel data(Velk21ParameterId(0x10, 0x02), 0x05, 0, 0, 0, 0, 0, 0, 0);
    DataBlock<unsigned char> extendedData = blockOf({0xEE});
    DataBlock<unsigned char> packet = blockOf({0xDD, 0xDD});
    DataBlock<unsigned char> stray = blockOf({0xDD});
    int error = -1;
    const bool ok = rig.session->exchange(someAddress, data, extendedData, maxRestarts, 30, &error,
                                          &packet, &stray);
    QCOMPARE(error, expectedError);
    QCOMPARE(ok, expectedError == 0);
    QCOMPARE(bytesOf(packet), expectedPacket);
    if (!expectedPacket.empty()) {
        QCOMPARE(bytesOf(stray), expectedStray);
    }
    if (expectedError == 0 || expectedError >= 7) {
        // The answer record is decoded, bit 7 restored.
        QCOMPARE(data.csBit, (unsigned char)1);
        QCOMPARE(data.status, (unsigned char)0x81);
        QCOMPARE(data.data[2], (unsigned char)0xA5);
        QCOMPARE(bytesOf(extendedData), expectedExtended);
    } else {
        QCOMPARE(data.csBit, (unsigned char)0);
        QCOMPARE(bytesOf(extendedData), Bytes{0xEE});
    }
}

void TestVelk21Session::failedAnswerLeavesTheRequest() {
    Rig rig;
    Bytes broken = packData(answerRecord(0, 0));
    broken[11] ^= 0x01;
    rig.fake->queueReply(broken);

    Velk21DataBlockKernel data(Velk21ParameterId(0x22, 0x03), 0x05, 0x06, 0x07, 1, 1, 0, 1, 0);
    Velk21DataBlockKernel expected = data;
    expected.csBit = 0;
    DataBlock<unsigned char> extendedData = blockOf({1, 2, 3});
    DataBlock<unsigned char> packet;
    int error = -1;
    QVERIFY(!rig.session->exchange(someAddress, data, extendedData, 0, 30, &error, &packet));
    QCOMPARE(error, 6);
    QVERIFY(data == expected);
    QCOMPARE(bytesOf(extendedData), Bytes({1, 2, 3}));
    QCOMPARE(bytesOf(packet), broken); // as received, not rewritten
}

void TestVelk21Session::portThatFailedToOpen() {
    Rig rig(true);
    QVERIFY(!rig.session->isOpen());
    QCOMPARE(rig.session->portName(), fakePort());
    QCOMPARE(rig.session->baudRate(), 115200u);
    for (int i = 0; i < 2; ++i) {
        Velk21DataBlockKernel data;
        DataBlock<unsigned char> extendedData;
        DataBlock<unsigned char> packet = blockOf({1});
        int error = -1;
        QVERIFY(!rig.session->exchange(someAddress, data, extendedData, 0, 30, &error, &packet));
        QCOMPARE(error, 4);
        QCOMPARE(packet.size(), 0u);
    }
    QVERIFY(rig.fake->written().empty());
}

void TestVelk21Session::incompleteTransmission() {
    Rig rig;
    rig.fake->failWritesAfter(7);
    Velk21DataBlockKernel data;
    DataBlock<unsigned char> extendedData;
    int error = -1;
    QVERIFY(!rig.session->exchange(someAddress, data, extendedData, 0, 30, &error));
    QCOMPARE(error, 4);
    QCOMPARE(rig.fake->written().size(), size_t(7));
    QVERIFY(!rig.fake->rts()); // dropped even after a failed transmission

    // A failed exchange leaves the port open and idle for the next one.
    rig.fake->setFailing(FakeSerialDevice::Operation::Write, false);
    rig.fake->failWritesAfter(1000);
    rig.fake->queueReply(packData(answerRecord(0, 0)));
    QVERIFY(rig.session->exchange(someAddress, data, extendedData, 0, 30, &error));
    QCOMPARE(error, 0);
}

void TestVelk21Session::nullErrorOut() {
    Rig rig;
    rig.fake->queueReply(packData(answerRecord(0, 0)));
    Velk21DataBlockKernel data;
    DataBlock<unsigned char> extendedData;
    QVERIFY(rig.session->exchange(someAddress, data, extendedData, 0, 30, nullptr));
    QCOMPARE(data.csBit, (unsigned char)1);
    QVERIFY(!rig.session->exchange(someAddress, data, extendedData, 0, 30, nullptr));
}

void TestVelk21Session::lateBytesArePurged() {
    Rig rig;
    // An over-long answer: the extra bytes arrive after the exchange has ended.
    rig.fake->queueReply(concat({packData(answerRecord(0, 0)), Bytes{0x5A, 0x5A, 0x5A}}));
    Velk21DataBlockKernel data;
    DataBlock<unsigned char> extendedData;
    int error = -1;
    QVERIFY(rig.session->exchange(someAddress, data, extendedData, 0, 30, &error));
    QTest::qWait(20);

    // Left in the input, they would be taken as the start of the next answer
    // and, with no restart allowed, spoil it.
    rig.fake->queueReply(packData(answerRecord(0, 0)));
    data = Velk21DataBlockKernel();
    QVERIFY(rig.session->exchange(someAddress, data, extendedData, 0, 30, &error));
    QCOMPARE(error, 0);
}

void TestVelk21Session::silentSlaveTimesOut() {
    Rig rig;
    Velk21DataBlockKernel data;
    DataBlock<unsigned char> extendedData;
    int error = -1;
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!rig.session->exchange(someAddress, data, extendedData, 0, 150, &error));
    const qint64 elapsed = timer.elapsed();
    QCOMPARE(error, 5);
    // The per-byte time-out, not an instant failure nor a hang.
    QVERIFY2(elapsed >= 150, qPrintable(QString::number(elapsed)));
    QVERIFY2(elapsed < 1000, qPrintable(QString::number(elapsed)));
}

void TestVelk21Session::hugeAnnouncementStopsAtFirstMissingBlock() {
    Rig rig;
    const Bytes block = packExtended(1, 1, 0, {1, 2, 3, 4, 5, 6, 7});
    rig.fake->queueReply(concat({packData(answerRecord(1, 65535)), block, block}));
    Velk21DataBlockKernel data;
    DataBlock<unsigned char> extendedData;
    int error = -1;
    QVERIFY(!rig.session->exchange(someAddress, data, extendedData, 0, 30, &error));
    QCOMPARE(error, 7);
    QCOMPARE(extendedData.size(), 0u);
    QCOMPARE(data.data[0], (unsigned char)0xFF);
    QCOMPARE(data.data[1], (unsigned char)0xFF);
}

QTEST_GUILESS_MAIN(TestVelk21Session)
#include "tst_velk21session.moc"
