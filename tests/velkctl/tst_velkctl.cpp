// velkctl end to end: the program runs as a child against velk-sim on a
// pseudo-terminal, found through the COMn link the simulator makes in the
// test's own ports folder.

#include "Pty.h"
#include "SimChild.h"
#include "VelkctlChild.h"

#include <QDir>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <memory>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

// Sends the signal; the exit code once the program has ended by itself
// (generous against a loaded machine: a stop only between exchanges would
// wait for hours), -1 when it did not.
int stopWith(QProcess& p, int signal) {
    QElapsedTimer clock;
    clock.start();
    ::kill(pid_t(p.processId()), signal);
    if (!p.waitForFinished(5000) || p.exitStatus() != QProcess::NormalExit) {
        return -1;
    }
    qInfo("ended %lld ms after the signal", clock.elapsed());
    return p.exitCode();
}

} // namespace

class TestVelkctl : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void scenario_data();
    void scenario();
    void registersWriteThenRead();
    void cyclicRunSummary();
    void cyclicRunErrorsAndQuiet();
    void interruptEndsCyclicRun();
    void stopSignalEndsARunningExchange_data();
    void stopSignalEndsARunningExchange();
    void stopSignalEndsMonitorAndReplay_data();
    void stopSignalEndsMonitorAndReplay();
    void usageError_data();
    void usageError();
    void portCannotOpen_data();
    void portCannotOpen();
    void busyPortSaysSo();
    void deviceLostAndBack_data();
    void deviceLostAndBack();
    void lostTerminalPathEndsRun();
};

void TestVelkctl::initTestCase() {
    QVERIFY2(!qEnvironmentVariable("XDG_CONFIG_HOME").isEmpty(), "run through CTest");
    QVERIFY(QFile::exists(binary("tools/velkctl/velkctl")));
    QVERIFY(QFile::exists(binary("tools/velk-sim/velk-sim")));
}

void TestVelkctl::scenario_data() {
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<bool>("answered");
    QTest::addColumn<QString>("extended");
    QTest::addColumn<QString>("errorText");

    QTest::newRow("echo") << "echo"
                          << QStringList{"--code", "3", "--index", "0x1", "--data", "1,2,7F,80"}
                          << 0 << true << "" << QString::fromUtf8("Ошибок нет.");
    QTest::newRow("extended answer")
        << "extended=10" << QStringList{"--code", "3"} << 0 << true
        << "80 81 82 83 84 85 86 87 88 89" << QString::fromUtf8("Ошибок нет.");
    QTest::newRow("extended request echoed")
        << "echo" << QStringList{"--code", "3", "--ef", "--wts", "--ext", "41,42,0x43"} << 0 << true
        << "41 42 43" << QString::fromUtf8("Ошибок нет.");
    QTest::newRow("silent") << "silent" << QStringList{"--code", "3", "--timeout", "30"} << 5
                            << false << ""
                            << QString::fromUtf8("Ошибка приёма блока данных (тайм-аут).");
    QTest::newRow("bad CRC") << "bad-crc" << QStringList{"--code", "3"} << 6 << false << ""
                             << QString::fromUtf8("Ошибка распаковки принятого блока данных.");
}

