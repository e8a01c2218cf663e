#include "FramingTestSupport.h"
#include "MsbWrapper.h"
#include "Velk21AddressBlockPacketPackager.h"
#include "Velk21DataBlockPacketPackager.h"
#include "Velk21ExtendedBlockPacketPackager.h"

#include <QtTest>

#include <random>

namespace {

enum Mode { PackOnly = 1, UnpackOnly = 2, Both = 3 };

QByteArray toQ(const Bytes& bytes) {
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), int(bytes.size()));
}

Bytes fromQ(const QByteArray& bytes) {
    return Bytes(bytes.begin(), bytes.end());
}

// Replaces everything but the trailing CRC byte of a framed block.
Bytes sameCrc(const Bytes& framed, const char* bodyHex) {
    Bytes body = hex(bodyHex);
    body.push_back(framed.back());
    return body;
}

// A block one byte short whose last byte makes the CRC register 0, so that a
// check reading the missing CRC byte as 0 would wrongly pass.
Bytes shortWithZeroCrc(const Bytes& wire) {
    Bytes bytes(wire.begin(), wire.end() - 2);
    for (unsigned b = 0; b < 256; ++b) {
        bytes.push_back(static_cast<unsigned char>(b));
        if (referenceCrc(bytes, bytes.size()) == 0) {
            return bytes;
        }
        bytes.pop_back();
    }
    return Bytes(); // unreachable: the last step can reach every register value
}

unsigned char randomFlag(std::mt19937& random) {
    // Half the flags clear; set ones use any non-zero byte, which must count as set.
    const unsigned v = random() % 512;
    return v < 256 ? 0 : static_cast<unsigned char>(v % 255 + 1);
}

unsigned char bit(unsigned char flag) {
    return flag ? 1 : 0;
}

template <typename K> struct Kind;

template <> struct Kind<Velk21DataBlockKernel> {
    using Packager = Velk21DataBlockPacketPackager;
    static Velk21DataBlockKernel sentinel() {
        Velk21DataBlockKernel k(Velk21ParameterId(0x5A, 0x5A), 0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A,
                                0x5A, 0x5A);
        k.data[0] = k.data[1] = k.data[2] = k.data[3] = 0x5A;
        return k;
    }
    // What unpacking the packed record gives: flags as 0 or 1, the error flag only with CS.
    static Velk21DataBlockKernel decoded(Velk21DataBlockKernel k) {
        k.errBit = bit(k.csBit && k.errBit);
        k.wtsBit = bit(k.wtsBit);
        k.csBit = bit(k.csBit);
        k.subLBit = bit(k.subLBit);
        k.efBit = bit(k.efBit);
        return k;
    }
    static Velk21DataBlockKernel random(std::mt19937& r) {
        Velk21DataBlockKernel k(
            Velk21ParameterId(static_cast<unsigned char>(r()), static_cast<unsigned char>(r())),
            static_cast<unsigned char>(r() % 128), static_cast<unsigned char>(r() % 128),
            static_cast<unsigned char>(r()), randomFlag(r), randomFlag(r), randomFlag(r),
            randomFlag(r), randomFlag(r));
        for (unsigned char& b : k.data) {
            b = static_cast<unsigned char>(r());
        }
        return k;
    }
};

template <> struct Kind<Velk21AddressBlockKernel> {
    using Packager = Velk21AddressBlockPacketPackager;
    static Velk21AddressBlockKernel sentinel() {
        return Velk21AddressBlockKernel(Velk21Address(0x5A, 0x5A, 0x5A, 0x5A), 0x5A);
    }
    static Velk21AddressBlockKernel decoded(Velk21AddressBlockKernel k) {
        k.timeBit = bit(k.timeBit);
        return k;
    }
    static Velk21AddressBlockKernel random(std::mt19937& r) {
        // Zero levels are frequent, so that SubL is seen both ways.
        auto level = [&r]() { return static_cast<unsigned char>(r() % 4 == 0 ? 0 : r() % 128); };
        const unsigned char a1 = level();
        const unsigned char a2 = level();
        const unsigned char a3 = level();
        const unsigned char a4 = level();
        return Velk21AddressBlockKernel(Velk21Address(a1, a2, a3, a4), randomFlag(r));
    }
};

template <> struct Kind<Velk21ExtendedBlockKernel> {
    using Packager = Velk21ExtendedBlockPacketPackager;
    static Velk21ExtendedBlockKernel sentinel() {
        Velk21ExtendedBlockKernel k(0x5A, 0x5A, 0x5A);
        for (unsigned char& b : k.data) {
            b = 0x5A;
        }
        return k;
    }
    static Velk21ExtendedBlockKernel decoded(Velk21ExtendedBlockKernel k) {
        k.wtsBit = bit(k.wtsBit);
        k.csBit = bit(k.csBit);
        k.subLBit = bit(k.subLBit);
        return k;
    }
    static Velk21ExtendedBlockKernel random(std::mt19937& r) {
        const unsigned char wts = randomFlag(r);
        const unsigned char cs = randomFlag(r);
        const unsigned char subL = randomFlag(r);
        Velk21ExtendedBlockKernel k(wts, cs, subL);
        for (unsigned char& b : k.data) {
            b = static_cast<unsigned char>(r());
        }
        return k;
    }
};

