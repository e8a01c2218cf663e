// Faults on the line under a real session and the real serial device code:
// the device vanishing mid-exchange and coming back, slaves that flood the
// line or never stop sending, sessions re-created while the slave sends.
// Every exchange must end with a code, in bounded time, leaving no thread or
// open file behind.

#include "BlockBytes.h"
#include "FaultSupport.h"
#include "SimChild.h"
#include "Velk21DataBlockPacketPackager.h"
#include "Velk21ExtendedBlockPacketPackager.h"

#include <QFile>
#include <QtTest>

#include <chrono>
#include <csignal>
#include <memory>
#include <random>

using namespace faults;

namespace {

Bytes packData(const Velk21DataBlockKernel& kernel) {
    return framed<Velk21DataBlockPacketPackager>(kernel);
}

Bytes packExtended(const Velk21ExtendedBlockKernel& kernel) {
    return framed<Velk21ExtendedBlockPacketPackager>(kernel);
}

// An answer announcing `count` extended bytes.
Velk21DataBlockKernel extendedAnswer(unsigned count) {
    Velk21DataBlockKernel answer(Velk21ParameterId(0x10, 0x02), 0x03, 0, 0, 0, 0, 0, 1, 0);
    answer.data[0] = static_cast<unsigned char>(count & 0xFF);
    answer.data[1] = static_cast<unsigned char>(count >> 8);
    return answer;
}

// Byte j of the extended data the endless slave sends.
unsigned char extendedByte(std::uint64_t j) {
    return static_cast<unsigned char>((j * 7 + 1) & 0xFF);
}

const size_t requestSize = 18; // address and data block

} // namespace

class TestFaultsLine : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void deviceVanishesMidAnswer_data();
    void deviceVanishesMidAnswer();
    void simulatorKilledThenBack_data();
    void simulatorKilledThenBack();
    void endlessAnswerEndedFromOutside_data();
    void endlessAnswerEndedFromOutside();
    void garbageFlood_data();
    void garbageFlood();
    void slaveNeverStopsSending_data();
    void slaveNeverStopsSending();
    void sessionRecreatedWhileSlaveSends();

private:
    int baseThreads = 0;
};

void TestFaultsLine::initTestCase() {
    baseThreads = threadCount();
    QVERIFY(baseThreads > 0);
}

void TestFaultsLine::deviceVanishesMidAnswer_data() {
    QTest::addColumn<QByteArray>("sentBeforeGone");
    QTest::addColumn<int>("expected");

    const Bytes answer = packData(extendedAnswer(14));
    Bytes withOneBlock = answer;
    Velk21ExtendedBlockKernel block(0, 0, 0);
    const Bytes ext = packExtended(block);
    withOneBlock.insert(withOneBlock.end(), ext.begin(), ext.end());
    auto q = [](const Bytes& b) {
        return QByteArray(reinterpret_cast<const char*>(b.data()), int(b.size()));
    };
    QTest::newRow("before the answer") << QByteArray() << 5;
    QTest::newRow("inside the data block") << q(Bytes(answer.begin(), answer.begin() + 5)) << 5;
    QTest::newRow("between extended blocks") << q(withOneBlock) << 7;
    QTest::newRow("inside an extended block")
        << q(Bytes(withOneBlock.begin(), withOneBlock.end() - 3)) << 7;
}