void TestVelkctl::scenario() {
    QFETCH(QString, scenario);
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(bool, answered);
    QFETCH(QString, extended);
    QFETCH(QString, errorText);

    SimChild sim;
    QString error;
    QVERIFY2(sim.start(201, {"--scenario", scenario, "--quiet"}, &error), qPrintable(error));
    const Run run = velkctl(QStringList{"--port", sim.name, "--address", "5", "--json"} + args);
    QVERIFY2(run.err.isEmpty(), qPrintable(run.err));
    QCOMPARE(run.exitCode, exitCode);
    QCOMPARE(run.lines().size(), 1);
    const QJsonObject o = json(run.lines().first());
    QCOMPARE(o["type"].toString(), QString("exchange"));
    QCOMPARE(o["seq"].toInt(), 1);
    QCOMPARE(o["port"].toString(), sim.name);
    QCOMPARE(o["error_code"].toInt(), exitCode);
    QCOMPARE(o["error_text"].toString(), errorText);
    QVERIFY(QRegularExpression(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d$)")
                .match(o["time"].toString())
                .hasMatch());
    QVERIFY(o["response_ms"].toDouble() > 0);
    // The packets: 6-byte address block starting with its header, 12-byte data block.
    const QStringList txAddress = o["tx_address"].toString().split(' ');
    QCOMPARE(txAddress.size(), 6);
    QCOMPARE(txAddress[1], QString("5"));
    QCOMPARE(byteCount(o["tx_data"].toString()), 12);
    QCOMPARE(o["tx_data"].toString().split(' ')[1], QString("1F")); // default ao
    // Bad CRC: the broken block is still shown as received.
    QCOMPARE(byteCount(o["rx_data"].toString()), exitCode == 5 ? 0 : 12);
    QCOMPARE(o["extended"].toString(), extended);
    QCOMPARE(o["extended_count"].toInt(), byteCount(extended));
    QCOMPARE(o["answer"].isObject(), answered);
    if (!answered) {
        return;
    }
    const QJsonObject a = o["answer"].toObject();
    QCOMPARE(a["ao"].toString(), QString("5")); // the slave names itself
    QCOMPARE(a["code"].toString(), QString("3"));
    QCOMPARE(a["csBit"].toInt(), 1);
    QCOMPARE(a["errBit"].toInt(), 0);
    QCOMPARE(a["efBit"].toInt(), extended.isEmpty() ? 0 : 1);
    if (extended.isEmpty()) {
        QCOMPARE(a["index"].toString(), QString("1"));
        QCOMPARE(a["data_2"].toString(), QString("7F"));
        QCOMPARE(a["data_3"].toString(), QString("80"));
    } else {
        QCOMPARE(a["data_0"].toString(), QString::number(byteCount(extended), 16).toUpper());
        QCOMPARE(a["data_1"].toString(), QString("0"));
    }
}

void TestVelkctl::registersWriteThenRead() {
    SimChild sim;
    QString error;
    QVERIFY2(sim.start(202, {"--scenario", "registers", "--quiet"}, &error), qPrintable(error));
    const QStringList common{"--port", sim.name, "--address", "5", "--code", "10", "--index", "2"};

    const Run write =
        velkctl(common + QStringList{"--wts", "--value", "-0.25", "--type", "REAL32FIX"});
    QCOMPARE(write.exitCode, 0);
    QVERIFY2(write.out.contains("Tx data:") && write.out.contains(QString::fromUtf8("Ошибок нет.")),
             qPrintable(write.out));

    const Run read = velkctl(common + QStringList{"--csv", "--rx-type", "REAL32FIX"});
    QCOMPARE(read.exitCode, 0);
    const QStringList lines = read.lines();
    QCOMPARE(lines.size(), 2);
    const QStringList header = lines[0].split(',');
    const QStringList row = lines[1].split(',');
    QCOMPARE(row.size(), header.size());
    auto field = [&](const char* name) {
        const int i = int(header.indexOf(name));
        return i < 0 ? QString("<no column %1>").arg(name) : row[i];
    };
    QCOMPARE(field("seq"), QString("1"));
    QCOMPARE(field("port"), sim.name);
    QCOMPARE(field("error_code"), QString("0"));
    QCOMPARE(field("code"), QString("10"));
    QCOMPARE(field("index"), QString("2"));
    QCOMPARE(field("wtsBit"), QString("0"));
    QCOMPARE(field("csBit"), QString("1"));
    QCOMPARE(field("data_0"), QString("E7"));
    QCOMPARE(field("data_1"), QString("FF"));
    QCOMPARE(field("data_2"), QString("FF"));
    QCOMPARE(field("data_3"), QString("2"));
    QCOMPARE(field("value_type"), QString("REAL32FIX"));
    QCOMPARE(field("value"), QString("-0.25"));
    QCOMPARE(byteCount(field("rx_data")), 12);
}

