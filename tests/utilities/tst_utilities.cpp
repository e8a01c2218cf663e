#include "ParameterNames.h"
#include "ParameterValue.h"

#include <QByteArray>
#include <QtTest>

#include <cmath>
#include <limits>

namespace {

QByteArray hex(const char* text) {
    return QByteArray::fromHex(QByteArray(text));
}

QByteArray encode(double value, int decimals, unsigned len, int type) {
    // The guard bytes around the field must survive, the field itself must be rewritten.
    QByteArray buffer(static_cast<int>(len) + 2, char(0xAA));
    ParameterValue(value, decimals)
        .toBytes(reinterpret_cast<unsigned char*>(buffer.data()) + 1, len, type);
    if (buffer.front() != char(0xAA) || buffer.back() != char(0xAA))
        return QByteArray("overrun");
    return buffer.mid(1, static_cast<int>(len));
}

} // namespace

class TestUtilities : public QObject {
    Q_OBJECT

private slots:
    void nameLookup_data();
    void nameLookup();
    void codeLookup_data();
    void codeLookup();
    void listSizes();

    void toBytes_data();
    void toBytes();
    void toBytesIgnoresEmptyField();
    void fromBytes_data();
    void fromBytes();
    void fromBytesIgnoresEmptyField();
};

void TestUtilities::nameLookup_data() {
    QTest::addColumn<const ParameterNameList*>("list");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("code");

    QTest::newRow("type real32fix") << &typeNames << "real32fix" << 5;
    QTest::newRow("type Real32") << &typeNames << "Real32" << 4;
    QTest::newRow("type BOOLEAN") << &typeNames << "BOOLEAN" << 1;
    QTest::newRow("type INTEGER") << &typeNames << "INTEGER" << 2;
    QTest::newRow("type uNsIgNeD") << &typeNames << "uNsIgNeD" << 3;
    QTest::newRow("type float unknown") << &typeNames << "float" << 0;
    QTest::newRow("type empty") << &typeNames << "" << 0;
    QTest::newRow("type REAL32 with space") << &typeNames << "REAL32 " << 0;
    QTest::newRow("unit ms") << &unitNames << QString::fromUtf8("мс") << 4;
    QTest::newRow("unit MS upper Cyrillic") << &unitNames << QString::fromUtf8("МС") << 4;
    QTest::newRow("unit percent") << &unitNames << "%" << 1;
    QTest::newRow("unit per minute") << &unitNames << QString::fromUtf8("уп/мин") << 5;
    QTest::newRow("unit hour") << &unitNames << QString::fromUtf8("ч") << 8;
    QTest::newRow("unit Latin c is not Cyrillic") << &unitNames << "c" << 0;
    QTest::newRow("access const") << &accessModeNames << "const" << 3;
    QTest::newRow("access rw") << &accessModeNames << "rw" << 2;
    QTest::newRow("kind composite") << &kindNames << "Composite" << 3;
    QTest::newRow("kind array") << &kindNames << "ARRAY" << 1;
    QTest::newRow("storage private") << &storageNames << "private" << 2;
    QTest::newRow("storage unsaved") << &storageNames << "UNSAVED" << 0;
}

void TestUtilities::nameLookup() {
    QFETCH(const ParameterNameList*, list);
    QFETCH(QString, name);
    QFETCH(int, code);
    QCOMPARE(list->indexOf(name), code);
}

