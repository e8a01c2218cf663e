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
    unsigned char header = 0x80u;
    if (kernel.subLBit()) {
        header |= 0x20u;
    }
    if (kernel.timeBit) {
        header |= 0x08u;
    }
    block[position++] = header;
    block[position++] = a.address_1;
    block[position++] = a.address_2;
    block[position++] = a.address_3;
    block[position++] = a.address_4;
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
    kernel.timeBit = (header >> 3) & 0x01u;
    ++position;
    kernel.address.address_1 = block[position++];
    kernel.address.address_2 = block[position++];
    kernel.address.address_3 = block[position++];
    kernel.address.address_4 = block[position++];
    return true;
}

unsigned Velk21AddressBlockKernelPackager::size(const Velk21AddressBlockKernel&) const {
    return kernelSize;
}
