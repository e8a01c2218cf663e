#include "ManualResetEvent.h"
#include "SimpleThread.h"
#include "Sleep.h"

#include <QtTest>

#include <atomic>
#include <chrono>
#include <memory>
#include <pthread.h>
#include <thread>

namespace {
// Counts the threads that have run a pass: a thread_local flag is fresh on
// every new thread, whatever id the system hands out.
thread_local bool seenOnThisThread = false;

class Worker {
public:
    std::atomic<int> threadsSeen{0};
    std::atomic<int> passesA{0};
    std::atomic<int> passesB{0};
    std::atomic<int> passesCompleted{0};
    std::atomic<bool> inPass{false};
    ManualResetEvent passEntered{"passEntered", false};
    ManualResetEvent release{"release", false};

    void note() {
        if (!seenOnThisThread) {
            seenOnThisThread = true;
            ++threadsSeen;
        }
    }

    // Endless worker: a short pass, again and again.
    int repeatA() {
        note();
        ++passesA;
        sleepMs(1);
        return 1;
    }
    int repeatB() {
        note();
        ++passesB;
        sleepMs(1);
        return 1;
    }
    // One pass, then the loop ends.
    int once() {
        note();
        ++passesA;
        return 0;
    }
    // A pass that holds until the test releases it.
    int blocking() {
        note();
        ++passesA;
        inPass = true;
        passEntered.set();
        release.wait();
        inPass = false;
        ++passesCompleted;
        return 1;
    }
    // As blocking(), but tells that it runs through a relaxed flag only,
    // which orders nothing: the owner learns of the pass without
    // synchronising with the thread, as a pause that runs out does.
    std::atomic<bool> quietlyEntered{false};
    int blockingQuietly() {
        note();
        ++passesA;
        quietlyEntered.store(true, std::memory_order_relaxed);
        release.wait();
        ++passesCompleted;
        return 1;
    }
    // A pass that reaches no cancellation point until released: it cannot
    // be ended from outside, only left to finish.
    std::atomic<bool> spinReleased{false};
    ManualResetEvent passLeft{"passLeft", false};
    int uncancellable() {
        note();
        ++passesA;
        int previous = 0;
        pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &previous);
        passEntered.set();
        while (!spinReleased) {
            std::this_thread::yield();
        }
        pthread_setcancelstate(previous, nullptr);
        ++passesCompleted;
        passLeft.set();
        return 1;
    }
    // A pass far longer than any stop limit in these tests.
    int overlong() {
        note();
        inPass = true;
        passEntered.set();
        sleepMs(60000);
        ++passesCompleted;
        return 1;
    }
};
} // namespace

class TestSimpleThread : public QObject {
    Q_OBJECT

private slots:
    void priorities_data();
    void startDuringPassIsIgnored_data() { priorities_data(); }
    void startDuringPassIsIgnored();
    void passReturningZeroEndsThread_data() { priorities_data(); }
    void passReturningZeroEndsThread();
    void pauseThenStartReusesThread_data() { priorities_data(); }
    void pauseThenStartReusesThread();
    void stopOnPausedThread();
    void stopTerminatesOverlongPass();
    void startAfterPauseTimedOut();
    void stopOfUncancellablePassIsBounded();
    void destructorStopsRunningThread();
    void idleCallsAreHarmless();
};

void TestSimpleThread::priorities_data() {
    QTest::addColumn<int>("priority");
    QTest::newRow("normal") << 0;
    QTest::newRow("time-critical") << 15;
}

void TestSimpleThread::startDuringPassIsIgnored() {
    QFETCH(int, priority);
    Worker worker;
    SimpleThread<Worker> thread;
    thread.start(&worker, &Worker::blocking, priority);
    QVERIFY(worker.passEntered.waitFor(5000));
    QVERIFY(thread.isRunning());

    // A second start while the pass runs must not switch the method.
    thread.start(&worker, &Worker::repeatB, priority);
    worker.release.set();
    QTRY_VERIFY(worker.passesCompleted >= 3);
    QCOMPARE(worker.passesB.load(), 0);
    QCOMPARE(worker.threadsSeen.load(), 1);
    thread.stop(5000);
    QCOMPARE(thread.exitCode(), 0);
}

void TestSimpleThread::passReturningZeroEndsThread() {
    QFETCH(int, priority);
    Worker worker;
    SimpleThread<Worker> thread;
    thread.start(&worker, &Worker::once, priority);
    QTRY_VERIFY(!thread.isRunning());
    QCOMPARE(worker.passesA.load(), 1);
    QCOMPARE(thread.exitCode(), 0);

    thread.start(&worker, &Worker::once, priority);
    QTRY_COMPARE(worker.passesA.load(), 2);
    QTRY_VERIFY(!thread.isRunning());
    QCOMPARE(worker.threadsSeen.load(), 2);
}

