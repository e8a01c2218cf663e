#ifndef VELK_VELK21DATABLOCKKERNELPACKAGER_H
#define VELK_VELK21DATABLOCKKERNELPACKAGER_H

#include "IPackager.h"
#include "Velk21DataBlockKernel.h"

// Writes and reads the ten bytes of a data block: header, ao, ntxt, code, index, status, data_0 to
// data_3.
class Velk21DataBlockKernelPackager : public IPackager<unsigned char, Velk21DataBlockKernel, void> {
public:
    bool pack(DataBlock<unsigned char>& block, unsigned& position,
              const Velk21DataBlockKernel& kernel) override;
    bool unpack(DataBlock<unsigned char>& block, unsigned& position,
                Velk21DataBlockKernel& kernel) override;
    unsigned size(const Velk21DataBlockKernel& kernel) const override;
};

#endif
