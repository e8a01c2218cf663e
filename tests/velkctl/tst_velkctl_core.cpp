// Unit tests of velkctl's pure parts: number and list parsing, the command
// line, the user value split, statistics and the output formats.
#include "CommandLine.h"
#include "ExchangeOutput.h"
#include "ExchangeStatistics.h"
#include "ParameterTypes.h"
#include "ParameterValue.h"
#include "UserValue.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QtTest>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

using ByteList = QList<int>;

namespace {

ParseResult parse(const QStringList& args, CommandLine& cl, std::string& error) {
    std::vector<std::string> storage{"velkctl"};
    for (const QString& a : args) {
        storage.push_back(a.toStdString());
    }
    std::vector<char*> argv;
    for (std::string& s : storage) {
        argv.push_back(s.data());
    }
    argv.push_back(nullptr);
    return parseCommandLine(int(storage.size()), argv.data(), cl, error);
}

const QStringList base{"--port", "COM3", "--address", "5"};

ByteList bytesOf(const unsigned char* b, int n) {
    ByteList list;
    for (int i = 0; i < n; ++i) {
        list << b[i];
    }
    return list;
}

DataBlock<unsigned char> blockOf(const ByteList& bytes) {
    DataBlock<unsigned char> block;
    for (int b : bytes) {
        block.append(static_cast<unsigned char>(b));
    }
    return block;
}

} // namespace

class TestVelkctlCore : public QObject {
    Q_OBJECT

private slots:
    void hexNumber_data();
    void hexNumber();
    void hexList_data();
    void hexList();
    void commandLineRequest_data();
    void commandLineRequest();
    void commandLineUsageError_data();
    void commandLineUsageError();
    void commandLineModes();
    void userValueDecimals_data();
    void userValueDecimals();
    void typedValue_data();
    void typedValue();
    void typedValueMatchesDialogText();
    void userValueParsesAsDialog();
    void statistics_data();
    void statistics();
    void statisticsCountsErrorsApart();
    void hexBytesStyle();
    void jsonLineParsesBack();
    void jsonFailedExchange();
    void csvRowMatchesHeader();
    void timestamp();
};

void TestVelkctlCore::hexNumber_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<uint>("max");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<uint>("value");
    QTest::newRow("plain") << "1F" << 0xFFu << true << 0x1Fu;
    QTest::newRow("prefix") << "0x1F" << 0xFFu << true << 0x1Fu;
    QTest::newRow("upper prefix, lower digits") << "0X1f" << 0xFFu << true << 0x1Fu;
    QTest::newRow("zero") << "0" << 0x7Fu << true << 0u;
    QTest::newRow("leading zeros") << "00000000007F" << 0x7Fu << true << 0x7Fu;
    QTest::newRow("byte limit") << "FF" << 0xFFu << true << 0xFFu;
    QTest::newRow("above byte") << "100" << 0xFFu << false << 0u;
    QTest::newRow("above 7F") << "80" << 0x7Fu << false << 0u;
    QTest::newRow("huge") << "FFFFFFFFFFFFFFFFFFFF" << 0xFFu << false << 0u;
    QTest::newRow("empty") << "" << 0xFFu << false << 0u;
    QTest::newRow("prefix only") << "0x" << 0xFFu << false << 0u;
    QTest::newRow("double prefix") << "0x0x1" << 0xFFu << false << 0u;
    QTest::newRow("sign") << "-1" << 0xFFu << false << 0u;
    QTest::newRow("plus") << "+1" << 0xFFu << false << 0u;
    QTest::newRow("blank") << " 1" << 0xFFu << false << 0u;
    QTest::newRow("not hex") << "1G" << 0xFFu << false << 0u;
}

void TestVelkctlCore::hexNumber() {
    QFETCH(QString, text);
    QFETCH(uint, max);
    QFETCH(bool, ok);
    QFETCH(uint, value);
    unsigned out = 12345;
    QCOMPARE(parseHexNumber(text.toStdString(), max, out), ok);
    if (ok) {
        QCOMPARE(out, value);
    }
}

