// velk-sim's request parsing and answers, without a terminal: requests are
// framed with the project's packagers, answers decoded with them.

#include "BlockBytes.h"
#include "RequestParser.h"
#include "Responder.h"
#include "SimOptions.h"
#include "Velk21ExtendedBlockPacketPackager.h"

#include <QtTest>

#include <vector>

Q_DECLARE_METATYPE(Bytes)

namespace {

Velk21DataBlockKernel record(unsigned char code, unsigned char index, unsigned char wts = 0,
                             unsigned char ef = 0) {
    Velk21DataBlockKernel data(Velk21ParameterId(code, index), 0, 0, 0x33, wts, 0, 0, ef, 0);
    data.data[0] = 0x01;
    data.data[1] = 0x82;
    data.data[2] = 0x03;
    data.data[3] = 0xF4;
    return data;
}

// The request announces count extended bytes in data_0/data_1, low byte first.
Velk21DataBlockKernel withCount(Velk21DataBlockKernel data, int count) {
    data.data[0] = static_cast<unsigned char>(count & 0xFF);
    data.data[1] = static_cast<unsigned char>((count >> 8) & 0xFF);
    return data;
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

struct Parsed {
    std::vector<SimRequest> requests;
    std::vector<std::string> skipped;
    int starts = 0;
};

Parsed parse(const Bytes& stream, bool expireAtEnd = true) {
    RequestParser parser(10);
    std::vector<ParseEvent> events;
    // One byte at a time, as a slow line delivers them.
    for (size_t i = 0; i < stream.size(); ++i) {
        parser.feed(&stream[i], 1, 1000 + i, events);
    }
    if (expireAtEnd) {
        parser.expire(1000 + stream.size() + 20000, events);
    }
    Parsed parsed;
    for (const ParseEvent& e : events) {
        if (e.kind == ParseEvent::Kind::Request) {
            parsed.requests.push_back(e.request);
        } else if (e.kind == ParseEvent::Kind::Skipped) {
            parsed.skipped.push_back(e.reason);
        } else {
            ++parsed.starts;
        }
    }
    return parsed;
}

// Decodes an answer's wire bytes as the master would.
bool decodeAnswer(const Bytes& wire, Velk21DataBlockKernel& data, Bytes& extended) {
    DataBlock<unsigned char> block;
    for (size_t i = 0; i < 12 && i < wire.size(); ++i) {
        block.append(wire[i]);
    }
    Velk21DataBlockPacketPackager dataPackager;
    unsigned position = 0;
    if (!dataPackager.unpack(block, position, data)) {
        return false;
    }
    extended.clear();
    const unsigned count = data.efBit ? data.data[0] + 256u * data.data[1] : 0;
    Velk21ExtendedBlockPacketPackager extendedPackager;
    for (size_t offset = 12; extended.size() < count; offset += 10) {
        DataBlock<unsigned char> ext;
        for (size_t i = offset; i < offset + 10 && i < wire.size(); ++i) {
            ext.append(wire[i]);
        }
        Velk21ExtendedBlockKernel kernel;
        position = 0;
        if (!extendedPackager.unpack(ext, position, kernel)) {
            return false;
        }
        for (unsigned i = 0; i < 7 && extended.size() < count; ++i) {
            extended.push_back(kernel.data[i]);
        }
    }
    return 12 + 10 * ((count + 6) / 7) == wire.size();
}

bool parseArguments(const QStringList& arguments, SimOptions& options, std::string& error) {
    std::vector<QByteArray> storage{"velk-sim"};
    for (const QString& a : arguments) {
        storage.push_back(a.toUtf8());
    }
    std::vector<char*> argv;
    for (QByteArray& a : storage) {
        argv.push_back(a.data());
    }
    return parseSimOptions(int(argv.size()), argv.data(), options, error);
}

Bytes planBytes(const SimAnswer& answer) {
    Bytes bytes;
    for (const SimAnswer::TimedByte& b : answer.plan) {
        bytes.push_back(b.byte);
    }
    return bytes;
}

} // namespace

class TestSimParser : public QObject {
    Q_OBJECT

private slots:
    void resynchronises_data();
    void resynchronises();
    void extendedBlocksEndWithSilence();
    void extendedBlocksEndAtAnnouncedCount_data();
    void extendedBlocksEndAtAnnouncedCount();
    void extendedRequestCutShort();
    void options_data();
    void options();
    void addressList_data();
    void addressList();
    void severalSlaves();
    void optionRangeMessage_data();
    void optionRangeMessage();
    void echoAnswer();
    void registers();
    void extendedAnswer();
    void faultsShapeTheBytes();
};

void TestSimParser::resynchronises_data() {
    QTest::addColumn<Bytes>("stream");
    QTest::addColumn<int>("requests");
    QTest::addColumn<QStringList>("skipped");

    const Bytes good = frameRequest(Velk21Address(1, 0, 0, 0), record(0x10, 1));
    const Bytes other = frameRequest(Velk21Address(2, 3, 0, 0), record(0x20, 9));
    Bytes badAddressCrc = good;
    badAddressCrc[5] ^= 0x01;
    Bytes badDataCrc = good;
    badDataCrc[17] ^= 0x01;
    const Bytes cutInData(good.begin(), good.begin() + 10);
    const Bytes cutInAddress(good.begin(), good.begin() + 3);
    const Bytes lonelyAddress(good.begin(), good.begin() + 6);

    QTest::newRow("one request") << good << 1 << QStringList{};
    QTest::newRow("two back to back") << concat({good, other}) << 2 << QStringList{};
    QTest::newRow("noise before") << concat({Bytes{0x00, 0x7F, 0x11}, good}) << 1
                                  << QStringList{"noise"};
    QTest::newRow("noise after") << concat({good, Bytes{0x01, 0x02}}) << 1 << QStringList{"noise"};
    QTest::newRow("address block cut by the next request")
        << concat({cutInAddress, good}) << 1 << QStringList{"address block cut short by a header"};
    QTest::newRow("data block cut by the next request")
        << concat({cutInData, good}) << 1 << QStringList{"data block cut short by a header"};
    QTest::newRow("bad address CRC")
        << concat({badAddressCrc, good}) << 1
        << QStringList{"address block with a bad CRC", "block header outside a request", "noise"};
    QTest::newRow("bad data CRC") << concat({badDataCrc, good}) << 1
                                  << QStringList{"data block with a bad CRC"};
    QTest::newRow("address block alone")
        << concat({lonelyAddress, Bytes{0x05}, good}) << 1
        << QStringList{"address block not followed by a data block", "noise"};
    QTest::newRow("stray data block") << concat({Bytes(good.begin() + 6, good.end()), good}) << 1
                                      << QStringList{"block header outside a request", "noise"};
}

void TestSimParser::resynchronises() {
    QFETCH(Bytes, stream);
    QFETCH(int, requests);
    QFETCH(QStringList, skipped);

    const Parsed parsed = parse(stream);
    QCOMPARE(int(parsed.requests.size()), requests);
    QStringList reasons;
    for (const std::string& r : parsed.skipped) {
        reasons << QString::fromStdString(r);
    }
    QCOMPARE(reasons, skipped);
    // The request that survives is the last good one, decoded in full.
    const SimRequest& last = parsed.requests.back();
    QCOMPARE(last.data.data[1], (unsigned char)0x82);
    QCOMPARE(last.data.data[3], (unsigned char)0xF4);
    QCOMPARE(last.wire.size(), size_t(18));
}

void TestSimParser::extendedBlocksEndWithSilence() {
    const Bytes eight = {0, 1, 2, 3, 4, 5, 6, 0x87};
    // data_0/data_1 announce no count: only silence can end the request.
    const Bytes stream =
        frameRequest(Velk21Address(1, 0, 0, 0), withCount(record(0x10, 1, 1, 1), 0), eight);
    QCOMPARE(stream.size(), size_t(38));

    RequestParser parser(10);
    std::vector<ParseEvent> events;
    parser.feed(stream.data(), stream.size(), 5000, events);
    // Not yet: more blocks may follow until the line has been idle 10 ms.
    QCOMPARE(events.size(), size_t(1));
    QCOMPARE(events[0].kind, ParseEvent::Kind::RequestStart);
    std::uint64_t due = 0;
    QVERIFY(parser.deadline(due));
    QCOMPARE(due, std::uint64_t(15000));
    parser.expire(14999, events);
    QCOMPARE(events.size(), size_t(1));
    parser.expire(15000, events);
    QCOMPARE(events.size(), size_t(2));
    QCOMPARE(events[1].kind, ParseEvent::Kind::Request);
    const SimRequest& r = events[1].request;
    QCOMPARE(r.extended.size(), size_t(14));
    QCOMPARE(Bytes(r.extended.begin(), r.extended.begin() + 8), eight);
    QVERIFY(!parser.deadline(due));

    // A new request ends the wait at once.
    events.clear();
    const Bytes next = frameRequest(Velk21Address(1, 0, 0, 0), record(0x10, 2));
    parser.feed(stream.data(), stream.size(), 20000, events);
    parser.feed(next.data(), next.size(), 20001, events);
    QCOMPARE(events.size(), size_t(4));
    QCOMPARE(events[1].kind, ParseEvent::Kind::Request);
    QCOMPARE(events[1].request.extended.size(), size_t(14));
    QCOMPARE(events[3].kind, ParseEvent::Kind::Request);
    QCOMPARE(events[3].request.data.id.index, (unsigned char)2);
}

void TestSimParser::extendedBlocksEndAtAnnouncedCount_data() {
    QTest::addColumn<int>("count");
    QTest::newRow("one byte") << 1;
    QTest::newRow("one full block") << 7;
    QTest::newRow("two blocks, one byte in the last") << 8;
    QTest::newRow("three blocks") << 20;
    QTest::newRow("largest count") << 65535;
}

void TestSimParser::extendedBlocksEndAtAnnouncedCount() {
    QFETCH(int, count);
    Bytes bytes(static_cast<size_t>(count));
    for (size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<unsigned char>(i * 3);
    }
    const Bytes stream =
        frameRequest(Velk21Address(1, 0, 0, 0), withCount(record(0x10, 1, 1, 1), count), bytes);
    const size_t blocks = (bytes.size() + 6) / 7;

    // A master that pauses 30 ms (three times the idle limit) before each block.
    RequestParser parser(10);
    std::vector<ParseEvent> events;
    std::uint64_t now = 1000;
    parser.feed(stream.data(), 18, now, events);
    for (size_t b = 0; b < blocks; ++b) {
        std::uint64_t due = 0;
        QVERIFY(!parser.deadline(due));
        now += 30000;
        parser.expire(now, events);
        QCOMPARE(events.size(), size_t(1)); // only the RequestStart so far
        parser.feed(&stream[18 + 10 * b], 10, now, events);
    }
    QCOMPARE(events.size(), size_t(2));
    QCOMPARE(events[1].kind, ParseEvent::Kind::Request);
    const SimRequest& r = events[1].request;
    QCOMPARE(r.extended.size(), blocks * 7);
    QCOMPARE(Bytes(r.extended.begin(), r.extended.begin() + count), bytes);
    QCOMPARE(r.wire, stream);
}

void TestSimParser::extendedRequestCutShort() {
    const Bytes bytes = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    const Bytes stream =
        frameRequest(Velk21Address(1, 0, 0, 0), withCount(record(0x10, 1, 1, 1), 9), bytes);
    const Bytes next = frameRequest(Velk21Address(1, 0, 0, 0), record(0x10, 2));
    // The second block never comes; the next request begins instead.
    const Parsed parsed = parse(concat({Bytes(stream.begin(), stream.end() - 10), next}));
    QCOMPARE(parsed.starts, 2);
    QCOMPARE(parsed.skipped.size(), size_t(1));
    QCOMPARE(parsed.requests.size(), size_t(1));
    QCOMPARE(parsed.requests[0].data.id.index, (unsigned char)2);
}

void TestSimParser::options_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("valid");

