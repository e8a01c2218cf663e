#include "BlockBytes.h"
#include "PortTestClient.h"
#include "PosixSerialDevice.h"
#include "Pty.h"
#include "SerialLineSetup.h"
#include "SerialPort.h"
#include "Sleep.h"

#include <QtTest>

#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

Q_DECLARE_METATYPE(OpenFailure)

namespace {

// The kernel's "free baud rate" code (BOTHER), not exported by <termios.h>.
constexpr unsigned freeBaudRate = 0010000;

Bytes everyByte() {
    Bytes bytes(256);
    for (unsigned i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<unsigned char>(255 - i);
    }
    return bytes;
}

// A line whose last character never leaves: a stalled UART, or flow control
// holding the output. A pseudo-terminal's output never waits.
class StalledDevice : public PosixSerialDevice {
protected:
    unsigned queuedOutput() const override { return 1; }
};

// A driver that answers for its line status but never reports the
// transmitter empty (ftdi_sio behind QEMU's FTDI adapter).
class NeverEmptyDevice : public PosixSerialDevice {
public:
    mutable std::atomic<int> statusCalls{0};

protected:
    Transmitter transmitter() const override {
        ++statusCalls;
        return Transmitter::Busy;
    }
};

// Writes count bytes and times the drain that follows, in ms.
double drainMs(PosixSerialDevice& device, unsigned count, bool& drained) {
    unsigned written = 0;
    for (unsigned i = 0; i < count; ++i) {
        if (!device.writeByte(0x55, 151, written) || written != 1) {
            drained = false;
            return -1;
        }
    }
    const auto start = std::chrono::steady_clock::now();
    drained = device.drain(151);
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

long long msSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}

// Sends bytes through the port; true when the transmission ended without
// error and they all reached the far end.
bool transmitted(SerialPort& port, PortTestClient& client, const Pty& pty, const Bytes& bytes) {
    DataBlock<unsigned char> block = blockOf(bytes);
    client.txDone.reset();
    return port.startTransmit(&block, &client) && client.txDone.waitFor(10000) &&
           port.error() == 0 && pty.read(bytes.size(), 5000) == bytes;
}

// A port opened at 115200 baud on the slave side of a fresh pseudo-terminal.
struct PortOnPty {
    Pty pty;
    PortTestClient client;
    SerialPort port;

    bool open() { return pty.ok() && port.open(pty.path, 115200); }
};

} // namespace

class TestSerialPortPty : public QObject {
    Q_OBJECT

private slots:
    void bytesGoOutAndComeIn_data();
    void bytesGoOutAndComeIn();
    void openFails_data();
    void openFails();
    void openFailureFromErrno_data();
    void openFailureFromErrno();
    void secondOpenIsRefused();
    void hangUpEndsReception();
    void hangUpRefusesTransmission();
    void closeEndsBlockedRead();
    void drainIsBoundedAndWakeable();
    void drainWaitsTheWireTimeWithoutLineStatus();
    void transmitterNeverEmptyIsBoundedByTheWireTime();
    void baudRateReadBack_data();
    void baudRateReadBack();
};

void TestSerialPortPty::bytesGoOutAndComeIn_data() {
    QTest::addColumn<unsigned>("baud");
    QTest::addColumn<unsigned>("speedFlag");
    QTest::newRow("115200") << 115200u << unsigned(B115200);
    QTest::newRow("500000") << 500000u << unsigned(B500000);
    QTest::newRow("1000000") << 1000000u << unsigned(B1000000);
    // Any other rate goes through the kernel's free baud rate setting.
    QTest::newRow("250000") << 250000u << freeBaudRate;
}

