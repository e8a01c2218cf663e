// The data block packet packager on arbitrary blocks and records.

#include "PackagerFuzz.h"
#include "Velk21DataBlockPacketPackager.h"

namespace {

struct DataBlockTraits {
    using Packager = Velk21DataBlockPacketPackager;
    using Kernel = Velk21DataBlockKernel;

    static Kernel record(FuzzInput& in) {
        Kernel k;
        k.id.code = in.byte();
        k.id.index = in.byte();
        k.ao = in.byte();
        k.ntxt = in.byte();
        k.status = in.byte();
        const unsigned char flags = in.byte();
        k.wtsBit = flags & 0x01u;
        k.csBit = flags & 0x02u;
        k.subLBit = flags & 0x04u;
        k.efBit = flags & 0x08u;
        k.errBit = flags & 0x10u;
        for (unsigned char& d : k.data) {
            d = in.byte();
        }
        return k;
    }

    // ao and ntxt sit outside the MSB byte: with bit 7 they would be a header.
    static bool packable(const Kernel& k) { return k.ao < 0x80 && k.ntxt < 0x80; }

    // Flags travel as single bits; the error flag only together with CS.
    static Kernel canonical(Kernel k) {
        using packagerfuzz::flagOf;
        k.wtsBit = flagOf(k.wtsBit);
        k.csBit = flagOf(k.csBit);
        k.subLBit = flagOf(k.subLBit);
        k.efBit = flagOf(k.efBit);
        k.errBit = k.csBit ? flagOf(k.errBit) : 0;
        return k;
    }

    static std::uint8_t expectedHeader(std::uint8_t wire, const Kernel& k) {
        return k.csBit ? wire : static_cast<std::uint8_t>(wire & ~0x02u);
    }

    // Bit 7 of bytes 3 to 9 comes from the MSB byte, whose own bit 7 means nothing.
    static std::uint8_t expectedBodyByte(unsigned, std::uint8_t wire) { return wire & 0x7Fu; }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return packagerfuzz::run<DataBlockTraits>(data, size);
}
