// velkctl's commands end to end: scan, monitor and run as child processes
// against velk-sim on pseudo-terminals in the test's own ports folder.

#include "BlockBytes.h"
#include "Pty.h"
#include "SimChild.h"
#include "VelkctlChild.h"

#include <QJsonArray>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QtTest>

#include <signal.h>

namespace {

void writeFile(const QString& path, const QByteArray& content) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size()) {
        qWarning() << "cannot write" << path;
    }
}

} // namespace

class TestVelkctlCommands : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void scan_data();
    void scan();
    void scanListsInText();
    void scanProgressOnlyOnTerminal();
    void scanUsageError_data();
    void scanUsageError();
    void monitorLiveThenReplay();
    void monitorEndsAfterDuration();
    void monitorUsageError_data();
    void monitorUsageError();
    void runExamplePlan();
    void runFailingPlan();
    void reportKeptUntilThePlanRuns();
    void invalidPlanSendsNothing_data();
    void invalidPlanSendsNothing();
};

void TestVelkctlCommands::initTestCase() {
    QVERIFY2(!qEnvironmentVariable("XDG_CONFIG_HOME").isEmpty(), "run through CTest");
    QVERIFY(QFile::exists(binary("tools/velkctl/velkctl")));
    QVERIFY(QFile::exists(binary("tools/velk-sim/velk-sim")));
}

void TestVelkctlCommands::scan_data() {
    QTest::addColumn<QStringList>("sim");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("answered");
    QTest::addColumn<int>("silent");
    QTest::addColumn<QString>("faultReason"); // "" when no address is faulty
    QTest::addColumn<int>("attempts");        // of the faulty address

    QTest::newRow("three slaves") << QStringList{"--address", "3,5,9"} << QStringList{"--to", "C"}
                                  << 0 << QStringList{"3", "5", "9"} << 9 << "" << 0;
    QTest::newRow("range of slaves")
        << QStringList{"--address", "2-4"} << QStringList{"--from", "3", "--to", "0x6"} << 0
        << QStringList{"3", "4"} << 2 << "" << 0;
    QTest::newRow("second level") << QStringList{"--address", "4"}
                                  << QStringList{"--levels", "4", "--to", "3"} << 0
                                  << QStringList{"4,1", "4,2", "4,3"} << 0 << "" << 0;
    QTest::newRow("nobody") << QStringList{"--address", "20"} << QStringList{"--to", "4"} << 1
                            << QStringList{} << 4 << "" << 0;
    QTest::newRow("bad CRC") << QStringList{"--address", "2", "--scenario", "bad-crc"}
                             << QStringList{"--to", "3"} << 1 << QStringList{} << 2 << "bad CRC"
                             << 1;
    QTest::newRow("bad CRC asked again")
        << QStringList{"--address", "2", "--scenario", "bad-crc"}
        << QStringList{"--from", "2", "--to", "2", "--retries", "2"} << 1 << QStringList{} << 0
        << "bad CRC" << 3;
    QTest::newRow("header in the middle")
        << QStringList{"--address", "3", "--scenario", "header-mid"} << QStringList{"--to", "3"}
        << 1 << QStringList{} << 2 << "cut short" << 1;
    QTest::newRow("noise before the answer")
        << QStringList{"--address", "1", "--scenario", "garbage"} << QStringList{"--to", "2"} << 1
        << QStringList{} << 1 << "noise before the answer" << 1;
    QTest::newRow("noise before the answer, restarts allowed")
        << QStringList{"--address", "1", "--scenario", "garbage"}
        << QStringList{"--to", "2", "--restarts", "1"} << 0 << QStringList{"1"} << 1 << "" << 0;
}

