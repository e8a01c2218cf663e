// The extended block packet packager on arbitrary blocks and records.

#include "PackagerFuzz.h"
#include "Velk21ExtendedBlockPacketPackager.h"

namespace {

struct ExtendedBlockTraits {
    using Packager = Velk21ExtendedBlockPacketPackager;
    using Kernel = Velk21ExtendedBlockKernel;

    static Kernel record(FuzzInput& in) {
        Kernel k;
        const unsigned char flags = in.byte();
        k.wtsBit = flags & 0x01u;
        k.csBit = flags & 0x02u;
        k.subLBit = flags & 0x04u;
        for (unsigned char& d : k.data) {
            d = in.byte();
        }
        return k;
    }

    static bool packable(const Kernel&) { return true; }

    static Kernel canonical(Kernel k) {
        using packagerfuzz::flagOf;
        k.wtsBit = flagOf(k.wtsBit);
        k.csBit = flagOf(k.csBit);
        k.subLBit = flagOf(k.subLBit);
        return k;
    }

    // Header bit 1 is neither checked nor decoded.
    static std::uint8_t expectedHeader(std::uint8_t wire, const Kernel&) {
        return static_cast<std::uint8_t>(wire & ~0x02u);
    }

    static std::uint8_t expectedBodyByte(unsigned, std::uint8_t wire) { return wire & 0x7Fu; }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return packagerfuzz::run<ExtendedBlockTraits>(data, size);
}
