#include "BlockBytes.h"
#include "FakeSerialDevice.h"
#include "ManualResetEvent.h"
#include "PortTestClient.h"
#include "SerialPort.h"
#include "Sleep.h"

#include <QtTest>

#include <algorithm>
#include <memory>
#include <pthread.h>
#include <sys/resource.h>
#include <thread>
#include <vector>

namespace {
using Action = FakeSerialDevice::Action;

const char* const fakePath = "/dev/velk-fake0";

// A port on a fake device; the fake stays reachable for scripting.
struct Rig {
    FakeSerialDevice* fake;
    std::unique_ptr<SerialPort> port;
    Rig() {
        auto device = std::make_unique<FakeSerialDevice>();
        fake = device.get();
        port = std::make_unique<SerialPort>(std::move(device));
    }
};

Bytes sequence(unsigned n, unsigned char first = 0x40) {
    Bytes bytes(n);
    for (unsigned i = 0; i < n; ++i) {
        bytes[i] = static_cast<unsigned char>(first + i);
    }
    return bytes;
}

int indexOf(const std::vector<Action>& actions, Action::Kind kind, bool last = false) {
    int found = -1;
    for (int i = 0; i < static_cast<int>(actions.size()); ++i) {
        if (actions[i].kind == kind) {
            found = i;
            if (!last) {
                break;
            }
        }
    }
    return found;
}

// Nothing can call back after a refused start; give a wrong one time to show.
void settle() {
    sleepMs(40);
}

// Kilobytes of address space the process uses now.
long virtualKb() {
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly)) {
        return -1;
    }
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmSize:")) {
            return line.mid(7).trimmed().split(' ').value(0).toLong();
        }
    }
    return -1;
}

// Leaves the process a little address space, too little for a thread's
// stack, until destroyed: thread creation fails while it lives. The threads
// parked first take the stacks the C library keeps from ended threads.
class NoRoomForThreads {
public:
    NoRoomForThreads() {
        for (std::thread& t : parked) {
            t = std::thread([this] { release.wait(); });
        }
        getrlimit(RLIMIT_AS, &previous);
        const long kb = virtualKb();
        rlimit tight = previous;
        tight.rlim_cur = static_cast<rlim_t>(kb + 1024) * 1024;
        applied = kb > 0 && setrlimit(RLIMIT_AS, &tight) == 0;
    }
    ~NoRoomForThreads() {
        if (applied) {
            setrlimit(RLIMIT_AS, &previous);
        }
        release.set();
        for (std::thread& t : parked) {
            t.join();
        }
    }
    NoRoomForThreads(const NoRoomForThreads&) = delete;
    NoRoomForThreads& operator=(const NoRoomForThreads&) = delete;

    // Whether a thread can be created now.
    static bool threadsPossible() {
        pthread_t probe{};
        if (pthread_create(
                &probe, nullptr, [](void*) -> void* { return nullptr; }, nullptr) != 0) {
            return false;
        }
        pthread_join(probe, nullptr);
        return true;
    }

    bool applied = false;

private:
    ManualResetEvent release{"release", false};
    std::thread parked[16];
    rlimit previous{};
};

enum class Refusal {
    EmptyBlock,
    NullBlock,
    ClosedTransmit,
    BusyTransmit,
    PurgeFails,
    RtsFailsTransmit,
    ZeroBytesPerRead,
    NullDestination,
    ClosedReceive,
    BusyReceive,
    RtsFailsReceive
};
} // namespace

Q_DECLARE_METATYPE(Refusal)
Q_DECLARE_METATYPE(Bytes)

class TestSerialPort : public QObject {
    Q_OBJECT

private slots:
    void transmitFramesBytesWithRts_data();
    void transmitFramesBytesWithRts();
    void incompleteTransmission_data();
    void incompleteTransmission();
    void refusedStartGivesNoCallback_data();
    void refusedStartGivesNoCallback();
    void receiveAppendsEveryRead_data();
    void receiveAppendsEveryRead();
    void incompleteReception_data();
    void incompleteReception();
    void receptionFollowsTransmission_data();
    void receptionFollowsTransmission();
    void readTimeoutArithmetic_data();
    void readTimeoutArithmetic();
    void readTimeoutGovernsTheWait_data();
    void readTimeoutGovernsTheWait();
    void closeCallsLastClientOnce_data();
    void closeCallsLastClientOnce();
    void closeEndsRunningOperation_data();
    void closeEndsRunningOperation();
    void hangUpEndsReceptionWithoutSpinning();
    void openResolvesNames();
    void openFailureLeavesPortClosed_data();
    void openFailureLeavesPortClosed();
    void reopenClosesFirst();
    void openFailsWithoutWorkerThreads();
    void parity();
};

