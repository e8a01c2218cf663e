#ifndef VELK_VELK21DATABLOCKKERNEL_H
#define VELK_VELK21DATABLOCKKERNEL_H

#include "Velk21ParameterId.h"

// Contents of the data block, the request or the answer proper. Flags count
// as set when not 0; unpacking stores 0 or 1. In an answer with efBit set,
// data[0] (low) and data[1] (high) give the number of extended bytes that follow.
struct Velk21DataBlockKernel {
    Velk21ParameterId id;
    unsigned char ao;   // sender's address, 0 to 127
    unsigned char ntxt; // error/phase code, 0 to 127
    unsigned char status;
    unsigned char wtsBit;
    unsigned char csBit;
    unsigned char subLBit;
    unsigned char efBit; // extended blocks follow
    unsigned char errBit;
    unsigned char data[4];

    Velk21DataBlockKernel()
        : id(), ao(0), ntxt(0), status(0), wtsBit(0), csBit(0), subLBit(0), efBit(0),
          errBit(0), data{0, 0, 0, 0} {}
    Velk21DataBlockKernel(const Velk21ParameterId& id, unsigned char ao, unsigned char ntxt,
                          unsigned char status, unsigned char wtsBit, unsigned char csBit,
                          unsigned char subLBit, unsigned char efBit, unsigned char errBit)
        : id(id), ao(ao), ntxt(ntxt), status(status), wtsBit(wtsBit), csBit(csBit),
          subLBit(subLBit), efBit(efBit), errBit(errBit), data{0, 0, 0, 0} {}
};

inline bool operator==(const Velk21DataBlockKernel& a, const Velk21DataBlockKernel& b) {
    return a.id == b.id && a.ao == b.ao && a.ntxt == b.ntxt && a.status == b.status &&
           a.wtsBit == b.wtsBit && a.csBit == b.csBit && a.subLBit == b.subLBit &&
           a.efBit == b.efBit && a.errBit == b.errBit && a.data[0] == b.data[0] &&
           a.data[1] == b.data[1] && a.data[2] == b.data[2] && a.data[3] == b.data[3];
}

inline bool operator!=(const Velk21DataBlockKernel& a, const Velk21DataBlockKernel& b) {
    return !(a == b);
}

#endif
