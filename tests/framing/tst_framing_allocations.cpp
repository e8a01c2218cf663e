// Checks that packing and unpacking never allocate and that blocks allocate
// exactly what they must, by counting calls to the global allocation functions.

#include "Velk21AddressBlockPacketPackager.h"
#include "Velk21DataBlockPacketPackager.h"
#include "Velk21ExtendedBlockPacketPackager.h"

#include <QtTest>

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<unsigned> allocations{0};
std::atomic<std::size_t> lastSize{0};

void* allocate(std::size_t size) {
    ++allocations;
    lastSize = size;
    if (void* p = std::malloc(size ? size : 1)) {
        return p;
    }
    throw std::bad_alloc();
}
} // namespace

void* operator new(std::size_t size) {
    return allocate(size);
}
void* operator new[](std::size_t size) {
    return allocate(size);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}

class TestFramingAllocations : public QObject {
    Q_OBJECT

private slots:
    void packAndUnpackDoNotAllocate();
    void blocksAllocateExactly();
};

void TestFramingAllocations::packAndUnpackDoNotAllocate() {
    Velk21AddressBlockPacketPackager addressPackager;
    Velk21DataBlockPacketPackager dataPackager;
    Velk21ExtendedBlockPacketPackager extendedPackager;
    const Velk21AddressBlockKernel address(Velk21Address(1, 2, 3, 4), 1);
    Velk21DataBlockKernel data(Velk21ParameterId(0x83, 0x01), 0x05, 0, 0xFF, 1, 1, 1, 1, 1);
    data.data[3] = 0xFF;
    Velk21ExtendedBlockKernel extended(1, 0, 1);
    extended.data[4] = 0xFF;
    Velk21DataBlockKernel badData = data;
    badData.ao = 0x80;
    DataBlock<unsigned char> block;
    block.resize(28, 0);
    DataBlock<unsigned char> shortBlock;
    shortBlock.resize(11, 0);

    const unsigned before = allocations;
    unsigned position = 0;
    bool ok = addressPackager.pack(block, position, address);
    ok = dataPackager.pack(block, position, data) && ok;
    ok = extendedPackager.pack(block, position, extended) && ok;
    const unsigned packedTo = position;
    Velk21AddressBlockKernel address2;
    Velk21DataBlockKernel data2;
    Velk21ExtendedBlockKernel extended2;
    position = 0;
    ok = addressPackager.unpack(block, position, address2) && ok;
    ok = dataPackager.unpack(block, position, data2) && ok;
    ok = extendedPackager.unpack(block, position, extended2) && ok;
    // Failing paths too: short block, bad field, bad CRC.
    unsigned other = 0;
    const bool shortPack = dataPackager.pack(shortBlock, other, data);
    other = 0;
    const bool badPack = dataPackager.pack(block, other, badData);
    block[17] ^= 0x01;
    other = 6;
    const bool badUnpack = dataPackager.unpack(block, other, data2);
    const unsigned sizes =
        addressPackager.size(address) + dataPackager.size(data) + extendedPackager.size(extended);
    const unsigned during = allocations - before;

    QCOMPARE(during, 0u);
    QVERIFY(ok);
    QCOMPARE(packedTo, 28u);
    QCOMPARE(position, 28u);
    QCOMPARE(sizes, 28u);
    QVERIFY(address2 == address);
    QVERIFY(data2 == data);
    QVERIFY(extended2 == extended);
    QVERIFY(!shortPack);
    QVERIFY(!badPack);
    QVERIFY(!badUnpack);
}

void TestFramingAllocations::blocksAllocateExactly() {
    DataBlock<unsigned char> empty;
    empty.reserve(16);

    unsigned before = allocations;
    DataBlock<unsigned char> emptyCopy(empty);
    DataBlock<unsigned char> assigned;
    assigned = empty;
    const unsigned forEmptyCopies = allocations - before;

    DataBlock<unsigned char> source;
    source.reserve(100);
    source.resize(3, 1);
    before = allocations;
    DataBlock<unsigned char> copy(source);
    const unsigned forCopy = allocations - before;
    const std::size_t copySize = lastSize;

    before = allocations;
    source.clear();
    for (unsigned i = 0; i < 100; ++i) {
        source.append(static_cast<unsigned char>(i));
    }
    const unsigned forAppends = allocations - before;

    before = allocations;
    source.append(0);
    const unsigned forGrowth = allocations - before;
    const std::size_t growthSize = lastSize;

    QCOMPARE(forEmptyCopies, 0u);
    QCOMPARE(forCopy, 1u);
    QCOMPARE(copySize, std::size_t(3));
    QCOMPARE(forAppends, 0u);
    QCOMPARE(forGrowth, 1u);
    QCOMPARE(growthSize, std::size_t(101));
    QCOMPARE(emptyCopy.size() + assigned.size() + copy.size(), 3u);
}

QTEST_APPLESS_MAIN(TestFramingAllocations)
#include "tst_framing_allocations.moc"
