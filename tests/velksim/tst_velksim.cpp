// velk-sim as a program: options, the COMn link, signals, and what goes over
// the pseudo-terminal.

#include "SimChild.h"
#include "Velk21AddressBlockPacketPackager.h"
#include "Velk21DataBlockPacketPackager.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <vector>

using Bytes = std::vector<unsigned char>;

namespace {

Bytes frameRequest(unsigned char code) {
    Velk21AddressBlockPacketPackager addressPackager;
    Velk21DataBlockPacketPackager dataPackager;
    const Velk21AddressBlockKernel address(Velk21Address(4, 0, 0, 0), 0);
    Velk21DataBlockKernel data(Velk21ParameterId(code, 2), 0, 0, 0, 0, 0, 0, 0, 0);
    data.data[0] = 0x99;
    DataBlock<unsigned char> block;
    block.resize(18, 0);
    unsigned position = 0;
    addressPackager.pack(block, position, address);
    dataPackager.pack(block, position, data);
    return Bytes(block.data(), block.data() + block.size());
}

bool decodeData(const Bytes& wire, Velk21DataBlockKernel& data) {
    DataBlock<unsigned char> block;
    for (unsigned char b : wire) {
        block.append(b);
    }
    Velk21DataBlockPacketPackager packager;
    unsigned position = 0;
    return wire.size() == 12 && packager.unpack(block, position, data);
}

// A raw, non-blocking descriptor on the simulator's terminal.
class Line {
public:
    explicit Line(const QString& path) {
        fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd >= 0) {
            termios tio;
            tcgetattr(fd, &tio);
            cfmakeraw(&tio);
            tcsetattr(fd, TCSANOW, &tio);
        }
    }
    ~Line() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    bool write(const Bytes& bytes) {
        return ::write(fd, bytes.data(), bytes.size()) == ssize_t(bytes.size());
    }
    // Reads until count bytes have come or timeoutMs has passed.
    Bytes read(size_t count, int timeoutMs) {
        Bytes got;
        QElapsedTimer timer;
        timer.start();
        while (got.size() < count && timer.elapsed() < timeoutMs) {
            pollfd p = {fd, POLLIN, 0};
            if (poll(&p, 1, int(timeoutMs - timer.elapsed())) <= 0) {
                continue;
            }
            unsigned char buffer[256];
            const ssize_t n = ::read(fd, buffer, std::min(sizeof buffer, count - got.size()));
            if (n > 0) {
                got.insert(got.end(), buffer, buffer + n);
            }
        }
        return got;
    }
    int fd = -1;
};

} // namespace

class TestVelkSim : public QObject {
    Q_OBJECT

private slots:
    void badUsage_data();
    void badUsage();
    void help();
    void linkLivesAsLongAsTheSimulator_data();
    void linkLivesAsLongAsTheSimulator();
    void refusesLinkToLiveDevice();
    void refusesToReplaceAFile();
    void replacesDanglingLink();
    void restartsAfterBeingKilled();
    void restartsWhenItsTerminalWentToAnother();
    void refusesAComServedByAnother();
    void skipsNoiseAndBrokenBlocks();
    void faultsOnTheWire();
    void silentMeansSilent();
    void answersOnlyItsAddress();
    void releasesExclusiveMode();
    void jsonLog();

private:
    int nextCom = 1;
};

void TestVelkSim::badUsage_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("no arguments") << QStringList{};
    QTest::newRow("port 0") << QStringList{"--com", "0"};
    QTest::newRow("unknown scenario") << QStringList{"--com", "1", "--scenario", "nap"};
    QTest::newRow("unknown option") << QStringList{"--com", "1", "--loud"};
    QTest::newRow("both ports") << QStringList{"--com", "1", "--device", "/dev/null"};
}