// Bytes the block holds after a successful unpack: bit 7 back in place.
Bytes restoredOf(const Encoding& e) {
    Bytes restored = e.raw;
    restored.insert(restored.end(), e.wire.begin() + long(e.raw.size()), e.wire.end());
    return restored;
}

template <typename K>
void addExample(const Bytes& wire, const K& record, const K& decoded, const Bytes& restored,
                Mode mode) {
    QByteArray name = hexName(wire);
    if (mode == PackOnly) {
        name += " (pack only)";
    } else if (mode == UnpackOnly) {
        name += " (unpack only)";
    }
    QTest::newRow(name.constData()) << record << toQ(wire) << decoded << toQ(restored) << int(mode);
}

template <typename K> void addExampleColumns() {
    QTest::addColumn<K>("record");
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<K>("decoded");
    QTest::addColumn<QByteArray>("restored");
    QTest::addColumn<int>("mode");
}

template <typename K> void runExample() {
    QFETCH(K, record);
    QFETCH(QByteArray, wire);
    QFETCH(K, decoded);
    QFETCH(QByteArray, restored);
    QFETCH(int, mode);
    typename Kind<K>::Packager packager;
    const unsigned size = static_cast<unsigned>(wire.size());
    QCOMPARE(packager.size(record), size);

    if (mode & PackOnly) {
        DataBlock<unsigned char> block;
        block.resize(packager.size(record), 0);
        unsigned position = 0;
        QVERIFY(packager.pack(block, position, record));
        QCOMPARE(position, size);
        QCOMPARE(hexName(toBytes(block)), hexName(fromQ(wire)));
    }
    if (mode & UnpackOnly) {
        DataBlock<unsigned char> block = toBlock(fromQ(wire));
        K result = Kind<K>::sentinel();
        unsigned position = 0;
        QVERIFY(packager.unpack(block, position, result));
        QCOMPARE(position, size);
        QVERIFY(result == decoded);
        QCOMPARE(hexName(toBytes(block)), hexName(fromQ(restored)));
    }
}

// Packs and unpacks at start positions 0 to 3 in blocks of every length up to
// one past the end, and checks what each stage leaves written when a later
// stage runs out of room: the kernel writes its raw bytes, the MSB wrapper
// then clears bit 7 and appends its byte, the CRC wrapper appends the CRC.
template <typename K> void sweep(const K& record, bool hasMsb) {
    const Encoding e = referenceEncode(record);
    const unsigned wireSize = static_cast<unsigned>(e.wire.size());
    const unsigned kernelSize = static_cast<unsigned>(e.raw.size());
    const Bytes restored = restoredOf(e);
    const unsigned char filler = 0xA5;
    typename Kind<K>::Packager packager;

    for (unsigned start = 0; start <= 3; ++start) {
        for (unsigned length = 0; length <= start + wireSize + 1; ++length) {
            const QByteArray where = "start " + QByteArray::number(start) + ", length " +
                                     QByteArray::number(length) + ": ";
            auto put = [&](Bytes& to, const Bytes& from, unsigned count) {
                for (unsigned i = 0; i < count && start + i < length; ++i) {
                    to[start + i] = from[i];
                }
            };

            Bytes expected(length, filler);
            unsigned expectedPosition = start;
            bool expectedOk = false;
            if (start + kernelSize <= length) {
                put(expected, e.raw, kernelSize);
                expectedPosition = start + kernelSize;
                bool room = true;
                if (hasMsb) {
                    room = expectedPosition + 1 <= length;
                    if (room) {
                        put(expected, e.wire, kernelSize + 1);
                        ++expectedPosition;
                    }
                }
                if (room && expectedPosition + 1 <= length) {
                    put(expected, e.wire, wireSize);
                    expectedPosition = start + wireSize;
                    expectedOk = true;
                }
            }
            DataBlock<unsigned char> block;
            block.resize(length, filler);
            unsigned position = start;
            const bool ok = packager.pack(block, position, record);
            QVERIFY2(ok == expectedOk, where + "pack result");
            QVERIFY2(position == expectedPosition, where + "pack position");
            QVERIFY2(toBytes(block) == expected, where + "pack left " + hexName(toBytes(block)) +
                                                     ", expected " + hexName(expected));

            Bytes input(length, filler);
            put(input, e.wire, wireSize);
            DataBlock<unsigned char> received = toBlock(input);
            K result = Kind<K>::sentinel();
            position = start;
            const bool unpacked = packager.unpack(received, position, result);
            const bool fits = start + wireSize <= length;
            Bytes after = input;
            if (fits) {
                put(after, restored, wireSize);
            }
            QVERIFY2(unpacked == fits, where + "unpack result");
            QVERIFY2(position == (fits ? start + wireSize : start), where + "unpack position");
            QVERIFY2(result == (fits ? Kind<K>::decoded(record) : Kind<K>::sentinel()),
                     where + "unpacked record");
            QVERIFY2(toBytes(received) == after, where + "unpack left " +
                                                     hexName(toBytes(received)) + ", expected " +
                                                     hexName(after));
        }
    }
}