    QTest::newRow("com") << QStringList{"--com", "3"} << true;
    QTest::newRow("com=") << QStringList{"--com=254"} << true;
    QTest::newRow("device") << QStringList{"--device", "/dev/ttyX", "--baud", "9600"} << true;
    QTest::newRow("combined scenario")
        << QStringList{"--com", "1", "--scenario", "registers,garbage=2,slow=3", "--json"} << true;
    QTest::newRow("no port") << QStringList{"--json"} << false;
    QTest::newRow("com 0") << QStringList{"--com", "0"} << false;
    QTest::newRow("com 255") << QStringList{"--com", "255"} << false;
    QTest::newRow("com text") << QStringList{"--com", "x1"} << false;
    QTest::newRow("com negative") << QStringList{"--com", "-1"} << false;
    QTest::newRow("both ports") << QStringList{"--com", "1", "--device", "/dev/x"} << false;
    QTest::newRow("relative device") << QStringList{"--device", "ttyS0"} << false;
    QTest::newRow("baud 0") << QStringList{"--com", "1", "--baud", "0"} << false;
    QTest::newRow("missing value") << QStringList{"--com"} << false;
    QTest::newRow("unknown option") << QStringList{"--com", "1", "--fast"} << false;
    QTest::newRow("unknown scenario") << QStringList{"--com", "1", "--scenario", "nap"} << false;
    QTest::newRow("scenario value missing")
        << QStringList{"--com", "1", "--scenario", "delay"} << false;
    QTest::newRow("scenario value not wanted")
        << QStringList{"--com", "1", "--scenario", "echo=1"} << false;
    QTest::newRow("empty scenario item")
        << QStringList{"--com", "1", "--scenario", "echo,,silent"} << false;
    QTest::newRow("extended too large")
        << QStringList{"--com", "1", "--scenario", "extended=65536"} << false;
    QTest::newRow("address too large") << QStringList{"--com", "1", "--address", "128"} << false;
    QTest::newRow("address list") << QStringList{"--com", "1", "--address", "3,5,9"} << true;
    QTest::newRow("address range") << QStringList{"--com", "1", "--address", "1-31"} << true;
    QTest::newRow("flag with value") << QStringList{"--com", "1", "--json=1"} << false;
}