void TestVelkSim::badUsage() {
    QFETCH(QStringList, arguments);
    SimChild sim;
    QVERIFY(sim.launch(arguments));
    QCOMPARE(sim.wait(), 64); // -1 when it did not end normally
    const QByteArray error = sim.errors();
    QVERIFY(error.startsWith("velk-sim: "));
    QCOMPARE(error.count('\n'), 1);
    QVERIFY(sim.output().isEmpty());
    QVERIFY(!QFileInfo::exists(SimChild::linkPath(1)));
}

void TestVelkSim::help() {
    SimChild sim;
    QVERIFY(sim.launch({"--help"}));
    QCOMPARE(sim.wait(), 0);
    const QByteArray text = sim.output();
    for (const char* word : {"--com", "--device", "registers", "extended=N", "header-mid", "64"}) {
        QVERIFY2(text.contains(word), word);
    }
}

void TestVelkSim::linkLivesAsLongAsTheSimulator_data() {
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
}

void TestVelkSim::linkLivesAsLongAsTheSimulator() {
    QFETCH(int, signal);
    const int com = nextCom++;
    SimChild sim;
    QString error;
    QVERIFY2(sim.start(com, {}, &error), qPrintable(error));
    QCOMPARE(sim.name, "COM" + QString::number(com));
    const QFileInfo link(SimChild::linkPath(com));
    QVERIFY(link.isSymLink());
    QCOMPARE(link.symLinkTarget(), sim.device);
    QVERIFY(sim.device.startsWith("/dev/pts/"));
    QCOMPARE(sim.stop(signal), 0);
    QVERIFY(!QFileInfo::exists(SimChild::linkPath(com)));
    QVERIFY(!QFileInfo(SimChild::linkPath(com)).isSymLink());
}

void TestVelkSim::refusesLinkToLiveDevice() {
    const int com = nextCom++;
    int master = -1;
    int slave = -1;
    char name[256];
    QCOMPARE(openpty(&master, &slave, name, nullptr, nullptr), 0);
    QDir().mkpath(SimChild::portsFolder());
    QVERIFY(QFile::link(QString::fromLocal8Bit(name), SimChild::linkPath(com)));

    SimChild sim;
    QVERIFY(sim.launch({"--com", QString::number(com)}));
    QCOMPARE(sim.wait(), 69);
    QVERIFY(sim.errors().contains("live device"));
    QCOMPARE(QFileInfo(SimChild::linkPath(com)).symLinkTarget(), QString::fromLocal8Bit(name));
    ::close(slave);
    ::close(master);
}

void TestVelkSim::refusesToReplaceAFile() {
    const int com = nextCom++;
    QDir().mkpath(SimChild::portsFolder());
    QFile file(SimChild::linkPath(com));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("keep me");
    file.close();

    SimChild sim;
    QVERIFY(sim.launch({"--com", QString::number(com)}));
    QCOMPARE(sim.wait(), 69);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("keep me"));
}

void TestVelkSim::replacesDanglingLink() {
    const int com = nextCom++;
    QDir().mkpath(SimChild::portsFolder());
    QVERIFY(QFile::link("/dev/pts/velk-sim-gone", SimChild::linkPath(com)));
    SimChild sim;
    QString error;
    QVERIFY2(sim.start(com, {}, &error), qPrintable(error));
    QCOMPARE(QFileInfo(SimChild::linkPath(com)).symLinkTarget(), sim.device);
}

void TestVelkSim::restartsAfterBeingKilled() {
    // Killed, it leaves its link behind; the next simulator usually gets the
    // very terminal number that link names.
    const int com = nextCom++;
    for (int round = 0; round < 3; ++round) {
        SimChild sim;
        QString error;
        QVERIFY2(sim.start(com, {"--quiet"}, &error),
                 qPrintable(QString("round %1: %2").arg(round).arg(error)));
        QCOMPARE(QFileInfo(SimChild::linkPath(com)).symLinkTarget(), sim.device);
        QCOMPARE(sim.stop(SIGKILL), -1);
        QVERIFY(QFileInfo(SimChild::linkPath(com)).isSymLink());
    }
}

