#include "Velk21DataBlockPacketPackager.h"

// The stages only take each other's addresses while they are built.
Velk21DataBlockPacketPackager::Velk21DataBlockPacketPackager()
    : PacketPackager(&crcWrapper), crcWrapper(&msbWrapper), msbWrapper(&kernelPackager),
      kernelPackager() {
    subPackagers.msb = &msbWrapper;
    subPackagers.crc = &crcWrapper;
}
