#include "Velk21ExtendedBlockKernelPackager.h"

namespace {
const unsigned kernelSize = 8;
}

bool Velk21ExtendedBlockKernelPackager::pack(DataBlock<unsigned char>& block, unsigned& position,
                                             const Velk21ExtendedBlockKernel& kernel) {
    if (!fits(block, position, kernelSize)) {
        return false;
    }
    const unsigned header = 0xD8u | (unsigned(kernel.subLBit != 0) << 5) |
                            (unsigned(kernel.csBit != 0) << 2) | unsigned(kernel.wtsBit != 0);
    unsigned char* out = block.data() + position;
    out[0] = static_cast<unsigned char>(header);
    for (unsigned i = 0; i < 7; ++i) {
        out[1 + i] = kernel.data[i];
    }
    position += kernelSize;
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
    const unsigned char* in = block.data() + position;
    kernel.subLBit = (header >> 5) & 0x01u;
    kernel.csBit = (header >> 2) & 0x01u;
    kernel.wtsBit = header & 0x01u;
    for (unsigned i = 0; i < 7; ++i) {
        kernel.data[i] = in[1 + i];
    }
    position += kernelSize;
    return true;
}

unsigned Velk21ExtendedBlockKernelPackager::size(const Velk21ExtendedBlockKernel&) const {
    return kernelSize;
}