void TestVelkctlCommands::scan() {
    QFETCH(QStringList, sim);
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QStringList, answered);
    QFETCH(int, silent);
    QFETCH(QString, faultReason);
    QFETCH(int, attempts);

    SimChild child;
    QString error;
    QVERIFY2(child.start(211, sim + QStringList{"--quiet"}, &error), qPrintable(error));
    const Run run =
        velkctl(QStringList{"scan", "--port", child.name, "--timeout", "40", "--json"} + args);
    QVERIFY2(run.err.isEmpty(), qPrintable(run.err));
    QCOMPARE(run.exitCode, exitCode);

    const QStringList lines = run.lines();
    QVERIFY(!lines.isEmpty());
    QStringList seen;
    int faulty = 0;
    for (int i = 0; i + 1 < lines.size(); ++i) {
        const QJsonObject o = json(lines[i]);
        QCOMPARE(o["type"].toString(), QString("scan"));
        if (o["result"].toString() == "answered") {
            seen << o["address"].toString();
            QCOMPARE(o["error_code"].toInt(), 0);
            QVERIFY(o["response_ms"].toDouble() > 0);
            const QJsonObject a = o["answer"].toObject();
            // The slave names itself in ao: the first level asked.
            QCOMPARE(a["ao"].toString(), o["address"].toString().section(',', 0, 0));
            QCOMPARE(a["csBit"].toInt(), 1);
            // The block, after the noise that the allowed restart stepped over.
            QCOMPARE(byteCount(o["rx_data"].toString()), args.contains("--restarts") ? 15 : 12);
        } else {
            QCOMPARE(o["result"].toString(), QString("faulty"));
            QCOMPARE(o["reason"].toString(), faultReason);
            QCOMPARE(o["attempts"].toInt(), attempts);
            QVERIFY(o["answer"].isNull());
            // What came off the line, noise included: three bytes, then the
            // header that the session would not start again from.
            if (faultReason.startsWith("noise")) {
                QVERIFY2(o["rx_data"].toString().contains(
                             QRegularExpression("^\\w+ \\w+ \\w+ [C-F]\\w$")),
                         qPrintable(o["rx_data"].toString()));
            }
            ++faulty;
        }
    }
    QCOMPARE(seen, answered);
    QCOMPARE(faulty, faultReason.isEmpty() ? 0 : 1);

    const QJsonObject s = json(lines.last());
    QCOMPARE(s["type"].toString(), QString("scan_summary"));
    QCOMPARE(s["answered"].toInt(), int(answered.size()));
    QCOMPARE(s["silent"].toInt(), silent);
    QCOMPARE(s["faulty"].toInt(), faulty);
    QCOMPARE(s["addresses"].toInt(), int(answered.size()) + silent + faulty);
    QStringList listed;
    for (const QJsonValue& v : s["answered_addresses"].toArray()) {
        listed << v.toString();
    }
    QCOMPARE(listed, answered);
}

void TestVelkctlCommands::scanListsInText() {
    SimChild child;
    QString error;
    QVERIFY2(child.start(212, {"--address", "2,6", "--quiet"}, &error), qPrintable(error));
    const Run run = velkctl({"scan", "--port", child.name, "--to", "7", "--timeout", "30", "--code",
                             "3", "--index", "1"});
    QCOMPARE(run.exitCode, 0);
    const QStringList lines = run.lines();
    QCOMPARE(lines.size(), 3);
    QVERIFY2(QRegularExpression(R"(^2: answered in \d+\.\d{3} ms: code 3, index 1, ao 2, )")
                 .match(lines[0])
                 .hasMatch(),
             qPrintable(lines[0]));
    QVERIFY2(lines[1].startsWith("6: answered in "), qPrintable(lines[1]));
    QVERIFY2(
        QRegularExpression(R"(^Scan: 7 addresses in \d+\.\d{3} s, 2 answered, 5 silent, 0 faulty$)")
            .match(lines[2])
            .hasMatch(),
        qPrintable(lines[2]));
    QVERIFY(!run.out.contains('\r')); // no progress when stdout is not a terminal

    const Run quiet =
        velkctl({"scan", "--port", child.name, "--to", "3", "--timeout", "30", "--quiet"});
    QCOMPARE(quiet.exitCode, 0);
    QCOMPARE(quiet.lines().size(), 1);
    QVERIFY(quiet.out.startsWith("Scan: 3 addresses in "));

    const Run csv =
        velkctl({"scan", "--port", child.name, "--to", "3", "--timeout", "30", "--csv"});
    QCOMPARE(csv.exitCode, 0);
    QCOMPARE(csv.lines(), QStringList({"address,result,reason,attempts,error_code,response_ms,"
                                       "rx_data",
                                       csv.lines().value(1)}));
    QVERIFY(csv.lines().value(1).startsWith("2,answered,,1,0,"));
    QVERIFY(csv.err.startsWith("Scan: 3 addresses in ")); // the summary stays out of the table
}

