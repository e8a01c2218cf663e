#ifndef VELK_VELK21EXTENDEDBLOCKPACKETPACKAGER_H
#define VELK_VELK21EXTENDEDBLOCKPACKETPACKAGER_H

#include "CrcBit7Wrapper.h"
#include "MsbWrapper.h"
#include "PacketPackager.h"
#include "Velk21ExtendedBlockKernelPackager.h"

struct Velk21ExtendedBlockSubPackagers {
    MsbWrapper<Velk21ExtendedBlockKernel, 1>* msb = nullptr;
    CrcBit7Wrapper<Velk21ExtendedBlockKernel>* crc = nullptr;
};

// The extended block on the wire, 10 bytes: CRC wrapper around MSB wrapper around
// the kernel packager.
class Velk21ExtendedBlockPacketPackager
    : public PacketPackager<Velk21ExtendedBlockSubPackagers, unsigned char,
                            Velk21ExtendedBlockKernel, void> {
public:
    Velk21ExtendedBlockPacketPackager();

private:
    CrcBit7Wrapper<Velk21ExtendedBlockKernel> crcWrapper;
    MsbWrapper<Velk21ExtendedBlockKernel, 1> msbWrapper;
    Velk21ExtendedBlockKernelPackager kernelPackager;
};

#endif
