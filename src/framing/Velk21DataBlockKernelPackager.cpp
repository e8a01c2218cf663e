#include "Velk21DataBlockKernelPackager.h"

namespace {
const unsigned kernelSize = 10;
}

bool Velk21DataBlockKernelPackager::pack(DataBlock<unsigned char>& block, unsigned& position,
                                         const Velk21DataBlockKernel& kernel) {
    // The 7-bit fields stay outside the MSB byte, so bit 7 there would be a second header.
    if (kernel.ao & 0x80u) {
        return false;
    }
    if (kernel.ntxt & 0x80u) {
        return false;
    }
    if (!fits(block, position, kernelSize)) {
        return false;
    }
    unsigned char header = 0xC0u;
    if (kernel.subLBit) {
        header |= 0x20u;
    }
    if (kernel.efBit) {
        header |= 0x10u;
    }
    if (kernel.csBit) {
        header |= 0x04u;
        if (kernel.errBit) {
            header |= 0x02u; // the error flag only goes out together with CS
        }
    }
    if (kernel.wtsBit) {
        header |= 0x01u;
    }
    block[position++] = header;
    block[position++] = kernel.ao;
    block[position++] = kernel.ntxt;
    block[position++] = kernel.id.code;
    block[position++] = kernel.id.index;
    block[position++] = kernel.status;
    for (unsigned i = 0; i < 4; ++i) {
        block[position++] = kernel.data[i];
    }
    return true;
}

bool Velk21DataBlockKernelPackager::unpack(DataBlock<unsigned char>& block, unsigned& position,
                                           Velk21DataBlockKernel& kernel) {
    // Bits 7 and 6 set and bit 3 clear: a data block, not an address or extended one.
    const unsigned char header = block[position];
    if ((header & 0xC8u) != 0xC0u) {
        return false;
    }
    if (!fits(block, position, kernelSize)) {
        return false;
    }
    kernel.wtsBit = header & 0x01u;
    kernel.errBit = (header >> 1) & 0x01u;
    kernel.csBit = (header >> 2) & 0x01u;
    kernel.efBit = (header >> 4) & 0x01u;
    kernel.subLBit = (header >> 5) & 0x01u;
    ++position;
    kernel.ao = block[position++];
    kernel.ntxt = block[position++];
    kernel.id.code = block[position++];
    kernel.id.index = block[position++];
    kernel.status = block[position++];
    for (unsigned i = 0; i < 4; ++i) {
        kernel.data[i] = block[position++];
    }
    return true;
}

unsigned Velk21DataBlockKernelPackager::size(const Velk21DataBlockKernel&) const {
    return kernelSize;
}