void TestSerialPortPty::bytesGoOutAndComeIn() {
    QFETCH(unsigned, baud);
    QFETCH(unsigned, speedFlag);
    Pty pty;
    QVERIFY(pty.ok());
    PortTestClient client;
    SerialPort port;
    QVERIFY(port.open(pty.path, baud));
    QVERIFY(port.isOpen());

    // The line as the port left it: raw 8N1 at the rate, no flow control.
    // (Root may open an exclusive tty; as another user the check is skipped.)
    const int probe = ::open(pty.path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    QVERIFY(probe >= 0 || geteuid() != 0);
    if (probe >= 0) {
        termios line{};
        QCOMPARE(tcgetattr(probe, &line), 0);
        ::close(probe);
        QCOMPARE(unsigned(cfgetospeed(&line)), speedFlag);
        QCOMPARE(line.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), tcflag_t(CS8));
        QCOMPARE(line.c_iflag & (IXON | IXOFF), tcflag_t(0));
        QCOMPARE(line.c_lflag & (ICANON | ECHO), tcflag_t(0));
    }

    const Bytes sent = everyByte();
    DataBlock<unsigned char> block = blockOf(sent);
    QVERIFY(port.startTransmit(&block, &client));
    QVERIFY(client.txDone.waitFor(10000));
    QCOMPARE(port.error(), 0);
    QCOMPARE(pty.read(sent.size(), 5000), sent);

    const Bytes answer = {0xC1, 0x00, 0x7F, 0x80, 0xFF, 0x0D, 0x0A, 0x11, 0x13};
    client.keepReceiving = [&answer](int n) { return n < static_cast<int>(answer.size()); };
    DataBlock<unsigned char> destination;
    QVERIFY(port.startReceive(&destination, 1, 2000, &client));
    QVERIFY(pty.write(answer));
    QVERIFY(client.rxDone.waitFor(10000));
    QCOMPARE(port.error(), 0);
    QCOMPARE(bytesOf(destination), answer);
    QCOMPARE(client.txCompletes.load(), 1);
    QCOMPARE(client.rxCompletes.load(), 1);
}

void TestSerialPortPty::openFails_data() {
    QTest::addColumn<QString>("what");
    QTest::addColumn<OpenFailure>("why");
    QTest::newRow("missing path") << "missing" << OpenFailure::NoSuchDevice;
    QTest::newRow("regular file") << "file" << OpenFailure::NotATerminal;
    QTest::newRow("directory") << "directory" << OpenFailure::NotATerminal;
    QTest::newRow("not a tty") << "null" << OpenFailure::NotATerminal;
    QTest::newRow("baud rate 0") << "baud0" << OpenFailure::Other;
    QTest::newRow("unknown COM name") << "name" << OpenFailure::NoSuchDevice;
}

void TestSerialPortPty::openFails() {
    QFETCH(QString, what);
    QTemporaryDir folder;
    Pty pty;
    QVERIFY(pty.ok());
    std::string path = pty.path;
    unsigned baud = 115200;
    if (what == "missing") {
        path = folder.path().toStdString() + "/ttyNone";
    } else if (what == "file") {
        path = folder.path().toStdString() + "/plain";
        QFile file(QString::fromStdString(path));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("x");
    } else if (what == "directory") {
        path = folder.path().toStdString();
    } else if (what == "null") {
        path = "/dev/null";
    } else if (what == "baud0") {
        baud = 0;
    } else {
        path = "COM254";
    }
    PortTestClient client;
    SerialPort port;
    QVERIFY(!port.open(path, baud));
    QVERIFY(!port.isOpen());
    QFETCH(OpenFailure, why);
    QCOMPARE(port.openFailure(), why);
    DataBlock<unsigned char> block = blockOf({1, 2});
    QVERIFY(!port.startTransmit(&block, &client));

    // A failed open holds nothing: the pty can be opened right after.
    if (what == "baud0") {
        SerialPort again;
        QVERIFY(again.open(pty.path, 115200));
        QCOMPARE(again.openFailure(), OpenFailure::None);
    }
}

// Where the test cannot make the failure happen (root opens everything).
void TestSerialPortPty::openFailureFromErrno_data() {
    QTest::addColumn<int>("error");
    QTest::addColumn<OpenFailure>("why");
    QTest::newRow("ENOENT") << ENOENT << OpenFailure::NoSuchDevice;
    QTest::newRow("ENXIO") << ENXIO << OpenFailure::NoSuchDevice;
    QTest::newRow("ENODEV") << ENODEV << OpenFailure::NoSuchDevice;
    QTest::newRow("EACCES") << EACCES << OpenFailure::PermissionDenied;
    QTest::newRow("EPERM") << EPERM << OpenFailure::PermissionDenied;
    QTest::newRow("EBUSY") << EBUSY << OpenFailure::Busy;
    QTest::newRow("EWOULDBLOCK") << EWOULDBLOCK << OpenFailure::Busy;
    QTest::newRow("ENOTTY") << ENOTTY << OpenFailure::NotATerminal;
    QTest::newRow("EIO") << EIO << OpenFailure::Other;
}