void TestSimParser::options() {
    QFETCH(QStringList, arguments);
    QFETCH(bool, valid);

    SimOptions options;
    std::string error;
    const bool ok = parseArguments(arguments, options, error);
    QCOMPARE(ok, valid);
    QCOMPARE(error.empty(), valid);
    if (!valid) {
        QVERIFY(error.find('\n') == std::string::npos);
    }
}

void TestSimParser::addressList_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QList<int>>("expected"); // empty: refused

    // Hexadecimal, as every address of velkctl and the dialog.
    QTest::newRow("one") << "5" << QList<int>{5};
    QTest::newRow("list") << "3,5,9" << QList<int>{3, 5, 9};
    QTest::newRow("hexadecimal") << "10,1f,0x7F" << QList<int>{0x10, 0x1F, 0x7F};
    QTest::newRow("range") << "9-C" << QList<int>{9, 10, 11, 12};
    QTest::newRow("mix without repeats") << "9,3-5,4" << QList<int>{9, 3, 4, 5};
    QTest::newRow("whole range") << "0-7F" << QList<int>();
    QTest::newRow("reversed range") << "7-4" << QList<int>();
    QTest::newRow("open range") << "4-" << QList<int>();
    QTest::newRow("empty item") << "3,,5" << QList<int>();
    QTest::newRow("too large") << "5,80" << QList<int>();
    QTest::newRow("range too large") << "70-90" << QList<int>();
    QTest::newRow("not a number") << "5,G" << QList<int>();
}

