#ifndef VELK_FRAMINGTESTSUPPORT_H
#define VELK_FRAMINGTESTSUPPORT_H

// Helpers shared by the framing tests: hex rows, block conversion, and
// reference encoders written straight from the byte layouts of the three
// blocks (independent of the packager chain, so that a fault made the same
// way in pack and unpack still shows).

#include "CrcBit7Wrapper.h"
#include "DataBlock.h"
#include "Velk21AddressBlockKernel.h"
#include "Velk21DataBlockKernel.h"
#include "Velk21ExtendedBlockKernel.h"

#include <QByteArray>
#include <QMetaType>

#include <vector>

Q_DECLARE_METATYPE(Velk21DataBlockKernel)
Q_DECLARE_METATYPE(Velk21AddressBlockKernel)
Q_DECLARE_METATYPE(Velk21ExtendedBlockKernel)

using Bytes = std::vector<unsigned char>;

inline Bytes hex(const char* text) {
    const QByteArray raw = QByteArray::fromHex(QByteArray(text));
    return Bytes(raw.begin(), raw.end());
}

inline QByteArray hexName(const Bytes& bytes) {
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), int(bytes.size()))
        .toHex(' ')
        .toUpper();
}

// Bitwise CRC over all bytes (the table-driven one is what the packagers use).
inline unsigned char referenceCrc(const Bytes& bytes, size_t count) {
    unsigned char reg = 0;
    for (size_t i = 0; i < count; ++i) {
        reg = crcStepBitwise(bytes[i], reg);
    }
    return reg;
}

inline Bytes withCrc(Bytes bytes) {
    bytes.push_back(referenceCrc(bytes, bytes.size()));
    return bytes;
}

inline DataBlock<unsigned char> toBlock(const Bytes& bytes) {
    DataBlock<unsigned char> block;
    block.resize(static_cast<unsigned>(bytes.size()), 0);
    for (unsigned i = 0; i < block.size(); ++i) {
        block[i] = bytes[i];
    }
    return block;
}

inline Bytes toBytes(const DataBlock<unsigned char>& block) {
    Bytes bytes;
    for (unsigned i = 0; i < block.size(); ++i) {
        bytes.push_back(block[i]);
    }
    return bytes;
}

// Record bytes before the MSB wrapper runs, and the bytes on the wire.
struct Encoding {
    Bytes raw;
    Bytes wire;
};

// Moves bit 7 of raw[first ..] into one byte appended after them, then the CRC.
inline Encoding finish(const Bytes& raw, size_t first, bool msb) {
    Encoding e{raw, raw};
    if (msb) {
        unsigned char m = 0;
        for (size_t i = first; i < raw.size(); ++i) {
            if (raw[i] & 0x80) {
                m |= static_cast<unsigned char>(1u << (i - first));
                e.wire[i] &= 0x7F;
            }
        }
        e.wire.push_back(m);
    }
    e.wire = withCrc(e.wire);
    return e;
}

inline Encoding referenceEncode(const Velk21DataBlockKernel& k) {
    const unsigned char header = static_cast<unsigned char>(
        0xC0 | (k.subLBit ? 0x20 : 0) | (k.efBit ? 0x10 : 0) | (k.csBit ? 0x04 : 0) |
        (k.csBit && k.errBit ? 0x02 : 0) | (k.wtsBit ? 0x01 : 0));
    return finish(Bytes{header, k.ao, k.ntxt, k.id.code, k.id.index, k.status, k.data[0], k.data[1],
                        k.data[2], k.data[3]},
                  3, true);
}

inline Encoding referenceEncode(const Velk21AddressBlockKernel& k) {
    const Velk21Address& a = k.address;
    const bool subL = a.address_1 != 0 && a.address_2 != 0;
    const unsigned char header =
        static_cast<unsigned char>(0x80 | (subL ? 0x20 : 0) | (k.timeBit ? 0x08 : 0));
    return finish(Bytes{header, a.address_1, a.address_2, a.address_3, a.address_4}, 0, false);
}

inline Encoding referenceEncode(const Velk21ExtendedBlockKernel& k) {
    const unsigned char header = static_cast<unsigned char>(
        0xD8 | (k.subLBit ? 0x20 : 0) | (k.csBit ? 0x04 : 0) | (k.wtsBit ? 0x01 : 0));
    Bytes raw{header};
    raw.insert(raw.end(), k.data, k.data + 7);
    return finish(raw, 1, true);
}

#endif