void TestVelkctl::cyclicRunSummary() {
    SimChild sim;
    QString error;
    QVERIFY2(sim.start(203, {"--scenario", "echo", "--quiet"}, &error), qPrintable(error));
    const Run run =
        velkctl({"--port", sim.name, "--address", "5", "--cycle", "5", "--count", "4", "--json"});
    QCOMPARE(run.exitCode, 0);
    const QStringList lines = run.lines();
    QCOMPARE(lines.size(), 5);
    for (int i = 0; i < 4; ++i) {
        const QJsonObject o = json(lines[i]);
        QCOMPARE(o["type"].toString(), QString("exchange"));
        QCOMPARE(o["seq"].toInt(), i + 1);
        QCOMPARE(o["error_code"].toInt(), 0);
    }
    const QJsonObject s = json(lines[4]);
    QCOMPARE(s["type"].toString(), QString("summary"));
    QCOMPARE(s["requests"].toInt(), 4);
    QCOMPARE(s["answers_ok"].toInt(), 4);
    QCOMPARE(s["errors"].toInt(), 0);
    QVERIFY(s["errors_by_code"].toObject().isEmpty());
    const QJsonObject t = s["response_ms"].toObject();
    QVERIFY(t["min"].toDouble() > 0);
    QVERIFY(t["min"].toDouble() <= t["median"].toDouble());
    QVERIFY(t["median"].toDouble() <= t["p99"].toDouble());
    QVERIFY(t["p99"].toDouble() <= t["max"].toDouble());
}

void TestVelkctl::cyclicRunErrorsAndQuiet() {
    SimChild sim;
    QString error;
    QVERIFY2(sim.start(204, {"--scenario", "silent", "--quiet"}, &error), qPrintable(error));
    const Run run = velkctl({"--port", sim.name, "--address", "5", "--cycle", "1", "--count", "3",
                             "--timeout", "20", "--quiet"});
    QCOMPARE(run.exitCode, 5);
    QVERIFY2(run.out.startsWith("Summary: 3 requests, 0 answers OK, 3 errors\n"),
             qPrintable(run.out));
    QVERIFY(
        run.out.contains(QString::fromUtf8("code 5: 3 (Ошибка приёма блока данных (тайм-аут).)")));
    QVERIFY(!run.out.contains("#1")); // nothing per exchange
}

void TestVelkctl::interruptEndsCyclicRun() {
    SimChild sim;
    QString error;
    QVERIFY2(sim.start(205, {"--scenario", "echo", "--quiet"}, &error), qPrintable(error));
    QProcess p;
    p.start(binary("tools/velkctl/velkctl"),
            {"--port", sim.name, "--address", "5", "--cycle", "20", "--json"});
    QByteArray out;
    // Let a few exchanges pass, then interrupt as Ctrl-C would.
    while (out.count('\n') < 3 && p.waitForReadyRead(10000)) {
        out += p.readAllStandardOutput();
    }
    QVERIFY2(out.count('\n') >= 3, out.constData());
    ::kill(pid_t(p.processId()), SIGINT);
    QVERIFY(p.waitForFinished(10000));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), 130);
    out += p.readAllStandardOutput();
    const QStringList lines = QString::fromUtf8(out).split('\n', Qt::SkipEmptyParts);
    const QJsonObject s = json(lines.last());
    QCOMPARE(s["type"].toString(), QString("summary"));
    // Every exchange that was not cut short was counted.
    QCOMPARE(s["requests"].toInt(), int(lines.size()) - 1);
    QCOMPARE(s["answers_ok"].toInt(), int(lines.size()) - 1);
    QCOMPARE(json(lines[lines.size() - 2])["seq"].toInt(), int(lines.size()) - 1);
}

