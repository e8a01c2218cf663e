#include "Deadline.h"
#include "ManualResetEvent.h"
#include "NamedMutex.h"
#include "PlatformThread.h"
#include "Sleep.h"

#include <QtTest>

#include <atomic>
#include <mutex>
#include <thread>

namespace {
std::atomic<int> entered{0};

int returnsSeven(void*) {
    ++entered;
    return 7;
}

int waitsForEver(void* argument) {
    ++entered;
    static_cast<ManualResetEvent*>(argument)->wait();
    return 1;
}

long long elapsedMs(const std::chrono::steady_clock::time_point& since) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 since)
        .count();
}
} // namespace

class TestPlatform : public QObject {
    Q_OBJECT

private slots:
    void init() { entered = 0; }
    void eventStates_data();
    void eventStates();
    void eventReleasesEveryWaiter();
    void waiterMayDestroyEventItWasReleasedBy();
    void mutexIsReentrant();
    void threadStartsSuspended_data();
    void threadStartsSuspended();
    void terminateEndsBlockedThread_data();
    void terminateEndsBlockedThread();
    void sleepAndWaitLastAtLeastTheirTime();
};

void TestPlatform::eventStates_data() {
    QTest::addColumn<bool>("initiallySet");
    QTest::addColumn<bool>("setIt");
    QTest::addColumn<bool>("resetIt");
    QTest::addColumn<bool>("expected");
    QTest::newRow("initially clear") << false << false << false << false;
    QTest::newRow("initially set") << true << false << false << true;
    QTest::newRow("set stays set") << false << true << false << true;
    QTest::newRow("reset clears") << true << false << true << false;
    QTest::newRow("set then reset") << false << true << true << false;
}

void TestPlatform::eventStates() {
    QFETCH(bool, initiallySet);
    QFETCH(bool, setIt);
    QFETCH(bool, resetIt);
    QFETCH(bool, expected);
    ManualResetEvent event("event", initiallySet);
    if (setIt) {
        QVERIFY(event.set());
    }
    if (resetIt) {
        QVERIFY(event.reset());
    }
    QCOMPARE(event.isSet(), expected);
    // A manual-reset event is not consumed by a wait.
    QCOMPARE(event.waitFor(5), expected);
    QCOMPARE(event.waitFor(5), expected);
    QCOMPARE(event.name(), std::string("event"));
}

void TestPlatform::eventReleasesEveryWaiter() {
    ManualResetEvent event("gate", false);
    std::atomic<int> passed{0};
    std::thread a([&] {
        event.wait();
        ++passed;
    });
    std::thread b([&] {
        if (event.waitFor(10000)) {
            ++passed;
        }
    });
    sleepMs(20);
    QCOMPARE(passed.load(), 0);
    event.set();
    a.join();
    b.join();
    QCOMPARE(passed.load(), 2);
}

// The pattern of every completion event: the waiter goes on and frees the
// event while the thread that set it may still be inside set(). Under the
// address and thread sanitizers a set() that touches the event after
// releasing the waiter shows up here.
void TestPlatform::waiterMayDestroyEventItWasReleasedBy() {
    for (int i = 0; i < 2000; ++i) {
        auto* event = new ManualResetEvent("done", false);
        std::atomic<bool> waiting{false};
        std::thread waiter([&] {
            waiting = true;
            event->wait();
            delete event;
        });
        while (!waiting) {
            std::this_thread::yield();
        }
        const bool set = event->set();
        waiter.join();
        QVERIFY(set);
    }
}

void TestPlatform::mutexIsReentrant() {
    NamedMutex mutex("COM3PortTxRxMutex");
    QCOMPARE(mutex.name(), std::string("COM3PortTxRxMutex"));
    std::lock_guard<NamedMutex> outer(mutex);
    {
        std::lock_guard<NamedMutex> inner(mutex);
        bool otherGotIt = true;
        std::thread([&] { otherGotIt = mutex.try_lock(); }).join();
        QVERIFY(!otherGotIt);
    }
    // Still held once by this thread.
    bool otherGotIt = true;
    std::thread([&] { otherGotIt = mutex.try_lock(); }).join();
    QVERIFY(!otherGotIt);
}

void TestPlatform::threadStartsSuspended_data() {
    QTest::addColumn<int>("priority");
    QTest::newRow("normal") << PlatformThread::normalPriority;
    QTest::newRow("time-critical") << PlatformThread::timeCriticalPriority;
}

void TestPlatform::threadStartsSuspended() {
    QFETCH(int, priority);
    PlatformThread thread;
    QVERIFY(thread.create(&returnsSeven, nullptr));
    QVERIFY(!thread.create(&returnsSeven, nullptr));
    QVERIFY(thread.setPriority(priority));
    sleepMs(20);
    QCOMPARE(entered.load(), 0);
    QVERIFY(!thread.hasEnded());
    thread.resume();
    QVERIFY(thread.join(10000));
    QCOMPARE(entered.load(), 1);
    QCOMPARE(thread.exitCode(), 7);
    QVERIFY(!thread.exists());
}

void TestPlatform::terminateEndsBlockedThread_data() {
    QTest::addColumn<bool>("resumed");
    QTest::newRow("blocked in a wait") << true;
    QTest::newRow("never resumed") << false;
}

void TestPlatform::terminateEndsBlockedThread() {
    QFETCH(bool, resumed);
    ManualResetEvent never("never", false);
    PlatformThread thread;
    QVERIFY(thread.create(&waitsForEver, &never));
    if (resumed) {
        thread.resume();
        QTRY_COMPARE(entered.load(), 1);
    }
    QVERIFY(!thread.join(20));
    thread.terminate(255);
    QVERIFY(thread.hasEnded());
    QVERIFY(!thread.exists());
    QCOMPARE(thread.exitCode(), 255);
    QCOMPARE(entered.load(), resumed ? 1 : 0);
}

void TestPlatform::sleepAndWaitLastAtLeastTheirTime() {
    auto start = std::chrono::steady_clock::now();
    sleepMs(15);
    QVERIFY(elapsedMs(start) >= 15);

    ManualResetEvent event("clear", false);
    start = std::chrono::steady_clock::now();
    QVERIFY(!event.waitFor(15));
    QVERIFY(elapsedMs(start) >= 15);

    const Deadline deadline = Deadline::after(10);
    QVERIFY(!deadline.passed());
    sleepMs(12);
    QVERIFY(deadline.passed());
    const timespec left = deadline.remaining();
    QCOMPARE(left.tv_sec, time_t(0));
    QCOMPARE(left.tv_nsec, 0L);
}

QTEST_APPLESS_MAIN(TestPlatform)
#include "tst_platform.moc"
