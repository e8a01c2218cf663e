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
// The step is linear in register and byte, so it splits into lookups:
// step(byte, reg) = step(0, reg) ^ step(byte, 0). Four bytes at a time, the
// register goes through four zero steps and each byte through the zero steps
// that follow it, which shortens the chain of dependent lookups.
constexpr unsigned char zeroSteps(unsigned char reg, unsigned count) {
    for (unsigned i = 0; i < count; ++i) {
        reg = crcStepBitwise(0, reg);
    }
    return reg;
}

constexpr std::array<unsigned char, 128> makeRegisterTable(unsigned steps) {
    std::array<unsigned char, 128> t{};
    for (unsigned r = 0; r < 128; ++r) {
        t[r] = zeroSteps(static_cast<unsigned char>(r), steps);
    }
    return t;
}

constexpr std::array<unsigned char, 256> makeByteTable(unsigned followingZeros) {
    std::array<unsigned char, 256> t{};
    for (unsigned b = 0; b < 256; ++b) {
        t[b] = zeroSteps(crcStepBitwise(static_cast<unsigned char>(b), 0), followingZeros);
    }
    return t;
}

// registers[k]: the register after k zero bytes; bytes[k]: a byte followed by k zero bytes.
inline constexpr std::array<std::array<unsigned char, 128>, 5> registers = {
    makeRegisterTable(0), makeRegisterTable(1), makeRegisterTable(2), makeRegisterTable(3),
    makeRegisterTable(4)};
inline constexpr std::array<std::array<unsigned char, 256>, 4> bytes = {
    makeByteTable(0), makeByteTable(1), makeByteTable(2), makeByteTable(3)};
} // namespace crc7tables

// Feeds one byte into the register (the same result as crcStepBitwise).
inline unsigned char crcStep(unsigned char byte, unsigned char reg) {
    return crc7tables::registers[1][reg & 0x7Fu] ^ crc7tables::bytes[0][byte];
}

// The CRC byte over count bytes: up to four bytes per dependent lookup.
inline unsigned char crc7(const unsigned char* message, unsigned count) {
    using crc7tables::bytes;
    using crc7tables::registers;
    unsigned char reg = 0;
    unsigned i = 0;
    for (; i + 4 <= count; i += 4) {
        reg = registers[4][reg] ^ bytes[3][message[i]] ^ bytes[2][message[i + 1]] ^
              bytes[1][message[i + 2]] ^ bytes[0][message[i + 3]];
    }
    const unsigned rest = count - i;
    if (rest != 0) {
        unsigned char next = registers[rest][reg];
        for (unsigned k = 0; k < rest; ++k) {
            next ^= bytes[rest - 1 - k][message[i + k]];
        }
        reg = next;
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
        // Covers everything the inner stages wrote, all of which must lie inside the block.
        if (position > block.size() && position > startPosition) {
            return false;
        }
        const unsigned count = position > startPosition ? position - startPosition : 0;
        block[position] = count != 0 ? crc7(block.data() + startPosition, count) : 0;
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
        const unsigned from = position + this->headerSize();
        const unsigned crcIndex = position + total - trailerSize();
        const unsigned char reg = crcIndex > from ? crc7(block.data() + from, crcIndex - from) : 0;
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