template <typename K> void singleBitFlips(const K& record) {
    const Encoding e = referenceEncode(record);
    typename Kind<K>::Packager packager;
    for (size_t i = 0; i < e.wire.size(); ++i) {
        for (unsigned b = 0; b < 8; ++b) {
            Bytes corrupted = e.wire;
            corrupted[i] ^= static_cast<unsigned char>(1u << b);
            DataBlock<unsigned char> block = toBlock(corrupted);
            K result = Kind<K>::sentinel();
            unsigned position = 0;
            const QByteArray what = hexName(corrupted);
            QVERIFY2(!packager.unpack(block, position, result), what);
            QVERIFY2(result == Kind<K>::sentinel(), what);
            QVERIFY2(position == 0, what);
            QVERIFY2(toBytes(block) == corrupted, what); // checked before anything is touched
        }
    }
}

template <typename K> void randomRoundTrips(unsigned count) {
    std::mt19937 random(12345);
    typename Kind<K>::Packager packager;
    DataBlock<unsigned char> block;
    for (unsigned n = 0; n < count; ++n) {
        const K record = Kind<K>::random(random);
        const Encoding e = referenceEncode(record);
        const unsigned wireSize = static_cast<unsigned>(e.wire.size());
        QCOMPARE(packager.size(record), wireSize);

        block.clear();
        block.resize(wireSize, 0);
        unsigned position = 0;
        QVERIFY(packager.pack(block, position, record));
        QCOMPARE(position, wireSize);
        const Bytes wire = toBytes(block);
        QCOMPARE(hexName(wire), hexName(e.wire));
        QVERIFY(wire[0] & 0x80);
        for (unsigned i = 1; i < wireSize; ++i) {
            QVERIFY2(!(wire[i] & 0x80), hexName(wire)); // only the header has bit 7
        }

        K result = Kind<K>::sentinel();
        position = 0;
        QVERIFY(packager.unpack(block, position, result));
        QCOMPARE(position, wireSize);
        QVERIFY2(result == Kind<K>::decoded(record), hexName(wire));
        QCOMPARE(hexName(toBytes(block)), hexName(restoredOf(e)));
    }
}

} // namespace

class TestPackagers : public QObject {
    Q_OBJECT

private slots:
    void crcRegister_data();
    void crcRegister();
    void crcTablesMatchBitwiseStep();
    void crcOverAnyLengthMatchesBitwise();

    void dataExamples_data();
    void dataExamples() { runExample<Velk21DataBlockKernel>(); }
    void addressExamples_data();
    void addressExamples() { runExample<Velk21AddressBlockKernel>(); }
    void extendedExamples_data();
    void extendedExamples() { runExample<Velk21ExtendedBlockKernel>(); }

    void unpackFailures_data();
    void unpackFailures();
    void dataPackRejectsEighthBit_data();
    void dataPackRejectsEighthBit();
    void addressPackRejectsEighthBit_data();
    void addressPackRejectsEighthBit();

    void lengthSweep_data();
    void lengthSweep();
    void singleBitFlipsFail_data();
    void singleBitFlipsFail();
    void randomRoundTrips_data();
    void randomRoundTrips();

    void hugePositionsFail_data();
    void hugePositionsFail();
    void blocksInOneStream();
    void msbWrapperCarriesAtMostEightBits();
    void disabledWrapperAddsNothing();
};

void TestPackagers::crcRegister_data() {
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<int>("crc");
    QTest::newRow("61 62 63") << QByteArray("abc") << 0x39;
    QTest::newRow("01") << QByteArray("\x01", 1) << 0x09;
    QTest::newRow("80") << QByteArray("\x80", 1) << 0x01;
    QTest::newRow("00") << QByteArray("\x00", 1) << 0x00;
    QTest::newRow("empty") << QByteArray() << 0x00;
}

void TestPackagers::crcRegister() {
    QFETCH(QByteArray, message);
    QFETCH(int, crc);
    const Bytes bytes = fromQ(message);
    QCOMPARE(int(crc7(bytes.data(), unsigned(bytes.size()))), crc);
    QCOMPARE(int(referenceCrc(bytes, bytes.size())), crc);
}

void TestPackagers::crcTablesMatchBitwiseStep() {
    for (unsigned reg = 0; reg < 128; ++reg) {
        for (unsigned byte = 0; byte < 256; ++byte) {
            const unsigned char r = static_cast<unsigned char>(reg);
            const unsigned char b = static_cast<unsigned char>(byte);
            if (crcStep(b, r) != crcStepBitwise(b, r)) {
                QFAIL(qPrintable(QString("register %1, byte %2").arg(reg).arg(byte)));
            }
        }
    }
}

void TestPackagers::crcOverAnyLengthMatchesBitwise() {
    std::mt19937 random(12345);
    for (unsigned length = 0; length <= 40; ++length) {
        for (int n = 0; n < 50; ++n) {
            Bytes bytes(length);
            for (unsigned char& b : bytes) {
                b = static_cast<unsigned char>(random());
            }
            QCOMPARE(crc7(bytes.data(), length), referenceCrc(bytes, length));
        }
    }
}

