// The monitor's decoder on captured streams: requests framed by the project's
// packagers, answers shaped by velk-sim's own responder with every fault it
// can inject, with the arrival times its plan gives them.

#include "BlockBytes.h"
#include "BusDecoder.h"
#include "Capture.h"
#include "MonitorCommand.h"
#include "RequestParser.h"
#include "Responder.h"
#include "SimOptions.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>

Q_DECLARE_METATYPE(Bytes)

namespace {

struct Timed {
    Bytes bytes;
    std::vector<std::uint64_t> timesUs; // one per byte
    void add(unsigned char b, std::uint64_t t) {
        bytes.push_back(b);
        timesUs.push_back(t);
    }
};

SimRequest parsedRequest(const Bytes& wire) {
    RequestParser parser(10);
    std::vector<ParseEvent> events;
    parser.feed(wire.data(), wire.size(), 0, events);
    parser.expire(1000000, events);
    for (const ParseEvent& e : events) {
        if (e.kind == ParseEvent::Kind::Request) {
            return e.request;
        }
    }
    return SimRequest();
}

// The request at time 0, then velk-sim's answer by its plan.
Timed exchangeStream(const std::string& scenarioText, const Velk21DataBlockKernel& request,
                     const Bytes& extended, SimAnswer& answer) {
    Timed stream;
    const Bytes wire = frameRequest(Velk21Address(5, 0, 0, 0), request, extended);
    for (unsigned char b : wire) {
        stream.add(b, 0);
    }
    Scenario scenario;
    std::string error;
    if (!parseScenario(scenarioText, scenario, error)) {
        qWarning() << error.c_str();
        return stream;
    }
    Responder responder(scenario, 5);
    if (responder.answer(parsedRequest(wire), answer)) {
        std::uint64_t t = 0;
        for (const SimAnswer::TimedByte& b : answer.plan) {
            t += std::uint64_t(b.delayMs) * 1000;
            stream.add(b.byte, t);
        }
    }
    return stream;
}

std::vector<BusItem> decode(const Timed& stream, bool byteByByte = true) {
    std::vector<BusItem> items;
    BusDecoder decoder([&](const BusItem& item) { items.push_back(item); });
    if (byteByByte) {
        for (std::size_t i = 0; i < stream.bytes.size(); ++i) {
            decoder.feed(&stream.bytes[i], 1, stream.timesUs[i]);
        }
    } else {
        decoder.feed(stream.bytes.data(), stream.bytes.size(), 0);
    }
    decoder.finish();
    return items;
}

QString summary(const BusItem& item) {
    return QString("%1 %2 %3")
        .arg(busDirectionName(item.direction), busKindName(item.kind),
             busVerdictName(item.verdict));
}

QStringList summaries(const std::vector<BusItem>& items) {
    QStringList out;
    for (const BusItem& item : items) {
        out << summary(item);
    }
    return out;
}

Velk21DataBlockKernel request(unsigned char code, bool wts = false, bool ef = false) {
    Velk21DataBlockKernel data(Velk21ParameterId(code, 1), 0x1F, 0, 0x81, wts, 0, 0, ef, 0);
    data.data[0] = 0x12;
    data.data[1] = 0x80;
    data.data[3] = 0xFF;
    return data;
}

} // namespace

class TestBusDecoder : public QObject {
    Q_OBJECT

private slots:
    void simulatorFaults_data();
    void simulatorFaults();
    void extendedBlocksBelongToTheirDataBlock();
    void timesAndGaps();
    void silenceCutsABlock();
    void chunkingDoesNotMatter();
    void strayHeaders_data();
    void strayHeaders();
    void captureRoundTrip();
    void damagedCapture_data();
    void damagedCapture();
    void formats();
};

