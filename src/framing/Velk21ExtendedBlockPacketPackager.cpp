#include "Velk21ExtendedBlockPacketPackager.h"

// The stages only take each other's addresses while they are built.
Velk21ExtendedBlockPacketPackager::Velk21ExtendedBlockPacketPackager()
    : PacketPackager(&crcWrapper), crcWrapper(&msbWrapper), msbWrapper(&kernelPackager),
      kernelPackager() {
    subPackagers.msb = &msbWrapper;
    subPackagers.crc = &crcWrapper;
}