void TestPackagers::dataExamples_data() {
    addExampleColumns<Velk21DataBlockKernel>();
    using K = Velk21DataBlockKernel;

    const K plain(Velk21ParameterId(0x10, 0x01), 0x05, 0, 0, 0, 0, 0, 0, 0);
    const Bytes plainWire = hex("C0 05 00 10 01 00 00 00 00 00 00 72");
    addExample(plainWire, plain, plain, plainWire, Both);

    K wts(Velk21ParameterId(0x83, 0x01), 0x05, 0, 0xFF, 1, 0, 0, 0, 0);
    wts.data[0] = 0x12;
    wts.data[1] = 0x80;
    wts.data[2] = 0x00;
    wts.data[3] = 0xFF;
    addExample(hex("C1 05 00 03 01 7F 12 00 00 7F 55 45"), wts, wts,
               hex("C1 05 00 83 01 FF 12 80 00 FF 55 45"), Both);

    K allHigh(Velk21ParameterId(0xFF, 0xFF), 0x7F, 0x7F, 0xFF, 0, 0, 0, 0, 0);
    allHigh.data[0] = allHigh.data[1] = allHigh.data[2] = allHigh.data[3] = 0xFF;
    const Bytes allHighWire = withCrc(hex("C0 7F 7F 7F 7F 7F 7F 7F 7F 7F 7F"));
    addExample(allHighWire, allHigh, allHigh,
               sameCrc(allHighWire, "C0 7F 7F FF FF FF FF FF FF FF 7F"), Both);

    const K allFlags(Velk21ParameterId(0x10, 0x01), 0x05, 0, 0, 1, 1, 1, 1, 1);
    const Bytes allFlagsWire = withCrc(hex("F7 05 00 10 01 00 00 00 00 00 00"));
    addExample(allFlagsWire, allFlags, allFlags, allFlagsWire, Both);

    // The error flag only goes out with CS, but is read back whatever CS says.
    const K errOnly(Velk21ParameterId(0x10, 0x01), 0x05, 0, 0, 0, 0, 0, 0, 1);
    addExample(plainWire, errOnly, plain, plainWire, PackOnly);
    const Bytes errWire = withCrc(hex("C2 05 00 10 01 00 00 00 00 00 00"));
    addExample(errWire, errOnly, errOnly, errWire, UnpackOnly);

    // Any non-zero flag byte counts as set.
    const K bigFlags(Velk21ParameterId(0x10, 0x01), 0x05, 0, 0, 0x80, 0x02, 0xFF, 0x10, 0x40);
    addExample(allFlagsWire, bigFlags, allFlags, allFlagsWire, PackOnly);

    // Bit 7 of a covered byte is taken from the MSB byte, cleared as well as set.
    const Bytes strayWire = withCrc(hex("C0 05 00 90 01 00 00 00 00 00 00"));
    addExample(strayWire, plain, plain, sameCrc(strayWire, "C0 05 00 10 01 00 00 00 00 00 00"),
               UnpackOnly);

    K efAnswer(Velk21ParameterId(0x22, 0x07), 0x01, 0x7F, 0x81, 0, 0, 0, 1, 0);
    efAnswer.data[0] = 0x0E;
    efAnswer.data[1] = 0x01;
    const Bytes efWire = withCrc(hex("D0 01 7F 22 07 01 0E 01 00 00 04"));
    addExample(efWire, efAnswer, efAnswer, sameCrc(efWire, "D0 01 7F 22 07 81 0E 01 00 00 04"),
               Both);
}

void TestPackagers::addressExamples_data() {
    addExampleColumns<Velk21AddressBlockKernel>();
    using K = Velk21AddressBlockKernel;
    const K first(Velk21Address(1, 0, 0, 0), 0);
    addExample(hex("80 01 00 00 00 05"), first, first, hex("80 01 00 00 00 05"), Both);
    const K timed(Velk21Address(1, 2, 0, 0), 1);
    addExample(hex("A8 01 02 00 00 2E"), timed, timed, hex("A8 01 02 00 00 2E"), Both);
    const K noFirst(Velk21Address(0, 2, 0, 0), 0);
    const Bytes noFirstWire = withCrc(hex("80 00 02 00 00"));
    addExample(noFirstWire, noFirst, noFirst, noFirstWire, Both);
    const K top(Velk21Address(0x7F, 0x7F, 0x7F, 0x7F), 0xC3);
    const K topDecoded(Velk21Address(0x7F, 0x7F, 0x7F, 0x7F), 1);
    const Bytes topWire = withCrc(hex("A8 7F 7F 7F 7F"));
    addExample(topWire, top, topDecoded, topWire, Both);
    // Only bits 7 and 6 of the header are checked; SubL is not read back.
    const K loose(Velk21Address(0, 0, 3, 4), 1);
    const Bytes looseWire = withCrc(hex("BF 00 00 03 04"));
    addExample(looseWire, loose, loose, looseWire, UnpackOnly);
}