void TestVelkctlCore::hexList_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<ByteList>("bytes");
    QTest::newRow("commas") << "1,2,FF" << true << ByteList{1, 2, 255};
    QTest::newRow("mixed separators") << "0x41, 42 43" << true << ByteList{0x41, 0x42, 0x43};
    QTest::newRow("outer blanks") << " 7F " << true << ByteList{0x7F};
    QTest::newRow("empty item") << "1,,2" << false << ByteList{};
    QTest::newRow("leading comma") << ",1" << false << ByteList{};
    QTest::newRow("trailing comma") << "1," << false << ByteList{};
    QTest::newRow("nothing") << "" << false << ByteList{};
    QTest::newRow("byte too big") << "1,100" << false << ByteList{};
}

void TestVelkctlCore::hexList() {
    QFETCH(QString, text);
    QFETCH(bool, ok);
    QFETCH(ByteList, bytes);
    std::vector<unsigned char> out{9, 9};
    QCOMPARE(parseHexList(text.toStdString(), 0xFF, out), ok);
    if (ok) {
        QCOMPARE(bytesOf(out.data(), int(out.size())), bytes);
    } else {
        QCOMPARE(out.size(), std::size_t(2)); // untouched
    }
}

void TestVelkctlCore::commandLineRequest_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<ByteList>("address");
    QTest::addColumn<int>("ao");
    QTest::addColumn<ByteList>("data");
    QTest::addColumn<int>("extendedCount");

    QTest::newRow("defaults") << base << ByteList{5, 0, 0, 0} << 0x1F << ByteList{0, 0, 0, 0} << 0;
    QTest::newRow("address levels, later option wins")
        << QStringList{"--port", "COM3", "--address", "5,1,2", "--address-3", "0x7F", "--ao", "7"}
        << ByteList{5, 1, 0x7F, 0} << 7 << ByteList{0, 0, 0, 0} << 0;
    QTest::newRow("a level after the levels")
        << QStringList{"--port", "COM3", "--address", "5,1", "--address-1", "7"}
        << ByteList{7, 1, 0, 0} << 0x1F << ByteList{0, 0, 0, 0} << 0;
    QTest::newRow("short data fills zeros")
        << base + QStringList{"--data", "1,80"} << ByteList{5, 0, 0, 0} << 0x1F
        << ByteList{1, 0x80, 0, 0} << 0;
    QTest::newRow("value REAL32FIX one decimal")
        << base + QStringList{"--value", "12.5", "--type", "REAL32FIX"} << ByteList{5, 0, 0, 0}
        << 0x1F << ByteList{0x7D, 0, 0, 1} << 0;
    QTest::newRow("value REAL32FIX decimals capped at 3")
        << base + QStringList{"--value", "3.14159", "--type", "real32fix"} << ByteList{5, 0, 0, 0}
        << 0x1F << ByteList{0x46, 0x0C, 0, 3} << 0;
    QTest::newRow("value REAL32FIX point without digits counts one decimal")
        << base + QStringList{"--value", "12.", "--type", "REAL32FIX"} << ByteList{5, 0, 0, 0}
        << 0x1F << ByteList{0x78, 0, 0, 1} << 0;
    QTest::newRow("value INTEGER is the default type")
        << base + QStringList{"--value", "-1"} << ByteList{5, 0, 0, 0} << 0x1F
        << ByteList{0xFF, 0xFF, 0xFF, 0xFF} << 0;
    QTest::newRow("value INTEGER rounds half away")
        << base + QStringList{"--value", "12.5", "--type", "INTEGER"} << ByteList{5, 0, 0, 0}
        << 0x1F << ByteList{0x0D, 0, 0, 0} << 0;
    QTest::newRow("value REAL32") << base + QStringList{"--value", "1.5", "--type", "REAL32"}
                                  << ByteList{5, 0, 0, 0} << 0x1F << ByteList{0, 0, 0xC0, 0x3F}
                                  << 0;
    QTest::newRow("value BOOLEAN") << base + QStringList{"--value", "-3", "--type", "BOOLEAN"}
                                   << ByteList{5, 0, 0, 0} << 0x1F << ByteList{1, 0, 0, 0} << 0;
    QTest::newRow("ef puts the count in data_0/1, keeps data_2/3")
        << base + QStringList{"--ef", "--ext", "41,42,43", "--data", "9,9,9,9"}
        << ByteList{5, 0, 0, 0} << 0x1F << ByteList{3, 0, 9, 9} << 3;
    QTest::newRow("ef without bytes announces none")
        << base + QStringList{"--ef", "--data", "9,9"} << ByteList{5, 0, 0, 0} << 0x1F
        << ByteList{0, 0, 0, 0} << 0;
    QStringList many = base + QStringList{"--ef", "--ext"};
    QStringList bytes;
    for (int i = 0; i < 300; ++i) {
        bytes << QString::number(i & 0xFF, 16);
    }
    many << bytes.join(',');
    QTest::newRow("ef count above 255")
        << many << ByteList{5, 0, 0, 0} << 0x1F << ByteList{0x2C, 1, 0, 0} << 300;
}

