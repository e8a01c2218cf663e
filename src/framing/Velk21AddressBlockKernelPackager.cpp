#include "Velk21AddressBlockKernelPackager.h"

namespace {
const unsigned kernelSize = 5;
}

bool Velk21AddressBlockKernelPackager::pack(DataBlock<unsigned char>& block, unsigned& position,
                                            const Velk21AddressBlockKernel& kernel) {
    if (!fits(block, position, kernelSize)) {
        return false;
    }
    // No MSB byte in this block: every level must already be a 7-bit value.
    const Velk21Address& a = kernel.address;
    if ((a.address_1 & 0x80u) || (a.address_2 & 0x80u) || (a.address_3 & 0x80u) ||
        (a.address_4 & 0x80u)) {
        return false;
    }
    const unsigned header =
        0x80u | (unsigned(kernel.subLBit()) << 5) | (unsigned(kernel.timeBit != 0) << 3);
    unsigned char* out = block.data() + position;
    out[0] = static_cast<unsigned char>(header);
    out[1] = a.address_1;
    out[2] = a.address_2;
    out[3] = a.address_3;
    out[4] = a.address_4;
    position += kernelSize;
    return true;
}

bool Velk21AddressBlockKernelPackager::unpack(DataBlock<unsigned char>& block, unsigned& position,
                                              Velk21AddressBlockKernel& kernel) {
    if (!fits(block, position, kernelSize)) {
        return false;
    }
    // Bit 7 set and bit 6 clear; SubL is worked out from the levels, not stored.
    const unsigned char header = block[position];
    if ((header & 0xC0u) != 0x80u) {
        return false;
    }
    const unsigned char* in = block.data() + position;
    kernel.timeBit = (header >> 3) & 0x01u;
    kernel.address.address_1 = in[1];
    kernel.address.address_2 = in[2];
    kernel.address.address_3 = in[3];
    kernel.address.address_4 = in[4];
    position += kernelSize;
    return true;
}

unsigned Velk21AddressBlockKernelPackager::size(const Velk21AddressBlockKernel&) const {
    return kernelSize;
}
