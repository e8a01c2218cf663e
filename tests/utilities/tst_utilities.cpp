#include "ParameterNames.h"
#include "ParameterValue.h"
#include "ParameterValueCases.h"

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
    for (const parametervaluecases::Encode& c : parametervaluecases::encode)
        QTest::newRow(c.name) << c.type << c.value << c.decimals << c.len << hex(c.bytes);
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
    for (const parametervaluecases::Decode& c : parametervaluecases::decode)
        QTest::newRow(c.name) << c.type << hex(c.bytes) << c.requestedDecimals << c.value
                              << c.decimals;
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