void TestBusDecoder::simulatorFaults_data() {
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<QStringList>("expected");

    const QStringList request{"request address ok", "request data ok"};
    QTest::newRow("echo") << "echo" << request + QStringList{"answer data ok"};
    QTest::newRow("silent") << "silent" << request;
    QTest::newRow("bad CRC") << "bad-crc" << request + QStringList{"answer data bad CRC"};
    QTest::newRow("garbage") << "garbage"
                             << request + QStringList{"- noise noise", "answer data ok"};
    QTest::newRow("long garbage") // noise comes in pieces of at most 256 bytes
        << "garbage=300"
        << request + QStringList{"- noise noise", "- noise noise", "answer data ok"};
    QTest::newRow("header in the middle")
        << "header-mid" << request + QStringList{"answer data cut short", "answer data ok"};
    QTest::newRow("long answer") << "long=4"
                                 << request + QStringList{"answer data ok", "- noise noise"};
    QTest::newRow("slow but in time") << "slow=20" << request + QStringList{"answer data ok"};
    QTest::newRow("delayed") << "delay=300" << request + QStringList{"answer data ok"};
    QTest::newRow("registers, unknown code")
        << "registers" << request + QStringList{"answer data ok"};
    QTest::newRow("faults combined")
        << "garbage=2,bad-crc,long=1"
        << request + QStringList{"- noise noise", "answer data bad CRC", "- noise noise"};
}

void TestBusDecoder::simulatorFaults() {
    QFETCH(QString, scenario);
    QFETCH(QStringList, expected);
    SimAnswer answer;
    const Timed stream = exchangeStream(scenario.toStdString(), request(0x33), {}, answer);
    const std::vector<BusItem> items = decode(stream);
    QCOMPARE(summaries(items), expected);

    // Whatever came, every byte is shown exactly once, in order.
    Bytes shown;
    for (const BusItem& item : items) {
        shown.insert(shown.end(), item.bytes.begin(), item.bytes.end());
    }
    QCOMPARE(shown, stream.bytes);

    // The blocks that decode give back what was framed.
    QCOMPARE(int(items[0].address.address.address_1), 5);
    Velk21DataBlockKernel sent = request(0x33);
    QVERIFY(items[1].data == sent);
    for (const BusItem& item : items) {
        if (item.kind == BusItem::Kind::Data && item.direction == BusItem::Direction::Answer &&
            item.verdict == BusItem::Verdict::Ok) {
            QVERIFY(item.data == answer.data);
            QCOMPARE(item.bytes, answer.wire);
        }
    }
}

void TestBusDecoder::extendedBlocksBelongToTheirDataBlock() {
    // A request with three extended bytes, echoed back in one extended block,
    // then an answer of 10 extended bytes in two blocks.
    SimAnswer answer;
    // The request announces its three bytes in data_0/data_1, as a master does.
    Velk21DataBlockKernel withBytes = request(0x34, true, true);
    withBytes.data[0] = 3;
    withBytes.data[1] = 0;
    Timed stream = exchangeStream("echo", withBytes, {0x41, 0xC2, 0x43}, answer);
    SimAnswer second;
    const Timed more = exchangeStream("extended=10", request(0x35), {}, second);
    for (std::size_t i = 0; i < more.bytes.size(); ++i) {
        stream.add(more.bytes[i], 1000000 + more.timesUs[i]);
    }
    const std::vector<BusItem> items = decode(stream);
    QCOMPARE(summaries(items),
             QStringList({"request address ok", "request data ok", "request extended ok",
                          "answer data ok", "answer extended ok", "request address ok",
                          "request data ok", "answer data ok", "answer extended ok",
                          "answer extended ok"}));
    QCOMPARE(Bytes(items[2].extended.data, items[2].extended.data + 3), Bytes({0x41, 0xC2, 0x43}));
    QCOMPARE(items[4].extendedIndex, 1u);
    QCOMPARE(items[4].extendedCount, 1u);
    QCOMPARE(items[8].extendedIndex, 1u);
    QCOMPARE(items[9].extendedIndex, 2u);
    QCOMPARE(items[9].extendedCount, 2u);
    QCOMPARE(Bytes(items[9].extended.data, items[9].extended.data + 3), Bytes({0x87, 0x88, 0x89}));
}

