#ifndef VELK_PACKETPACKAGER_H
#define VELK_PACKETPACKAGER_H

#include "IPackager.h"

// Base of the packet packagers: forwards every operation to the outermost
// stage of a chain that the derived class holds as its own members. The
// stages point at each other, so a packet packager is never copied.
template <typename SubPackagers, typename T, typename Kernel, typename Extra>
class PacketPackager : public IPackager<T, Kernel, Extra> {
public:
    explicit PacketPackager(IPackager<T, Kernel, Extra>* top) : top(top), subPackagers() {}
    PacketPackager(const PacketPackager&) = delete;
    PacketPackager& operator=(const PacketPackager&) = delete;

    bool pack(DataBlock<T>& block, unsigned& position, const Kernel& kernel) override {
        return top->pack(block, position, kernel);
    }

    bool unpack(DataBlock<T>& block, unsigned& position, Kernel& kernel) override {
        return top->unpack(block, position, kernel);
    }

    unsigned size(const Kernel& kernel) const override { return top->size(kernel); }

protected:
    IPackager<T, Kernel, Extra>* top; // not owned: a member of the derived class

public:
    SubPackagers subPackagers; // the chain's wrappers by name; no operation reads them
};

#endif
