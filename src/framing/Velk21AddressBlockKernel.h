#ifndef VELK_VELK21ADDRESSBLOCKKERNEL_H
#define VELK_VELK21ADDRESSBLOCKKERNEL_H

#include "Velk21Address.h"

// Contents of the address block: whom a request is for.
struct Velk21AddressBlockKernel {
    Velk21Address address;
    unsigned char timeBit; // set when not 0

    Velk21AddressBlockKernel() : address(), timeBit(0) {}
    Velk21AddressBlockKernel(const Velk21Address& address, unsigned char timeBit)
        : address(address), timeBit(timeBit) {}

    // A second level only counts below a first one.
    bool subLBit() const { return address.address_1 != 0 && address.address_2 != 0; }
};

inline bool operator==(const Velk21AddressBlockKernel& a, const Velk21AddressBlockKernel& b) {
    return a.address == b.address && a.timeBit == b.timeBit;
}

inline bool operator!=(const Velk21AddressBlockKernel& a, const Velk21AddressBlockKernel& b) {
    return !(a == b);
}

#endif
