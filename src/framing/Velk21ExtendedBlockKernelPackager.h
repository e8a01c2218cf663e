#ifndef VELK_VELK21EXTENDEDBLOCKKERNELPACKAGER_H
#define VELK_VELK21EXTENDEDBLOCKKERNELPACKAGER_H

#include "IPackager.h"
#include "Velk21ExtendedBlockKernel.h"

// Writes and reads the eight bytes of an extended block: header, then the seven data bytes.
class Velk21ExtendedBlockKernelPackager
    : public IPackager<unsigned char, Velk21ExtendedBlockKernel, void> {
public:
    bool pack(DataBlock<unsigned char>& block, unsigned& position,
              const Velk21ExtendedBlockKernel& kernel) override;
    bool unpack(DataBlock<unsigned char>& block, unsigned& position,
                Velk21ExtendedBlockKernel& kernel) override;
    unsigned size(const Velk21ExtendedBlockKernel& kernel) const override;
};

#endif