void TestSerialPortPty::openFailureFromErrno() {
    QFETCH(int, error);
    QFETCH(OpenFailure, why);
    QCOMPARE(openFailureOfErrno(error), why);
    // The hint a user without the right needs.
    QVERIFY(QString(openFailureText(OpenFailure::PermissionDenied)).contains("dialout"));
}

void TestSerialPortPty::secondOpenIsRefused() {
    Pty pty;
    QVERIFY(pty.ok());
    PortTestClient client;
    SerialPort first;
    QVERIFY(first.open(pty.path, 115200));
    {
        SerialPort second;
        QVERIFY(!second.open(pty.path, 115200));
        QVERIFY(!second.isOpen());
        QCOMPARE(second.openFailure(), OpenFailure::Busy);
    }
    // The refused open disturbed nothing.
    QVERIFY(transmitted(first, client, pty, {0x55, 0xAA}));

    first.close();
    // Closing gives the tty back with its exclusive flag cleared; otherwise
    // every later open by a user other than root fails while the other side lives.
    const int probe = ::open(pty.path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    QVERIFY(probe >= 0);
    int exclusive = -1;
    QCOMPARE(ioctl(probe, TIOCGEXCL, &exclusive), 0);
    ::close(probe);
    QCOMPARE(exclusive, 0);
    SerialPort third;
    QVERIFY(third.open(pty.path, 115200));
}

void TestSerialPortPty::hangUpEndsReception() {
    PortOnPty line;
    QVERIFY(line.open());
    line.client.keepReceiving = [](int) { return true; };
    DataBlock<unsigned char> destination;
    QVERIFY(line.port.startReceive(&destination, 1, 60000, &line.client));
    QVERIFY(line.pty.write({0x01, 0x02}));
    QTRY_COMPARE(line.client.rxProcesses.load(), 2);

    // The other side goes away: the blocked read ends as incomplete, long
    // before its time-out.
    line.pty.closeMaster();
    QVERIFY(line.client.rxDone.waitFor(10000));
    QCOMPARE(line.port.error(), 2);
    QCOMPARE(bytesOf(destination), (Bytes{0x01, 0x02}));
    QCOMPARE(line.client.rxCompletes.load(), 1);
    QVERIFY(!line.port.isBusy());
    QVERIFY(line.port.deviceFailed());
}

void TestSerialPortPty::hangUpRefusesTransmission() {
    PortOnPty line;
    QVERIFY(line.open());
    // Transmissions first succeed, although a pseudo-terminal has no RTS
    // line to switch and no error counters to clear.
    QVERIFY(transmitted(line.port, line.client, line.pty, {0x80, 0x01, 0x02}));
    QVERIFY(transmitted(line.port, line.client, line.pty, {0x80, 0x03, 0x04}));

    // That the line has none of these must not hide that it is gone.
    line.pty.closeMaster();
    line.client.txDone.reset();
    DataBlock<unsigned char> block = blockOf({0x80, 0x05});
    QVERIFY(!line.port.startTransmit(&block, &line.client));
    QVERIFY(!line.client.txDone.waitFor(50));
    QCOMPARE(line.client.txCompletes.load(), 2);
    QVERIFY(!line.port.isBusy());
}

void TestSerialPortPty::closeEndsBlockedRead() {
    PortOnPty line;
    QVERIFY(line.open());
    DataBlock<unsigned char> destination;
    QVERIFY(line.port.startReceive(&destination, 1, 60000, &line.client));
    sleepMs(20);
    line.port.close();
    QCOMPARE(line.client.rxCompletes.load(), 1);
    QCOMPARE(line.port.error(), 2);
    QVERIFY(!line.port.isOpen());
    // Woken by close(), not failed by the device.
    QVERIFY(!line.port.deviceFailed());
    SerialPort again;
    QVERIFY(again.open(line.pty.path, 115200));
}

void TestSerialPortPty::drainIsBoundedAndWakeable() {
    Pty pty;
    QVERIFY(pty.ok());
    StalledDevice device;
    QVERIFY(device.open(pty.path));
    unsigned written = 0;
    QVERIFY(device.writeByte(0x55, 150, written));

    // Bounded by its time-out (a fault waits for ever).
    auto start = std::chrono::steady_clock::now();
    QVERIFY(!device.drain(150));
    const long long bounded = msSince(start);
    QVERIFY2(bounded >= 140 && bounded < 5000, qPrintable(QString::number(bounded)));

    // And a wake ends it long before.
    std::thread waker([&device] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        device.wake();
    });
    start = std::chrono::steady_clock::now();
    QVERIFY(!device.drain(60000));
    const long long woken = msSince(start);
    waker.join();
    QVERIFY2(woken < 5000, qPrintable(QString::number(woken)));
}

