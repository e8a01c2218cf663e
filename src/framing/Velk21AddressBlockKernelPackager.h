#ifndef VELK_VELK21ADDRESSBLOCKKERNELPACKAGER_H
#define VELK_VELK21ADDRESSBLOCKKERNELPACKAGER_H

#include "IPackager.h"
#include "Velk21AddressBlockKernel.h"

// Writes and reads the five bytes of an address block: header, then the four levels.
class Velk21AddressBlockKernelPackager
    : public IPackager<unsigned char, Velk21AddressBlockKernel, void> {
public:
    bool pack(DataBlock<unsigned char>& block, unsigned& position,
              const Velk21AddressBlockKernel& kernel) override;
    bool unpack(DataBlock<unsigned char>& block, unsigned& position,
                Velk21AddressBlockKernel& kernel) override;
    unsigned size(const Velk21AddressBlockKernel& kernel) const override;
};

#endif