void TestVelkctlCore::commandLineRequest() {
    QFETCH(QStringList, args);
    QFETCH(ByteList, address);
    QFETCH(int, ao);
    QFETCH(ByteList, data);
    QFETCH(int, extendedCount);
    CommandLine cl;
    std::string error;
    QCOMPARE(parse(args, cl, error), ParseResult::Run);
    QVERIFY2(error.empty(), error.c_str());
    QCOMPARE(bytesOf(cl.request.address, 4), address);
    QCOMPARE(int(cl.request.ao), ao);
    QCOMPARE(bytesOf(cl.request.data, 4), data);
    QCOMPARE(int(cl.request.extendedData.size()), extendedCount);
}

void TestVelkctlCore::commandLineUsageError_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("mentions");
    QTest::newRow("nothing") << QStringList{} << "--port";
    QTest::newRow("no address") << QStringList{"--port", "COM3"} << "--address";
    QTest::newRow("code above FF") << base + QStringList{"--code", "100"} << "--code";
    QTest::newRow("address above 7F")
        << QStringList{"--port", "COM3", "--address", "80"} << "--address";
    QTest::newRow("five levels") << QStringList{"--port", "COM3", "--address", "1,2,3,4,5"}
                                 << "--address";
    QTest::newRow("ao above 7F") << base + QStringList{"--ao", "0x80"} << "--ao";
    QTest::newRow("ntxt above 7F") << base + QStringList{"--ntxt", "FF"} << "--ntxt";
    QTest::newRow("five data bytes") << base + QStringList{"--data", "1,2,3,4,5"} << "--data";
    QTest::newRow("unknown option") << base + QStringList{"--bogus"} << "--bogus";
    QTest::newRow("ambiguous abbreviation") << base + QStringList{"--addr", "1"} << "--addr";
    QTest::newRow("missing argument") << base + QStringList{"--code"} << "--code";
    QTest::newRow("argument to a flag") << base + QStringList{"--json=1"} << "--json";
    // Flags that also have a short form must still be named by their long one.
    QTest::newRow("argument to --quiet") << base + QStringList{"--quiet=1"} << "--quiet";
    QTest::newRow("argument to --help") << base + QStringList{"--help=1"} << "--help";
    QTest::newRow("argument to abbreviated --version")
        << base + QStringList{"--vers=1"} << "--version";
    QTest::newRow("long option with short form lacks argument")
        << QStringList{"--address", "1", "--port"} << "--port";
    QTest::newRow("short option lacks argument") << QStringList{"--address", "1", "-p"} << "--port";
    QTest::newRow("line break in a value") << base + QStringList{"--code", "1\n2"} << "'1\\n2'";
    QTest::newRow("stray argument") << base + QStringList{"extra"} << "extra";
    QTest::newRow("json and csv") << base + QStringList{"--json", "--csv"} << "--csv";
    QTest::newRow("value not a number") << base + QStringList{"--value", "1.2.3"} << "--value";
    QTest::newRow("value and data")
        << base + QStringList{"--value", "1", "--data", "1"} << "--data";
    QTest::newRow("value with ef") << base + QStringList{"--value", "1", "--ef"} << "--ef";
    QTest::newRow("type without value") << base + QStringList{"--type", "REAL32"} << "--value";
    QTest::newRow("unknown type") << base + QStringList{"--value", "1", "--type", "FLOAT"}
                                  << "--type";
    QTest::newRow("NIL is no value type")
        << base + QStringList{"--value", "1", "--type", "NIL"} << "--type";
    QTest::newRow("REAL32FIX mantissa overflow")
        << base + QStringList{"--value", "10000000", "--type", "REAL32FIX"} << "REAL32FIX";
    QTest::newRow("REAL32FIX overflow through decimals")
        << base + QStringList{"--value", "8388.608", "--type", "REAL32FIX"} << "REAL32FIX";
    QTest::newRow("UNSIGNED negative")
        << base + QStringList{"--value", "-7", "--type", "UNSIGNED"} << "UNSIGNED";
    QTest::newRow("INTEGER overflow") << base + QStringList{"--value", "2147483647.5"} << "INTEGER";
    QTest::newRow("value infinite")
        << base + QStringList{"--value", "inf", "--type", "REAL32"} << "--value";
    QTest::newRow("ext without ef") << base + QStringList{"--ext", "1"} << "--ef";
    QTest::newRow("count zero") << base + QStringList{"--count", "0"} << "--count";
    QTest::newRow("baud zero") << base + QStringList{"--baud", "0"} << "--baud";
    QTest::newRow("baud hexadecimal") << base + QStringList{"--baud", "0x10"} << "--baud";
    QTest::newRow("timeout negative") << base + QStringList{"--timeout", "-5"} << "--timeout";
    QTest::newRow("rx-type unknown") << base + QStringList{"--rx-type", "X"} << "--rx-type";
}

