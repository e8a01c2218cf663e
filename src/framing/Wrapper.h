#ifndef VELK_WRAPPER_H
#define VELK_WRAPPER_H

#include "IPackager.h"

// A stage that surrounds another one with a header and a trailer. The plain
// Wrapper passes everything through; subclasses fill in the hooks.
template <typename T, typename Kernel, typename Extra>
class Wrapper : public IPackager<T, Kernel, Extra> {
public:
    explicit Wrapper(IPackager<T, Kernel, Extra>* inner) : inner(inner) {}

    bool pack(DataBlock<T>& block, unsigned& position, const Kernel& kernel) override {
        if (this->enabled) {
            if (!this->fits(block, position, headerSize())) {
                return false;
            }
            if (!beforePack(block, position, kernel)) {
                return false;
            }
        }
        if (!inner->pack(block, position, kernel)) {
            return false;
        }
        if (this->enabled) {
            if (!this->fits(block, position, trailerSize())) {
                return false;
            }
            if (!afterPack(block, position, kernel)) {
                return false;
            }
        }
        return true;
    }

    bool unpack(DataBlock<T>& block, unsigned& position, Kernel& kernel) override {
        if (this->enabled) {
            if (!this->fits(block, position, headerSize())) {
                return false;
            }
            if (!beforeUnpack(block, position, kernel)) {
                return false;
            }
        }
        if (!inner->unpack(block, position, kernel)) {
            return false;
        }
        if (this->enabled) {
            if (!this->fits(block, position, trailerSize())) {
                return false;
            }
            if (!afterUnpack(block, position, kernel)) {
                return false;
            }
        }
        return true;
    }

    unsigned size(const Kernel& kernel) const override {
        unsigned total = inner->size(kernel);
        if (this->enabled) {
            total += headerSize() + trailerSize();
        }
        return total;
    }

    virtual bool beforePack(DataBlock<T>&, unsigned&, const Kernel&) { return true; }

    virtual bool afterPack(DataBlock<T>&, unsigned&, const Kernel&) { return true; }

    virtual bool beforeUnpack(DataBlock<T>&, unsigned&, Kernel&) { return true; }

    virtual bool afterUnpack(DataBlock<T>&, unsigned&, Kernel&) { return true; }

    // Bytes this wrapper puts before the inner content.
    virtual unsigned headerSize() const { return 0; }
    // Bytes this wrapper puts after the inner content.
    virtual unsigned trailerSize() const { return 0; }

protected:
    IPackager<T, Kernel, Extra>* inner; // not owned
};

#endif
