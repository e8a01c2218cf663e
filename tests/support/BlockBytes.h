#pragma once

// Byte blocks as std::vector and back, so that tests can write expected bytes
// as brace lists and compare them with QCOMPARE.

#include "DataBlock.h"
#include "Velk21AddressBlockPacketPackager.h"
#include "Velk21DataBlockPacketPackager.h"
#include "Velk21ExtendedBlockPacketPackager.h"

#include <vector>

using Bytes = std::vector<unsigned char>;

inline DataBlock<unsigned char> blockOf(const Bytes& bytes) {
    DataBlock<unsigned char> block;
    block.reserve(static_cast<unsigned>(bytes.size()));
    for (unsigned char b : bytes) {
        block.append(b);
    }
    return block;
}

inline Bytes bytesOf(const DataBlock<unsigned char>& block) {
    return Bytes(block.data(), block.data() + block.size());
}

// One block framed by a packet packager, in a block of exactly its size.
template <class Packager, class Kernel> DataBlock<unsigned char> framedBlock(const Kernel& kernel) {
    Packager packager;
    DataBlock<unsigned char> block;
    block.resize(packager.size(kernel), 0);
    unsigned position = 0;
    packager.pack(block, position, kernel);
    return block;
}

template <class Packager, class Kernel> Bytes framed(const Kernel& kernel) {
    return bytesOf(framedBlock<Packager>(kernel));
}

// A whole request as the session frames it: address block, data block and,
// for the given extended bytes, one extended block per seven.
inline Bytes frameRequest(const Velk21Address& levels, const Velk21DataBlockKernel& data,
                          const Bytes& extended = Bytes()) {
    Velk21AddressBlockKernel address(levels, 0);
    Velk21AddressBlockPacketPackager addressPackager;
    Velk21DataBlockPacketPackager dataPackager;
    Velk21ExtendedBlockPacketPackager extendedPackager;
    const unsigned groups = static_cast<unsigned>((extended.size() + 6) / 7);
    DataBlock<unsigned char> block;
    block.resize(6 + 12 + 10 * groups, 0);
    unsigned position = 0;
    addressPackager.pack(block, position, address);
    dataPackager.pack(block, position, data);
    for (unsigned g = 0; g < groups; ++g) {
        Velk21ExtendedBlockKernel kernel(data.wtsBit, 0, data.subLBit);
        for (unsigned i = 0; i < 7 && g * 7 + i < extended.size(); ++i) {
            kernel.data[i] = extended[g * 7 + i];
        }
        extendedPackager.pack(block, position, kernel);
    }
    return Bytes(block.data(), block.data() + block.size());
}
