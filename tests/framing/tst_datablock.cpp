#include "DataBlock.h"
#include "Velk21AddressBlockKernel.h"
#include "Velk21DataBlockKernel.h"
#include "Velk21ExtendedBlockKernel.h"

#include <QtTest>

#include <random>
#include <vector>

namespace {
DataBlock<unsigned char> blockOf(std::initializer_list<unsigned char> bytes) {
    DataBlock<unsigned char> block;
    block.reserve(static_cast<unsigned>(bytes.size()));
    for (unsigned char b : bytes) {
        block.append(b);
    }
    return block;
}

std::vector<unsigned char> bytesOf(const DataBlock<unsigned char>& block) {
    std::vector<unsigned char> bytes;
    for (unsigned i = 0; i < block.size(); ++i) {
        bytes.push_back(block[i]);
    }
    return bytes;
}
} // namespace

class TestDataBlock : public QObject {
    Q_OBJECT

private slots:
    void outsideIndexReadsZeroAndDropsWrites_data();
    void outsideIndexReadsZeroAndDropsWrites();
    void resizeFillsOnlyNewBytes();
    void reserveGrowsExactlyAndNeverShrinks();
    void copyAllocatesExactlyTheLength();
    void assignmentCopiesDeeply();
    void clearKeepsStorageForAppending();
    void releaseFreesEverything();
    void appendOwnByteWhileGrowing();
    void equality_data();
    void equality();
    void randomOperationsMatchModel();

    void dataKernelEquality_data();
    void dataKernelEquality();
    void recordConstructorsZeroTheData();
    void addressSubLBit_data();
    void addressSubLBit();
};

void TestDataBlock::outsideIndexReadsZeroAndDropsWrites_data() {
    QTest::addColumn<unsigned>("length");
    QTest::addColumn<unsigned>("index");
    QTest::newRow("empty block, index 0") << 0u << 0u;
    QTest::newRow("index == size") << 3u << 3u;
    QTest::newRow("index far beyond") << 3u << 1000u;
    QTest::newRow("largest index") << 3u << 0xFFFFFFFFu;
    QTest::newRow("within capacity, beyond length") << 2u << 4u; // capacity is 5 below
}

void TestDataBlock::outsideIndexReadsZeroAndDropsWrites() {
    QFETCH(unsigned, length);
    QFETCH(unsigned, index);
    DataBlock<unsigned char> block;
    block.resize(5, 0x11);
    block.resize(length, 0x22);
    const std::vector<unsigned char> before = bytesOf(block);

    QCOMPARE(block[index], 0);
    block[index] = 0xAB;
    QCOMPARE(bytesOf(block), before);
    QCOMPARE(block[index], 0); // the dropped write must not show up on the next read
    block[index] |= 0x80;
    QCOMPARE(block[index], 0);
    const DataBlock<unsigned char>& constBlock = block;
    QCOMPARE(constBlock[index], 0);
    QCOMPARE(block.size(), length);
}

void TestDataBlock::resizeFillsOnlyNewBytes() {
    DataBlock<unsigned char> block;
    block.resize(3, 7);
    QCOMPARE(bytesOf(block), (std::vector<unsigned char>{7, 7, 7}));
    block.resize(1, 9);
    QCOMPARE(bytesOf(block), (std::vector<unsigned char>{7}));
    QCOMPARE(block.allocated(), 3u);
    // Growing again fills from the old length on, even over bytes still held beyond it.
    block.resize(3, 9);
    QCOMPARE(bytesOf(block), (std::vector<unsigned char>{7, 9, 9}));
    QCOMPARE(block.allocated(), 3u);
}