void TestSerialPort::transmitFramesBytesWithRts_data() {
    QTest::addColumn<unsigned>("size");
    QTest::newRow("one byte") << 1u;
    QTest::newRow("request") << 18u;
    QTest::newRow("request with two extended blocks") << 38u;
}

void TestSerialPort::transmitFramesBytesWithRts() {
    QFETCH(unsigned, size);
    // Declared first: the port calls its last client until it is closed.
    PortTestClient client;
    Rig rig;
    QVERIFY(rig.port->open(fakePath, 115200));
    QCOMPARE(rig.fake->baudRate(), 115200u);
    QVERIFY(!rig.fake->rts());

    // Input from before the request must be gone when the transmission starts.
    rig.fake->queueIncoming({0x11, 0x22});
    bool rtsAtCallback = true;
    client.onTxComplete = [&] { rtsAtCallback = rig.fake->rts(); };
    const Bytes sent = sequence(size);
    DataBlock<unsigned char> block = blockOf(sent);
    QVERIFY(rig.port->startTransmit(&block, &client));
    QVERIFY(client.txDone.waitFor(5000));
    settle();

    QCOMPARE(client.txCompletes.load(), 1);
    QCOMPARE(client.rxCompletes.load(), 0);
    QCOMPARE(rig.port->error(), 0);
    QVERIFY(!rig.port->isBusy());
    QVERIFY(!rtsAtCallback);
    QCOMPARE(rig.fake->written(), sent);

    const std::vector<Action> actions = rig.fake->actions();
    const int purged = indexOf(actions, Action::Purged, true);
    const int rtsHigh = indexOf(actions, Action::RtsHigh);
    const int firstByte = indexOf(actions, Action::Wrote);
    const int lastByte = indexOf(actions, Action::Wrote, true);
    const int drained = indexOf(actions, Action::Drained);
    const int rtsLow = indexOf(actions, Action::RtsLow, true);
    QVERIFY(purged >= 0 && purged < rtsHigh);
    QVERIFY(rtsHigh < firstByte);
    QVERIFY(lastByte < drained);
    QVERIFY(drained < rtsLow);
    QVERIFY(actions[rtsLow].time - actions[drained].time >= std::chrono::milliseconds(2));

    // The stale input was purged: a reception now times out empty.
    DataBlock<unsigned char> answer;
    QVERIFY(rig.port->startReceive(&answer, 1, 10, &client));
    QVERIFY(client.rxDone.waitFor(5000));
    QCOMPARE(rig.port->error(), 2);
    QCOMPARE(answer.size(), 0u);
}

void TestSerialPort::incompleteTransmission_data() {
    QTest::addColumn<bool>("stall");
    QTest::addColumn<unsigned>("taken");
    QTest::newRow("write fails at once") << false << 0u;
    QTest::newRow("write fails after three bytes") << false << 3u;
    QTest::newRow("byte not taken in time") << true << 2u;
}

void TestSerialPort::incompleteTransmission() {
    QFETCH(bool, stall);
    QFETCH(unsigned, taken);
    // Declared first: the port calls its last client until it is closed.
    PortTestClient client;
    Rig rig;
    QVERIFY(rig.port->open(fakePath, 115200));
    if (stall) {
        rig.fake->stallWritesAfter(taken);
    } else {
        rig.fake->failWritesAfter(taken);
    }
    const Bytes sent = sequence(6);
    DataBlock<unsigned char> block = blockOf(sent);
    QVERIFY(rig.port->startTransmit(&block, &client));
    QVERIFY(client.txDone.waitFor(5000));
    settle();

    QCOMPARE(client.txCompletes.load(), 1);
    QCOMPARE(rig.port->error(), 1);
    QVERIFY(!rig.port->isBusy());
    QVERIFY(!rig.fake->rts());
    QCOMPARE(rig.fake->written(), Bytes(sent.begin(), sent.begin() + taken));
}