void TestVelkctlCore::commandLineUsageError() {
    QFETCH(QStringList, args);
    QFETCH(QString, mentions);
    CommandLine cl;
    std::string error;
    QCOMPARE(parse(args, cl, error), ParseResult::UsageError);
    const QString message = QString::fromStdString(error);
    QVERIFY2(message.contains(mentions), qPrintable(message));
    QVERIFY(!message.contains('\n'));
}

void TestVelkctlCore::commandLineModes() {
    CommandLine cl;
    std::string error;
    QCOMPARE(parse(base, cl, error), ParseResult::Run);
    QVERIFY(!cl.cyclic);
    QCOMPARE(cl.byteTimeoutMs, 150u);
    QCOMPARE(cl.maxRestarts, 0u);
    QCOMPARE(cl.baudRate, 115200u);

    // --count alone runs cyclically with the dialog's default period.
    QCOMPARE(parse(base + QStringList{"--count", "4", "--csv"}, cl, error), ParseResult::Run);
    QVERIFY(cl.cyclic);
    QCOMPARE(cl.count, 4u);
    QCOMPARE(cl.periodMs, 100u);
    QCOMPARE(cl.output.mode, OutputMode::Csv);

    // A period of 0 becomes 1 ms, as in the dialog.
    QCOMPARE(parse(base + QStringList{"--cycle", "0", "--rx-type", "none"}, cl, error),
             ParseResult::Run);
    QVERIFY(cl.cyclic);
    QCOMPARE(cl.periodMs, 1u);
    QCOMPARE(cl.count, 0u);
    QCOMPARE(cl.rxType, 0);

    QCOMPARE(parse(base + QStringList{"-q", "--json", "--rx-type", "REAL32FIX", "--timeout", "20",
                                      "--restarts", "2", "--baud", "1000000", "--time"},
                   cl, error),
             ParseResult::Run);
    QVERIFY(cl.output.quiet);
    QCOMPARE(cl.output.mode, OutputMode::Json);
    QCOMPARE(cl.rxType, parameterTypeCode("REAL32FIX"));
    QCOMPARE(cl.byteTimeoutMs, 20u);
    QCOMPARE(cl.maxRestarts, 2u);
    QCOMPARE(cl.baudRate, 1000000u);
    QVERIFY(cl.request.timeBit);

    // Help wins over missing options; the parser can run again after a failure.
    QCOMPARE(parse({"--help"}, cl, error), ParseResult::Help);
    QCOMPARE(parse({"--bogus"}, cl, error), ParseResult::UsageError);
    QCOMPARE(parse({"--version"}, cl, error), ParseResult::Version);
}