void TestDataBlock::reserveGrowsExactlyAndNeverShrinks() {
    DataBlock<unsigned char> block = blockOf({1, 2, 3});
    block.reserve(5);
    QCOMPARE(block.allocated(), 5u);
    const unsigned char* storage = block.data();
    block.reserve(2);
    QCOMPARE(block.allocated(), 5u);
    QCOMPARE(block.data(), storage);
    block.reserve(5);
    QCOMPARE(block.data(), storage);
    block.reserve(6); // exactly one more, no doubling
    QCOMPARE(block.allocated(), 6u);
    QCOMPARE(bytesOf(block), (std::vector<unsigned char>{1, 2, 3}));
    block.append(4);
    block.append(5);
    block.append(6);
    QCOMPARE(block.allocated(), 6u);
    block.append(7);
    QCOMPARE(block.allocated(), 7u);
    QCOMPARE(bytesOf(block), (std::vector<unsigned char>{1, 2, 3, 4, 5, 6, 7}));
}

void TestDataBlock::copyAllocatesExactlyTheLength() {
    DataBlock<unsigned char> source;
    source.reserve(100);
    source.append(1);
    source.append(2);
    source.append(3);
    DataBlock<unsigned char> copy(source);
    QCOMPARE(copy.allocated(), 3u);
    QCOMPARE(bytesOf(copy), (std::vector<unsigned char>{1, 2, 3}));
    QVERIFY(copy.data() != source.data());
    copy[0] = 9;
    QCOMPARE(source[0], 1);

    DataBlock<unsigned char> emptyWithStorage;
    emptyWithStorage.reserve(10);
    DataBlock<unsigned char> emptyCopy(emptyWithStorage);
    QCOMPARE(emptyCopy.allocated(), 0u);
    QVERIFY(emptyCopy.data() == nullptr);
    QCOMPARE(emptyCopy.size(), 0u);
}

void TestDataBlock::assignmentCopiesDeeply() {
    DataBlock<unsigned char> source = blockOf({4, 5});
    DataBlock<unsigned char> target;
    target.resize(50, 1);
    target = source;
    QCOMPARE(target.allocated(), 2u);
    QCOMPARE(bytesOf(target), (std::vector<unsigned char>{4, 5}));
    target[1] = 6;
    QCOMPARE(source[1], 5);

    DataBlock<unsigned char> empty;
    target = empty;
    QCOMPARE(target.size(), 0u);
    QCOMPARE(target.allocated(), 0u);
    QVERIFY(target.data() == nullptr);

    DataBlock<unsigned char> self;
    self.reserve(8);
    self.append(3);
    const unsigned char* storage = self.data();
    DataBlock<unsigned char>& alias = self;
    self = alias;
    QCOMPARE(self.data(), storage);
    QCOMPARE(self.allocated(), 8u);
    QCOMPARE(bytesOf(self), (std::vector<unsigned char>{3}));
}

void TestDataBlock::clearKeepsStorageForAppending() {
    DataBlock<unsigned char> block;
    block.resize(4, 0xEE);
    const unsigned char* storage = block.data();
    block.clear();
    QCOMPARE(block.size(), 0u);
    QCOMPARE(block.allocated(), 4u);
    QCOMPARE(block[0], 0);
    for (unsigned char b = 1; b <= 4; ++b) {
        block.append(b);
        QCOMPARE(block.data(), storage);
    }
    QCOMPARE(bytesOf(block), (std::vector<unsigned char>{1, 2, 3, 4}));
    block.append(5);
    QCOMPARE(block.allocated(), 5u);
}

void TestDataBlock::releaseFreesEverything() {
    DataBlock<unsigned char> block = blockOf({1, 2, 3});
    block.release();
    QCOMPARE(block.size(), 0u);
    QCOMPARE(block.allocated(), 0u);
    QVERIFY(block.data() == nullptr);
    block.append(8); // usable again
    QCOMPARE(bytesOf(block), (std::vector<unsigned char>{8}));
    QCOMPARE(block.allocated(), 1u);
}