void TestSerialPort::refusedStartGivesNoCallback_data() {
    QTest::addColumn<Refusal>("refusal");
    QTest::newRow("empty block") << Refusal::EmptyBlock;
    QTest::newRow("no block") << Refusal::NullBlock;
    QTest::newRow("transmit on closed port") << Refusal::ClosedTransmit;
    QTest::newRow("transmit during reception") << Refusal::BusyTransmit;
    QTest::newRow("purge fails") << Refusal::PurgeFails;
    QTest::newRow("RTS cannot be raised") << Refusal::RtsFailsTransmit;
    QTest::newRow("zero bytes per read") << Refusal::ZeroBytesPerRead;
    QTest::newRow("no destination") << Refusal::NullDestination;
    QTest::newRow("receive on closed port") << Refusal::ClosedReceive;
    QTest::newRow("receive during reception") << Refusal::BusyReceive;
    QTest::newRow("RTS cannot be dropped") << Refusal::RtsFailsReceive;
}

void TestSerialPort::refusedStartGivesNoCallback() {
    QFETCH(Refusal, refusal);
    // Declared first: the port calls its last client until it is closed.
    PortTestClient first;
    PortTestClient client;
    Rig rig;
    const bool closed = refusal == Refusal::ClosedTransmit || refusal == Refusal::ClosedReceive;
    if (!closed) {
        QVERIFY(rig.port->open(fakePath, 115200));
    }
    DataBlock<unsigned char> pending;
    const bool busy = refusal == Refusal::BusyTransmit || refusal == Refusal::BusyReceive;
    if (busy) {
        QVERIFY(rig.port->startReceive(&pending, 1, 5000, &first));
        QVERIFY(rig.port->isBusy());
    }
    if (refusal == Refusal::PurgeFails) {
        rig.fake->setFailing(FakeSerialDevice::Operation::Purge, true);
    }
    if (refusal == Refusal::RtsFailsTransmit || refusal == Refusal::RtsFailsReceive) {
        rig.fake->setFailing(FakeSerialDevice::Operation::SetRts, true);
    }

    DataBlock<unsigned char> block = blockOf(sequence(3));
    DataBlock<unsigned char> empty;
    bool started = true;
    switch (refusal) {
    case Refusal::EmptyBlock:
        started = rig.port->startTransmit(&empty, &client);
        break;
    case Refusal::NullBlock:
        started = rig.port->startTransmit(nullptr, &client);
        break;
    case Refusal::ClosedTransmit:
    case Refusal::BusyTransmit:
    case Refusal::PurgeFails:
    case Refusal::RtsFailsTransmit:
        started = rig.port->startTransmit(&block, &client);
        break;
    case Refusal::ZeroBytesPerRead:
        started = rig.port->startReceive(&block, 0, 150, &client);
        break;
    case Refusal::NullDestination:
        started = rig.port->startReceive(nullptr, 1, 150, &client);
        break;
    case Refusal::ClosedReceive:
    case Refusal::BusyReceive:
    case Refusal::RtsFailsReceive:
        started = rig.port->startReceive(&block, 1, 150, &client);
        break;
    }
    QVERIFY(!started);
    QVERIFY(rig.fake->written().empty());
    QVERIFY(!rig.fake->rts());
    QCOMPARE(rig.port->error(), 0);
    // A device that refuses a purge or RTS has failed (a terminal whose other
    // side is gone answers EIO): the session closes it and looks for it anew.
    const bool deviceRefused = refusal == Refusal::PurgeFails ||
                               refusal == Refusal::RtsFailsTransmit ||
                               refusal == Refusal::RtsFailsReceive;
    QCOMPARE(rig.port->deviceFailed(), deviceRefused);
    QCOMPARE(bytesOf(block), sequence(3));

    if (busy) {
        // The reception that was running is not disturbed and ends normally.
        QVERIFY(rig.port->isBusy());
        rig.fake->queueIncoming({0x5A});
        QVERIFY(first.rxDone.waitFor(5000));
        QCOMPARE(rig.port->error(), 0);
        QCOMPARE(bytesOf(pending), Bytes{0x5A});
    }
    settle();
    QCOMPARE(client.txCompletes.load(), 0);
    QCOMPARE(client.rxCompletes.load(), 0);
    QCOMPARE(client.rxProcesses.load(), 0);
    QCOMPARE(first.txCompletes.load(), 0);
    QCOMPARE(first.rxCompletes.load(), busy ? 1 : 0);
}