void TestUtilities::codeLookup_data() {
    QTest::addColumn<const ParameterNameList*>("list");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("name");

    QTest::newRow("type 0") << &typeNames << 0 << "NIL";
    QTest::newRow("type 5") << &typeNames << 5 << "REAL32FIX";
    QTest::newRow("type 6 out of range") << &typeNames << 6 << "";
    QTest::newRow("type -1") << &typeNames << -1 << "";
    QTest::newRow("storage 3 out of range") << &storageNames << 3 << "";
    QTest::newRow("storage 1") << &storageNames << 1 << "COMMON";
    QTest::newRow("unit 0 empty") << &unitNames << 0 << "";
    QTest::newRow("unit 2") << &unitNames << 2 << QString::fromUtf8("мм");
    QTest::newRow("unit 3") << &unitNames << 3 << QString::fromUtf8("с");
    QTest::newRow("unit 6") << &unitNames << 6 << QString::fromUtf8("уп");
    QTest::newRow("unit 7") << &unitNames << 7 << QString::fromUtf8("шт");
    QTest::newRow("unit 9 out of range") << &unitNames << 9 << "";
    QTest::newRow("access 0") << &accessModeNames << 0 << "RO";
    QTest::newRow("access 1") << &accessModeNames << 1 << "WO";
    QTest::newRow("kind 0") << &kindNames << 0 << "VAR";
    QTest::newRow("kind 2") << &kindNames << 2 << "STRUCT";
}

void TestUtilities::codeLookup() {
    QFETCH(const ParameterNameList*, list);
    QFETCH(int, code);
    QFETCH(QString, name);
    QCOMPARE(list->nameOf(code), name);
}

void TestUtilities::listSizes() {
    QCOMPARE(accessModeNames.count(), 4);
    QCOMPARE(unitNames.count(), 9);
    QCOMPARE(typeNames.count(), 6);
    QCOMPARE(kindNames.count(), 4);
    QCOMPARE(storageNames.count(), 3);
    // The type codes are the positions in the type list.
    for (int type : {NIL, BOOLEAN, INTEGER, UNSIGNED, REAL32, REAL32FIX})
        QCOMPARE(typeNames.indexOf(typeNames.nameOf(type)), type);
}