// The byte handed in lives in the storage that growing replaces.
void TestDataBlock::appendOwnByteWhileGrowing() {
    DataBlock<unsigned char> block = blockOf({0x42, 0x17});
    QCOMPARE(block.allocated(), 2u);
    block.append(block[0]);
    block.resize(6, block[1]);
    QCOMPARE(bytesOf(block), (std::vector<unsigned char>{0x42, 0x17, 0x42, 0x17, 0x17, 0x17}));
}

void TestDataBlock::equality_data() {
    QTest::addColumn<QByteArray>("a");
    QTest::addColumn<QByteArray>("b");
    QTest::addColumn<bool>("equal");
    QTest::newRow("both empty") << QByteArray() << QByteArray() << true;
    QTest::newRow("same bytes") << QByteArray("\x01\x02", 2) << QByteArray("\x01\x02", 2) << true;
    QTest::newRow("prefix") << QByteArray("\x01\x02", 2) << QByteArray("\x01\x02\x03", 3) << false;
    QTest::newRow("empty and zero byte") << QByteArray() << QByteArray("\x00", 1) << false;
    QTest::newRow("last byte differs")
        << QByteArray("\x01\x02", 2) << QByteArray("\x01\x03", 2) << false;
    QTest::newRow("first byte differs")
        << QByteArray("\x00\x02", 2) << QByteArray("\x01\x02", 2) << false;
}

void TestDataBlock::equality() {
    QFETCH(QByteArray, a);
    QFETCH(QByteArray, b);
    QFETCH(bool, equal);
    DataBlock<unsigned char> x;
    DataBlock<unsigned char> y;
    y.reserve(64); // capacity must not matter
    for (char c : a) {
        x.append(static_cast<unsigned char>(c));
    }
    for (char c : b) {
        y.append(static_cast<unsigned char>(c));
    }
    QCOMPARE(x == y, equal);
    QCOMPARE(y == x, equal);
    QCOMPARE(x != y, !equal);
}

// Random operations against a plain model that tracks capacity, length and the
// bytes kept beyond the length after shrinking.
void TestDataBlock::randomOperationsMatchModel() {
    std::mt19937 random(12345);
    DataBlock<unsigned char> block;
    std::vector<unsigned char> store; // model storage, size == capacity
    unsigned length = 0;
    for (int step = 0; step < 20000; ++step) {
        const unsigned op = random() % 6;
        const unsigned n = random() % 40;
        const unsigned char value = static_cast<unsigned char>(random());
        switch (op) {
        case 0:
            block.reserve(n);
            if (n > store.size()) {
                store.resize(n);
            }
            break;
        case 1:
            block.resize(n, value);
            if (n > store.size()) {
                store.resize(n);
            }
            for (unsigned i = length; i < n; ++i) {
                store[i] = value;
            }
            length = n;
            break;
        case 2:
            block.append(value);
            if (length + 1 > store.size()) {
                store.resize(length + 1);
            }
            store[length++] = value;
            break;
        case 3:
            block.clear();
            length = 0;
            break;
        case 4:
            block[n] = value;
            if (n < length) {
                store[n] = value;
            }
            break;
        default: {
            DataBlock<unsigned char> copy(block);
            QCOMPARE(copy.allocated(), length);
            QVERIFY(copy == block);
            block = copy;
            store.resize(length);
            break;
        }
        }
        QCOMPARE(block.size(), length);
        QCOMPARE(block.allocated(), static_cast<unsigned>(store.size()));
        for (unsigned i = 0; i < length; ++i) {
            QCOMPARE(block[i], store[i]);
        }
        QCOMPARE(block[length], 0);
    }
}

void TestDataBlock::dataKernelEquality_data() {
    QTest::addColumn<int>("field");
    const char* names[] = {"code",    "index", "ao",     "ntxt",   "status", "wtsBit", "csBit",
                           "subLBit", "efBit", "errBit", "data_0", "data_1", "data_2", "data_3"};
    for (int i = 0; i < 14; ++i) {
        QTest::newRow(names[i]) << i;
    }
}