void TestSimParser::addressList() {
    QFETCH(QString, text);
    QFETCH(QList<int>, expected);
    std::vector<int> addresses{42};
    std::string error;
    const bool ok = parseAddressList(text.toStdString(), addresses, error);
    if (QByteArray(QTest::currentDataTag()) == "whole range") {
        QVERIFY(ok);
        QCOMPARE(addresses.size(), std::size_t(128));
        QCOMPARE(addresses.back(), 127);
        return;
    }
    QCOMPARE(ok, !expected.isEmpty());
    if (ok) {
        QCOMPARE(QList<int>(addresses.begin(), addresses.end()), expected);
    } else {
        QVERIFY(!error.empty());
        QCOMPARE(addresses, std::vector<int>{42}); // untouched
    }
}

void TestSimParser::severalSlaves() {
    // Each listed address answers in its own name; the others stay silent.
    Responder responder(Scenario(), std::vector<int>{3, 5, 9});
    for (int a = 1; a < 12; ++a) {
        const Parsed parsed = parse(frameRequest(Velk21Address(a, 0, 0, 0), record(0x10, 1, 0, 0)));
        QCOMPARE(parsed.requests.size(), size_t(1));
        const bool ours = a == 3 || a == 5 || a == 9;
        QCOMPARE(responder.addressed(parsed.requests[0]), ours);
        if (ours) {
            SimAnswer answer;
            QVERIFY(responder.answer(parsed.requests[0], answer));
            QCOMPARE(int(answer.data.ao), a);
        }
    }
}