void TestVelkSim::restartsWhenItsTerminalWentToAnother() {
    // Killed, it leaves its link behind, and the terminal number the link
    // names may go to any program meanwhile (a terminal window, another
    // test): the link is still stale, the simulator that made it is gone.
    const int com = nextCom++;
    {
        SimChild sim;
        QString error;
        QVERIFY2(sim.start(com, {"--quiet"}, &error), qPrintable(error));
        QCOMPARE(sim.stop(SIGKILL), -1);
    }
    int master = -1;
    int slave = -1;
    char name[256];
    QCOMPARE(openpty(&master, &slave, name, nullptr, nullptr), 0);
    QVERIFY(QFile::remove(SimChild::linkPath(com)));
    QVERIFY(QFile::link(QString::fromLocal8Bit(name), SimChild::linkPath(com)));

    SimChild again;
    QString error;
    QVERIFY2(again.start(com, {"--quiet"}, &error), qPrintable(error));
    QCOMPARE(QFileInfo(SimChild::linkPath(com)).symLinkTarget(), again.device);
    QCOMPARE(again.stop(SIGTERM), 0);
    QVERIFY(!QFileInfo(SimChild::linkPath(com)).isSymLink());
    ::close(slave);
    ::close(master);
}

void TestVelkSim::refusesAComServedByAnother() {
    const int com = nextCom++;
    SimChild first;
    QString error;
    QVERIFY2(first.start(com, {"--quiet"}, &error), qPrintable(error));
    SimChild second;
    QVERIFY(second.launch({"--com", QString::number(com)}));
    QCOMPARE(second.wait(), 69);
    QVERIFY2(second.errors().contains("live device"), second.errors().constData());
    QCOMPARE(QFileInfo(SimChild::linkPath(com)).symLinkTarget(), first.device);
    QCOMPARE(first.stop(SIGTERM), 0);
}

void TestVelkSim::skipsNoiseAndBrokenBlocks() {
    const int com = nextCom++;
    SimChild sim;
    QString error;
    QVERIFY2(sim.start(com, {}, &error), qPrintable(error));
    Line line(SimChild::linkPath(com));
    QVERIFY(line.fd >= 0);

    const Bytes good = frameRequest(0x10);
    Bytes badCrc = good;
    badCrc[17] ^= 0x01;
    Bytes stream = {0x00, 0x13, 0x7F};
    stream.insert(stream.end(), good.begin(), good.begin() + 9); // cut short
    stream.insert(stream.end(), badCrc.begin(), badCrc.end());
    stream.insert(stream.end(), good.begin(), good.end());
    QVERIFY(line.write(stream));

    const Bytes answer = line.read(13, 500);
    Velk21DataBlockKernel data;
    QVERIFY(decodeData(answer, data)); // exactly one answer, and a sound one
    QCOMPARE(data.data[0], (unsigned char)0x99);
    QCOMPARE(data.ao, (unsigned char)4);

    QTRY_VERIFY(sim.output().contains("REQ "));
    const QByteArray log = sim.output();
    // Bytes as everywhere: hexadecimal without leading zeros.
    QVERIFY2(log.contains("SKIP noise (3 bytes) | 0 13 7F"), log.constData());
    // One base on a line: the address levels in hexadecimal like the fields.
    QVERIFY2(log.contains("REQ addr=4.0.0.0 time=0 code=10 "), log.constData());
    QVERIFY(log.contains("SKIP data block cut short by a header"));
    QVERIFY(log.contains("SKIP data block with a bad CRC"));
    QCOMPARE(log.count("REQ "), 1);
    QCOMPARE(log.count("ANS "), 1);

    // Still serving after all that.
    QVERIFY(line.write(good));
    QCOMPARE(line.read(12, 500).size(), size_t(12));
}