void TestSerialPort::receiveAppendsEveryRead_data() {
    QTest::addColumn<unsigned>("bytesPerRead");
    QTest::addColumn<unsigned>("gapMs");
    QTest::newRow("one byte a read, all there") << 1u << 0u;
    QTest::newRow("one byte a read, trickling in") << 1u << 3u;
    QTest::newRow("four bytes a read") << 4u << 0u;
    QTest::newRow("twelve bytes in one read") << 12u << 0u;
}

void TestSerialPort::receiveAppendsEveryRead() {
    QFETCH(unsigned, bytesPerRead);
    QFETCH(unsigned, gapMs);
    // Declared first: the port calls its last client until it is closed.
    PortTestClient client;
    Rig rig;
    QVERIFY(rig.port->open(fakePath, 115200));
    const Bytes incoming = sequence(12, 0xC0);
    if (gapMs == 0) {
        rig.fake->queueIncoming(incoming);
    } else {
        for (unsigned char b : incoming) {
            rig.fake->queueIncoming({b}, gapMs);
        }
    }
    const int reads = static_cast<int>(incoming.size() / bytesPerRead);
    client.keepReceiving = [reads](int n) { return n < reads; };
    DataBlock<unsigned char> destination = blockOf({0xAA});
    QVERIFY(rig.port->startReceive(&destination, bytesPerRead, 150, &client));
    QVERIFY(client.rxDone.waitFor(5000));
    settle();

    Bytes expected(incoming.size() + 1, 0xAA);
    std::copy(incoming.begin(), incoming.end(), expected.begin() + 1);
    QCOMPARE(bytesOf(destination), expected);
    QCOMPARE(rig.port->error(), 0);
    QCOMPARE(client.rxProcesses.load(), reads);
    QCOMPARE(client.lastBytesRead.load(), bytesPerRead);
    QCOMPARE(client.rxCompletes.load(), 1);
    QCOMPARE(client.txCompletes.load(), 0);
    QVERIFY(!rig.port->isBusy());
}

void TestSerialPort::incompleteReception_data() {
    QTest::addColumn<Bytes>("incoming");
    QTest::addColumn<unsigned>("bytesPerRead");
    QTest::addColumn<Bytes>("appended");
    QTest::newRow("no answer") << Bytes{} << 1u << Bytes{};
    QTest::newRow("short read") << Bytes{1, 2} << 3u << Bytes{};
    QTest::newRow("answer stops early") << Bytes{1, 2} << 1u << Bytes{1, 2};
    QTest::newRow("second read short") << Bytes{1, 2, 3, 4, 5} << 3u << Bytes{1, 2, 3};
}

void TestSerialPort::incompleteReception() {
    QFETCH(Bytes, incoming);
    QFETCH(unsigned, bytesPerRead);
    QFETCH(Bytes, appended);
    // Declared first: the port calls its last client until it is closed.
    PortTestClient client;
    Rig rig;
    QVERIFY(rig.port->open(fakePath, 1000000));
    rig.fake->queueIncoming(incoming);
    client.keepReceiving = [](int) { return true; };
    DataBlock<unsigned char> destination;
    QVERIFY(rig.port->startReceive(&destination, bytesPerRead, 20, &client));
    QVERIFY(client.rxDone.waitFor(5000));
    settle();

    QCOMPARE(rig.port->error(), 2);
    QCOMPARE(bytesOf(destination), appended);
    QCOMPARE(client.rxCompletes.load(), 1);
    QCOMPARE(client.rxProcesses.load(), static_cast<int>(appended.size() / bytesPerRead));
    QVERIFY(!rig.port->isBusy());
}

void TestSerialPort::receptionFollowsTransmission_data() {
    QTest::addColumn<Bytes>("reply");
    QTest::addColumn<unsigned>("writesBeforeFailure"); // 0: none fails
    QTest::addColumn<int>("error");
    QTest::addColumn<Bytes>("received");
    QTest::newRow("answered") << sequence(12, 0xC0) << 0u << 0 << sequence(12, 0xC0);
    QTest::newRow("answer stops early") << Bytes{0xC4, 1, 2} << 0u << 2 << Bytes{0xC4, 1, 2};
    QTest::newRow("silent slave") << Bytes{} << 0u << 2 << Bytes{};
    // No reception after a failed transmission; the client hears of it all the same.
    QTest::newRow("transmission fails") << sequence(12, 0xC0) << 3u << 1 << Bytes{};
}