void TestPackagers::extendedExamples_data() {
    addExampleColumns<Velk21ExtendedBlockKernel>();
    using K = Velk21ExtendedBlockKernel;
    K example(1, 0, 0);
    const unsigned char data[7] = {0x01, 0x82, 0x03, 0x04, 0xFF, 0x06, 0x07};
    std::copy(data, data + 7, example.data);
    addExample(hex("D9 01 02 03 04 7F 06 07 12 26"), example, example,
               hex("D9 01 82 03 04 FF 06 07 12 26"), Both);

    K allHigh(0, 0, 0);
    std::fill(allHigh.data, allHigh.data + 7, 0xFF);
    const Bytes allHighWire = withCrc(hex("D8 7F 7F 7F 7F 7F 7F 7F 7F"));
    addExample(allHighWire, allHigh, allHigh, sameCrc(allHighWire, "D8 FF FF FF FF FF FF FF 7F"),
               Both);

    const K flags(1, 1, 1);
    const Bytes flagsWire = withCrc(hex("FD 00 00 00 00 00 00 00 00"));
    addExample(flagsWire, flags, flags, flagsWire, Both);
    const K bigFlags(0x40, 0x80, 0x02);
    addExample(flagsWire, bigFlags, flags, flagsWire, PackOnly);
    const Bytes strayWire = withCrc(hex("D8 81 00 00 00 00 00 00 00"));
    K low(0, 0, 0);
    low.data[0] = 0x01;
    addExample(strayWire, low, low, sameCrc(strayWire, "D8 01 00 00 00 00 00 00 00"), UnpackOnly);
    // Header bit 1 is not checked.
    const K plain(0, 0, 0);
    const Bytes bit1Wire = withCrc(hex("DA 00 00 00 00 00 00 00 00"));
    addExample(bit1Wire, plain, plain, bit1Wire, UnpackOnly);
}

enum BlockKind { AddressBlock, DataBlockKind, ExtendedBlock };

void TestPackagers::unpackFailures_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<QByteArray>("after");
    auto row = [](const char* name, BlockKind kind, const Bytes& wire, const Bytes& after) {
        QTest::newRow(name) << int(kind) << toQ(wire) << toQ(after);
    };
    const Bytes badCrc = hex("C0 05 00 10 01 00 00 00 00 00 00 73");
    row("data: CRC wrong", DataBlockKind, badCrc, badCrc);
    const Bytes crcBit7 = hex("C0 05 00 10 01 00 00 00 00 00 00 F2");
    row("data: CRC with bit 7 set", DataBlockKind, crcBit7, crcBit7);
    const Bytes short11 = hex("C1 05 00 03 01 7F 12 00 00 7F 55");
    row("data: 11 bytes", DataBlockKind, short11, short11);
    // Right CRC, wrong header: bit 7 has been restored by the time the header is read.
    const Bytes extHeader = withCrc(hex("D9 05 00 03 01 7F 12 00 00 7F 55"));
    row("data: extended header, CRC right", DataBlockKind, extHeader,
        sameCrc(extHeader, "D9 05 00 83 01 FF 12 80 00 FF 55"));
    const Bytes c8 = withCrc(hex("C8 05 00 03 01 7F 12 00 00 7F 55"));
    row("data: header C8, CRC right", DataBlockKind, c8,
        sameCrc(c8, "C8 05 00 83 01 FF 12 80 00 FF 55"));
    const Bytes addrHeader = withCrc(hex("80 05 00 10 01 00 00 00 00 00 00"));
    row("data: address header, CRC right", DataBlockKind, addrHeader, addrHeader);
    const Bytes noHeader = withCrc(hex("40 05 00 10 01 00 00 00 00 00 01"));
    row("data: header without bit 7, CRC right", DataBlockKind, noHeader,
        sameCrc(noHeader, "40 05 00 90 01 00 00 00 00 00 01"));

    const Bytes dataZero = shortWithZeroCrc(hex("C1 05 00 03 01 7F 12 00 00 7F 55 45"));
    row("data: 11 bytes, missing CRC read as 0 would match", DataBlockKind, dataZero, dataZero);

    const Bytes addrCrc = hex("80 01 00 00 00 06");
    row("address: CRC wrong", AddressBlock, addrCrc, addrCrc);
    const Bytes dataHeader = withCrc(hex("C0 01 00 00 00"));
    row("address: data header, CRC right", AddressBlock, dataHeader, dataHeader);
    const Bytes zeroHeader = withCrc(hex("00 01 00 00 00"));
    row("address: header 00, CRC right", AddressBlock, zeroHeader, zeroHeader);
    const Bytes addrShort = hex("80 01 00 00 00");
    row("address: 5 bytes", AddressBlock, addrShort, addrShort);

    const Bytes addrZero = shortWithZeroCrc(hex("A8 01 02 00 00 2E"));
    row("address: 5 bytes, missing CRC read as 0 would match", AddressBlock, addrZero, addrZero);

    const Bytes extCrc = hex("D9 01 02 03 04 7F 06 07 12 27");
    row("extended: CRC wrong", ExtendedBlock, extCrc, extCrc);
    const Bytes extZero = shortWithZeroCrc(hex("D9 01 02 03 04 7F 06 07 12 26"));
    row("extended: 9 bytes, missing CRC read as 0 would match", ExtendedBlock, extZero, extZero);
    const Bytes c1 = withCrc(hex("C1 01 02 03 04 7F 06 07 12"));
    row("extended: data header, CRC right", ExtendedBlock, c1,
        sameCrc(c1, "C1 01 82 03 04 FF 06 07 12"));
    const Bytes d0 = withCrc(hex("D0 01 02 03 04 7F 06 07 12"));
    row("extended: header D0 (bit 3 clear), CRC right", ExtendedBlock, d0,
        sameCrc(d0, "D0 01 82 03 04 FF 06 07 12"));
    const Bytes c8x = withCrc(hex("C8 01 02 03 04 7F 06 07 12"));
    row("extended: header C8 (bit 4 clear), CRC right", ExtendedBlock, c8x,
        sameCrc(c8x, "C8 01 82 03 04 FF 06 07 12"));
    const Bytes h98 = withCrc(hex("98 01 02 03 04 7F 06 07 12"));
    row("extended: header 98 (bit 6 clear), CRC right", ExtendedBlock, h98,
        sameCrc(h98, "98 01 82 03 04 FF 06 07 12"));
}