void TestVelkctlCommands::scanProgressOnlyOnTerminal() {
    SimChild child;
    QString error;
    QVERIFY2(child.start(213, {"--address", "2", "--quiet"}, &error), qPrintable(error));
    auto onTerminal = [&](const QStringList& extra) {
        Pty terminal;
        QProcess p;
        p.setStandardOutputFile(QString::fromStdString(terminal.path));
        p.start(binary("tools/velkctl/velkctl"),
                QStringList{"scan", "--port", child.name, "--to", "3", "--timeout", "20"} + extra);
        p.waitForFinished(30000);
        std::string seen;
        unsigned char buffer[4096];
        ssize_t n = 0;
        while ((n = ::read(terminal.master, buffer, sizeof buffer)) > 0) {
            seen.append(reinterpret_cast<char*>(buffer), std::size_t(n));
        }
        return QString::fromStdString(seen);
    };
    const QString text = onTerminal({});
    QVERIFY2(text.contains("\rscanning 1 (1/3)") && text.contains("\rscanning 3 (3/3)"),
             qPrintable(text));
    QVERIFY2(text.contains("2: answered"), qPrintable(text));
    const QString json = onTerminal({"--json"});
    QVERIFY2(!json.contains("scanning") && json.contains("\"scan_summary\""), qPrintable(json));
}

void TestVelkctlCommands::scanUsageError_data() {
    QTest::addColumn<QStringList>("args");
    QTest::newRow("no port") << QStringList{"scan"};
    QTest::newRow("from above to")
        << QStringList{"scan", "--port", "COM1", "--from", "9", "--to", "3"};
    QTest::newRow("address 80") << QStringList{"scan", "--port", "COM1", "--to", "80"};
    QTest::newRow("address 0") << QStringList{"scan", "--port", "COM1", "--from", "0"};
    QTest::newRow("json and csv") << QStringList{"scan", "--port", "COM1", "--json", "--csv"};
    QTest::newRow("single-request option") << QStringList{"scan", "--port", "COM1", "--wts"};
    QTest::newRow("stray argument") << QStringList{"scan", "--port", "COM1", "5"};
}

void TestVelkctlCommands::scanUsageError() {
    QFETCH(QStringList, args);
    const Run run = velkctl(args);
    QCOMPARE(run.exitCode, 64);
    QVERIFY(run.out.isEmpty());
    const QStringList lines = run.err.split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 2);
    QVERIFY2(lines[0].startsWith("velkctl: "), qPrintable(lines[0]));
    QCOMPARE(lines[1], QString("Try 'velkctl scan --help'."));
}

