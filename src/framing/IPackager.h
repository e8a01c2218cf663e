#ifndef VELK_IPACKAGER_H
#define VELK_IPACKAGER_H

#include "DataBlock.h"

// A stage that writes one record into a block at a position, reads one back,
// and tells how many bytes the record takes. Failures are reported by the
// return value only; nothing written before a failure is rolled back.
template <typename T, typename Kernel, typename Extra> class IPackager {
public:
    IPackager() : enabled(true) {}
    virtual ~IPackager() {}

    // Writes the record at position and advances position past what was written.
    virtual bool pack(DataBlock<T>& block, unsigned& position, const Kernel& kernel) = 0;
    // Reads a record at position into kernel and advances position.
    virtual bool unpack(DataBlock<T>& block, unsigned& position, Kernel& kernel) = 0;
    // Bytes that pack writes for the record.
    virtual unsigned size(const Kernel& kernel) const = 0;

    // A disabled wrapper adds nothing and runs none of its hooks.
    bool enabled;

protected:
    // True when count elements starting at position lie inside the block
    // (written so that a huge position cannot wrap around).
    static bool fits(const DataBlock<T>& block, unsigned position, unsigned count) {
        return count <= block.size() && position <= block.size() - count;
    }
};

#endif