void TestUtilities::toBytes_data() {
    QTest::addColumn<int>("type");
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("decimals");
    QTest::addColumn<unsigned>("len");
    QTest::addColumn<QByteArray>("expected");

    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();

    QTest::newRow("REAL32FIX 12.5/1 -> 7D 00 00 01")
        << int(REAL32FIX) << 12.5 << 1 << 4u << hex("7D000001");
    QTest::newRow("REAL32FIX -0.25/2 -> E7 FF FF 02")
        << int(REAL32FIX) << -0.25 << 2 << 4u << hex("E7FFFF02");
    QTest::newRow("REAL32FIX 3.14159/3 -> 46 0C 00 03")
        << int(REAL32FIX) << 3.14159 << 3 << 4u << hex("460C0003");
    QTest::newRow("REAL32FIX 1.25/2 -> 7D 00 00 02")
        << int(REAL32FIX) << 1.25 << 2 << 4u << hex("7D000002");
    QTest::newRow("REAL32FIX -1.5/1 -> F1 FF FF 01")
        << int(REAL32FIX) << -1.5 << 1 << 4u << hex("F1FFFF01");
    QTest::newRow("REAL32FIX 1e7/0 -> 80 96 98 00")
        << int(REAL32FIX) << 1e7 << 0 << 4u << hex("80969800");
    // Single precision after every step: computing in double would give 17 and 34.
    QTest::newRow("REAL32FIX 0.235/2 -> 18 00 00 02")
        << int(REAL32FIX) << 0.235 << 2 << 4u << hex("18000002");
    QTest::newRow("REAL32FIX 0.0515/3 -> 33 00 00 03")
        << int(REAL32FIX) << 0.0515 << 3 << 4u << hex("33000003");
    QTest::newRow("REAL32FIX 2^32+512 keeps low 24 bits -> 00 02 00 00")
        << int(REAL32FIX) << 4294967808.0 << 0 << 4u << hex("00020000");
    QTest::newRow("REAL32FIX NaN -> 00 00 00 01")
        << int(REAL32FIX) << nan << 1 << 4u << hex("00000001");
    QTest::newRow("REAL32FIX decimals 300 keep low byte -> 00 00 00 2C")
        << int(REAL32FIX) << 0.0 << 300 << 4u << hex("0000002C");
    QTest::newRow("REAL32FIX huge decimals end in infinity -> 00 00 00 FF")
        << int(REAL32FIX) << 1.0 << -1 << 4u << hex("000000FF");
    QTest::newRow("REAL32FIX length 3 -> 00 00 00")
        << int(REAL32FIX) << 12.5 << 1 << 3u << hex("000000");

    QTest::newRow("INTEGER -1 -> FF FF FF FF")
        << int(INTEGER) << -1.0 << 0 << 4u << hex("FFFFFFFF");
    QTest::newRow("INTEGER 2.5 -> 03 00 00 00")
        << int(INTEGER) << 2.5 << 0 << 4u << hex("03000000");
    QTest::newRow("INTEGER -2.5 -> FD FF FF FF")
        << int(INTEGER) << -2.5 << 0 << 4u << hex("FDFFFFFF");
    QTest::newRow("INTEGER 2.49 -> 02 00 00 00")
        << int(INTEGER) << 2.49 << 0 << 4u << hex("02000000");
    QTest::newRow("INTEGER 12.5 -> 0D 00 00 00")
        << int(INTEGER) << 12.5 << 0 << 4u << hex("0D000000");
    QTest::newRow("INTEGER -1 in 2 bytes -> FF FF")
        << int(INTEGER) << -1.0 << 0 << 2u << hex("FFFF");
    QTest::newRow("INTEGER 0x123456 in 1 byte -> 56")
        << int(INTEGER) << double(0x123456) << 0 << 1u << hex("56");
    QTest::newRow("INTEGER 2^32+1 wraps -> 01 00 00 00")
        << int(INTEGER) << 4294967297.0 << 0 << 4u << hex("01000000");
    QTest::newRow("INTEGER 1e20 wraps -> 00 00 10 63")
        << int(INTEGER) << 1e20 << 0 << 4u << hex("00001063");
    QTest::newRow("INTEGER -1e20 wraps -> 00 00 F0 9C")
        << int(INTEGER) << -1e20 << 0 << 4u << hex("0000F09C");
    QTest::newRow("INTEGER infinity -> 00 00 00 00")
        << int(INTEGER) << inf << 0 << 4u << hex("00000000");
    QTest::newRow("INTEGER NaN -> 00 00 00 00")
        << int(INTEGER) << nan << 0 << 4u << hex("00000000");
    QTest::newRow("INTEGER length 5 -> 00 x5")
        << int(INTEGER) << 7.0 << 0 << 5u << hex("0000000000");

    QTest::newRow("UNSIGNED 300 -> 2C 01 00 00")
        << int(UNSIGNED) << 300.0 << 0 << 4u << hex("2C010000");
    QTest::newRow("UNSIGNED -7 -> 00 00 00 00")
        << int(UNSIGNED) << -7.0 << 0 << 4u << hex("00000000");
    QTest::newRow("UNSIGNED -0.4 -> 00 00 00 00")
        << int(UNSIGNED) << -0.4 << 0 << 4u << hex("00000000");
    QTest::newRow("UNSIGNED 4294967295 -> FF FF FF FF")
        << int(UNSIGNED) << 4294967295.0 << 0 << 4u << hex("FFFFFFFF");
    QTest::newRow("UNSIGNED 2^32+5.5 wraps -> 06 00 00 00")
        << int(UNSIGNED) << 4294967301.5 << 0 << 4u << hex("06000000");
    QTest::newRow("UNSIGNED 300 in 1 byte -> 2C") << int(UNSIGNED) << 300.0 << 0 << 1u << hex("2C");
    QTest::newRow("UNSIGNED length 8 -> 00 x8")
        << int(UNSIGNED) << 300.0 << 0 << 8u << hex("0000000000000000");

    QTest::newRow("REAL32 1.5 -> 00 00 C0 3F") << int(REAL32) << 1.5 << 0 << 4u << hex("0000C03F");
    QTest::newRow("REAL32 -2 -> 00 00 00 C0") << int(REAL32) << -2.0 << 3 << 4u << hex("000000C0");
    QTest::newRow("REAL32 length 2 -> 00 00") << int(REAL32) << 1.5 << 0 << 2u << hex("0000");

    QTest::newRow("BOOLEAN 0.3 -> 01 00 00 00")
        << int(BOOLEAN) << 0.3 << 0 << 4u << hex("01000000");
    QTest::newRow("BOOLEAN -5 -> 01") << int(BOOLEAN) << -5.0 << 0 << 1u << hex("01");
    QTest::newRow("BOOLEAN 0 -> 00 00 00 00") << int(BOOLEAN) << 0.0 << 0 << 4u << hex("00000000");
    QTest::newRow("BOOLEAN 1 in 6 bytes -> 01 00 00 00 00 00")
        << int(BOOLEAN) << 1.0 << 0 << 6u << hex("010000000000");

    QTest::newRow("NIL 12.5 -> 00 00 00 00") << int(NIL) << 12.5 << 1 << 4u << hex("00000000");
    QTest::newRow("type 6 -> 00 00 00 00") << 6 << 12.5 << 1 << 4u << hex("00000000");
    QTest::newRow("type -1 -> 00 00") << -1 << 1.0 << 0 << 2u << hex("0000");
}