// Every mode that exchanges: the signal comes while an answer trickles for
// hours; the cut exchange is not reported, the summary is, with 128 + the
// signal as the status.
void TestVelkctl::stopSignalEndsARunningExchange_data() {
    QTest::addColumn<int>("com");
    QTest::addColumn<int>("signal");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("args"); // after the port
    QTest::addColumn<QString>("summary");  // its type
    const QStringList single{"--address", "5", "--json", "--timeout", "2000"};
    QTest::newRow("SIGINT, one exchange") << 207 << int(SIGINT) << 130 << single << "summary";
    QTest::newRow("SIGTERM, cyclic run")
        << 208 << int(SIGTERM) << 143 << single + QStringList{"--cycle", "10"} << "summary";
    const QStringList scan{"--from", "5", "--to", "6", "--timeout", "2000", "--json"};
    QTest::newRow("SIGINT, scan") << 217 << int(SIGINT) << 130 << scan << "scan_summary";
    QTest::newRow("SIGTERM, scan, retries left")
        << 218 << int(SIGTERM) << 143 << scan + QStringList{"--retries", "3"} << "scan_summary";
    QTest::newRow("SIGINT, plan") << 219 << int(SIGINT) << 130 << QStringList{"--json"}
                                  << "plan_summary";
    QTest::newRow("SIGTERM, plan")
        << 220 << int(SIGTERM) << 143 << QStringList{"--json"} << "plan_summary";
}

void TestVelkctl::stopSignalEndsARunningExchange() {
    QFETCH(int, com);
    QFETCH(int, signal);
    QFETCH(int, exitCode);
    QFETCH(QStringList, args);
    QFETCH(QString, summary);
    // An answer that would trickle for hours; the long byte time-out keeps a
    // loaded machine from ending it.
    SimChild sim;
    QString error;
    QVERIFY2(sim.start(com, {"--scenario", "extended=65535,slow=100"}, &error), qPrintable(error));
    QTemporaryDir dir;
    const QString plan = dir.filePath("plan.json");
    QStringList command = QStringList{"--port", sim.name} + args;
    if (summary == "scan_summary") {
        command.prepend("scan");
    } else if (summary == "plan_summary") {
        QFile file(plan);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(R"({"timeout": 2000, "steps": [{"name": "endless", "request": {"address": "5"}},
                                                  {"name": "never", "request": {"address": "6"}}]})");
        file.close();
        command = QStringList{"run", plan} + command;
    }
    QProcess p;
    p.start(binary("tools/velkctl/velkctl"), command);
    QTRY_VERIFY_WITH_TIMEOUT(sim.loggedLines("ANS") >= 1, 10000);
    QTest::qWait(300); // well into the answer
    QVERIFY2(p.state() == QProcess::Running,
             (p.readAllStandardError() + p.readAllStandardOutput().left(300)).constData());

    QCOMPARE(stopWith(p, signal), exitCode);
    QCOMPARE(sim.loggedLines("REQ"), 1); // nothing sent after the signal
    const QStringList lines =
        QString::fromUtf8(p.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    QVERIFY(!lines.isEmpty());
    const QJsonObject s = json(lines.last());
    QCOMPARE(s["type"].toString(), summary);
    if (summary == "summary") {
        QCOMPARE(lines.size(), 1); // the cut exchange is not reported as the line's fault
        QCOMPARE(s["requests"].toInt(), 0);
    } else if (summary == "scan_summary") {
        QCOMPARE(lines.size(), 1);
        QCOMPARE(s["addresses"].toInt(), 0);
    } else {
        // Both steps listed, neither run: the first was cut before its answer.
        QCOMPARE(lines.size(), 3);
        QCOMPARE(json(lines[0])["result"].toString(), QString("not run"));
        QCOMPARE(json(lines[1])["result"].toString(), QString("not run"));
        QCOMPARE(s["not_run"].toInt(), 2);
    }
}