void TestVelkctlCore::userValueDecimals_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("decimals");
    QTest::newRow("integer") << "12" << 0;
    QTest::newRow("one") << "12.5" << 1;
    QTest::newRow("point only") << "12." << 1;
    QTest::newRow("leading point") << ".25" << 2;
    QTest::newRow("capped") << "3.14159" << 3;
    QTest::newRow("two points") << "1.2.3" << 0;
}

void TestVelkctlCore::userValueDecimals() {
    QFETCH(QString, text);
    QFETCH(int, decimals);
    QCOMPARE(::userValueDecimals(text.toStdString()), decimals);
}

void TestVelkctlCore::typedValue_data() {
    QTest::addColumn<ByteList>("bytes");
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("text");
    const ByteList fix{0x7D, 0, 0, 1};
    QTest::newRow("REAL32FIX") << fix << "REAL32FIX"
                               << "12.5";
    QTest::newRow("same bytes INTEGER") << fix << "INTEGER"
                                        << "16777341";
    QTest::newRow("same bytes REAL32, three decimals") << fix << "REAL32"
                                                       << "0.000";
    QTest::newRow("INTEGER negative") << ByteList{0xFF, 0xFF, 0xFF, 0xFF} << "INTEGER"
                                      << "-1";
    QTest::newRow("UNSIGNED") << ByteList{0xFF, 0xFF, 0xFF, 0xFF} << "UNSIGNED"
                              << "4294967295";
    QTest::newRow("BOOLEAN bit 0 only") << ByteList{0xFE, 0, 0, 0} << "BOOLEAN"
                                        << "0";
    // Exact half-way cases go away from zero, as the dialog shows them.
    QTest::newRow("REAL32 tie 0.0625") << ByteList{0, 0, 0x80, 0x3D} << "REAL32"
                                       << "0.063";
    QTest::newRow("REAL32 tie -0.0625") << ByteList{0, 0, 0x80, 0xBD} << "REAL32"
                                        << "-0.063";
    QTest::newRow("REAL32 -0 unsigned") << ByteList{0, 0, 0, 0x80} << "REAL32"
                                        << "0.000";
    QTest::newRow("REAL32 rounds into the integer part")
        << ByteList{0xF0, 0xFF, 0x7F, 0x40} << "REAL32"
        << "4.000";
}

void TestVelkctlCore::typedValue() {
    QFETCH(ByteList, bytes);
    QFETCH(QString, type);
    QFETCH(QString, text);
    unsigned char b[4];
    for (int i = 0; i < 4; ++i) {
        b[i] = static_cast<unsigned char>(bytes[i]);
    }
    QCOMPARE(QString::fromStdString(typedValueText(b, parameterTypeCode(type.toStdString()))),
             text);
}

// The typed view is built without Qt; it must read exactly as the dialog's
// QString::number(v, 'f', decimals) over the whole range of single values.
void TestVelkctlCore::typedValueMatchesDialogText() {
    std::uint32_t bits = 0x9E3779B9u;
    for (int i = 0; i < 20000; ++i) {
        bits = bits * 1664525u + 1013904223u;
        unsigned char b[4] = {
            static_cast<unsigned char>(bits), static_cast<unsigned char>(bits >> 8),
            static_cast<unsigned char>(bits >> 16), static_cast<unsigned char>(bits >> 24)};
        float f;
        std::memcpy(&f, &bits, sizeof f);
        if (!std::isfinite(f)) {
            continue;
        }
        QCOMPARE(QString::fromStdString(typedValueText(b, parameterTypeCode("REAL32"))),
                 QString::number(double(f), 'f', 3));
        // Small fixed-point values with up to 6 decimals, ties included.
        b[3] = static_cast<unsigned char>(i % 7);
        ParameterValue fix(0, 0);
        fix.fromBytes(b, 4, REAL32FIX, 0);
        QCOMPARE(QString::fromStdString(typedValueText(b, parameterTypeCode("REAL32FIX"))),
                 QString::number(fix.value, 'f', int(fix.decimals)));
    }
}

