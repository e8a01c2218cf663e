#ifndef VELK_VELKCTL_BUSDECODER_H
#define VELK_VELKCTL_BUSDECODER_H

#include "DataBlock.h"
#include "Velk21AddressBlockKernel.h"
#include "Velk21AddressBlockPacketPackager.h"
#include "Velk21DataBlockKernel.h"
#include "Velk21DataBlockPacketPackager.h"
#include "Velk21ExtendedBlockKernel.h"
#include "Velk21ExtendedBlockPacketPackager.h"

#include <cstdint>
#include <functional>
#include <vector>

// One thing seen on the line: a block (whole or cut short) or a run of bytes
// that belong to no block.
struct BusItem {
    enum class Kind { Address, Data, Extended, Noise };
    enum class Verdict {
        Ok,     // whole block, CRC right, decoded
        BadCrc, // whole block, CRC wrong
        Short,  // cut short by the next header, by silence or by the end of the input
        Noise,  // not a block
    };
    enum class Direction { Unknown, Request, Answer };

    Kind kind = Kind::Noise;
    Verdict verdict = Verdict::Noise;
    Direction direction = Direction::Unknown;
    std::uint64_t timeUs = 0;         // arrival of the first byte
    std::uint64_t endUs = 0;          // arrival of the last byte
    std::uint64_t gapUs = 0;          // from the last byte of the item before (0 for the first)
    std::vector<unsigned char> bytes; // as on the line

    // Valid when verdict is Ok, by kind.
    Velk21AddressBlockKernel address;
    Velk21DataBlockKernel data;
    Velk21ExtendedBlockKernel extended;
    // Extended blocks: position after their data block (from 1), and how many
    // the data block announced (EF set: data_0/data_1 bytes in blocks of 7; 0 unknown).
    unsigned extendedIndex = 0;
    unsigned extendedCount = 0;
};

// Names as the records show them, in the order of the enumerations.
const char* busKindName(BusItem::Kind kind);
const char* busVerdictName(BusItem::Verdict verdict);
const char* busDirectionName(BusItem::Direction direction);

// Decodes a byte stream of the bus, both directions mixed, into blocks. Only
// a block header has bit 7 set, so every such byte starts a block, as the
// session restarts on one: a block still collecting is then reported as cut
// short. The header tells the kind (address, data or extended block) and so
// the length; the packet packagers check the CRC and decode. Bytes outside a
// block, and header bytes of no known kind, are noise.
//
// An address block starts a request; the data block right after it is the
// request's, any other data block an answer. Extended blocks belong to the
// data block before them.
//
// Pure: no clock, no I/O. The caller passes the arrival time of each chunk.
class BusDecoder {
public:
    using Sink = std::function<void(const BusItem&)>;

    // A block that stays incomplete for longer than idleUs is reported as cut
    // short when idle() or the next byte notices it (default: the session's
    // 150 ms byte time-out).
    explicit BusDecoder(Sink sink, std::uint64_t idleUs = 150000);

    void feed(const unsigned char* bytes, std::size_t count, std::uint64_t timeUs);
    // Reports what the silence up to nowUs has ended: pending noise, and a
    // block idle for longer than the limit.
    void idle(std::uint64_t nowUs);
    // End of the input: reports whatever is pending.
    void finish();

    // Time of the last byte fed, 0 before any.
    std::uint64_t lastByteUs() const { return lastUs; }

private:
    void startBlock(unsigned char header, std::uint64_t timeUs);
    void finishBlock(BusItem::Verdict verdict);
    void flushNoise();
    void emit(BusItem& item);

    Sink sink;
    std::uint64_t idleLimitUs;
    std::uint64_t lastUs = 0;
    std::uint64_t previousEndUs = 0;
    bool anyEmitted = false;

    unsigned expected = 0; // length of the block being collected; 0: none
    BusItem block;
    BusItem noise;

    bool requestOpen = false; // an address block came, its data block not yet
    BusItem::Direction extendedDirection = BusItem::Direction::Unknown;
    unsigned extendedIndex = 0;
    unsigned extendedCount = 0;

    DataBlock<unsigned char> scratch;
    Velk21AddressBlockPacketPackager addressPackager;
    Velk21DataBlockPacketPackager dataPackager;
    Velk21ExtendedBlockPacketPackager extendedPackager;
};

#endif
