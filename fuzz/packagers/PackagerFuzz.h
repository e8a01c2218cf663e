#ifndef VELK_PACKAGERFUZZ_H
#define VELK_PACKAGERFUZZ_H

// The invariants every packet packager keeps, checked on arbitrary input:
//  unpack: a success consumes exactly one block and touches no byte outside
//    it; the record re-packs to the same wire bytes, up to the bits the
//    receiver ignores, and those unpack to the same record; a failure leaves
//    the record as it was.
//  pack: a success writes exactly one block in which only the header has
//    bit 7 set, and it unpacks to the record; a record refused for its
//    contents leaves the block untouched.
// Traits supply what differs between the block kinds.

#include "DataBlock.h"
#include "FuzzInput.h"

#include <cstdint>
#include <vector>

namespace packagerfuzz {

inline DataBlock<unsigned char> toBlock(const std::vector<std::uint8_t>& bytes) {
    DataBlock<unsigned char> block;
    block.resize(static_cast<unsigned>(bytes.size()), 0);
    for (unsigned i = 0; i < block.size(); ++i) {
        block[i] = bytes[i];
    }
    return block;
}

inline std::vector<std::uint8_t> toBytes(const DataBlock<unsigned char>& block) {
    return std::vector<std::uint8_t>(block.data(), block.data() + block.size());
}

template <class Traits> void checkUnpack(FuzzInput& in) {
    typename Traits::Packager packager;
    using Kernel = typename Traits::Kernel;

    Kernel record = Traits::record(in);
    const unsigned start = in.byte() % 4; // a block need not begin the buffer
    const std::vector<std::uint8_t> wire = in.rest();
    DataBlock<unsigned char> block = toBlock(wire);
    const Kernel before = record;
    const unsigned blockSize = packager.size(record);

    unsigned position = start;
    if (!packager.unpack(block, position, record)) {
        FUZZ_CHECK(record == before);
        FUZZ_CHECK(block.size() == wire.size());
        return;
    }
    FUZZ_CHECK(position == start + blockSize);
    FUZZ_CHECK(start + blockSize <= wire.size());
    FUZZ_CHECK(block.size() == wire.size());
    for (unsigned i = 0; i < wire.size(); ++i) {
        if (i < start || i >= start + blockSize) {
            FUZZ_CHECK(block[i] == wire[i]);
        }
    }

    if (!Traits::packable(record)) {
        return;
    }
    DataBlock<unsigned char> again;
    again.resize(blockSize, 0);
    unsigned packed = 0;
    FUZZ_CHECK(packager.pack(again, packed, record));
    FUZZ_CHECK(packed == blockSize);

    // Same wire bytes, up to the bits the receiver ignores; where none of
    // those was set, the very same block, CRC included.
    const std::vector<std::uint8_t> original(wire.begin() + start,
                                             wire.begin() + start + blockSize);
    FUZZ_CHECK(again[0] == Traits::expectedHeader(original[0], record));
    bool identical = again[0] == original[0];
    for (unsigned i = 1; i + 1 < blockSize; ++i) {
        FUZZ_CHECK(again[i] == Traits::expectedBodyByte(i, original[i]));
        identical = identical && again[i] == original[i];
    }
    if (identical) {
        FUZZ_CHECK(again[blockSize - 1] == original[blockSize - 1]);
    }

    Kernel decoded = Traits::record(in);
    unsigned position2 = 0;
    FUZZ_CHECK(packager.unpack(again, position2, decoded));
    FUZZ_CHECK(position2 == blockSize);
    FUZZ_CHECK(decoded == Traits::canonical(record));
}

template <class Traits> void checkPack(FuzzInput& in) {
    typename Traits::Packager packager;
    using Kernel = typename Traits::Kernel;

    const Kernel record = Traits::record(in);
    const unsigned start = in.byte() % 16;
    const unsigned length = in.byte() % 32;
    std::vector<std::uint8_t> fill = in.bytes(length);
    fill.resize(length, 0xA5);
    DataBlock<unsigned char> block = toBlock(fill);
    const unsigned blockSize = packager.size(record);

    unsigned position = start;
    const bool ok = packager.pack(block, position, record);
    FUZZ_CHECK(block.size() == length); // packing never grows the block
    const bool room = start + blockSize <= length;
    if (!ok) {
        FUZZ_CHECK(!room || !Traits::packable(record));
        if (room) {
            FUZZ_CHECK(toBytes(block) == fill);
        }
        return;
    }
    FUZZ_CHECK(room && Traits::packable(record));
    FUZZ_CHECK(position == start + blockSize);
    for (unsigned i = 0; i < length; ++i) {
        if (i < start || i >= start + blockSize) {
            FUZZ_CHECK(block[i] == fill[i]);
        } else {
            // Only the header has bit 7: the receiver resynchronises on it.
            FUZZ_CHECK(((block[i] & 0x80u) != 0) == (i == start));
        }
    }

    Kernel decoded = Traits::record(in);
    unsigned position2 = start;
    FUZZ_CHECK(packager.unpack(block, position2, decoded));
    FUZZ_CHECK(position2 == start + blockSize);
    FUZZ_CHECK(decoded == Traits::canonical(record));
}

// First byte: even = unpack the rest, odd = pack a record made of the rest.
template <class Traits> int run(const std::uint8_t* data, std::size_t size) {
    FuzzInput in(data, size);
    if (in.byte() & 1u) {
        checkPack<Traits>(in);
    } else {
        checkUnpack<Traits>(in);
    }
    return 0;
}

inline unsigned char flagOf(unsigned char value) {
    return value != 0 ? 1 : 0;
}

} // namespace packagerfuzz

#endif