void TestVelkctlCore::userValueParsesAsDialog() {
    const char* texts[] = {"1.5", " 1.5", "+1.5 ", "-2",  "1e3", ".5",   "5.",  "0x10",
                           "1,5", "",     " ",     "+-1", "--1", "1.5e", "inf", "nan",
                           "abc", "1 2",  "\t7\n", "+",   "-",   "1e400"};
    for (const char* text : texts) {
        bool ok = false;
        const double expected = QString::fromUtf8(text).toDouble(&ok);
        unsigned char bytes[4] = {};
        std::string error;
        const bool accepted = splitUserValue(text, parameterTypeCode("REAL32"), bytes, error);
        QVERIFY2(accepted == (ok && std::isfinite(expected)), text);
        if (accepted) {
            ParameterValue value(0, 0);
            value.fromBytes(bytes, 4, REAL32, 0);
            QCOMPARE(value.value, double(float(expected)));
        }
    }
}

void TestVelkctlCore::statistics_data() {
    QTest::addColumn<QList<double>>("times");
    QTest::addColumn<double>("min");
    QTest::addColumn<double>("median");
    QTest::addColumn<double>("p99");
    QTest::addColumn<double>("max");
    QTest::newRow("one") << QList<double>{2.5} << 2.5 << 2.5 << 2.5 << 2.5;
    QTest::newRow("odd, unsorted") << QList<double>{5, 1, 3} << 1.0 << 3.0 << 5.0 << 5.0;
    QTest::newRow("even, mean of the middle")
        << QList<double>{4, 1, 2, 10} << 1.0 << 3.0 << 10.0 << 10.0;
    QTest::newRow("ties") << QList<double>{2, 2, 2, 7} << 2.0 << 2.0 << 7.0 << 7.0;
    QList<double> hundred;
    for (int i = 1; i <= 100; ++i) {
        hundred << i;
    }
    // Rank ceil(0.99 * 100) = 99: the largest time is not the p99.
    QTest::newRow("100: p99 is rank 99") << hundred << 1.0 << 50.5 << 99.0 << 100.0;
    QList<double> hundredOne = hundred;
    hundredOne << 1000;
    QTest::newRow("101: p99 is rank 100") << hundredOne << 1.0 << 51.0 << 100.0 << 1000.0;
    QTest::newRow("microseconds kept")
        << QList<double>{1.0004, 1.0016} << 1.0 << 1.001 << 1.002 << 1.002;
}

void TestVelkctlCore::statistics() {
    QFETCH(QList<double>, times);
    QFETCH(double, min);
    QFETCH(double, median);
    QFETCH(double, p99);
    QFETCH(double, max);
    ExchangeStatistics s;
    for (double t : times) {
        s.add(0, t);
    }
    QCOMPARE(s.requests(), unsigned(times.size()));
    QCOMPARE(s.answersOk(), unsigned(times.size()));
    QVERIFY(s.hasTimes());
    QCOMPARE(s.minMs(), min);
    QCOMPARE(s.medianMs(), median);
    QCOMPARE(s.p99Ms(), p99);
    QCOMPARE(s.maxMs(), max);
}

