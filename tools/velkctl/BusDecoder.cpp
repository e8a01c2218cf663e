#include "BusDecoder.h"

#include <algorithm>
#include <utility>

namespace {

// Lengths of the blocks by kind; a header of no known kind is noise.
const unsigned blockSizes[] = {6, 12, 10, 0};
const unsigned dataBlockSize = blockSizes[int(BusItem::Kind::Data)];
// Noise is reported in pieces of at most this many bytes.
const std::size_t noiseLimit = 256;

bool isHeader(unsigned char b) {
    return (b & 0x80) != 0;
}

BusItem::Kind blockKind(unsigned char header) {
    return (header & 0xC0) == 0x80   ? BusItem::Kind::Address
           : (header & 0xC8) == 0xC0 ? BusItem::Kind::Data
           : (header & 0xD8) == 0xD8 ? BusItem::Kind::Extended
                                     : BusItem::Kind::Noise;
}

} // namespace

const char* busKindName(BusItem::Kind kind) {
    const char* const names[] = {"address", "data", "extended", "noise"};
    return names[int(kind)];
}

const char* busVerdictName(BusItem::Verdict verdict) {
    const char* const names[] = {"ok", "bad CRC", "cut short", "noise"};
    return names[int(verdict)];
}

const char* busDirectionName(BusItem::Direction direction) {
    const char* const names[] = {"-", "request", "answer"};
    return names[int(direction)];
}

BusDecoder::BusDecoder(Sink sink, std::uint64_t idleUs)
    : sink(std::move(sink)), idleLimitUs(idleUs) {
    block.bytes.reserve(dataBlockSize);
    noise.bytes.reserve(noiseLimit);
    scratch.reserve(dataBlockSize);
}

void BusDecoder::feed(const unsigned char* bytes, std::size_t count, std::uint64_t timeUs) {
    if (count == 0) {
        return;
    }
    idle(timeUs); // silence before this chunk ends what it would have ended live
    for (std::size_t i = 0; i < count; ++i) {
        const unsigned char b = bytes[i];
        if (isHeader(b)) {
            finish(); // a header always starts a block
            startBlock(b, timeUs);
            continue;
        }
        if (expected != 0) {
            block.bytes.push_back(b);
            block.endUs = timeUs;
            if (block.bytes.size() == expected) {
                finishBlock(BusItem::Verdict::Ok);
            }
            continue;
        }
        if (noise.bytes.empty()) {
            noise.timeUs = timeUs;
        }
        noise.bytes.push_back(b);
        noise.endUs = timeUs;
        if (noise.bytes.size() >= noiseLimit) {
            flushNoise();
        }
    }
    lastUs = timeUs;
}

void BusDecoder::idle(std::uint64_t nowUs) {
    if (nowUs >= lastUs && nowUs - lastUs > idleLimitUs) {
        finish();
    }
}

void BusDecoder::finish() {
    if (expected != 0) {
        finishBlock(BusItem::Verdict::Short);
    }
    flushNoise();
}

void BusDecoder::startBlock(unsigned char header, std::uint64_t timeUs) {
    const BusItem::Kind kind = blockKind(header);
    if (kind == BusItem::Kind::Noise) {
        noise.timeUs = timeUs;
        noise.endUs = timeUs;
        noise.bytes.push_back(header);
        return;
    }
    expected = blockSizes[int(kind)];
    block.kind = kind;
    block.timeUs = timeUs;
    block.endUs = timeUs;
    block.bytes.clear();
    block.bytes.push_back(header);
}

void BusDecoder::finishBlock(BusItem::Verdict verdict) {
    expected = 0;
    const bool whole = verdict == BusItem::Verdict::Ok;
    if (whole) {
        scratch.resize(unsigned(block.bytes.size()), 0);
        std::copy(block.bytes.begin(), block.bytes.end(), scratch.data());
    }
    unsigned position = 0;
    bool decoded = false;
    block.extendedIndex = 0;
    block.extendedCount = 0;
    switch (block.kind) {
    case BusItem::Kind::Address:
        decoded = whole && addressPackager.unpack(scratch, position, block.address);
        block.direction = BusItem::Direction::Request;
        requestOpen = true;
        extendedDirection = BusItem::Direction::Unknown;
        break;
    case BusItem::Kind::Data:
        decoded = whole && dataPackager.unpack(scratch, position, block.data);
        block.direction = requestOpen ? BusItem::Direction::Request : BusItem::Direction::Answer;
        requestOpen = false;
        extendedDirection = block.direction;
        extendedIndex = 0;
        extendedCount = decoded && block.data.efBit != 0
                            ? (block.data.data[0] + 256u * block.data.data[1] + 6) / 7
                            : 0;
        break;
    case BusItem::Kind::Extended:
        decoded = whole && extendedPackager.unpack(scratch, position, block.extended);
        block.direction = extendedDirection;
        block.extendedIndex = ++extendedIndex;
        block.extendedCount = extendedCount;
        break;
    case BusItem::Kind::Noise:
        break;
    }
    // The header was checked before collecting, so only the CRC can fail.
    block.verdict = !whole ? verdict : (decoded ? BusItem::Verdict::Ok : BusItem::Verdict::BadCrc);
    emit(block);
}

void BusDecoder::flushNoise() {
    if (noise.bytes.empty()) {
        return;
    }
    noise.kind = BusItem::Kind::Noise;
    noise.verdict = BusItem::Verdict::Noise;
    noise.direction = BusItem::Direction::Unknown;
    emit(noise);
    noise.bytes.clear();
}

void BusDecoder::emit(BusItem& item) {
    item.gapUs = anyEmitted && item.timeUs > previousEndUs ? item.timeUs - previousEndUs : 0;
    previousEndUs = item.endUs;
    anyEmitted = true;
    sink(item);
}
