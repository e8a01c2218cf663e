#include "Velk21AddressBlockPacketPackager.h"

// The stages only take each other's addresses while they are built.
Velk21AddressBlockPacketPackager::Velk21AddressBlockPacketPackager()
    : PacketPackager(&crcWrapper), crcWrapper(&kernelPackager), kernelPackager() {
    subPackagers.crc = &crcWrapper;
}
