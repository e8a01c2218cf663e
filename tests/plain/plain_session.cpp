// The serial port and the master session over the scriptable device: what
// goes on the wire, answers, the silent slave's time-out. Also runs on the
// Windows build, where the port's threads, events and mutexes are Win32 ones.

#include "BlockBytes.h"
#include "FakeSerialDevice.h"
#include "PortNames.h"
#include "SerialPort.h"
#include "SessionRig.h"
#include "Velk21AddressBlockPacketPackager.h"
#include "Velk21DataBlockPacketPackager.h"
#include "Velk21ExtendedBlockPacketPackager.h"
#include "Velk21Session.h"

#include <chrono>
#include <doctest/doctest.h>
#include <memory>
#include <string>

namespace {
const Velk21AddressBlockKernel someAddress(Velk21Address(1, 0, 0, 0), 0);

using Rig = SessionRig;

Velk21DataBlockKernel request(unsigned char wts, unsigned char ef, unsigned char cs) {
    Velk21DataBlockKernel data(Velk21ParameterId(0x10, 0x02), 0x1F, 0, 0, wts, cs, 0, ef, 0);
    data.data[0] = 1;
    data.data[3] = 4;
    return data;
}
} // namespace

TEST_CASE("requestGoesOutWholeWithExtendedBlocks") {
    Rig rig;
    DataBlock<unsigned char> extended = blockOf({0, 1, 2, 3, 4, 5, 6, 7});
    Velk21DataBlockKernel data = request(1, 1, 1);
    int error = -1;
    CHECK(!rig.session->exchange(someAddress, data, extended, 0, 150, &error));
    CHECK_EQ(error, 5); // nobody answers
    const Bytes written = rig.fake->written();
    // 6 + 12 + 2 x 10: the last group of one byte keeps bytes 1 to 6 of the first.
    CHECK_EQ(written.size(), std::size_t(38));
    Velk21ExtendedBlockKernel second(1, 0, 0);
    second.data[0] = 7;
    for (unsigned i = 1; i < 7; ++i) {
        second.data[i] = static_cast<unsigned char>(i);
    }
    const Bytes tail = framed<Velk21ExtendedBlockPacketPackager>(second);
    CHECK((written.size() == 38 && Bytes(written.end() - 10, written.end()) == tail));
    // csBit never goes out.
    Velk21DataBlockKernel sent = request(1, 1, 0);
    CHECK((written.size() == 38 && Bytes(written.begin() + 6, written.begin() + 18) ==
                                       framed<Velk21DataBlockPacketPackager>(sent)));
    CHECK_EQ(data.csBit, 0);
}

TEST_CASE("efWithoutWtsSendsNoExtendedBlock") {
    Rig rig;
    DataBlock<unsigned char> extended = blockOf({9, 9, 9});
    Velk21DataBlockKernel data = request(0, 1, 0);
    rig.session->exchange(someAddress, data, extended, 0, 150, nullptr);
    CHECK_EQ(rig.fake->written().size(), std::size_t(18));
}

TEST_CASE("answerWithExtendedData") {
    Rig rig;
    Velk21DataBlockKernel answer(Velk21ParameterId(0x10, 0x02), 5, 0, 0x81, 1, 1, 0, 1, 0);
    answer.data[0] = 10; // two extended blocks, the last 4 bytes of the second dropped
    Velk21ExtendedBlockKernel first(1, 1, 0);
    Velk21ExtendedBlockKernel second(1, 1, 0);
    for (unsigned i = 0; i < 7; ++i) {
        first.data[i] = static_cast<unsigned char>(0x20 + i);
        second.data[i] = static_cast<unsigned char>(0x30 + i);
    }
    Bytes reply = framed<Velk21DataBlockPacketPackager>(answer);
    for (const Velk21ExtendedBlockKernel& block : {first, second}) {
        const Bytes bytes = framed<Velk21ExtendedBlockPacketPackager>(block);
        reply.insert(reply.end(), bytes.begin(), bytes.end());
    }
    rig.fake->queueReply(reply, 5);
    Velk21DataBlockKernel data = request(0, 0, 0);
    DataBlock<unsigned char> extended;
    int error = -1;
    CHECK(rig.session->exchange(someAddress, data, extended, 0, 150, &error));
    CHECK_EQ(error, 0);
    CHECK(data == answer);
    CHECK(bytesOf(extended) == Bytes({0x20, 0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x30, 0x31, 0x32}));
    // RTS was up for the transmission and is down again.
    CHECK(!rig.fake->rts());
}

TEST_CASE("silentSlaveTimesOutAfterAboutOneByteTime") {
    Rig rig;
    Velk21DataBlockKernel data = request(0, 0, 0);
    DataBlock<unsigned char> extended;
    int error = -1;
    const auto start = std::chrono::steady_clock::now();
    CHECK(!rig.session->exchange(someAddress, data, extended, 0, 150, &error));
    const long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::steady_clock::now() - start)
                             .count();
    CHECK_EQ(error, 5);
    CHECK(ms >= 150);
    CHECK(ms < 2000);
}

TEST_CASE("portThatFailedToOpen") {
    Rig rig(true);
    CHECK(!rig.session->isOpen());
    Velk21DataBlockKernel data = request(0, 0, 0);
    DataBlock<unsigned char> extended;
    int error = -1;
    CHECK(!rig.session->exchange(someAddress, data, extended, 0, 150, &error));
    CHECK_EQ(error, 4);
}

TEST_CASE("systemDeviceThatDoesNotExist") {
    // COM254 has no device here: a link-only name on Linux, no such port under Wine.
    SerialPort port;
    CHECK(!port.open("COM254", 115200));
    CHECK(!port.isOpen());
    DataBlock<unsigned char> block = blockOf({1});
    CHECK(!port.startTransmit(&block, nullptr));
}

TEST_CASE("readTimeoutFollowsTheBaudRate") {
    // The time-out is computed and kept even when the start is refused (here
    // by a zero byte count, then by a closed port): 150 + one character time.
    auto device = std::make_unique<FakeSerialDevice>();
    SerialPort port(std::move(device));
    DataBlock<unsigned char> destination;
    CHECK(port.open(fakePort(), 115200));
    CHECK(!port.startReceive(&destination, 0, 150, nullptr));
    CHECK_EQ(port.timeouts().readTotalTimeoutConstant, 151u);
    port.close();
    CHECK(!port.startReceive(&destination, 12, 150, nullptr));
    CHECK_EQ(port.timeouts().readTotalTimeoutConstant, 152u);
    CHECK(port.open(fakePort(), 9600));
    port.close();
    CHECK(!port.startReceive(&destination, 1, 150, nullptr));
    CHECK_EQ(port.timeouts().readTotalTimeoutConstant, 152u);
}
