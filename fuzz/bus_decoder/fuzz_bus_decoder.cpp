// velkctl monitor's bus decoder on an arbitrary line: bytes in chunks, each
// with its arrival time, and silences in between. Every byte fed comes out
// once, in order, in exactly one item, and each item is what its kind says:
// a block starts with its header, the only byte with bit 7, and is whole
// unless cut short; noise holds no header of a known kind; items follow one
// another in time, their gaps as their times say.
//
// Input: word idle limit (x 100 us); then chunks of word delay (x 10 us),
// byte options (bit 0: the silence before the chunk is noticed by idle()),
// byte count and that many bytes.

#include "BusDecoder.h"
#include "FuzzInput.h"

#include <vector>

namespace {

unsigned fullSize(BusItem::Kind kind) {
    switch (kind) {
    case BusItem::Kind::Address:
        return 6;
    case BusItem::Kind::Data:
        return 12;
    case BusItem::Kind::Extended:
        return 10;
    case BusItem::Kind::Noise:
        break;
    }
    return 0;
}

// The kind a header byte announces; Noise for a header of no known kind.
BusItem::Kind headerKind(unsigned char b) {
    if ((b & 0xC0) == 0x80) {
        return BusItem::Kind::Address;
    }
    if ((b & 0xC8) == 0xC0) {
        return BusItem::Kind::Data;
    }
    return (b & 0xD8) == 0xD8 ? BusItem::Kind::Extended : BusItem::Kind::Noise;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput in(data, size);
    std::vector<unsigned char> fed;
    std::vector<unsigned char> reported;
    bool any = false;
    std::uint64_t previousEnd = 0;

    BusDecoder decoder(
        [&](const BusItem& item) {
            const std::vector<unsigned char>& b = item.bytes;
            FUZZ_CHECK(!b.empty());
            FUZZ_CHECK(item.timeUs <= item.endUs);
            FUZZ_CHECK(!any || item.timeUs >= previousEnd);
            FUZZ_CHECK(item.gapUs == (any ? item.timeUs - previousEnd : 0));
            any = true;
            previousEnd = item.endUs;
            reported.insert(reported.end(), b.begin(), b.end());
            if (item.kind == BusItem::Kind::Noise) {
                FUZZ_CHECK(item.verdict == BusItem::Verdict::Noise && b.size() <= 256);
                for (std::size_t i = 0; i < b.size(); ++i) {
                    // Only a header of no known kind, and only first: any
                    // other header starts a block.
                    FUZZ_CHECK((b[i] & 0x80) == 0 ||
                               (i == 0 && headerKind(b[i]) == BusItem::Kind::Noise));
                }
                return;
            }
            FUZZ_CHECK(item.verdict != BusItem::Verdict::Noise);
            FUZZ_CHECK(headerKind(b[0]) == item.kind);
            for (std::size_t i = 1; i < b.size(); ++i) {
                FUZZ_CHECK((b[i] & 0x80) == 0);
            }
            const bool whole = b.size() == fullSize(item.kind);
            FUZZ_CHECK(whole == (item.verdict != BusItem::Verdict::Short));
            FUZZ_CHECK(b.size() <= fullSize(item.kind));
            FUZZ_CHECK(item.kind != BusItem::Kind::Extended || item.extendedIndex >= 1);
            FUZZ_CHECK(item.kind != BusItem::Kind::Address ||
                       item.direction == BusItem::Direction::Request);
        },
        std::uint64_t(in.word()) * 100);

    std::uint64_t now = 0;
    while (in.remaining() > 0) {
        now += std::uint64_t(in.word()) * 10;
        const std::uint8_t options = in.byte();
        const std::vector<std::uint8_t> chunk = in.bytes(in.byte());
        if ((options & 1) != 0) {
            decoder.idle(now);
        }
        decoder.feed(chunk.data(), chunk.size(), now);
        fed.insert(fed.end(), chunk.begin(), chunk.end());
        if (!chunk.empty()) {
            FUZZ_CHECK(decoder.lastByteUs() == now);
        }
    }
    decoder.finish();
    FUZZ_CHECK(reported == fed);
    return 0;
}