void TestVelkctlCommands::monitorLiveThenReplay() {
    Pty line;
    QVERIFY(line.ok());
    QTemporaryDir dir;
    const QString capture = dir.filePath("line.cap");
    QProcess monitor;
    monitor.start(binary("tools/velkctl/velkctl"),
                  {"monitor", "--port", QString::fromStdString(line.path), "--json", "--raw",
                   capture, "--idle", "50"});
    QByteArray err;
    for (int i = 0; i < 500 && !err.contains('\n'); ++i) {
        monitor.waitForReadyRead(10);
        err += monitor.readAllStandardError();
    }
    QVERIFY2(err.startsWith("velkctl: monitoring " + QByteArray::fromStdString(line.path)),
             err.constData());

    // A request, an answer 30 ms later with two bytes of noise behind it, then
    // half an answer that silence cuts short.
    Velk21DataBlockKernel data(Velk21ParameterId(0x10, 1), 0x1F, 0, 0, 0, 0, 0, 0, 0);
    const Bytes request = frameRequest(Velk21Address(5, 0, 0, 0), data);
    data.ao = 5;
    data.csBit = 1;
    data.data[0] = 0x99;
    Bytes answer = framed<Velk21DataBlockPacketPackager>(data);
    answer.push_back(0x5A);
    answer.push_back(0x5A);
    const Bytes half(answer.begin(), answer.begin() + 7);
    QVERIFY(line.write(request));
    QThread::msleep(30);
    QVERIFY(line.write(answer));
    QThread::msleep(80);
    QVERIFY(line.write(half));
    QThread::msleep(150);
    ::kill(pid_t(monitor.processId()), SIGTERM);
    QVERIFY(monitor.waitForFinished(10000));
    QCOMPARE(monitor.exitCode(), 143); // as a shell reports the signal
    const QString live = QString::fromUtf8(monitor.readAllStandardOutput());
    const QStringList lines = live.split('\n', Qt::SkipEmptyParts);

    QStringList seen;
    for (const QString& l : lines.mid(0, lines.size() - 1)) {
        const QJsonObject o = json(l);
        seen << o["kind"].toString() + " " + o["verdict"].toString();
    }
    QCOMPARE(seen,
             QStringList({"address ok", "data ok", "data ok", "noise noise", "data cut short"}));
    const QJsonObject reply = json(lines[2]);
    QCOMPARE(reply["direction"].toString(), QString("answer"));
    // Times are those of the reads, so a loaded machine may shift them; their
    // order holds (the arithmetic of gaps is the decoder's own test).
    QVERIFY2(reply["time_us"].toInteger() >= json(lines[1])["time_us"].toInteger(),
             qPrintable(live));
    QCOMPARE(reply["fields"].toObject()["data_0"].toString(), QString("99"));
    const QJsonObject summary = json(lines.last());
    QCOMPARE(summary["type"].toString(), QString("monitor_summary"));
    QCOMPARE(summary["blocks"].toInt(), 4);
    QCOMPARE(summary["cut_short"].toInt(), 1);
    QCOMPARE(summary["noise_bytes"].toInt(), 2);
    QCOMPARE(summary["answers"].toInt(), 2);

    // Never a byte towards the line.
    unsigned char probe = 0;
    QCOMPARE(::read(line.master, &probe, 1), ssize_t(-1));

    // The capture decodes offline to the very same lines.
    const Run replay = velkctl({"monitor", "--replay", capture, "--json", "--idle", "50"});
    QCOMPARE(replay.exitCode, 0);
    QCOMPARE(replay.out, live);
    const Run text = velkctl({"monitor", "--replay", capture});
    QCOMPARE(text.exitCode, 0);
    QVERIFY2(text.lines().value(1).contains(QRegularExpression(
                 R"(us\s+request\s+data\s+ok\s+C0 1F 0 10 1 0 0 0 0 0 0 \w+ \| code 10, )")),
             qPrintable(text.out));
    QVERIFY(text.lines().last().startsWith("Monitor: 4 blocks (3 ok, 0 bad CRC, 1 cut short)"));

    // A damaged capture: what could be read is shown, then the reason.
    QFile file(capture);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    file.close();
    writeFile(dir.filePath("cut.cap"), bytes.left(bytes.size() - 3));
    const Run damaged = velkctl({"monitor", "--replay", dir.filePath("cut.cap"), "--quiet"});
    QCOMPARE(damaged.exitCode, 65);
    QVERIFY2(damaged.err.contains("capture ends inside a record"), qPrintable(damaged.err));
}

void TestVelkctlCommands::monitorEndsAfterDuration() {
    Pty line;
    QVERIFY(line.ok());
    QElapsedTimer timer;
    timer.start();
    const Run run = velkctl(
        {"monitor", "--port", QString::fromStdString(line.path), "--duration", "300", "-q"});
    QCOMPARE(run.exitCode, 0);
    QVERIFY(timer.elapsed() >= 300);
    QCOMPARE(run.out, QString("Monitor: 0 blocks (0 ok, 0 bad CRC, 0 cut short), 0 requests, 0 "
                              "answers, 0 noise bytes in 0 pieces\n"));
    QVERIFY(run.err.isEmpty()); // --quiet: not even the line saying what is monitored
}