// The modes without exchanges: watching a quiet line, and decoding a long
// capture; either ends with its summary and 128 + the signal.
void TestVelkctl::stopSignalEndsMonitorAndReplay_data() {
    QTest::addColumn<int>("signal");
    QTest::addColumn<bool>("replay");
    QTest::newRow("SIGINT, monitor") << int(SIGINT) << false;
    QTest::newRow("SIGTERM, monitor") << int(SIGTERM) << false;
    QTest::newRow("SIGINT, replay") << int(SIGINT) << true;
    QTest::newRow("SIGTERM, replay") << int(SIGTERM) << true;
}

void TestVelkctl::stopSignalEndsMonitorAndReplay() {
    QFETCH(int, signal);
    QFETCH(bool, replay);
    Pty line;
    QVERIFY(line.ok());
    QTemporaryDir dir;
    const QString capture = dir.filePath("long.cap");
    const int records = 3000000;
    if (replay) {
        // One header byte a record, each cutting the block before it short:
        // far more than a replay gets through in the moment before the signal.
        QFile file(capture);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QByteArray bytes("VELKCAP1", 8);
        bytes.append(8, '\0');
        QByteArray record(13, '\0');
        record[8] = 1;
        record[12] = char(0xC0);
        bytes.reserve(bytes.size() + record.size() * records);
        for (int i = 0; i < records; ++i) {
            record[0] = char(i & 0xFF);
            record[1] = char((i >> 8) & 0xFF);
            record[2] = char((i >> 16) & 0xFF);
            bytes += record;
        }
        QCOMPARE(file.write(bytes), qint64(bytes.size()));
    }
    QProcess p;
    p.start(binary("tools/velkctl/velkctl"),
            replay ? QStringList{"monitor", "--replay", capture, "--json", "--quiet"}
                   : QStringList{"monitor", "--port", QString::fromStdString(line.path), "--json"});
    QVERIFY(p.waitForStarted());
    QTest::qWait(replay ? 30 : 200);
    if (p.state() != QProcess::Running) {
        QSKIP("the replay ended before the signal could come");
    }
    QCOMPARE(stopWith(p, signal), 128 + signal);
    const QStringList lines =
        QString::fromUtf8(p.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    QVERIFY(!lines.isEmpty());
    const QJsonObject s = json(lines.last());
    QCOMPARE(s["type"].toString(), QString("monitor_summary"));
    if (replay) {
        QVERIFY(s["blocks"].toInt() < records); // stopped on the way
    }
}

void TestVelkctl::usageError_data() {
    QTest::addColumn<QStringList>("args");
    QTest::newRow("no options") << QStringList{};
    QTest::newRow("unknown option") << QStringList{"--port", "COM1", "--address", "1", "--nope"};
    QTest::newRow("byte above FF")
        << QStringList{"--port", "COM1", "--address", "1", "--code", "1FF"};
    QTest::newRow("address above 7F") << QStringList{"--port", "COM1", "--address", "0x80"};
    QTest::newRow("missing argument") << QStringList{"--address", "1", "--port"};
}

void TestVelkctl::usageError() {
    QFETCH(QStringList, args);
    const Run run = velkctl(args);
    QCOMPARE(run.exitCode, 64);
    QVERIFY(run.out.isEmpty());
    const QStringList lines = run.err.split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 2);
    QVERIFY2(lines[0].startsWith("velkctl: "), qPrintable(lines[0]));
    QCOMPARE(lines[1], QString("Try 'velkctl --help'."));
}

void TestVelkctl::portCannotOpen_data() {
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("why");
    QTest::newRow("no link, no device") << "COM250"
                                        << "COM250"
                                        << "no such port";
    const QString missing = QDir::temp().filePath("velkctl-no-such-tty");
    QTest::newRow("missing device path") << missing << missing << "no such device";
    QTest::newRow("not a terminal") << "/dev/null"
                                    << "/dev/null"
                                    << "not a terminal";
    // A name with a line break must not break the one-line message.
    QTest::newRow("line break in the name") << missing + "\nX" << missing + "\\nX"
                                            << "no such device";
}