void TestVelkctlCore::statisticsCountsErrorsApart() {
    ExchangeStatistics s;
    QVERIFY(!s.hasTimes());
    s.add(5, 151.0);
    s.add(0, 3.0);
    s.add(6, 4.0);
    s.add(5, 152.0);
    QCOMPARE(s.requests(), 4u);
    QCOMPARE(s.answersOk(), 1u);
    QCOMPARE(s.errors(), 3u);
    const std::map<int, unsigned> expected{{5, 2}, {6, 1}};
    QVERIFY(s.errorsByCode() == expected);
    // Failed exchanges do not count towards the response time.
    QCOMPARE(s.maxMs(), 3.0);
    QCOMPARE(s.minMs(), 3.0);

    const QJsonObject summary =
        QJsonDocument::fromJson(QByteArray::fromStdString(formatSummaryJson(s, "COM3"))).object();
    QCOMPARE(summary["type"].toString(), QString("summary"));
    QCOMPARE(summary["requests"].toInt(), 4);
    QCOMPARE(summary["answers_ok"].toInt(), 1);
    QCOMPARE(summary["errors"].toInt(), 3);
    QCOMPARE(summary["errors_by_code"].toObject()["5"].toInt(), 2);
    QCOMPARE(summary["errors_by_code"].toObject()["6"].toInt(), 1);
    QCOMPARE(summary["response_ms"].toObject()["median"].toDouble(), 3.0);

    ExchangeStatistics none;
    none.add(4, 0.1);
    const QJsonObject noTimes =
        QJsonDocument::fromJson(QByteArray::fromStdString(formatSummaryJson(none, "x"))).object();
    QVERIFY(noTimes["response_ms"].isNull());
}

void TestVelkctlCore::hexBytesStyle() {
    const unsigned char bytes[] = {0x00, 0x07, 0x7F, 0xC0, 0xFF};
    QCOMPARE(QString::fromStdString(hexBytes(bytes, 5)), QString("0 7 7F C0 FF"));
    QCOMPARE(QString::fromStdString(hexBytes(DataBlock<unsigned char>())), QString());
}

void TestVelkctlCore::jsonLineParsesBack() {
    ExchangeResult r;
    ExchangeLabel l;
    l.sequence = 7;
    l.port = "C:\\odd \"port\"\t\x01";
    r.responseMs = 2.3456;
    r.error = ExchangeError::ExtendedNotDecoded;
    r.txAddressPacket = blockOf({0x85, 5, 0, 0, 0, 0x11});
    r.txDataPacket = blockOf({0xC0, 0x1F});
    r.rxDataPacket = blockOf({0xC5, 0x7F});
    r.answer.id.code = 0x83;
    r.answer.id.index = 1;
    r.answer.ao = 5;
    r.answer.status = 0xFF;
    r.answer.csBit = 1;
    r.answer.efBit = 1;
    r.answer.data[0] = 0x7D;
    r.answer.data[3] = 1;
    l.rxType = parameterTypeCode("REAL32FIX");

    const std::string line = formatJson(r, l);
    QVERIFY(line.find('\n') == std::string::npos);
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(line), &error);
    QVERIFY2(error.error == QJsonParseError::NoError, qPrintable(error.errorString()));
    const QJsonObject o = doc.object();
    QCOMPARE(o["type"].toString(), QString("exchange"));
    QCOMPARE(o["seq"].toInt(), 7);
    QCOMPARE(o["port"].toString(), QString::fromStdString(l.port));
    QVERIFY(QRegularExpression(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d$)")
                .match(o["time"].toString())
                .hasMatch());
    QCOMPARE(o["response_ms"].toDouble(), 2.346);
    QCOMPARE(o["error_code"].toInt(), 8);
    QCOMPARE(o["error_text"].toString(),
             QString::fromUtf8("Ошибка распаковки принятого расширенного блока данных."));
    QCOMPARE(o["tx_address"].toString(), QString("85 5 0 0 0 11"));
    QCOMPARE(o["rx_data"].toString(), QString("C5 7F"));
    const QJsonObject a = o["answer"].toObject();
    QCOMPARE(a["code"].toString(), QString("83"));
    QCOMPARE(a["status"].toString(), QString("FF"));
    QCOMPARE(a["csBit"].toInt(), 1);
    QCOMPARE(a["wtsBit"].toInt(), 0);
    QCOMPARE(a["efBit"].toInt(), 1);
    QCOMPARE(a["data_0"].toString(), QString("7D"));
    QCOMPARE(a["data_3"].toString(), QString("1"));
    QCOMPARE(o["extended_count"].toInt(), 0);
    QCOMPARE(o["value_type"].toString(), QString("REAL32FIX"));
    QCOMPARE(o["value"].toDouble(), 12.5);

    // REAL32 bytes may hold a NaN; JSON has no such number.
    r.answer.data[0] = 0;
    r.answer.data[1] = 0;
    r.answer.data[2] = 0xC0;
    r.answer.data[3] = 0x7F;
    l.rxType = parameterTypeCode("REAL32");
    const QJsonObject nan =
        QJsonDocument::fromJson(QByteArray::fromStdString(formatJson(r, l))).object();
    QCOMPARE(nan["value"].toString(), QString("nan"));
}