void TestBusDecoder::timesAndGaps() {
    SimAnswer answer;
    const Timed stream = exchangeStream("delay=40,slow=3", request(0x33), {}, answer);
    const std::vector<BusItem> items = decode(stream);
    QCOMPARE(items.size(), std::size_t(3));
    QCOMPARE(items[0].timeUs, std::uint64_t(0));
    QCOMPARE(items[1].gapUs, std::uint64_t(0));
    QCOMPARE(items[2].timeUs, std::uint64_t(40000));
    QCOMPARE(items[2].gapUs, std::uint64_t(40000));
    QCOMPARE(items[2].endUs, std::uint64_t(40000 + 11 * 3000));
}

void TestBusDecoder::silenceCutsABlock() {
    // Bytes 200 ms apart: longer than the session waits for the next one.
    SimAnswer answer;
    const Timed stream = exchangeStream("slow=200", request(0x33), {}, answer);
    const QStringList got = summaries(decode(stream));
    QCOMPARE(got.mid(0, 3),
             QStringList({"request address ok", "request data ok", "answer data cut short"}));
    QCOMPARE(got.size(), 3 + 11); // each late byte alone, as noise
    QCOMPARE(got.count("- noise noise"), 11);

    // idle() reports the same without waiting for another byte.
    std::vector<BusItem> items;
    BusDecoder decoder([&](const BusItem& item) { items.push_back(item); }, 1000);
    decoder.feed(stream.bytes.data(), 20, 0);
    decoder.idle(1000);
    QCOMPARE(items.size(), std::size_t(2)); // not yet: the limit is not passed
    decoder.idle(1001);
    QCOMPARE(summaries(items).last(), QString("answer data cut short"));
}

void TestBusDecoder::chunkingDoesNotMatter() {
    SimAnswer answer;
    const Timed stream = exchangeStream("garbage=5,header-mid,long=3", request(0x36), {}, answer);
    const std::vector<BusItem> single = decode(stream, true);
    const std::vector<BusItem> whole = decode(stream, false);
    QCOMPARE(summaries(whole), summaries(single));
    QCOMPARE(whole.size(), single.size());
    for (std::size_t i = 0; i < whole.size(); ++i) {
        QCOMPARE(whole[i].bytes, single[i].bytes);
    }
}

void TestBusDecoder::strayHeaders_data() {
    QTest::addColumn<Bytes>("bytes");
    QTest::addColumn<QStringList>("expected");

    const Bytes data = framed<Velk21DataBlockPacketPackager>(request(0x10));
    Bytes cut(data.begin(), data.begin() + 5);
    QTest::newRow("header of no kind") << Bytes{0xC8, 0x01, 0x02} << QStringList{"- noise noise"};
    QTest::newRow("data block cut by a header of no kind") << [&] {
        Bytes b = cut;
        b.push_back(0xE9);
        return b;
    }() << QStringList{"answer data cut short", "- noise noise"};
    QTest::newRow("address block cut by a data block") << [&] {
        Bytes b{0x80, 0x05};
        b.insert(b.end(), data.begin(), data.end());
        return b;
    }() << QStringList{"request address cut short", "request data ok"};
    QTest::newRow("input ends inside a block") << cut << QStringList{"answer data cut short"};
    QTest::newRow("extended block alone")
        << framed<Velk21ExtendedBlockPacketPackager>(Velk21ExtendedBlockKernel(1, 0, 0))
        << QStringList{"- extended ok"};
}

void TestBusDecoder::strayHeaders() {
    QFETCH(Bytes, bytes);
    QFETCH(QStringList, expected);
    Timed stream;
    for (unsigned char b : bytes) {
        stream.add(b, 0);
    }
    QCOMPARE(summaries(decode(stream)), expected);
}

void TestBusDecoder::captureRoundTrip() {
    QTemporaryDir dir;
    const std::string path = dir.filePath("line.cap").toStdString();
    CaptureWriter writer;
    QVERIFY(writer.open(path, 1700000000123456ull));
    const Bytes first{0x80, 0x05, 0x00};
    const Bytes second(5000, 0x5A);
    QVERIFY(writer.write(7, first.data(), first.size()));
    QVERIFY(writer.write(0x1122334455ull, second.data(), second.size()));
    QVERIFY(writer.close());

    CaptureReader reader;
    std::string error;
    QVERIFY(reader.open(path, error));
    QCOMPARE(reader.startUnixUs(), 1700000000123456ull);
    std::uint64_t t = 0;
    Bytes bytes;
    QVERIFY(reader.next(t, bytes, error));
    QCOMPARE(t, std::uint64_t(7));
    QCOMPARE(bytes, first);
    QVERIFY(reader.next(t, bytes, error));
    QCOMPARE(t, std::uint64_t(0x1122334455ull));
    QCOMPARE(bytes, second);
    QVERIFY(!reader.next(t, bytes, error));
    QVERIFY(error.empty()); // a clean end
}