// Without a line status the queue says nothing of the bytes in the UART: the
// drain lasts as long as the bytes need on the wire (10 bits each at 9600).
void TestSerialPortPty::drainWaitsTheWireTimeWithoutLineStatus() {
    Pty pty;
    QVERIFY(pty.ok());
    PosixSerialDevice device;
    QVERIFY(device.open(pty.path));
    QVERIFY(device.configure(9600, 0));
    bool drained = false;
    const double ms = drainMs(device, 20, drained);
    QVERIFY(drained);
    QVERIFY2(ms >= 20 * 10 * 1000.0 / 9600 - 1, qPrintable(QString::number(ms)));
    QCOMPARE(pty.read(20, 5000).size(), std::size_t(20));
}

// The wait for an empty transmitter ends when the bytes have had their time
// on the wire and a little more, not at the write time-out with RTS still
// raised; a driver that misses that bound again and again is not asked any
// more.
void TestSerialPortPty::transmitterNeverEmptyIsBoundedByTheWireTime() {
    Pty pty;
    QVERIFY(pty.ok());
    NeverEmptyDevice device;
    QStringList notices;
    device.setNotice(
        [&notices](const std::string& text) { notices << QString::fromStdString(text); });
    QVERIFY(device.open(pty.path));
    QVERIFY(device.configure(115200, 0));
    // 18 bytes at 115200: 1.6 ms on the wire; a loaded machine may add some.
    bool drained = false;
    const double first = drainMs(device, 18, drained);
    QVERIFY(drained);
    QVERIFY2(first < 60, qPrintable(QString::number(first)));
    QVERIFY(device.statusCalls > 0);
    for (int i = 0; i < 4; ++i) {
        QVERIFY(drainMs(device, 18, drained) < 60 && drained);
    }
    // Said once, not per exchange.
    QCOMPARE(notices.size(), 1);
    QVERIFY2(notices[0].startsWith(QString::fromStdString(pty.path) + ": "),
             qPrintable(notices[0]));
    // Now the bytes' time alone counts: 20 bytes at 9600 take 20.8 ms.
    QVERIFY(device.configure(9600, 0));
    const int asked = device.statusCalls;
    const double computed = drainMs(device, 20, drained);
    QVERIFY(drained);
    QCOMPARE(device.statusCalls.load(), asked);
    QVERIFY2(computed >= 19.8 && computed < 100, qPrintable(QString::number(computed)));
    QCOMPARE(notices.size(), 1);
    pty.read(5 * 18 + 20, 5000);
}

// A driver may keep another rate than the one asked for; within 3 % the far
// end still reads the line.
void TestSerialPortPty::baudRateReadBack_data() {
    QTest::addColumn<unsigned>("asked");
    QTest::addColumn<unsigned>("set");
    QTest::addColumn<bool>("holds");
    QTest::newRow("exact") << 115200u << 115200u << true;
    QTest::newRow("3 % slow") << 115200u << 111744u << true;
    QTest::newRow("just over 3 % slow") << 115200u << 111743u << false;
    QTest::newRow("3 % fast") << 9600u << 9888u << true;
    QTest::newRow("just over 3 % fast") << 9600u << 9889u << false;
    QTest::newRow("16550 keeping its old rate") << 1000000u << 115200u << false;
    QTest::newRow("FTDI falling back to 9600") << 4000000u << 9600u << false;
    QTest::newRow("no rate") << 9600u << 0u << false;
}

void TestSerialPortPty::baudRateReadBack() {
    QFETCH(unsigned, asked);
    QFETCH(unsigned, set);
    QFETCH(bool, holds);
    QCOMPARE(baudRateHolds(asked, set), holds);

    // A pseudo-terminal keeps any rate, so the line opens at the rate asked.
    Pty pty;
    QVERIFY(pty.ok());
    const int fd = ::open(pty.path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    QVERIFY(fd >= 0);
    const OpenFailureDetail result = setUpSerialLine(fd, asked, 0);
    ::close(fd);
    QCOMPARE(result.reason, OpenFailure::None);
}

QTEST_APPLESS_MAIN(TestSerialPortPty)
#include "tst_serialport_pty.moc"