void TestVelkSim::faultsOnTheWire() {
    const int com = nextCom++;
    SimChild sim;
    QString error;
    QVERIFY2(sim.start(com, {"--scenario", "garbage=2,long=3", "--quiet"}, &error),
             qPrintable(error));
    Line line(SimChild::linkPath(com));
    QVERIFY(line.write(frameRequest(0x10)));
    const Bytes got = line.read(18, 500);
    QCOMPARE(got.size(), size_t(17));
    QCOMPARE(Bytes(got.begin(), got.begin() + 2), Bytes({0x11, 0x22}));
    Velk21DataBlockKernel data;
    QVERIFY(decodeData(Bytes(got.begin() + 2, got.begin() + 14), data));
    QCOMPARE(Bytes(got.begin() + 14, got.end()), Bytes({0x5A, 0x5A, 0x5A}));
}

void TestVelkSim::silentMeansSilent() {
    const int com = nextCom++;
    SimChild sim;
    QString error;
    QVERIFY2(sim.start(com, {"--scenario", "silent"}, &error), qPrintable(error));
    Line line(SimChild::linkPath(com));
    QVERIFY(line.write(frameRequest(0x10)));
    QTRY_VERIFY(sim.output().contains("REQ ")); // heard the request
    QVERIFY(line.read(1, 200).empty());
}

void TestVelkSim::answersOnlyItsAddress() {
    const int com = nextCom++;
    SimChild sim;
    QString error;
    QVERIFY2(sim.start(com, {"--address", "5"}, &error), qPrintable(error));
    Line line(SimChild::linkPath(com));
    QVERIFY(line.write(frameRequest(0x10))); // for slave 4
    QTRY_VERIFY(sim.output().contains("(not for us)"));
    QVERIFY(line.read(1, 100).empty());
}

void TestVelkSim::releasesExclusiveMode() {
    const int com = nextCom++;
    SimChild sim;
    QString error;
    QVERIFY2(sim.start(com, {"--quiet"}, &error), qPrintable(error));
    {
        Line first(SimChild::linkPath(com));
        QVERIFY(first.fd >= 0);
        QCOMPARE(ioctl(first.fd, TIOCEXCL), 0);
    }
    // Left set, the mode would lock out the next program that is not root.
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            Line next(SimChild::linkPath(com));
            int exclusive = -1;
            return next.fd >= 0 && ioctl(next.fd, TIOCGEXCL, &exclusive) == 0 && exclusive == 0;
        }(),
        2000);
}

void TestVelkSim::jsonLog() {
    const int com = nextCom++;
    SimChild sim;
    QString error;
    QVERIFY2(sim.start(com, {"--json"}, &error), qPrintable(error));
    Line line(SimChild::linkPath(com));
    QVERIFY(line.write(Bytes{0x01, 0x02}));
    QVERIFY(line.write(frameRequest(0x10)));
    QCOMPARE(line.read(12, 500).size(), size_t(12));
    QTRY_VERIFY(sim.output().count('\n') >= 4);

    QList<QByteArray> lines = sim.output().split('\n');
    lines.removeFirst(); // READY
    QStringList events;
    for (const QByteArray& text : lines) {
        if (text.isEmpty()) {
            continue;
        }
        QJsonParseError parseError;
        const QJsonDocument doc = QJsonDocument::fromJson(text, &parseError);
        QVERIFY2(doc.isObject(), text.constData());
        events << doc.object().value("event").toString();
        if (events.last() == "request") {
            // Byte fields as hexadecimal strings, as velkctl writes them.
            QCOMPARE(doc.object().value("code").toString(), QString("10"));
            QCOMPARE(doc.object().value("address").toArray().at(0).toString(), QString("4"));
        }
    }
    QCOMPARE(events, QStringList({"skipped", "request", "answer"}));
}

QTEST_GUILESS_MAIN(TestVelkSim)
#include "tst_velksim.moc"