void TestBusDecoder::damagedCapture_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("opens");
    const QByteArray header = QByteArray("VELKCAP1") + QByteArray(8, '\0');
    QTest::newRow("not a capture") << QByteArray("hello, world, not a capture") << false;
    QTest::newRow("empty") << QByteArray() << false;
    QTest::newRow("record cut short")
        << header + QByteArray("\1\0\0\0\0\0\0\0\5\0\0\0\x80\5", 14) << true;
    QTest::newRow("record head cut short") << header + QByteArray("\1\0\0\0", 4) << true;
    QTest::newRow("absurd length")
        << header + QByteArray("\1\0\0\0\0\0\0\0\xff\xff\xff\x7f", 12) << true;
}

void TestBusDecoder::damagedCapture() {
    QFETCH(QByteArray, content);
    QFETCH(bool, opens);
    QTemporaryDir dir;
    QFile file(dir.filePath("bad.cap"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
    file.close();
    CaptureReader reader;
    std::string error;
    QCOMPARE(reader.open(file.fileName().toStdString(), error), opens);
    if (!opens) {
        QVERIFY(!error.empty());
        return;
    }
    std::uint64_t t = 0;
    Bytes bytes;
    QVERIFY(!reader.next(t, bytes, error));
    QVERIFY(!error.empty());
}

void TestBusDecoder::formats() {
    SimAnswer answer;
    const Timed stream = exchangeStream("echo", request(0x33), {}, answer);
    const std::vector<BusItem> items = decode(stream);
    QCOMPARE(items.size(), std::size_t(3));

    const QString text = QString::fromStdString(formatBusItemText(items[0]));
    QVERIFY2(QRegularExpression(R"(^\s+0 us\s+\+0 us\s+request\s+address\s+ok\s+80 5 0 0 0 63 \| )"
                                R"(address 5,0,0,0, timeBit 0$)")
                 .match(text)
                 .hasMatch(),
             qPrintable(text));
    const QString answerText = QString::fromStdString(formatBusItemText(items[2]));
    QVERIFY2(answerText.contains("answer   data      ok") &&
                 answerText.endsWith("| code 33, index 1, ao 5, ntxt 0, status 81, wtsBit 0, "
                                     "csBit 1, subLBit 0, efBit 0, errBit 0, data 12 80 0 FF"),
             qPrintable(answerText));

    QJsonParseError error;
    const QJsonObject o =
        QJsonDocument::fromJson(QByteArray::fromStdString(formatBusItemJson(items[2])), &error)
            .object();
    QCOMPARE(error.error, QJsonParseError::NoError);
    QCOMPARE(o["type"].toString(), QString("block"));
    QCOMPARE(o["direction"].toString(), QString("answer"));
    QCOMPARE(o["kind"].toString(), QString("data"));
    QCOMPARE(o["verdict"].toString(), QString("ok"));
    QCOMPARE(o["bytes"].toString().split(' ').size(), 12);
    QCOMPARE(o["fields"].toObject()["ao"].toString(), QString("5"));
    QCOMPARE(o["fields"].toObject()["data_1"].toString(), QString("80"));

    BusItem noise;
    noise.bytes = {0x11, 0x22};
    const QJsonObject n =
        QJsonDocument::fromJson(QByteArray::fromStdString(formatBusItemJson(noise))).object();
    QVERIFY(n["direction"].isNull());
    QVERIFY(n["fields"].isNull());
    QCOMPARE(n["kind"].toString(), QString("noise"));
}

QTEST_GUILESS_MAIN(TestBusDecoder)
#include "tst_busdecoder.moc"
