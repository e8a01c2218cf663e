// The master session's receive path over the fake device: the slave's answer
// is an arbitrary byte stream, announced extended lengths included. Every
// exchange must end, with a code 0 to 8, and its result must be the one a
// plain reading of the stream gives: blocks collected byte by byte, restarted
// on a header byte, decoded by the packet packagers.
//
// Input: byte 0 options (bits 0-1 restarts allowed, bit 2 repair the CRC of
// every block so that the stream's contents get past the CRC check, bit 3 WTS
// and bit 4 EF of the request, bit 5 an address the packager refuses, bit 6
// an ao the packager refuses); byte 1 the request's extended byte count; then
// the stream.

#include "CrcBit7Wrapper.h"
#include "DataBlock.h"
#include "FakeSerialDevice.h"
#include "FuzzInput.h"
#include "Velk21DataBlockPacketPackager.h"
#include "Velk21ExtendedBlockPacketPackager.h"
#include "Velk21Session.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

const unsigned dataBlockSize = 12;
const unsigned extendedBlockSize = 10;

// Makes each block-sized run of the stream a well-formed block: only the
// header has bit 7, and the CRC fits.
void repair(Bytes& stream) {
    unsigned start = 0;
    unsigned size = dataBlockSize;
    while (start + size <= stream.size()) {
        stream[start] |= size == dataBlockSize ? 0xC0u : 0xD8u;
        if (size == dataBlockSize) {
            stream[start] &= static_cast<std::uint8_t>(~0x08u);
        }
        for (unsigned i = start + 1; i < start + size; ++i) {
            stream[i] &= 0x7Fu;
        }
        stream[start + size - 1] = crc7(&stream[start], size - 1);
        start += size;
        size = extendedBlockSize;
    }
}

// What the session should make of the stream.
struct Expected {
    int code = 0;
    Velk21DataBlockKernel data;
    DataBlock<unsigned char> extended;
    DataBlock<unsigned char> packet;
};

class StreamReader {
public:
    StreamReader(const Bytes& stream, unsigned maxRestarts)
        : stream(stream), maxRestarts(maxRestarts) {}

    // One block, one byte at a time; false when the stream runs dry first.
    bool receive(unsigned expected, DataBlock<unsigned char>& block) {
        block.clear();
        unsigned restarts = 0;
        for (;;) {
            if (next >= stream.size()) {
                return false;
            }
            const std::uint8_t b = stream[next++];
            block.append(b);
            if (b >= 0xC0 && block.size() > 1) {
                ++restarts;
                block.clear();
                block.append(b);
            }
            if (block.size() >= expected || restarts > maxRestarts) {
                return true;
            }
        }
    }

private:
    const Bytes& stream;
    unsigned maxRestarts;
    std::size_t next = 0;
};

Expected expect(const Bytes& stream, unsigned maxRestarts, const Velk21DataBlockKernel& request,
                const DataBlock<unsigned char>& requestExtended) {
    Expected e;
    e.data = request;
    e.data.csBit = 0;
    e.extended = requestExtended;
    StreamReader reader(stream, maxRestarts);
    DataBlock<unsigned char> block;
    if (!reader.receive(dataBlockSize, block)) {
        e.code = 5;
        return e;
    }
    e.packet = block;
    Velk21DataBlockPacketPackager dataPackager;
    unsigned position = 0;
    if (!dataPackager.unpack(block, position, e.data)) {
        e.code = 6;
        return e;
    }
    e.extended.clear();
    if (!e.data.efBit) {
        return e;
    }
    const unsigned count = e.data.data[0] + 256u * e.data.data[1];
    e.extended.resize(count, 0);
    Velk21ExtendedBlockPacketPackager extendedPackager;
    Velk21ExtendedBlockKernel kernel;
    for (unsigned next = 0; next < count;) {
        if (!reader.receive(extendedBlockSize, block)) {
            e.extended.clear();
            e.code = 7;
            return e;
        }
        position = 0;
        if (!extendedPackager.unpack(block, position, kernel)) {
            e.extended.clear();
            e.code = 8;
            return e;
        }
        for (unsigned i = 0; i < 7 && next < count; ++i) {
            e.extended[next++] = kernel.data[i];
        }
    }
    return e;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput in(data, size);
    const std::uint8_t options = in.byte();
    const unsigned maxRestarts = options & 0x03u;
    const unsigned requestExtendedCount = in.byte() % 64;
    Bytes stream = in.rest();
    if (options & 0x04u) {
        repair(stream);
    }

    const Velk21AddressBlockKernel address(
        Velk21Address((options & 0x20u) ? 0x80 : 0x05, 0x01, 0, 0), 1);
    Velk21DataBlockKernel request(Velk21ParameterId(0x10, 0x02), (options & 0x40u) ? 0x80 : 0x01, 0,
                                  0x33, (options >> 3) & 1u, 1, 0, (options >> 4) & 1u, 0);
    request.data[0] = 0x7E;
    request.data[3] = 0x81;
    DataBlock<unsigned char> requestExtended;
    for (unsigned i = 0; i < requestExtendedCount; ++i) {
        requestExtended.append(static_cast<unsigned char>(i * 37));
    }

    auto device = std::make_unique<FakeSerialDevice>();
    FakeSerialDevice* fake = device.get();
    Velk21Session session("/dev/velk-fuzz", 115200, std::move(device));
    FUZZ_CHECK(session.isOpen());

    Expected e;
    const bool refused = (options & 0x60u) != 0;
    if (refused) {
        e.code = (options & 0x20u) ? 1 : 2;
        e.data = request;
        e.data.csBit = 0;
        e.extended = requestExtended;
    } else {
        e = expect(stream, maxRestarts, request, requestExtended);
        // The answer comes after the request has left the line, so the purge
        // that starts the transmission does not touch it.
        fake->queueReply(stream);
    }

    Velk21DataBlockKernel answer = request;
    DataBlock<unsigned char> extended = requestExtended;
    DataBlock<unsigned char> packet;
    packet.append(0xEE); // must be cleared when no block arrives
    int code = -1;
    // A zero byte time-out leaves one character time per byte: a stream
    // that runs dry ends the exchange within a millisecond or two.
    const bool ok = session.exchange(address, answer, extended, maxRestarts, 0, &code, &packet);

    FUZZ_CHECK(code >= 0 && code <= 8);
    FUZZ_CHECK(ok == (code == 0));
    FUZZ_CHECK(code == e.code);
    FUZZ_CHECK(answer == e.data);
    FUZZ_CHECK(extended == e.extended);
    FUZZ_CHECK(packet == e.packet);

    const std::size_t sent = fake->written().size();
    if (refused) {
        FUZZ_CHECK(sent == 0);
    } else {
        const bool withExtended = request.efBit && request.wtsBit;
        const unsigned groups = withExtended ? (requestExtendedCount + 6) / 7 : 0;
        FUZZ_CHECK(sent == 6 + 12 + 10 * groups);
    }
    return 0;
}