void TestPackagers::unpackFailures() {
    QFETCH(int, kind);
    QFETCH(QByteArray, wire);
    QFETCH(QByteArray, after);
    QVERIFY(!wire.isEmpty());
    DataBlock<unsigned char> block = toBlock(fromQ(wire));
    unsigned position = 0;
    bool ok = true;
    bool untouched = false;
    if (kind == DataBlockKind) {
        Velk21DataBlockPacketPackager packager;
        Velk21DataBlockKernel k = Kind<Velk21DataBlockKernel>::sentinel();
        ok = packager.unpack(block, position, k);
        untouched = k == Kind<Velk21DataBlockKernel>::sentinel();
    } else if (kind == AddressBlock) {
        Velk21AddressBlockPacketPackager packager;
        Velk21AddressBlockKernel k = Kind<Velk21AddressBlockKernel>::sentinel();
        ok = packager.unpack(block, position, k);
        untouched = k == Kind<Velk21AddressBlockKernel>::sentinel();
    } else {
        Velk21ExtendedBlockPacketPackager packager;
        Velk21ExtendedBlockKernel k = Kind<Velk21ExtendedBlockKernel>::sentinel();
        ok = packager.unpack(block, position, k);
        untouched = k == Kind<Velk21ExtendedBlockKernel>::sentinel();
    }
    QVERIFY(!ok);
    QVERIFY(untouched);
    QCOMPARE(position, 0u);
    QCOMPARE(hexName(toBytes(block)), hexName(fromQ(after)));
}

void TestPackagers::dataPackRejectsEighthBit_data() {
    QTest::addColumn<int>("ao");
    QTest::addColumn<int>("ntxt");
    QTest::addColumn<unsigned>("length");
    QTest::newRow("ao 80") << 0x80 << 0 << 12u;
    QTest::newRow("ao FF") << 0xFF << 0 << 12u;
    QTest::newRow("ntxt 80") << 0 << 0x80 << 12u;
    QTest::newRow("ntxt FF, ao 7F") << 0x7F << 0xFF << 12u;
    QTest::newRow("ao 80, block larger") << 0x80 << 0x05 << 20u;
}

void TestPackagers::dataPackRejectsEighthBit() {
    QFETCH(int, ao);
    QFETCH(int, ntxt);
    QFETCH(unsigned, length);
    Velk21DataBlockPacketPackager packager;
    Velk21DataBlockKernel k(Velk21ParameterId(0x10, 0x01), static_cast<unsigned char>(ao),
                            static_cast<unsigned char>(ntxt), 0x81, 1, 1, 1, 1, 1);
    DataBlock<unsigned char> block;
    block.resize(length, 0xA5);
    const Bytes before = toBytes(block);
    unsigned position = 2;
    QVERIFY(!packager.pack(block, position, k));
    QCOMPARE(position, 2u);
    QCOMPARE(hexName(toBytes(block)), hexName(before));
}

void TestPackagers::addressPackRejectsEighthBit_data() {
    QTest::addColumn<int>("level");
    QTest::addColumn<int>("value");
    for (int level = 1; level <= 4; ++level) {
        for (int value : {0x80, 0xFF}) {
            QTest::newRow(qPrintable(QString("address_%1 = %2").arg(level).arg(value, 0, 16)))
                << level << value;
        }
    }
}

void TestPackagers::addressPackRejectsEighthBit() {
    QFETCH(int, level);
    QFETCH(int, value);
    Velk21AddressBlockPacketPackager packager;
    Velk21AddressBlockKernel k(Velk21Address(1, 2, 3, 4), 1);
    unsigned char* levels[] = {&k.address.address_1, &k.address.address_2, &k.address.address_3,
                               &k.address.address_4};
    *levels[level - 1] = static_cast<unsigned char>(value);
    DataBlock<unsigned char> block;
    block.resize(6, 0xA5);
    const Bytes before = toBytes(block);
    unsigned position = 0;
    QVERIFY(!packager.pack(block, position, k));
    QCOMPARE(position, 0u);
    QCOMPARE(hexName(toBytes(block)), hexName(before));
}

