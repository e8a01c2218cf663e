#ifndef VELK_VELK21EXTENDEDBLOCKKERNEL_H
#define VELK_VELK21EXTENDEDBLOCKKERNEL_H

// Contents of one extended block: seven bytes of the extended data.
struct Velk21ExtendedBlockKernel {
    unsigned char wtsBit;
    unsigned char csBit;
    unsigned char subLBit;
    unsigned char data[7];

    Velk21ExtendedBlockKernel() : wtsBit(0), csBit(0), subLBit(0), data{0, 0, 0, 0, 0, 0, 0} {}
    Velk21ExtendedBlockKernel(unsigned char wtsBit, unsigned char csBit, unsigned char subLBit)
        : wtsBit(wtsBit), csBit(csBit), subLBit(subLBit), data{0, 0, 0, 0, 0, 0, 0} {}
};

inline bool operator==(const Velk21ExtendedBlockKernel& a, const Velk21ExtendedBlockKernel& b) {
    for (unsigned i = 0; i < 7; ++i) {
        if (a.data[i] != b.data[i]) {
            return false;
        }
    }
    return a.wtsBit == b.wtsBit && a.csBit == b.csBit && a.subLBit == b.subLBit;
}

inline bool operator!=(const Velk21ExtendedBlockKernel& a, const Velk21ExtendedBlockKernel& b) {
    return !(a == b);
}

#endif
