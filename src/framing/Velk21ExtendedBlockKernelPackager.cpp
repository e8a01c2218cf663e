#include "Velk21ExtendedBlockKernelPackager.h"

namespace {
const unsigned kernelSize = 8;
}

bool Velk21ExtendedBlockKernelPackager::pack(DataBlock<unsigned char>& block, unsigned& position,
                                             const Velk21ExtendedBlockKernel& kernel) {
    if (!fits(block, position, kernelSize)) {
        return false;
    }
    unsigned char header = 0xD8u;
    if (kernel.subLBit) {
        header |= 0x20u;
    }
    if (kernel.csBit) {
        header |= 0x04u;
    }
    if (kernel.wtsBit) {
        header |= 0x01u;
    }
    block[position++] = header;
    for (unsigned i = 0; i < 7; ++i) {
        block[position++] = kernel.data[i];
    }
    return true;
}

bool Velk21ExtendedBlockKernelPackager::unpack(DataBlock<unsigned char>& block, unsigned& position,
                                               Velk21ExtendedBlockKernel& kernel) {
    // Bits 7, 6, 4 and 3 set; bit 3 is what tells it from a data block.
    const unsigned char header = block[position];
    if ((header & 0xD8u) != 0xD8u) {
        return false;
    }
    if (!fits(block, position, kernelSize)) {
        return false;
    }
    kernel.subLBit = (header >> 5) & 0x01u;
    kernel.csBit = (header >> 2) & 0x01u;
    kernel.wtsBit = header & 0x01u;
    ++position;
    for (unsigned i = 0; i < 7; ++i) {
        kernel.data[i] = block[position++];
    }
    return true;
}

unsigned Velk21ExtendedBlockKernelPackager::size(const Velk21ExtendedBlockKernel&) const {
    return kernelSize;
}
