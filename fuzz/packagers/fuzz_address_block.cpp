// The address block packet packager on arbitrary blocks and records.

#include "PackagerFuzz.h"
#include "Velk21AddressBlockPacketPackager.h"

namespace {

struct AddressBlockTraits {
    using Packager = Velk21AddressBlockPacketPackager;
    using Kernel = Velk21AddressBlockKernel;

    static Kernel record(FuzzInput& in) {
        Kernel k;
        k.address.address_1 = in.byte();
        k.address.address_2 = in.byte();
        k.address.address_3 = in.byte();
        k.address.address_4 = in.byte();
        k.timeBit = in.byte();
        return k;
    }

    // No MSB byte in this block: every level must be a 7-bit value.
    static bool packable(const Kernel& k) {
        const Velk21Address& a = k.address;
        return a.address_1 < 0x80 && a.address_2 < 0x80 && a.address_3 < 0x80 && a.address_4 < 0x80;
    }

    static Kernel canonical(Kernel k) {
        k.timeBit = packagerfuzz::flagOf(k.timeBit);
        return k;
    }

    // Only bits 7 and 6 are checked and bit 3 decoded; bit 5 follows the levels.
    static std::uint8_t expectedHeader(std::uint8_t wire, const Kernel& k) {
        return static_cast<std::uint8_t>(0x80u | (wire & 0x08u) | (k.subLBit() ? 0x20u : 0u));
    }

    static std::uint8_t expectedBodyByte(unsigned, std::uint8_t wire) { return wire; }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return packagerfuzz::run<AddressBlockTraits>(data, size);
}
