#ifndef VELK_MSBWRAPPER_H
#define VELK_MSBWRAPPER_H

#include "Wrapper.h"

#include <climits>

// Moves bit 7 out of the bytes that follow the first N bytes of the wrapped
// content into one trailing byte (bit j for the j-th covered byte), so that
// only the block header keeps bit 7 on the wire. At most 8 bytes can be
// carried; bits beyond that are dropped on packing and read as 0 on unpacking.
template <typename Kernel, int N> class MsbWrapper : public Wrapper<unsigned char, Kernel, void> {
    static_assert(N >= 0, "the number of untouched bytes cannot be negative");
    using Base = Wrapper<unsigned char, Kernel, void>;

public:
    explicit MsbWrapper(IPackager<unsigned char, Kernel, void>* inner)
        : Base(inner), startPosition(0) {}

    bool beforePack(DataBlock<unsigned char>&, unsigned& position, const Kernel&) override {
        startPosition = position;
        return true;
    }

    bool afterPack(DataBlock<unsigned char>& block, unsigned& position, const Kernel&) override {
        // Every index from startPosition + N up to position - 1 must lie inside the block;
        // the bytes before the first one outside are still rewritten, as in a plain loop.
        const unsigned first = startPosition + N;
        const unsigned stop = position < block.size() ? position : block.size();
        unsigned char* bytes = block.data();
        unsigned char m = 0;
        for (unsigned i = first, j = 0; i < stop; ++i, ++j) {
            if (j < 8) {
                m |= static_cast<unsigned char>((bytes[i] >> 7) << j);
            }
            bytes[i] &= 0x7Fu;
        }
        if (position > block.size() && position > first) {
            return false;
        }
        block[position] = m;
        ++position;
        return true;
    }

    // Restores bit 7 in place, so the block holds the original bytes afterwards.
    bool beforeUnpack(DataBlock<unsigned char>& block, unsigned& position,
                      Kernel& kernel) override {
        const unsigned total = this->size(kernel);
        if (total > UINT_MAX - position) {
            return false;
        }
        const unsigned end = position + total - trailerSize(); // index of the MSB byte
        const unsigned char m = block[end];                    // 0 outside the block
        const unsigned from = position + this->headerSize();
        const unsigned covered = position + N;
        const unsigned stop = end < block.size() ? end : block.size();
        unsigned char* bytes = block.data();
        for (unsigned i = from > covered ? from : covered, j = 0; i < stop; ++i, ++j) {
            const unsigned bit = j < 8 ? (m >> j) & 1u : 0u;
            bytes[i] = static_cast<unsigned char>((bytes[i] & 0x7Fu) | (bit << 7));
        }
        if (end > block.size() && end > from) {
            return false;
        }
        position += this->headerSize();
        return true;
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