void TestVelkctlCommands::monitorUsageError_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::newRow("neither port nor replay") << QStringList{"monitor"} << 64;
    QTest::newRow("both") << QStringList{"monitor", "--port", "COM1", "--replay", "x"} << 64;
    QTest::newRow("replay with raw") << QStringList{"monitor", "--replay", "x", "--raw", "y"} << 64;
    QTest::newRow("idle 0") << QStringList{"monitor", "--port", "COM1", "--idle", "0"} << 64;
    QTest::newRow("no such capture")
        << QStringList{"monitor", "--replay", "/nonexistent/x.cap"} << 74;
    QTest::newRow("no such port") << QStringList{"monitor", "--port", "COM250"} << 74;
}

void TestVelkctlCommands::monitorUsageError() {
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    const Run run = velkctl(args);
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY(run.out.isEmpty());
    QVERIFY2(run.err.startsWith("velkctl: "), qPrintable(run.err));
}

void TestVelkctlCommands::runExamplePlan() {
    SimChild child;
    QString error;
    QVERIFY2(child.start(214, {"--scenario", "registers", "--quiet"}, &error), qPrintable(error));
    QTemporaryDir dir;
    const QString report = dir.filePath("report.xml");
    const Run run = velkctl({"run", VELK_SOURCE_DIR "/examples/registers-plan.json", "--port",
                             child.name, "--junit", report});
    QVERIFY2(run.err.isEmpty(), qPrintable(run.err));
    QCOMPARE(run.exitCode, 0);
    const QStringList lines = run.lines();
    QCOMPARE(lines.size(), 8);
    for (int i = 0; i < 7; ++i) {
        QVERIFY2(lines[i].startsWith("PASS  " + QString::number(i + 1) + " "),
                 qPrintable(lines[i]));
    }
    QVERIFY(lines[6].contains("(20 exchanges, max "));
    QVERIFY2(lines[7].startsWith("Plan: 7 steps, 7 passed, 0 failed, 0 not run in "),
             qPrintable(lines[7]));

    QFile file(report);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QXmlStreamReader xml(&file);
    int cases = 0;
    int failures = 0;
    while (!xml.atEnd()) {
        xml.readNext();
        cases += xml.isStartElement() && xml.name() == QLatin1String("testcase") ? 1 : 0;
        failures += xml.isStartElement() && xml.name() == QLatin1String("failure") ? 1 : 0;
    }
    QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
    QCOMPARE(cases, 7);
    QCOMPARE(failures, 0);
}

void TestVelkctlCommands::runFailingPlan() {
    SimChild child;
    QString error;
    QVERIFY2(child.start(215, {"--scenario", "registers", "--address", "3", "--quiet"}, &error),
             qPrintable(error));
    QTemporaryDir dir;
    const QString plan = dir.filePath("plan.json");
    writeFile(plan, R"({"port": "COM215", "steps": [
        {"name": "store 7", "request": {"address": "3", "code": "10", "wts": true, "data": "7"},
         "capture": {"seven": "data_0"}},
        {"name": "expect 8 <wrong>", "repeat": 5,
         "request": {"address": "3", "code": "10"},
         "expect": {"value": {"type": "INTEGER", "equals": 8}}},
        {"name": "use the captured value", "request": {"address": "3", "code": "10", "index": "${seven}"},
         "expect": {"data_0": "0"}},
        {"name": "nobody at 4", "request": {"address": "4"}, "timeout": 20, "expect": {"error": 5}}
    ]})");
    const QString report = dir.filePath("report.xml");
    const Run run = velkctl({"run", plan, "--junit", report, "--json"});
    QCOMPARE(run.exitCode, 1);
    const QStringList lines = run.lines();
    QCOMPARE(lines.size(), 5);
    QCOMPARE(json(lines[0])["result"].toString(), QString("pass"));
    const QJsonObject failed = json(lines[1]);
    QCOMPARE(failed["result"].toString(), QString("fail"));
    QCOMPARE(failed["exchanges"].toInt(), 1); // the first failing repeat ends the step
    const QJsonObject why = failed["failures"].toArray().at(0).toObject();
    QCOMPARE(why["field"].toString(), QString("value"));
    QCOMPARE(why["got"].toString(), QString("7"));
    QVERIFY(why["expected"].toString().startsWith("8 +/- 0"));
    QCOMPARE(json(lines[2])["result"].toString(), QString("pass"));
    QCOMPARE(json(lines[3])["result"].toString(), QString("pass"));
    const QJsonObject summary = json(lines[4]);
    QCOMPARE(summary["passed"].toInt(), 3);
    QCOMPARE(summary["failed"].toInt(), 1);

    QFile file(report);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString xml = QString::fromUtf8(file.readAll());
    QVERIFY2(xml.contains("name=\"2 expect 8 &lt;wrong&gt;\"") &&
                 xml.contains("<failure message=\"value: expected 8 +/- 0"),
             qPrintable(xml));
}