void TestPackagers::lengthSweep_data() {
    QTest::addColumn<int>("kind");
    QTest::newRow("address block") << int(AddressBlock);
    QTest::newRow("data block") << int(DataBlockKind);
    QTest::newRow("extended block") << int(ExtendedBlock);
}

void TestPackagers::lengthSweep() {
    QFETCH(int, kind);
    // Records with bit 7 in covered bytes, so raw and wire bytes differ.
    if (kind == AddressBlock) {
        sweep(Velk21AddressBlockKernel(Velk21Address(1, 2, 0x7F, 4), 1), false);
    } else if (kind == DataBlockKind) {
        Velk21DataBlockKernel k(Velk21ParameterId(0x83, 0x01), 0x05, 0, 0xFF, 1, 0, 0, 0, 0);
        k.data[0] = 0x12;
        k.data[1] = 0x80;
        k.data[3] = 0xFF;
        sweep(k, true);
    } else {
        Velk21ExtendedBlockKernel k(1, 0, 1);
        const unsigned char data[7] = {0x01, 0x82, 0x03, 0x04, 0xFF, 0x06, 0x87};
        std::copy(data, data + 7, k.data);
        sweep(k, true);
    }
}

void TestPackagers::singleBitFlipsFail_data() {
    lengthSweep_data();
}

void TestPackagers::singleBitFlipsFail() {
    QFETCH(int, kind);
    std::mt19937 random(777);
    for (int n = 0; n < 20 && !QTest::currentTestFailed(); ++n) {
        if (kind == AddressBlock) {
            singleBitFlips(Kind<Velk21AddressBlockKernel>::random(random));
        } else if (kind == DataBlockKind) {
            singleBitFlips(Kind<Velk21DataBlockKernel>::random(random));
        } else {
            singleBitFlips(Kind<Velk21ExtendedBlockKernel>::random(random));
        }
    }
}

void TestPackagers::randomRoundTrips_data() {
    lengthSweep_data();
}

void TestPackagers::randomRoundTrips() {
    QFETCH(int, kind);
    if (kind == AddressBlock) {
        ::randomRoundTrips<Velk21AddressBlockKernel>(3000);
    } else if (kind == DataBlockKind) {
        ::randomRoundTrips<Velk21DataBlockKernel>(3000);
    } else {
        ::randomRoundTrips<Velk21ExtendedBlockKernel>(3000);
    }
}

void TestPackagers::hugePositionsFail_data() {
    QTest::addColumn<unsigned>("position");
    for (unsigned back : {1u, 2u, 5u, 8u, 10u, 12u}) {
        QTest::newRow(qPrintable(QString("UINT_MAX - %1").arg(back - 1))) << 0u - back;
    }
}

template <typename Packager, typename K>
void checkHugePosition(Packager& packager, const K& record, unsigned start) {
    DataBlock<unsigned char> block;
    block.resize(24, 0xA5);
    const Bytes before = toBytes(block);
    unsigned position = start;
    QVERIFY(!packager.pack(block, position, record));
    QCOMPARE(hexName(toBytes(block)), hexName(before));
    K result = Kind<K>::sentinel();
    position = start;
    QVERIFY(!packager.unpack(block, position, result));
    QVERIFY(result == Kind<K>::sentinel());
    QCOMPARE(hexName(toBytes(block)), hexName(before));
}

// Positions near the top of the range must not wrap around to the block's start.
void TestPackagers::hugePositionsFail() {
    QFETCH(unsigned, position);
    const Velk21DataBlockKernel data(Velk21ParameterId(0x90, 0x01), 0x05, 0, 0, 1, 0, 0, 0, 0);
    const Velk21AddressBlockKernel address(Velk21Address(1, 2, 3, 4), 1);
    const Velk21ExtendedBlockKernel extended(1, 1, 1);
    Velk21DataBlockKernelPackager dataKernel;
    Velk21AddressBlockKernelPackager addressKernel;
    Velk21ExtendedBlockKernelPackager extendedKernel;
    Velk21DataBlockPacketPackager dataPacket;
    Velk21AddressBlockPacketPackager addressPacket;
    Velk21ExtendedBlockPacketPackager extendedPacket;
    checkHugePosition(dataKernel, data, position);
    checkHugePosition(addressKernel, address, position);
    checkHugePosition(extendedKernel, extended, position);
    checkHugePosition(dataPacket, data, position);
    checkHugePosition(addressPacket, address, position);
    checkHugePosition(extendedPacket, extended, position);
}

