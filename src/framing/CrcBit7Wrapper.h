#ifndef VELK_CRCBIT7WRAPPER_H
#define VELK_CRCBIT7WRAPPER_H

#include "Wrapper.h"

#include <array>

// 7-bit CRC of every VELK block: width 7; polynomial x^7 + x^3 + 1, i.e. 0x89
// in shift-in form (shift the register left by one, put the next message bit
// into bit 0, and XOR with 0x89 whenever bit 7 comes up); bits of each byte
// fed least significant first; start value 0; no final XOR; no augmentation
// with zero bits. The CRC byte is the register itself, so its bit 7 is clear.
constexpr unsigned char crcStepBitwise(unsigned char byte, unsigned char reg) {
    unsigned r = reg & 0x7Fu;
    for (unsigned bit = 0; bit < 8; ++bit) {
        r = (r << 1) | ((byte >> bit) & 1u);
        if (r & 0x80u) {
            r ^= 0x89u;
        }
    }
    return static_cast<unsigned char>(r);
}

namespace crc7tables {
// The step is linear in register and byte, so it splits into two lookups:
// step(byte, reg) = step(0, reg) ^ step(byte, 0).
constexpr std::array<unsigned char, 128> makeRegisterTable() {
    std::array<unsigned char, 128> t{};
    for (unsigned r = 0; r < 128; ++r) {
        t[r] = crcStepBitwise(0, static_cast<unsigned char>(r));
    }
    return t;
}

constexpr std::array<unsigned char, 256> makeByteTable() {
    std::array<unsigned char, 256> t{};
    for (unsigned b = 0; b < 256; ++b) {
        t[b] = crcStepBitwise(static_cast<unsigned char>(b), 0);
    }
    return t;
}

inline constexpr std::array<unsigned char, 128> registerTable = makeRegisterTable();
inline constexpr std::array<unsigned char, 256> byteTable = makeByteTable();
} // namespace crc7tables

// Feeds one byte into the register (the same result as crcStepBitwise).
inline unsigned char crcStep(unsigned char byte, unsigned char reg) {
    return crc7tables::registerTable[reg & 0x7Fu] ^ crc7tables::byteTable[byte];
}

// The CRC byte over count bytes.
inline unsigned char crc7(const unsigned char* bytes, unsigned count) {
    unsigned char reg = 0;
    for (unsigned i = 0; i < count; ++i) {
        reg = crcStep(bytes[i], reg);
    }
    return reg;
}

// Appends the CRC over everything the inner stages wrote, and checks it before
// anything inside the block is decoded or changed.
template <typename Kernel> class CrcBit7Wrapper : public Wrapper<unsigned char, Kernel, void> {
    using Base = Wrapper<unsigned char, Kernel, void>;

public:
    explicit CrcBit7Wrapper(IPackager<unsigned char, Kernel, void>* inner)
        : Base(inner), startPosition(0) {}

    bool beforePack(DataBlock<unsigned char>&, unsigned& position, const Kernel&) override {
        startPosition = position;
        return true;
    }

    bool afterPack(DataBlock<unsigned char>& block, unsigned& position, const Kernel&) override {
        unsigned char reg = 0;
        for (unsigned i = startPosition; i < position; ++i) {
            if (i >= block.size()) {
                return false;
            }
            reg = crcStep(block[i], reg);
        }
        block[position] = reg;
        ++position;
        return true;
    }

    bool beforeUnpack(DataBlock<unsigned char>& block, unsigned& position,
                      Kernel& kernel) override {
        // The whole wrapped block, CRC byte included, must lie inside the block.
        const unsigned total = this->size(kernel);
        if (!this->fits(block, position, total)) {
            return false;
        }
        const unsigned crcIndex = position + total - trailerSize();
        unsigned char reg = 0;
        for (unsigned i = position + this->headerSize(); i < crcIndex; ++i) {
            reg = crcStep(block[i], reg);
        }
        position += this->headerSize();
        // The whole byte is compared: a stored byte with bit 7 set never matches.
        return block[crcIndex] == reg;
    }

    bool afterUnpack(DataBlock<unsigned char>&, unsigned& position, Kernel&) override {
        position += trailerSize();
        return true;
    }

    unsigned trailerSize() const override { return 1; }

protected:
    unsigned startPosition; // position at the last beforePack
};

#endif