void TestSerialPort::receptionFollowsTransmission() {
    QFETCH(Bytes, reply);
    QFETCH(unsigned, writesBeforeFailure);
    QFETCH(int, error);
    QFETCH(Bytes, received);
    // Declared first: the port calls its last client until it is closed.
    PortTestClient client;
    Rig rig;
    QVERIFY(rig.port->open(fakePath, 115200));
    if (writesBeforeFailure != 0) {
        rig.fake->failWritesAfter(writesBeforeFailure);
    }
    rig.fake->queueReply(reply);
    client.keepReceiving = [](int n) { return n < 12; };
    int processedAtTxComplete = -1;
    bool rtsAtTxComplete = true;
    DataBlock<unsigned char> block = blockOf(sequence(18));
    client.onTxComplete = [&] {
        processedAtTxComplete = client.rxProcesses.load();
        rtsAtTxComplete = rig.fake->rts();
        // The request's block takes the answer, as the session uses it.
        block.clear();
    };
    SerialPort::FollowingReception then;
    then.destination = &block;
    then.bytesPerRead = 1;
    then.extraTimeoutMs = 30;
    QVERIFY(rig.port->startTransmit(&block, &client, then));
    QVERIFY(client.rxDone.waitFor(5000));
    settle();

    QCOMPARE(client.txCompletes.load(), 1);
    QCOMPARE(client.rxCompletes.load(), 1);
    QCOMPARE(processedAtTxComplete, 0);
    QVERIFY(!rtsAtTxComplete);
    QCOMPARE(rig.port->error(), error);
    QCOMPARE(bytesOf(block), received);
    QCOMPARE(client.rxProcesses.load(), static_cast<int>(received.size()));
    QCOMPARE(rig.fake->readCalls() > 0, writesBeforeFailure == 0);
    QCOMPARE(rig.port->timeouts().readTotalTimeoutConstant, writesBeforeFailure == 0 ? 31u : 150u);
    QVERIFY(!rig.port->isBusy());
    QVERIFY(!rig.fake->rts());
}

void TestSerialPort::readTimeoutArithmetic_data() {
    QTest::addColumn<unsigned>("baud");
    QTest::addColumn<int>("parity");
    QTest::addColumn<unsigned>("bytesPerRead");
    QTest::addColumn<unsigned>("extra");
    QTest::addColumn<unsigned>("expected");
    QTest::newRow("115200, one byte") << 115200u << 0 << 1u << 150u << 151u;
    QTest::newRow("500000, one byte") << 500000u << 0 << 1u << 150u << 151u;
    QTest::newRow("1000000, one byte") << 1000000u << 0 << 1u << 150u << 151u;
    QTest::newRow("9600, one byte") << 9600u << 0 << 1u << 0u << 2u;
    QTest::newRow("115200, twelve bytes") << 115200u << 0 << 12u << 0u << 2u;
    QTest::newRow("1200, ten bytes, parity") << 1200u << 2 << 10u << 5u << 97u;
    QTest::newRow("1000, one byte, exact") << 1000u << 0 << 1u << 0u << 11u;
    QTest::newRow("refused start keeps it") << 115200u << 0 << 0u << 150u << 151u;
}

void TestSerialPort::readTimeoutArithmetic() {
    QFETCH(unsigned, baud);
    QFETCH(int, parity);
    QFETCH(unsigned, bytesPerRead);
    QFETCH(unsigned, extra);
    QFETCH(unsigned, expected);
    // Declared first: the port calls its last client until it is closed.
    PortTestClient client;
    Rig rig;
    QVERIFY(rig.port->open(fakePath, baud));
    QCOMPARE(rig.port->timeouts().readTotalTimeoutConstant, 150u);
    if (parity != 0) {
        QVERIFY(rig.port->setParity(parity));
    }
    DataBlock<unsigned char> destination;
    QCOMPARE(rig.port->startReceive(&destination, bytesPerRead, extra, &client), bytesPerRead > 0);
    QCOMPARE(rig.port->timeouts().readTotalTimeoutConstant, expected);
    rig.port->close();
}

void TestSerialPort::readTimeoutGovernsTheWait_data() {
    QTest::addColumn<unsigned>("extra");
    QTest::addColumn<bool>("arrives");
    QTest::newRow("byte later than the time-out") << 0u << false;
    QTest::newRow("byte within the time-out") << 2000u << true;
}

