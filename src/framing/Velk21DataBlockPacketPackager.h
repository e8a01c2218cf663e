#ifndef VELK_VELK21DATABLOCKPACKETPACKAGER_H
#define VELK_VELK21DATABLOCKPACKETPACKAGER_H

#include "CrcBit7Wrapper.h"
#include "MsbWrapper.h"
#include "PacketPackager.h"
#include "Velk21DataBlockKernelPackager.h"

struct Velk21DataBlockSubPackagers {
    MsbWrapper<Velk21DataBlockKernel, 3>* msb = nullptr;
    CrcBit7Wrapper<Velk21DataBlockKernel>* crc = nullptr;
};

// The data block on the wire, 12 bytes: CRC wrapper around MSB wrapper around
// the kernel packager.
class Velk21DataBlockPacketPackager
    : public PacketPackager<Velk21DataBlockSubPackagers, unsigned char, Velk21DataBlockKernel,
                            void> {
public:
    Velk21DataBlockPacketPackager();

private:
    CrcBit7Wrapper<Velk21DataBlockKernel> crcWrapper;
    MsbWrapper<Velk21DataBlockKernel, 3> msbWrapper;
    Velk21DataBlockKernelPackager kernelPackager;
};

#endif