void TestFaultsLine::deviceVanishesMidAnswer() {
    QFETCH(QByteArray, sentBeforeGone);
    QFETCH(int, expected);
    const int files = openFileCount();
    {
        auto line = std::make_unique<Pty>();
        Velk21Session session(line->path, 115200);
        QVERIFY(session.isOpen());

        std::thread slave([&] {
            line->read(requestSize, 2000);
            line->write(Bytes(sentBeforeGone.begin(), sentBeforeGone.end()));
            // Time to read what came, well within the 150 ms byte time-out.
            std::this_thread::sleep_for(std::chrono::milliseconds(60));
            line->closeMaster();
        });
        const Outcome gone = exchangeWithin(session);
        slave.join();
        QCOMPARE(gone.code, expected);
        QVERIFY(!gone.ok);
        QCOMPARE(gone.extended.size(), 0u);

        // The line stays dead: every later exchange fails at once, none hangs.
        for (int i = 0; i < 3; ++i) {
            const Outcome after = exchangeWithin(session, 0, 5000);
            QVERIFY2(after.code == 4 || after.code == 5, qPrintable(QString::number(after.code)));
        }

        // The device comes back (a new line): a new session works as before.
        line = std::make_unique<Pty>();
        Velk21Session again(line->path, 115200);
        QVERIFY(again.isOpen());
        std::thread responder([&] {
            line->read(requestSize, 2000);
            Velk21DataBlockKernel answer = plainRequest();
            answer.ao = 3;
            line->write(packData(answer));
        });
        const Outcome back = exchangeWithin(again);
        responder.join();
        QCOMPARE(back.code, 0);
        QCOMPARE(int(back.data.ao), 3);
    }
    QCOMPARE(settledThreadCount(baseThreads), baseThreads);
    QCOMPARE(openFileCount(), files);
}

void TestFaultsLine::simulatorKilledThenBack_data() {
    QTest::addColumn<int>("killAfterMs");
    QTest::addColumn<int>("cutCode");
    // The line goes while the answer comes in, or while nothing is sent:
    // the next request then finds it gone.
    QTest::newRow("killed mid-answer") << 80 << 5;
    QTest::newRow("killed between exchanges") << -1 << 4;
}

void TestFaultsLine::simulatorKilledThenBack() {
    QFETCH(int, killAfterMs);
    QFETCH(int, cutCode);
    SimChild sim;
    // 20 ms between answer bytes: the answer takes about 240 ms.
    QVERIFY(sim.start(41, {"--quiet", "--scenario", "slow=20"}));
    auto session = std::make_unique<Velk21Session>("COM41", 115200);
    QVERIFY(session->isOpen());
    QCOMPARE(exchangeWithin(*session).code, 0);

    if (killAfterMs < 0) {
        sim.stop(SIGKILL);
    }
    std::thread killer([&] {
        if (killAfterMs >= 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(killAfterMs));
            sim.stop(SIGKILL);
        }
    });
    const Outcome cut = exchangeWithin(*session);
    killer.join();
    QCOMPARE(cut.code, cutCode);

    // The hang-up closed the port; while the simulator is gone every
    // exchange fails, each a new attempt to open it (the stale link may name
    // another program's terminal by now: no answer from there either).
    QVERIFY(!session->isOpen());
    QCOMPARE(session->losses(), 1ul);
    const Outcome dead = exchangeWithin(*session, 0, 5000);
    QVERIFY2(dead.code == 4 || dead.code == 5, qPrintable(QString::number(dead.code)));

    // Killed, the simulator left its link behind; a new one on the same
    // number would refuse it, so the test clears it first.
    QFile::remove(SimChild::linkPath(41));
    SimChild back;
    QVERIFY(back.start(41, {"--quiet"}));
    const auto returned = std::chrono::steady_clock::now();
    // The same session finds the new line by its name.
    Outcome again;
    while ((again = exchangeWithin(*session, 0, 5000)).code != 0 &&
           std::chrono::steady_clock::now() - returned < std::chrono::seconds(5)) {
    }
    const auto recoveredMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now() - returned)
                                 .count();
    QCOMPARE(again.code, 0);
    QVERIFY2(recoveredMs < 2000, qPrintable(QString::number(recoveredMs)));
    QVERIFY(session->isOpen());
    QVERIFY(session->openings() >= 2);
    session.reset();
    QCOMPARE(back.stop(SIGTERM), 0);
    QCOMPARE(settledThreadCount(baseThreads), baseThreads);
}