// A request as the session frames it: address block, data block and extended
// blocks one after another in one block, the position carried along.
void TestPackagers::blocksInOneStream() {
    Velk21AddressBlockPacketPackager addressPackager;
    Velk21DataBlockPacketPackager dataPackager;
    Velk21ExtendedBlockPacketPackager extendedPackager;
    const Velk21AddressBlockKernel address(Velk21Address(3, 4, 0, 0), 0);
    Velk21DataBlockKernel data(Velk21ParameterId(0x90, 0x02), 0x01, 0, 0, 1, 0, 1, 1, 0);
    data.data[0] = 14;
    Velk21ExtendedBlockKernel first(1, 0, 1);
    Velk21ExtendedBlockKernel second(1, 0, 1);
    for (unsigned char i = 0; i < 7; ++i) {
        first.data[i] = static_cast<unsigned char>(0xF0 + i);
        second.data[i] = static_cast<unsigned char>(0x70 + i);
    }

    Bytes expected = referenceEncode(address).wire;
    for (const Bytes& part :
         {referenceEncode(data).wire, referenceEncode(first).wire, referenceEncode(second).wire}) {
        expected.insert(expected.end(), part.begin(), part.end());
    }

    DataBlock<unsigned char> block;
    block.resize(addressPackager.size(address) + dataPackager.size(data) +
                     2 * extendedPackager.size(first),
                 0);
    QCOMPARE(block.size(), 38u);
    unsigned position = 0;
    QVERIFY(addressPackager.pack(block, position, address));
    QVERIFY(dataPackager.pack(block, position, data));
    QVERIFY(extendedPackager.pack(block, position, first));
    QVERIFY(extendedPackager.pack(block, position, second));
    QCOMPARE(position, 38u);
    QCOMPARE(hexName(toBytes(block)), hexName(expected));

    position = 0;
    Velk21AddressBlockKernel address2;
    Velk21DataBlockKernel data2;
    Velk21ExtendedBlockKernel first2;
    Velk21ExtendedBlockKernel second2;
    QVERIFY(addressPackager.unpack(block, position, address2));
    QCOMPARE(position, 6u);
    QVERIFY(dataPackager.unpack(block, position, data2));
    QCOMPARE(position, 18u);
    QVERIFY(extendedPackager.unpack(block, position, first2));
    QVERIFY(extendedPackager.unpack(block, position, second2));
    QCOMPARE(position, 38u);
    QVERIFY(address2 == address);
    QVERIFY(data2 == data);
    QVERIFY(first2 == first);
    QVERIFY(second2 == second);
}

// A wrapper that covers more than eight bytes drops bit 7 of the ninth byte on,
// and reads it back as clear.
void TestPackagers::msbWrapperCarriesAtMostEightBits() {
    Velk21DataBlockKernelPackager kernelPackager;
    MsbWrapper<Velk21DataBlockKernel, 0> msb(&kernelPackager);
    Velk21DataBlockKernel k(Velk21ParameterId(0x81, 0x82), 0x01, 0x02, 0x83, 0, 0, 0, 0, 0);
    k.data[0] = 0x84;
    k.data[1] = 0x05;
    k.data[2] = 0x86;
    k.data[3] = 0x87;
    QCOMPARE(msb.size(k), 11u);
    DataBlock<unsigned char> block;
    block.resize(11, 0);
    unsigned position = 0;
    QVERIFY(msb.pack(block, position, k));
    QCOMPARE(position, 11u);
    // Covered: header (bit 0), ao, ntxt, code (3), index (4), status (5), data_0 (6),
    // data_1, then data_2 and data_3 beyond the eighth bit.
    QCOMPARE(hexName(toBytes(block)), hexName(hex("40 01 02 01 02 03 04 05 06 07 79")));

    Velk21DataBlockKernel result;
    position = 0;
    QVERIFY(msb.unpack(block, position, result));
    QCOMPARE(position, 11u);
    QCOMPARE(hexName(toBytes(block)), hexName(hex("C0 01 02 81 82 83 84 05 06 07 79")));
    Velk21DataBlockKernel expected = k;
    expected.data[2] = 0x06;
    expected.data[3] = 0x07;
    QVERIFY(result == expected);
}

void TestPackagers::disabledWrapperAddsNothing() {
    Velk21DataBlockPacketPackager packager;
    packager.subPackagers.crc->enabled = false;
    const Velk21DataBlockKernel k(Velk21ParameterId(0x90, 0x01), 0x05, 0, 0, 1, 0, 0, 0, 0);
    QCOMPARE(packager.size(k), 11u);
    DataBlock<unsigned char> block;
    block.resize(11, 0);
    unsigned position = 0;
    QVERIFY(packager.pack(block, position, k));
    QCOMPARE(position, 11u);
    const Bytes wire = referenceEncode(k).wire;
    QCOMPARE(hexName(toBytes(block)), hexName(Bytes(wire.begin(), wire.end() - 1)));
    Velk21DataBlockKernel result;
    position = 0;
    QVERIFY(packager.unpack(block, position, result));
    QCOMPARE(position, 11u);
    QVERIFY(result == k);

    packager.subPackagers.msb->enabled = false;
    QCOMPARE(packager.size(k), 10u);
    block.resize(10, 0);
    position = 0;
    QVERIFY(packager.pack(block, position, k));
    QCOMPARE(block[3], 0x90); // bit 7 stays in place without the MSB wrapper
}

QTEST_APPLESS_MAIN(TestPackagers)
#include "tst_packagers.moc"