void TestSimParser::optionRangeMessage_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("range");
    // The message names the range the option really takes.
    QTest::newRow("com above") << QStringList{"--com", "255"} << "invalid --com '255': 1..254";
    QTest::newRow("com zero") << QStringList{"--com", "0"} << "invalid --com '0': 1..254";
    QTest::newRow("idle above") << QStringList{"--com", "1", "--idle", "10001"}
                                << "invalid --idle '10001': 1..10000";
    QTest::newRow("baud above") << QStringList{"--com", "1", "--baud", "4000001"}
                                << "invalid --baud '4000001': 1..4000000";
    QTest::newRow("address above 7F")
        << QStringList{"--com", "1", "--address", "80"} << "invalid --address '80': 0..7F";
}

void TestSimParser::optionRangeMessage() {
    QFETCH(QStringList, arguments);
    QFETCH(QString, range);
    SimOptions options;
    std::string error;
    QVERIFY(!parseArguments(arguments, options, error));
    // "invalid --name 'value': ... FROM..TO" as velkctl words it.
    const QStringList parts = range.split(": ");
    QVERIFY2(QString::fromStdString(error).startsWith(parts[0] + ": "), error.c_str());
    QVERIFY2(QString::fromStdString(error).contains(parts[1]), error.c_str());
}

void TestSimParser::echoAnswer() {
    Responder responder(Scenario(), -1);
    const Parsed parsed = parse(frameRequest(Velk21Address(7, 2, 0, 0), record(0x10, 5, 1, 0)));
    QCOMPARE(parsed.requests.size(), size_t(1));
    SimAnswer answer;
    QVERIFY(responder.addressed(parsed.requests[0]));
    QVERIFY(responder.answer(parsed.requests[0], answer));
    Velk21DataBlockKernel data;
    Bytes extended;
    QVERIFY(decodeAnswer(planBytes(answer), data, extended));
    Velk21DataBlockKernel expected = record(0x10, 5, 1, 0);
    expected.ao = 7;
    expected.csBit = 1;
    QVERIFY(data == expected);

    Responder onlyFive(Scenario(), 5);
    QVERIFY(!onlyFive.addressed(parsed.requests[0]));
}