void TestVelkctl::portCannotOpen() {
    QFETCH(QString, port);
    QFETCH(QString, shown);
    QFETCH(QString, why);
    const Run run = velkctl({"--port", port, "--address", "1"});
    QCOMPARE(run.exitCode, 74);
    QVERIFY(run.out.isEmpty());
    QVERIFY2(run.err.startsWith("velkctl: cannot open port " + shown), qPrintable(run.err));
    QVERIFY2(run.err.contains(": " + why), qPrintable(run.err));
    QCOMPARE(run.err.count('\n'), 1);
}

void TestVelkctl::busyPortSaysSo() {
    SimChild sim;
    QString error;
    QVERIFY2(sim.start(206, {"--quiet"}, &error), qPrintable(error));
    // Another master holds the line.
    const int holder = ::open(sim.device.toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
    QVERIFY(holder >= 0);
    QCOMPARE(flock(holder, LOCK_EX | LOCK_NB), 0);
    const Run run = velkctl({"--port", sim.name, "--address", "1"});
    ::close(holder);
    QCOMPARE(run.exitCode, 74);
    QVERIFY2(
        run.err.startsWith("velkctl: cannot open port " + sim.name + " (" + sim.device + "): busy"),
        qPrintable(run.err));
}

void TestVelkctl::deviceLostAndBack_data() {
    QTest::addColumn<int>("com");
    QTest::addColumn<QString>("mode");
    QTest::newRow("JSON records") << 209 << "--json";
    QTest::newRow("CSV records") << 210 << "--csv";
}

// The slave goes away mid-run and comes back on the same COM name: the run
// goes on by itself, says so on stderr and in its records, and keeps its
// statistics.
void TestVelkctl::deviceLostAndBack() {
    QFETCH(int, com);
    QFETCH(QString, mode);
    auto sim = std::make_unique<SimChild>();
    QString error;
    QVERIFY2(sim->start(com, {"--scenario", "echo", "--quiet"}, &error), qPrintable(error));
    QProcess p;
    p.start(binary("tools/velkctl/velkctl"),
            {"--port", sim->name, "--address", "5", "--cycle", "20", mode});
    const bool csv = mode == "--csv";
    QByteArray out;
    auto records = [&] {
        out += p.readAllStandardOutput();
        QStringList lines = QString::fromUtf8(out).split('\n', Qt::SkipEmptyParts);
        if (csv && !lines.isEmpty()) {
            lines.removeFirst(); // the header
        }
        return lines;
    };
    auto code = [&](const QString& line) {
        return csv ? line.section(',', 4, 4).toInt() : json(line)["error_code"].toInt();
    };
    auto waitForRecords = [&](int n) {
        while (records().size() < n && p.waitForReadyRead(10000)) {
        }
        return records().size() >= n;
    };
    QVERIFY2(waitForRecords(3), p.readAllStandardError().constData());

    // Killed, the simulator leaves its link behind: cleared at once, so that
    // no other test's terminal is taken for the slave meanwhile.
    sim->stop(SIGKILL);
    QFile::remove(SimChild::linkPath(com));
    const int beforeGone = int(records().size());
    QVERIFY(waitForRecords(beforeGone + 4));
    QVERIFY(code(records().last()) != 0);

    sim = std::make_unique<SimChild>();
    QVERIFY2(sim->start(com, {"--scenario", "echo", "--quiet"}, &error), qPrintable(error));
    QElapsedTimer back;
    back.start();
    const int beforeBack = int(records().size());
    while (back.elapsed() < 10000) {
        const QStringList lines = records();
        if (lines.size() > beforeBack && code(lines.last()) == 0) {
            break;
        }
        p.waitForReadyRead(1000);
    }
    qInfo("first answer OK %lld ms after the slave came back", back.elapsed());
    QCOMPARE(code(records().last()), 0);
    QVERIFY(waitForRecords(int(records().size()) + 2));

    ::kill(pid_t(p.processId()), SIGINT);
    QVERIFY(p.waitForFinished(10000));
    QCOMPARE(p.exitCode(), 130);
    const QString err = QString::fromUtf8(p.readAllStandardError());
    const QString port = sim->name;
    QCOMPARE(err.count("velkctl: port " + port + " lost"), 1);
    QCOMPARE(err.count("velkctl: port " + port + " open again"), 1);

    // Each record says whether the port was opened again before it and lost
    // after it.
    QStringList lines = records();
    int lostAt = 0;
    int reopenedAt = 0;
    int okCount = 0;
    if (csv) {
        const QString header = QString::fromUtf8(out.left(out.indexOf('\n')));
        QVERIFY2(header.endsWith(",port_reopened,port_lost"), qPrintable(header));
        for (const QString& line : lines) {
            const QStringList fields = line.split(',');
            lostAt += fields.last() == "1" ? fields.first().toInt() : 0;
            reopenedAt += fields[fields.size() - 2] == "1" ? fields.first().toInt() : 0;
            okCount += code(line) == 0 ? 1 : 0;
        }
    } else {
        const QJsonObject summary = json(lines.takeLast());
        QCOMPARE(summary["type"].toString(), QString("summary"));
        QCOMPARE(summary["port_losses"].toInt(), 1);
        QCOMPARE(summary["port_reopenings"].toInt(), 1);
        for (const QString& line : lines) {
            const QJsonObject o = json(line);
            lostAt += o["port_lost"].toBool() ? o["seq"].toInt() : 0;
            reopenedAt += o["port_reopened"].toBool() ? o["seq"].toInt() : 0;
            okCount += o["error_code"].toInt() == 0 ? 1 : 0;
        }
        // Statistics over the whole run, the failed exchanges included.
        QCOMPARE(summary["requests"].toInt(), int(lines.size()));
        QCOMPARE(summary["answers_ok"].toInt(), okCount);
    }
    QVERIFY2(lostAt >= 3, qPrintable(QString::number(lostAt)));
    QVERIFY2(reopenedAt > lostAt + 1, qPrintable(QString::number(reopenedAt)));
    QCOMPARE(code(lines[reopenedAt - 1]), 0);
    QVERIFY(okCount >= 5);
    QVERIFY(okCount < lines.size());
}

// A pseudo-terminal named by its path is never the same line again: the run
// ends instead of cycling on a dead port.
void TestVelkctl::lostTerminalPathEndsRun() {
    SimChild sim;
    QString error;
    QVERIFY2(sim.start(211, {"--scenario", "echo", "--quiet"}, &error), qPrintable(error));
    QProcess p;
    p.start(binary("tools/velkctl/velkctl"),
            {"--port", sim.device, "--address", "5", "--cycle", "20", "--json"});
    QByteArray out;
    while (out.count('\n') < 2 && p.waitForReadyRead(10000)) {
        out += p.readAllStandardOutput();
    }
    QVERIFY(out.count('\n') >= 2);
    sim.stop(SIGKILL);
    QVERIFY(p.waitForFinished(10000));
    QCOMPARE(p.exitCode(), 74);
    const QString err = QString::fromUtf8(p.readAllStandardError());
    QVERIFY2(err.contains("velkctl: port " + sim.device + " lost") &&
                 err.contains("does not come back"),
             qPrintable(err));
    out += p.readAllStandardOutput();
    const QStringList lines = QString::fromUtf8(out).split('\n', Qt::SkipEmptyParts);
    const QJsonObject summary = json(lines.last());
    QCOMPARE(summary["port_losses"].toInt(), 1);
    QVERIFY(json(lines[lines.size() - 2])["port_lost"].toBool());
}

QTEST_GUILESS_MAIN(TestVelkctl)
#include "tst_velkctl.moc"