void TestFaultsLine::endlessAnswerEndedFromOutside_data() {
    QTest::addColumn<bool>("forGood");
    QTest::addColumn<bool>("reopenNow");
    QTest::newRow("exchange aborted") << false << false;
    QTest::newRow("exchange aborted, port opened again by the owner") << false << true;
    QTest::newRow("session closed") << true << false;
}

// An answer of 65,535 extended bytes at 50 ms a byte lasts hours. Another
// thread ends it by closing the port: the exchange returns an error code at
// once, and afterwards the port opens again, or, closed for good, stays shut.
void TestFaultsLine::endlessAnswerEndedFromOutside() {
    QFETCH(bool, forGood);
    QFETCH(bool, reopenNow);
    SimChild sim;
    // 50 ms between bytes; each may take a second (a loaded machine).
    QVERIFY(sim.start(42, {"--quiet", "--scenario", "extended=65535,slow=50"}));
    {
        Velk21Session session("COM42", 115200);
        QVERIFY(session.isOpen());
        auto running = std::async(std::launch::async, [&session] {
            Outcome o;
            o.data = plainRequest();
            o.ok = session.exchange(slaveAddress(), o.data, o.extended, 0, 1000, &o.code);
            return o;
        });
        QVERIFY(running.wait_for(std::chrono::milliseconds(400)) == std::future_status::timeout);
        const auto start = std::chrono::steady_clock::now();
        if (forGood) {
            session.close();
        } else {
            session.abortExchange();
        }
        const bool ended = running.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
        const auto tookMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                                std::chrono::steady_clock::now() - start)
                                .count();
        QVERIFY(ended);
        QVERIFY2(tookMs < 1000, qPrintable(QString::number(tookMs)));
        const Outcome cut = running.get();
        QVERIFY(!cut.ok);
        QVERIFY2(cut.code == 5 || cut.code == 7, qPrintable(QString::number(cut.code)));
        QVERIFY(!session.isOpen());

        // The next exchange opens the port again, unless it is closed for good.
        if (forGood) {
            QVERIFY(!session.reopen());
            QCOMPARE(exchangeWithin(session, 0, 5000).code, 4);
            QVERIFY(!session.isOpen());
        } else if (reopenNow) {
            // The owner opens it at once, and only once.
            QVERIFY(session.reopen());
            QVERIFY(session.reopen());
            QVERIFY(session.isOpen());
            QCOMPARE(session.openings(), 2ul);
        } else {
            auto next = std::async(std::launch::async, [&session] {
                Outcome o;
                o.data = plainRequest();
                session.exchange(slaveAddress(), o.data, o.extended, 0, 1000, &o.code);
                return o;
            });
            const bool reopened =
                QTest::qWaitFor([&session] { return session.openings() == 2; }, 5000);
            // Closed before any check can return: the exchange must not outlive this.
            session.close();
            QVERIFY(next.wait_for(std::chrono::seconds(5)) == std::future_status::ready);
            QVERIFY(reopened);
            QVERIFY(next.get().code != 0);
        }
    }
    QCOMPARE(sim.stop(SIGTERM), 0);
    QCOMPARE(settledThreadCount(baseThreads), baseThreads);
}

void TestFaultsLine::garbageFlood_data() {
    QTest::addColumn<int>("maxRestarts");
    QTest::newRow("no restart") << 0;
    QTest::newRow("three restarts") << 3;
    QTest::newRow("a thousand restarts") << 1000;
}

void TestFaultsLine::garbageFlood() {
    QFETCH(int, maxRestarts);
    Pty line;
    Velk21Session session(line.path, 115200);
    QVERIFY(session.isOpen());
    std::mt19937 random(1234);
    std::vector<unsigned char> noise(1 << 16);
    for (unsigned char& b : noise) {
        b = static_cast<unsigned char>(random());
    }
    Streamer flood(line, 0, [&noise](std::uint64_t i) { return noise[i % noise.size()]; });

    for (int i = 0; i < 20; ++i) {
        const Outcome o = exchangeWithin(session, unsigned(maxRestarts));
        // Framing and sending are untouched by the noise; the answer may end
        // any way but by not ending.
        QVERIFY2(o.code == 0 || (o.code >= 5 && o.code <= 8), qPrintable(QString::number(o.code)));
        QCOMPARE(o.ok, o.code == 0);
    }
    flood.stop();
    QVERIFY(flood.written() > 0);
}