// A run that cannot start leaves the report of the last run as it was.
void TestVelkctlCommands::reportKeptUntilThePlanRuns() {
    QTemporaryDir dir;
    const QString report = dir.filePath("report.xml");
    writeFile(report, "<last run/>");
    const Run run = velkctl({"run", VELK_SOURCE_DIR "/examples/registers-plan.json", "--port",
                             "COM250", "--junit", report});
    QCOMPARE(run.exitCode, 74);
    QVERIFY2(run.err.startsWith("velkctl: cannot open port COM250"), qPrintable(run.err));
    QFile file(report);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("<last run/>"));
    // Nor is one made where there was none, and a report that cannot be
    // written is said before anything is sent.
    QVERIFY(!QFile::exists(dir.filePath("none.xml")));
    const Run none = velkctl({"run", VELK_SOURCE_DIR "/examples/registers-plan.json", "--port",
                              "COM250", "--junit", dir.filePath("none.xml")});
    QCOMPARE(none.exitCode, 74);
    QVERIFY(!QFile::exists(dir.filePath("none.xml")));
    const Run unwritable = velkctl({"run", VELK_SOURCE_DIR "/examples/registers-plan.json",
                                    "--port", "COM250", "--junit", dir.path()});
    QCOMPARE(unwritable.exitCode, 74);
    QVERIFY2(unwritable.err.startsWith("velkctl: cannot write " + dir.path()),
             qPrintable(unwritable.err));
}

void TestVelkctlCommands::invalidPlanSendsNothing_data() {
    QTest::addColumn<QByteArray>("plan");
    QTest::addColumn<QString>("message");
    QTest::newRow("bad value in the last step")
        << QByteArray("{\"steps\": [{\"request\": {\"address\": \"5\"}},\n"
                      "{\"request\": {\"address\": \"5\", \"status\": \"G\"}}]}")
        << ":2: request: invalid status 'G'";
    QTest::newRow("not JSON") << QByteArray("steps:\n  - x\n") << ":1: syntax error";
    QTest::newRow("unknown field") << QByteArray("{\"steps\": [{\"request\": {\"address\": "
                                                 "\"5\"}, \"expext\": {}}]}")
                                   << ":1: unknown field 'expext' in a step";
}

void TestVelkctlCommands::invalidPlanSendsNothing() {
    QFETCH(QByteArray, plan);
    QFETCH(QString, message);
    SimChild child;
    QString error;
    QVERIFY2(child.start(216, {"--scenario", "echo"}, &error), qPrintable(error));
    QTemporaryDir dir;
    const QString path = dir.filePath("plan.json");
    writeFile(path, plan);
    const Run run = velkctl({"run", path, "--port", child.name});
    QCOMPARE(run.exitCode, 64);
    QVERIFY(run.out.isEmpty());
    QVERIFY2(run.err.startsWith("velkctl: " + path + message), qPrintable(run.err));
    QCOMPARE(child.loggedLines("REQ"), 0);
}

QTEST_GUILESS_MAIN(TestVelkctlCommands)
#include "tst_velkctl_commands.moc"
