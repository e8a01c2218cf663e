#pragma once

// Byte blocks as std::vector and back, so that tests can write expected bytes
// as brace lists and compare them with QCOMPARE.

#include "DataBlock.h"

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