void TestSerialPort::readTimeoutGovernsTheWait() {
    QFETCH(unsigned, extra);
    QFETCH(bool, arrives);
    // Declared first: the port calls its last client until it is closed.
    PortTestClient client;
    Rig rig;
    QVERIFY(rig.port->open(fakePath, 115200));
    rig.fake->queueIncoming({0x7E}, 100);
    DataBlock<unsigned char> destination;
    QVERIFY(rig.port->startReceive(&destination, 1, extra, &client));
    QVERIFY(client.rxDone.waitFor(10000));
    QCOMPARE(rig.port->error(), arrives ? 0 : 2);
    QCOMPARE(destination.size(), arrives ? 1u : 0u);
}

void TestSerialPort::closeCallsLastClientOnce_data() {
    QTest::addColumn<int>("lastOperation"); // 0 none, 1 transmission, 2 reception
    QTest::newRow("never used") << 0;
    QTest::newRow("after a transmission") << 1;
    QTest::newRow("after a reception") << 2;
}

void TestSerialPort::closeCallsLastClientOnce() {
    QFETCH(int, lastOperation);
    // Declared first: the port calls its last client until it is closed.
    PortTestClient client;
    Rig rig;
    QVERIFY(rig.port->open(fakePath, 115200));
    DataBlock<unsigned char> block = blockOf(sequence(4));
    if (lastOperation == 1) {
        QVERIFY(rig.port->startTransmit(&block, &client));
        QVERIFY(client.txDone.waitFor(5000));
    } else if (lastOperation == 2) {
        rig.fake->queueIncoming({1});
        QVERIFY(rig.port->startReceive(&block, 1, 150, &client));
        QVERIFY(client.rxDone.waitFor(5000));
    }
    settle();
    const int txBefore = client.txCompletes;
    const int rxBefore = client.rxCompletes;

    rig.port->close();
    QVERIFY(!rig.port->isOpen());
    QVERIFY(!rig.fake->isOpen());
    settle();
    QCOMPARE(client.txCompletes.load(), txBefore);
    QCOMPARE(client.rxCompletes.load(), rxBefore + (lastOperation == 0 ? 0 : 1));

    // A second close does nothing.
    rig.port->close();
    rig.port.reset();
    QCOMPARE(client.rxCompletes.load(), rxBefore + (lastOperation == 0 ? 0 : 1));
}

void TestSerialPort::closeEndsRunningOperation_data() {
    QTest::addColumn<int>("operation"); // 0 reception, 1 transmission, 2 both
    QTest::addColumn<int>("txCompletes");
    QTest::addColumn<int>("error");
    QTest::newRow("reception waiting for a byte") << 0 << 0 << 2;
    QTest::newRow("transmission stuck on a byte") << 1 << 1 << 1;
    // Read by the transmit thread: the receive thread, woken by close() as
    // well, must not report the same end again.
    QTest::newRow("following reception waiting for a byte") << 2 << 1 << 2;
}

void TestSerialPort::closeEndsRunningOperation() {
    QFETCH(int, operation);
    QFETCH(int, txCompletes);
    QFETCH(int, error);
    // Declared first: the port calls its last client until it is closed.
    PortTestClient client;
    Rig rig;
    QVERIFY(rig.port->open(fakePath, 115200));
    DataBlock<unsigned char> block = blockOf(sequence(4));
    DataBlock<unsigned char> answer;
    if (operation == 1) {
        rig.fake->stallWritesAfter(1);
        QVERIFY(rig.port->startTransmit(&block, &client));
    } else if (operation == 2) {
        SerialPort::FollowingReception then;
        then.destination = &answer;
        then.extraTimeoutMs = 60000;
        QVERIFY(rig.port->startTransmit(&block, &client, then));
        QVERIFY(client.txDone.waitFor(5000));
    } else {
        QVERIFY(rig.port->startReceive(&block, 1, 60000, &client));
    }
    sleepMs(20);
    rig.port->close();
    settle();

    // The running operation ends with its error and its callback; the close
    // itself adds the reception end of the last client, once in all.
    QCOMPARE(client.txCompletes.load(), txCompletes);
    QCOMPARE(client.rxCompletes.load(), 1);
    QCOMPARE(rig.port->error(), error);
    QVERIFY(!rig.port->isBusy());
    QVERIFY(!rig.fake->rts());
    QCOMPARE(bytesOf(block), sequence(4));
    QCOMPARE(answer.size(), 0u);
}