void TestSimParser::registers() {
    Scenario scenario;
    scenario.mode = Scenario::Mode::Registers;
    Responder responder(scenario, 9);
    auto exchange = [&](const Velk21DataBlockKernel& request, const Bytes& extendedOut,
                        Velk21DataBlockKernel& data, Bytes& extendedIn) {
        const Parsed parsed = parse(frameRequest(Velk21Address(9, 0, 0, 0), request, extendedOut));
        SimAnswer answer;
        return parsed.requests.size() == 1 && responder.answer(parsed.requests[0], answer) &&
               decodeAnswer(planBytes(answer), data, extendedIn);
    };
    Velk21DataBlockKernel data;
    Bytes extended;

    Velk21DataBlockKernel read = record(0x10, 1);
    QVERIFY(exchange(read, {}, data, extended));
    QCOMPARE(Bytes(data.data, data.data + 4), Bytes({0, 0, 0, 0}));
    QVERIFY(exchange(record(0x10, 1, 1), {}, data, extended)); // write 01 82 03 F4
    QVERIFY(exchange(read, {}, data, extended));
    QCOMPARE(Bytes(data.data, data.data + 4), Bytes({0x01, 0x82, 0x03, 0xF4}));
    QCOMPARE(data.errBit, (unsigned char)0);
    QCOMPARE(data.ao, (unsigned char)9);

    // Byte strings: data_0/data_1 of the write say how many of the bytes count.
    Velk21DataBlockKernel writeBytes = record(0x11, 1, 1, 1);
    writeBytes.data[0] = 3;
    writeBytes.data[1] = 0;
    QVERIFY(exchange(writeBytes, {0xAA, 0xBB, 0xCC, 0xDD}, data, extended));
    QCOMPARE(data.data[0], (unsigned char)3);
    QVERIFY(extended.empty());
    QVERIFY(exchange(record(0x11, 1), {}, data, extended));
    QCOMPARE(data.efBit, (unsigned char)1);
    QCOMPARE(extended, Bytes({0xAA, 0xBB, 0xCC}));

    QVERIFY(exchange(record(0x7E, 1), {}, data, extended));
    QCOMPARE(data.errBit, (unsigned char)1);
    QCOMPARE(data.csBit, (unsigned char)1);
    QCOMPARE(data.ntxt, (unsigned char)1);
}

void TestSimParser::extendedAnswer() {
    Scenario scenario;
    scenario.mode = Scenario::Mode::Extended;
    scenario.extendedCount = 300;
    Responder responder(scenario, -1);
    const Parsed parsed = parse(frameRequest(Velk21Address(1, 0, 0, 0), record(0x10, 5)));
    SimAnswer answer;
    QVERIFY(responder.answer(parsed.requests[0], answer));
    QCOMPARE(answer.plan.size(), size_t(12 + 43 * 10));
    Velk21DataBlockKernel data;
    Bytes extended;
    QVERIFY(decodeAnswer(planBytes(answer), data, extended));
    QCOMPARE(extended.size(), size_t(300));
    QCOMPARE(extended[0], (unsigned char)0x80);
    QCOMPARE(extended[299], (unsigned char)((0x80 + 299) & 0xFF));
}

void TestSimParser::faultsShapeTheBytes() {
    const Parsed parsed = parse(frameRequest(Velk21Address(1, 0, 0, 0), record(0x10, 5)));
    SimAnswer clean;
    Responder(Scenario(), -1).answer(parsed.requests[0], clean);
    QCOMPARE(planBytes(clean), clean.wire);

    Scenario faults;
    faults.garbage = 2;
    faults.headerMid = true;
    faults.extraBytes = 3;
    faults.delayMs = 40;
    faults.gapMs = 2;
    SimAnswer answer;
    QVERIFY(Responder(faults, -1).answer(parsed.requests[0], answer));
    const Bytes half(clean.wire.begin(), clean.wire.begin() + 6);
    const Bytes expected = concat({Bytes{0x11, 0x22}, half, clean.wire, Bytes{0x5A, 0x5A, 0x5A}});
    QCOMPARE(planBytes(answer), expected);
    QCOMPARE(answer.plan.front().delayMs, 40u);
    QCOMPARE(answer.plan.back().delayMs, 2u);

    Scenario badCrc;
    badCrc.badCrc = true;
    QVERIFY(Responder(badCrc, -1).answer(parsed.requests[0], answer));
    Velk21DataBlockKernel data;
    Bytes extended;
    QVERIFY(!decodeAnswer(planBytes(answer), data, extended));
    QCOMPARE(planBytes(answer).size(), size_t(12));

    Scenario silent;
    silent.silent = true;
    QVERIFY(!Responder(silent, -1).answer(parsed.requests[0], answer));
}

QTEST_GUILESS_MAIN(TestSimParser)
#include "tst_simparser.moc"