void TestFaultsLine::slaveNeverStopsSending_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("maxRestarts");
    QTest::addColumn<int>("expected");
    QTest::addColumn<int>("extendedCount");

    QTest::newRow("bytes without a header") << 0 << 0 << 6 << 0;
    QTest::newRow("headers only, a thousand restarts") << 1 << 1000 << 6 << 0;
    QTest::newRow("extended blocks past the announced 65535 bytes") << 2 << 0 << 0 << 65535;
    QTest::newRow("extended blocks past the announced 20 bytes") << 2 << 0 << 0 << 20;
}

void TestFaultsLine::slaveNeverStopsSending() {
    QFETCH(int, kind);
    QFETCH(int, maxRestarts);
    QFETCH(int, expected);
    QFETCH(int, extendedCount);

    Pty line;
    Velk21Session session(line.path, 115200);
    QVERIFY(session.isOpen());

    // The endless extended stream: one data block, then extended blocks whose
    // data continue extendedByte() for ever.
    const Bytes head = packData(extendedAnswer(unsigned(extendedCount)));
    std::function<unsigned char(std::uint64_t)> next;
    switch (kind) {
    case 0:
        next = [](std::uint64_t i) { return static_cast<unsigned char>(i % 0x40); };
        break;
    case 1:
        next = [](std::uint64_t) { return static_cast<unsigned char>(0xC0); };
        break;
    default:
        next = [head](std::uint64_t i) -> unsigned char {
            if (i < head.size()) {
                return head[i];
            }
            const std::uint64_t k = i - head.size();
            Velk21ExtendedBlockKernel block(0, 0, 0);
            for (unsigned j = 0; j < 7; ++j) {
                block.data[j] = extendedByte(k / 10 * 7 + j);
            }
            return packExtended(block)[k % 10];
        };
        break;
    }
    Streamer slave(line, requestSize, next);
    const Outcome o = exchangeWithin(session, unsigned(maxRestarts), 60000);
    QCOMPARE(o.code, expected);
    QCOMPARE(int(o.extended.size()), extendedCount);
    for (int j = 0; j < extendedCount; ++j) {
        if (o.extended[unsigned(j)] != extendedByte(unsigned(j))) {
            QFAIL(qPrintable(QString("extended byte %1 wrong").arg(j)));
        }
    }
    // The slave still sends: the next exchange ends too, whatever it makes of it.
    const Outcome later = exchangeWithin(session, unsigned(maxRestarts), 60000);
    QVERIFY(later.code >= 0 && later.code <= 8);
    slave.stop();
}

void TestFaultsLine::sessionRecreatedWhileSlaveSends() {
    const int files = openFileCount();
    {
        Pty line;
        Streamer flood(line, 0, [](std::uint64_t i) { return static_cast<unsigned char>(i * 37); });
        for (int i = 0; i < 100; ++i) {
            Velk21Session session(line.path, 115200);
            QVERIFY(session.isOpen());
            // Two senders at once, as the dialog's single and cyclic threads may.
            std::atomic<int> otherCode{-1};
            std::thread other([&] { otherCode = exchangeWithin(session).code; });
            const Outcome o = exchangeWithin(session);
            other.join();
            QVERIFY(o.code >= 0 && o.code <= 8);
            QVERIFY(otherCode >= 0 && otherCode <= 8);
        }
        flood.stop();
        QVERIFY(flood.written() > 0);
    }
    QCOMPARE(settledThreadCount(baseThreads), baseThreads);
    QCOMPARE(openFileCount(), files);
}

QTEST_GUILESS_MAIN(TestFaultsLine)
#include "tst_faults_line.moc"