void TestSerialPort::hangUpEndsReceptionWithoutSpinning() {
    // Declared first: the port calls its last client until it is closed.
    PortTestClient client;
    Rig rig;
    QVERIFY(rig.port->open(fakePath, 115200));
    rig.fake->queueIncoming({1, 2, 3});
    client.keepReceiving = [](int) { return true; };
    DataBlock<unsigned char> destination;
    QVERIFY(rig.port->startReceive(&destination, 1, 60000, &client));
    QTRY_COMPARE(client.rxProcesses.load(), 3);
    sleepMs(10);
    rig.fake->hangUp();
    QVERIFY(client.rxDone.waitFor(5000));
    settle();

    QCOMPARE(rig.port->error(), 2);
    QCOMPARE(bytesOf(destination), (Bytes{1, 2, 3}));
    QCOMPARE(client.rxCompletes.load(), 1);
    // Three reads that delivered and the one that the hang-up ended.
    QCOMPARE(rig.fake->readCalls(), 4u);

    // The gone device refuses new operations instead of failing in a loop.
    DataBlock<unsigned char> block = blockOf(sequence(2));
    QVERIFY(!rig.port->startTransmit(&block, &client));
    QVERIFY(!rig.port->startReceive(&destination, 1, 150, &client));
    settle();
    QCOMPARE(rig.fake->readCalls(), 4u);
    QCOMPARE(client.rxCompletes.load(), 1);
    rig.port->close();
    QCOMPARE(client.rxCompletes.load(), 2);
}

void TestSerialPort::openResolvesNames() {
    const QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    QVERIFY2(!config.isEmpty(), "the test runner sets XDG_CONFIG_HOME");
    const QString ports = config + "/ORBEK/ports";
    QVERIFY(QDir().mkpath(ports));
    QTemporaryDir devices;
    const QString target = devices.path() + "/ttyVELK";
    QFile file(target);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    QVERIFY(QFile::link(target, ports + "/COM250"));

    Rig rig;
    QVERIFY(rig.port->open("COM250", 115200));
    QCOMPARE(QString::fromStdString(rig.fake->openedPath()), QFileInfo(target).canonicalFilePath());
    QVERIFY(rig.port->open(fakePath, 115200));
    QCOMPARE(rig.fake->openedPath(), std::string(fakePath));
    rig.port->close();

    // Names that stand for nothing never reach the device.
    Rig other;
    QVERIFY(!other.port->open("COM251", 115200));
    QVERIFY(!other.port->open("COM0", 115200));
    QVERIFY(!other.port->open("ttyS0", 115200));
    QVERIFY(other.fake->actions().empty());
    QVERIFY(QFile::remove(ports + "/COM250"));
}

void TestSerialPort::openFailureLeavesPortClosed_data() {
    QTest::addColumn<bool>("deviceFails");
    QTest::addColumn<unsigned>("baud");
    QTest::addColumn<unsigned>("kept"); // the rate a driver keeps above 115200
    QTest::addColumn<QString>("why");
    QTest::newRow("device cannot be opened") << true << 115200u << 0u << "no such device";
    QTest::newRow("baud rate 0") << false << 0u << 0u << "the device cannot be used";
    QTest::newRow("rate the driver cannot run at")
        << false << 1000000u << 9600u << "the device cannot run at 1000000 baud; it set 9600";
    QTest::newRow("rate refused without a word")
        << false << 500000u << 0u << "the device cannot run at 500000 baud";
}

void TestSerialPort::openFailureLeavesPortClosed() {
    QFETCH(bool, deviceFails);
    QFETCH(unsigned, baud);
    QFETCH(unsigned, kept);
    QFETCH(QString, why);
    // Declared first: the port calls its last client until it is closed.
    PortTestClient client;
    Rig rig;
    rig.fake->setFailing(FakeSerialDevice::Operation::Open, deviceFails);
    rig.fake->limitBaudRate(115200, kept);
    QVERIFY(!rig.port->open(fakePath, baud));
    QVERIFY(!rig.port->isOpen());
    QVERIFY(!rig.fake->isOpen());
    QCOMPARE(QString::fromStdString(openFailureText(rig.port->openFailureDetail())), why);
    DataBlock<unsigned char> block = blockOf(sequence(2));
    QVERIFY(!rig.port->startTransmit(&block, &client));
    QVERIFY(!rig.port->startReceive(&block, 1, 10, &client));
    rig.port->close();
    settle();
    QCOMPARE(client.txCompletes.load() + client.rxCompletes.load(), 0);
    QVERIFY(rig.fake->written().empty());

    // The same port opens once the cause is gone.
    rig.fake->setFailing(FakeSerialDevice::Operation::Open, false);
    QVERIFY(rig.port->open(fakePath, 115200));
    QCOMPARE(rig.port->openFailure(), OpenFailure::None);
    QVERIFY(rig.port->startTransmit(&block, &client));
    QVERIFY(client.txDone.waitFor(5000));
    QCOMPARE(rig.port->error(), 0);
}