void TestUtilities::toBytes() {
    QFETCH(int, type);
    QFETCH(double, value);
    QFETCH(int, decimals);
    QFETCH(unsigned, len);
    QFETCH(QByteArray, expected);
    QCOMPARE(encode(value, decimals, len, type).toHex(' ').toUpper(),
             expected.toHex(' ').toUpper());
}

void TestUtilities::toBytesIgnoresEmptyField() {
    unsigned char byte = 0xAA;
    ParameterValue(1.0, 0).toBytes(&byte, 0, INTEGER);
    QCOMPARE(byte, 0xAA);
    ParameterValue(1.0, 0).toBytes(nullptr, 4, INTEGER); // must not crash
}

void TestUtilities::fromBytes_data() {
    QTest::addColumn<int>("type");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("requestedDecimals");
    QTest::addColumn<double>("value");
    QTest::addColumn<unsigned>("decimals");

    // Start value for every row: 42 with 7 decimals; rows that must not decode expect it back.
    QTest::newRow("REAL32FIX 7D 00 00 01 -> 12.5/1")
        << int(REAL32FIX) << hex("7D000001") << 3 << 12.5 << 1u;
    QTest::newRow("REAL32FIX 7D 00 00 02 -> 1.25/2")
        << int(REAL32FIX) << hex("7D000002") << 3 << 1.25 << 2u;
    QTest::newRow("REAL32FIX F1 FF FF 01 -> -1.5/1")
        << int(REAL32FIX) << hex("F1FFFF01") << 3 << -1.5 << 1u;
    QTest::newRow("REAL32FIX E7 FF FF 02 -> -0.25/2")
        << int(REAL32FIX) << hex("E7FFFF02") << 3 << -0.25 << 2u;
    QTest::newRow("REAL32FIX 80 96 98 00 -> -6777216/0")
        << int(REAL32FIX) << hex("80969800") << 3 << -6777216.0 << 0u;
    QTest::newRow("REAL32FIX FF FF 7F 00 -> 8388607/0")
        << int(REAL32FIX) << hex("FFFF7F00") << 3 << 8388607.0 << 0u;
    QTest::newRow("REAL32FIX 00 00 80 00 -> -8388608/0")
        << int(REAL32FIX) << hex("00008000") << 3 << -8388608.0 << 0u;
    // Single precision after every division, not one division by 1000.
    QTest::newRow("REAL32FIX 01 00 00 03 -> 0.000999999931/3")
        << int(REAL32FIX) << hex("01000003") << 0 << 0.0009999999310821295 << 3u;
    QTest::newRow("REAL32FIX length 3 unchanged")
        << int(REAL32FIX) << hex("7D0000") << 3 << 42.0 << 7u;

    QTest::newRow("INTEGER 7D 00 00 01 -> 16777341")
        << int(INTEGER) << hex("7D000001") << 3 << 16777341.0 << 0u;
    QTest::newRow("INTEGER FF FF FF FF -> -1")
        << int(INTEGER) << hex("FFFFFFFF") << 0 << -1.0 << 0u;
    QTest::newRow("INTEGER 00 00 00 80 -> -2147483648")
        << int(INTEGER) << hex("00000080") << 0 << -2147483648.0 << 0u;
    QTest::newRow("INTEGER FF FF -> 65535") << int(INTEGER) << hex("FFFF") << 0 << 65535.0 << 0u;
    QTest::newRow("INTEGER FF -> 255") << int(INTEGER) << hex("FF") << 0 << 255.0 << 0u;
    QTest::newRow("INTEGER FF FF FF -> 16777215")
        << int(INTEGER) << hex("FFFFFF") << 0 << 16777215.0 << 0u;
    QTest::newRow("INTEGER length 5 unchanged")
        << int(INTEGER) << hex("0100000000") << 0 << 42.0 << 7u;

    QTest::newRow("UNSIGNED FF FF FF FF -> 4294967295")
        << int(UNSIGNED) << hex("FFFFFFFF") << 0 << 4294967295.0 << 0u;
    QTest::newRow("UNSIGNED 42 43 -> 17218") << int(UNSIGNED) << hex("4243") << 0 << 17218.0 << 0u;
    QTest::newRow("UNSIGNED length 5 unchanged")
        << int(UNSIGNED) << hex("0100000000") << 0 << 42.0 << 7u;

    QTest::newRow("REAL32 00 00 C0 3F -> 1.5/3")
        << int(REAL32) << hex("0000C03F") << 3 << 1.5 << 3u;
    QTest::newRow("REAL32 7D 00 00 01 -> tiny/3")
        << int(REAL32) << hex("7D000001") << 3 << std::ldexp(1.0 + 125.0 / 8388608.0, -125) << 3u;
    QTest::newRow("REAL32 length 2 unchanged") << int(REAL32) << hex("0000") << 3 << 42.0 << 7u;

    QTest::newRow("BOOLEAN FE -> 0") << int(BOOLEAN) << hex("FE") << 3 << 0.0 << 0u;
    QTest::newRow("BOOLEAN 01 FF -> 1") << int(BOOLEAN) << hex("01FF") << 3 << 1.0 << 0u;
    QTest::newRow("BOOLEAN FF FF FF FF -> 1") << int(BOOLEAN) << hex("FFFFFFFF") << 3 << 1.0 << 0u;

    QTest::newRow("NIL unchanged") << int(NIL) << hex("7D000001") << 3 << 42.0 << 7u;
    QTest::newRow("type 6 unchanged") << 6 << hex("7D000001") << 3 << 42.0 << 7u;
}

void TestUtilities::fromBytes() {
    QFETCH(int, type);
    QFETCH(QByteArray, bytes);
    QFETCH(int, requestedDecimals);
    QFETCH(double, value);
    QFETCH(unsigned, decimals);

    ParameterValue decoded(42.0, 7);
    decoded.fromBytes(reinterpret_cast<const unsigned char*>(bytes.constData()),
                      static_cast<unsigned>(bytes.size()), type, requestedDecimals);
    QCOMPARE(decoded.value, value);
    QCOMPARE(decoded.decimals, decimals);
}

void TestUtilities::fromBytesIgnoresEmptyField() {
    const unsigned char byte = 0x01;
    ParameterValue decoded(42.0, 7);
    decoded.fromBytes(&byte, 0, BOOLEAN, 3);
    decoded.fromBytes(nullptr, 4, BOOLEAN, 3);
    QCOMPARE(decoded.value, 42.0);
    QCOMPARE(decoded.decimals, 7u);
}

QTEST_APPLESS_MAIN(TestUtilities)
#include "tst_utilities.moc"