void TestDataBlock::dataKernelEquality() {
    QFETCH(int, field);
    Velk21DataBlockKernel a(Velk21ParameterId(0x10, 0x20), 1, 2, 3, 1, 0, 1, 0, 1);
    a.data[0] = 4;
    a.data[1] = 5;
    a.data[2] = 6;
    a.data[3] = 7;
    Velk21DataBlockKernel b = a;
    QVERIFY(a == b);
    QVERIFY(!(a != b));
    unsigned char* fields[] = {&b.id.code, &b.id.index, &b.ao,      &b.ntxt,   &b.status,
                               &b.wtsBit,  &b.csBit,    &b.subLBit, &b.efBit,  &b.errBit,
                               &b.data[0], &b.data[1],  &b.data[2], &b.data[3]};
    *fields[field] ^= 0x01;
    QVERIFY(!(a == b));
    QVERIFY(a != b);
    QVERIFY(!(b == a));
    Velk21DataBlockKernel& alias = b;
    b = alias; // self-assignment keeps the record
    QVERIFY(a != b);
    *fields[field] ^= 0x01;
    QVERIFY(a == b);
}

void TestDataBlock::recordConstructorsZeroTheData() {
    QVERIFY(Velk21DataBlockKernel() ==
            Velk21DataBlockKernel(Velk21ParameterId(0, 0), 0, 0, 0, 0, 0, 0, 0, 0));
    Velk21DataBlockKernel d(Velk21ParameterId(1, 2), 3, 4, 5, 6, 7, 8, 9, 10);
    QCOMPARE(d.id.code, 1);
    QCOMPARE(d.id.index, 2);
    QCOMPARE(d.ao, 3);
    QCOMPARE(d.ntxt, 4);
    QCOMPARE(d.status, 5);
    QCOMPARE(d.wtsBit, 6);
    QCOMPARE(d.csBit, 7);
    QCOMPARE(d.subLBit, 8);
    QCOMPARE(d.efBit, 9);
    QCOMPARE(d.errBit, 10);
    for (unsigned char b : d.data) {
        QCOMPARE(b, 0);
    }
    Velk21ExtendedBlockKernel e(1, 2, 3);
    QCOMPARE(e.wtsBit, 1);
    QCOMPARE(e.csBit, 2);
    QCOMPARE(e.subLBit, 3);
    for (unsigned char b : e.data) {
        QCOMPARE(b, 0);
    }
    QVERIFY(Velk21ParameterId(1, 2) == Velk21ParameterId(1, 2));
    QVERIFY(Velk21ParameterId(1, 2) != Velk21ParameterId(2, 1));
    Velk21AddressBlockKernel a(Velk21Address(1, 2, 3, 4), 1);
    QCOMPARE(a.address.address_1, 1);
    QCOMPARE(a.address.address_4, 4);
    QCOMPARE(a.timeBit, 1);
}

void TestDataBlock::addressSubLBit_data() {
    QTest::addColumn<int>("a1");
    QTest::addColumn<int>("a2");
    QTest::addColumn<bool>("subL");
    QTest::newRow("1 0 5 0") << 1 << 0 << false;
    QTest::newRow("0 2 0 0") << 0 << 2 << false;
    QTest::newRow("3 4 0 0") << 3 << 4 << true;
    QTest::newRow("0 0 0 0") << 0 << 0 << false;
    QTest::newRow("7F 7F 0 0") << 0x7F << 0x7F << true;
}

void TestDataBlock::addressSubLBit() {
    QFETCH(int, a1);
    QFETCH(int, a2);
    QFETCH(bool, subL);
    const Velk21AddressBlockKernel k(
        Velk21Address(static_cast<unsigned char>(a1), static_cast<unsigned char>(a2), 5, 0), 0);
    QCOMPARE(k.subLBit(), subL);
}

QTEST_APPLESS_MAIN(TestDataBlock)
#include "tst_datablock.moc"
