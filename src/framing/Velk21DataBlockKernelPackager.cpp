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
    // The error flag only goes out together with CS.
    const unsigned cs = kernel.csBit != 0;
    const unsigned header =
        0xC0u | (unsigned(kernel.subLBit != 0) << 5) | (unsigned(kernel.efBit != 0) << 4) |
        (cs << 2) | ((cs & unsigned(kernel.errBit != 0)) << 1) | unsigned(kernel.wtsBit != 0);
    unsigned char* out = block.data() + position;
    out[0] = static_cast<unsigned char>(header);
    out[1] = kernel.ao;
    out[2] = kernel.ntxt;
    out[3] = kernel.id.code;
    out[4] = kernel.id.index;
    out[5] = kernel.status;
    out[6] = kernel.data[0];
    out[7] = kernel.data[1];
    out[8] = kernel.data[2];
    out[9] = kernel.data[3];
    position += kernelSize;
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
    const unsigned char* in = block.data() + position;
    kernel.wtsBit = header & 0x01u;
    kernel.errBit = (header >> 1) & 0x01u;
    kernel.csBit = (header >> 2) & 0x01u;
    kernel.efBit = (header >> 4) & 0x01u;
    kernel.subLBit = (header >> 5) & 0x01u;
    kernel.ao = in[1];
    kernel.ntxt = in[2];
    kernel.id.code = in[3];
    kernel.id.index = in[4];
    kernel.status = in[5];
    kernel.data[0] = in[6];
    kernel.data[1] = in[7];
    kernel.data[2] = in[8];
    kernel.data[3] = in[9];
    position += kernelSize;
    return true;
}

unsigned Velk21DataBlockKernelPackager::size(const Velk21DataBlockKernel&) const {
    return kernelSize;
}