void TestSerialPort::reopenClosesFirst() {
    // Declared first: the port calls its last client until it is closed.
    PortTestClient client;
    Rig rig;
    QVERIFY(rig.port->open(fakePath, 115200));
    QVERIFY(rig.port->open(fakePath, 500000));
    QVERIFY(rig.port->isOpen());
    QCOMPARE(rig.fake->baudRate(), 500000u);
    std::vector<Action::Kind> opens;
    for (const Action& action : rig.fake->actions()) {
        if (action.kind == Action::Opened || action.kind == Action::Closed) {
            opens.push_back(action.kind);
        }
    }
    QCOMPARE(opens, (std::vector<Action::Kind>{Action::Opened, Action::Closed, Action::Opened}));
    DataBlock<unsigned char> block = blockOf(sequence(3));
    QVERIFY(rig.port->startTransmit(&block, &client));
    QVERIFY(client.txDone.waitFor(5000));
    QCOMPARE(rig.fake->written(), sequence(3));
}

void TestSerialPort::openFailsWithoutWorkerThreads() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    QSKIP("the sanitizers' runtimes need the address space this test takes away");
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
    QSKIP("the sanitizers' runtimes need the address space this test takes away");
#endif
#endif
    PortTestClient client;
    Rig rig;
    bool opened = true;
    {
        NoRoomForThreads limit;
        if (!limit.applied || NoRoomForThreads::threadsPossible()) {
            QSKIP("cannot keep threads from being created here");
        }
        opened = rig.port->open(fakePath, 115200);
    }
    // Without its workers an exchange would wait for ever: the open fails.
    QVERIFY(!opened);
    QVERIFY(!rig.port->isOpen());
    QVERIFY(!rig.fake->isOpen());
    DataBlock<unsigned char> block = blockOf(sequence(2));
    QVERIFY(!rig.port->startTransmit(&block, &client));

    // With room again the same port opens and works.
    QVERIFY(rig.port->open(fakePath, 115200));
    QVERIFY(rig.port->startTransmit(&block, &client));
    QVERIFY(client.txDone.waitFor(5000));
    QCOMPARE(rig.port->error(), 0);
}

void TestSerialPort::parity() {
    Rig rig;
    QCOMPARE(rig.port->bitsPerCharacter(), 10u);
    QVERIFY(!rig.port->setParity(2));
    QVERIFY(!rig.port->parityError());
    QCOMPARE(rig.port->bitsPerCharacter(), 10u);

    QVERIFY(rig.port->open(fakePath, 9600));
    QVERIFY(!rig.port->parityError());
    rig.fake->markParityError();
    QVERIFY(rig.port->parityError());
    QVERIFY(!rig.port->parityError());

    QVERIFY(!rig.port->setParity(0)); // already none
    QVERIFY(rig.port->setParity(2));
    QCOMPARE(rig.fake->parity(), 2);
    QCOMPARE(rig.port->bitsPerCharacter(), 11u);
    QVERIFY(!rig.port->setParity(2));
    QVERIFY(!rig.port->setParity(7)); // no such parity: the device refuses
    QCOMPARE(rig.port->bitsPerCharacter(), 11u);
    rig.fake->setFailing(FakeSerialDevice::Operation::Configure, true);
    QVERIFY(!rig.port->setParity(0));
    QCOMPARE(rig.port->bitsPerCharacter(), 11u);
    rig.fake->setFailing(FakeSerialDevice::Operation::Configure, false);

    // The setting outlives a reopen; a closed port reports no parity error.
    QVERIFY(rig.port->open(fakePath, 9600));
    QCOMPARE(rig.fake->parity(), 2);
    rig.port->close();
    rig.fake->markParityError();
    QVERIFY(!rig.port->parityError());
}

QTEST_APPLESS_MAIN(TestSerialPort)
#include "tst_serialport.moc"