void TestVelkctlCore::jsonFailedExchange() {
    ExchangeResult r;
    r.error = ExchangeError::AnswerNotReceived;
    r.answer.id.code = 0x42; // not decoded: must not leak out
    const ExchangeLabel l{1, "P", parameterTypeCode("INTEGER")};
    const QJsonObject o =
        QJsonDocument::fromJson(QByteArray::fromStdString(formatJson(r, l))).object();
    QVERIFY(!o.isEmpty());
    QCOMPARE(o["error_text"].toString(),
             QString::fromUtf8("Ошибка приёма блока данных (тайм-аут)."));
    QVERIFY(o["answer"].isNull());
    QVERIFY(o["value"].isNull());
    QCOMPARE(o["rx_data"].toString(), QString());
}

void TestVelkctlCore::csvRowMatchesHeader() {
    ExchangeResult r;
    ExchangeLabel l{3, "odd,\"port\"", 0};
    r.answer.id.code = 0x10;
    r.answer.wtsBit = 1;
    r.answer.data[1] = 0xAB;
    r.extendedData = blockOf({0x41, 0x42});
    const QStringList header = QString::fromStdString(csvHeader()).split(',');
    const QString row = QString::fromStdString(formatCsv(r, l));
    // The quoted port is the only field with a comma; take it out before splitting.
    const QString quotedPort = "\"odd,\"\"port\"\"\"";
    QVERIFY2(row.contains("," + quotedPort + ","), qPrintable(row));
    QStringList fields = QString(row).replace(quotedPort, "PORT").split(',');
    QCOMPARE(fields.size(), header.size());
    auto field = [&](const char* name) { return fields[header.indexOf(name)]; };
    QCOMPARE(field("seq"), QString("3"));
    QCOMPARE(field("port"), QString("PORT"));
    QCOMPARE(field("error_text"), QString::fromUtf8("Ошибок нет."));
    QCOMPARE(field("code"), QString("10"));
    QCOMPARE(field("wtsBit"), QString("1"));
    QCOMPARE(field("data_1"), QString("AB"));
    QCOMPARE(field("extended_count"), QString("2"));
    QCOMPARE(field("extended"), QString("41 42"));
    QCOMPARE(field("value"), QString());

    r.error = ExchangeError::AnswerNotReceived; // the answer columns stay empty
    l.port = "P";
    fields = QString::fromStdString(formatCsv(r, l)).split(',');
    QCOMPARE(fields.size(), header.size());
    QCOMPARE(fields[header.indexOf("code")], QString());
    QCOMPARE(fields[header.indexOf("data_1")], QString());
}

void TestVelkctlCore::timestamp() {
    const QByteArray previous = qgetenv("TZ");
    auto restore = qScopeGuard([&] {
        if (previous.isNull()) {
            qunsetenv("TZ");
        } else {
            qputenv("TZ", previous);
        }
        tzset();
    });
    using namespace std::chrono;
    // 2024-05-01T12:34:56.789Z
    const system_clock::time_point t{milliseconds(1714566896789LL)};
    qputenv("TZ", "UTC");
    tzset();
    QCOMPARE(QString::fromStdString(isoTimestamp(t)), QString("2024-05-01T12:34:56.789+00:00"));
    qputenv("TZ", "XST-05:30"); // east of Greenwich, half-hour offset
    tzset();
    QCOMPARE(QString::fromStdString(isoTimestamp(t)), QString("2024-05-01T18:04:56.789+05:30"));
    qputenv("TZ", "YST3");
    tzset();
    QCOMPARE(QString::fromStdString(isoTimestamp(t + milliseconds(5))),
             QString("2024-05-01T09:34:56.794-03:00"));
}

QTEST_APPLESS_MAIN(TestVelkctlCore)
#include "tst_velkctl_core.moc"
