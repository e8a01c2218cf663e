#ifndef VELK_VELK21ADDRESSBLOCKPACKETPACKAGER_H
#define VELK_VELK21ADDRESSBLOCKPACKETPACKAGER_H

#include "CrcBit7Wrapper.h"
#include "PacketPackager.h"
#include "Velk21AddressBlockKernelPackager.h"

struct Velk21AddressBlockSubPackagers {
    CrcBit7Wrapper<Velk21AddressBlockKernel>* crc = nullptr;
};

// The address block on the wire, 6 bytes: CRC wrapper around the kernel packager.
// No MSB wrapper: every byte of this block is a 7-bit value.
class Velk21AddressBlockPacketPackager
    : public PacketPackager<Velk21AddressBlockSubPackagers, unsigned char, Velk21AddressBlockKernel,
                            void> {
public:
    Velk21AddressBlockPacketPackager();

private:
    CrcBit7Wrapper<Velk21AddressBlockKernel> crcWrapper;
    Velk21AddressBlockKernelPackager kernelPackager;
};

#endif