void TestSimpleThread::pauseThenStartReusesThread() {
    QFETCH(int, priority);
    Worker worker;
    SimpleThread<Worker> thread;
    thread.start(&worker, &Worker::repeatA, priority);
    QTRY_VERIFY(worker.passesA >= 3);

    thread.pause(5000);
    QVERIFY(!thread.isRunning());
    const int afterPause = worker.passesA;
    sleepMs(30);
    QCOMPARE(worker.passesA.load(), afterPause);

    // Resumed with another method and the other priority: same thread.
    thread.start(&worker, &Worker::repeatB, 15 - priority);
    QVERIFY(thread.isRunning());
    QTRY_VERIFY(worker.passesB >= 3);
    QCOMPARE(worker.passesA.load(), afterPause);
    QCOMPARE(worker.threadsSeen.load(), 1);
    thread.stop(5000);
    QCOMPARE(thread.exitCode(), 0);
}

void TestSimpleThread::stopOnPausedThread() {
    Worker worker;
    SimpleThread<Worker> thread;
    thread.start(&worker, &Worker::repeatA, 0);
    QTRY_VERIFY(worker.passesA >= 1);
    thread.pause(5000);
    const int afterPause = worker.passesA;

    // The gate opens, the pass is skipped and the loop ends by itself.
    thread.stop(5000);
    QCOMPARE(thread.exitCode(), 0);
    QVERIFY(!thread.isRunning());
    QCOMPARE(worker.passesA.load(), afterPause);
}

void TestSimpleThread::stopTerminatesOverlongPass() {
    Worker worker;
    SimpleThread<Worker> thread;
    thread.start(&worker, &Worker::overlong, 15);
    QVERIFY(worker.passEntered.waitFor(5000));

    thread.stop(50);
    QCOMPARE(thread.exitCode(), 255);
    QVERIFY(!thread.isRunning());
    QCOMPARE(worker.passesCompleted.load(), 0);

    // The object is usable again: a fresh thread runs.
    thread.start(&worker, &Worker::once, 0);
    QTRY_VERIFY(worker.passesA >= 1);
    QTRY_VERIFY(!thread.isRunning());
    QCOMPARE(worker.threadsSeen.load(), 2);
}

// A pause whose wait runs out leaves the pass running; a start then hands the
// next method over while that pass still runs (a race for ThreadSanitizer
// when the hand-over is not guarded).
void TestSimpleThread::startAfterPauseTimedOut() {
    Worker worker;
    SimpleThread<Worker> thread;
    thread.start(&worker, &Worker::blockingQuietly, 0);
    while (!worker.quietlyEntered.load(std::memory_order_relaxed)) {
        std::this_thread::yield();
    }
    thread.pause(10);
    QVERIFY(!thread.isRunning());

    thread.start(&worker, &Worker::repeatB, 0);
    QVERIFY(thread.isRunning());
    worker.release.set();
    QTRY_VERIFY(worker.passesB >= 3);
    QCOMPARE(worker.passesCompleted.load(), 1);
    QCOMPARE(worker.threadsSeen.load(), 1);
    thread.stop(5000);
    QCOMPARE(thread.exitCode(), 0);
}

// A pass that cannot be cancelled: stop returns soon after its limit, and
// the thread, left to finish its pass, never touches the SimpleThread that
// is gone by then (AddressSanitizer: use after scope) nor runs another pass.
void TestSimpleThread::stopOfUncancellablePassIsBounded() {
    auto worker = std::make_shared<Worker>();
    long long stopMs = 0;
    {
        SimpleThread<Worker> thread;
        thread.start(worker.get(), &Worker::uncancellable, 0);
        QVERIFY(worker->passEntered.waitFor(5000));
        const auto before = std::chrono::steady_clock::now();
        thread.stop(50);
        stopMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                     std::chrono::steady_clock::now() - before)
                     .count();
        QCOMPARE(thread.exitCode(), 255);
        QVERIFY(!thread.isRunning());
    }
    // The limit plus a small constant; terminating used to wait 5 s more.
    QVERIFY2(stopMs < 2500, qPrintable(QString::number(stopMs)));

    // Scribble over the stack where the thread object lived.
    volatile char scratch[4096];
    for (char& c : const_cast<char(&)[4096]>(scratch)) {
        c = static_cast<char>(0xA5);
    }
    worker->spinReleased = true;
    QVERIFY(worker->passLeft.waitFor(5000));
    sleepMs(100);
    QCOMPARE(worker->passesA.load(), 1);
    QCOMPARE(worker->passesCompleted.load(), 1);
}

void TestSimpleThread::destructorStopsRunningThread() {
    Worker worker;
    {
        SimpleThread<Worker> thread;
        thread.start(&worker, &Worker::repeatA, 0);
        QTRY_VERIFY(worker.passesA >= 3);
    }
    const int afterDestruction = worker.passesA;
    sleepMs(30);
    QCOMPARE(worker.passesA.load(), afterDestruction);
}

void TestSimpleThread::idleCallsAreHarmless() {
    SimpleThread<Worker> thread;
    QVERIFY(!thread.isRunning());
    thread.pause(10);
    thread.stop(10);
    QVERIFY(!thread.isRunning());
}

QTEST_APPLESS_MAIN(TestSimpleThread)
#include "tst_simplethread.moc"
