// The platform layer's promises, on whichever system it is built for: the
// POSIX files on Linux, the Win32 files under Wine.

#include "ManualResetEvent.h"
#include "NamedMutex.h"
#include "PlatformThread.h"
#include "PortNames.h"
#include "Sleep.h"
#include "TimerResolutionGuard.h"

#include <atomic>
#include <chrono>
#include <doctest/doctest.h>
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

long long msSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}
} // namespace

TEST_CASE("eventStaysSetUntilReset") {
    ManualResetEvent clear("clear", false);
    CHECK(!clear.isSet());
    CHECK(!clear.waitFor(0));
    CHECK(clear.set());
    CHECK(clear.isSet());
    CHECK(clear.waitFor(0));
    CHECK(clear.waitFor(0)); // manual reset: still set after a wait
    CHECK(clear.reset());
    CHECK(!clear.isSet());
    ManualResetEvent set("set", true);
    CHECK(set.isSet());
    CHECK_EQ(set.name(), std::string("set"));
}

TEST_CASE("eventReleasesEveryWaiter") {
    ManualResetEvent gate("gate", false);
    std::atomic<int> passed{0};
    std::thread a([&] {
        gate.wait();
        ++passed;
    });
    std::thread b([&] {
        if (gate.waitFor(10000)) {
            ++passed;
        }
    });
    sleepMs(20);
    CHECK_EQ(passed.load(), 0);
    gate.set();
    a.join();
    b.join();
    CHECK_EQ(passed.load(), 2);
}

// The pattern of every completion event: the waiter goes on and frees the
// event while the thread that set it may still be inside set(). Under the
// address and thread sanitizers a set() that touches the event after
// releasing the waiter shows up here.
TEST_CASE("waiterMayDestroyEventItWasReleasedBy") {
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
        CHECK(set);
    }
}

TEST_CASE("timedWaitsAndSleepsLastTheirTime") {
    TimerResolutionGuard resolution;
    auto start = std::chrono::steady_clock::now();
    sleepMs(15);
    CHECK(msSince(start) >= 15);
    ManualResetEvent never("never", false);
    start = std::chrono::steady_clock::now();
    CHECK(!never.waitFor(30));
    // Windows timers may end a wait a tick early; never by more.
    CHECK(msSince(start) >= 29);
}

TEST_CASE("mutexIsReentrantAndExclusive") {
    NamedMutex mutex("COM3PortTxRxMutex");
    CHECK_EQ(mutex.name(), std::string("COM3PortTxRxMutex"));
    std::lock_guard<NamedMutex> outer(mutex);
    {
        std::lock_guard<NamedMutex> inner(mutex);
        bool otherGotIt = true;
        std::thread([&] { otherGotIt = mutex.try_lock(); }).join();
        CHECK(!otherGotIt);
    }
    // Still held once by this thread.
    bool otherGotIt = true;
    std::thread([&] { otherGotIt = mutex.try_lock(); }).join();
    CHECK(!otherGotIt);
}

TEST_CASE("mutexIsFreeAfterTheLastUnlock") {
    NamedMutex mutex("free");
    mutex.lock();
    mutex.lock();
    mutex.unlock();
    mutex.unlock();
    bool otherGotIt = false;
    std::thread([&] {
        otherGotIt = mutex.try_lock();
        if (otherGotIt) {
            mutex.unlock();
        }
    }).join();
    CHECK(otherGotIt);
}

TEST_CASE("threadRunsOnlyAfterResume") {
    for (int priority : {PlatformThread::normalPriority, PlatformThread::timeCriticalPriority}) {
        entered = 0;
        PlatformThread thread;
        CHECK(thread.create(&returnsSeven, nullptr));
        CHECK(!thread.create(&returnsSeven, nullptr));
        CHECK(thread.setPriority(priority));
        sleepMs(20);
        CHECK_EQ(entered.load(), 0);
        CHECK(!thread.hasEnded());
        thread.resume();
        CHECK(thread.join(10000));
        CHECK_EQ(entered.load(), 1);
        CHECK_EQ(thread.exitCode(), 7);
        CHECK(!thread.exists());
    }
}

TEST_CASE("terminateEndsABlockedThread") {
    for (bool resumed : {true, false}) {
        entered = 0;
        ManualResetEvent never("never", false);
        PlatformThread thread;
        CHECK(thread.create(&waitsForEver, &never));
        if (resumed) {
            thread.resume();
            for (int i = 0; i < 1000 && entered.load() == 0; ++i) {
                sleepMs(5);
            }
        }
        CHECK(!thread.join(20));
        thread.terminate(255);
        CHECK(thread.hasEnded());
        CHECK(!thread.exists());
        CHECK_EQ(thread.exitCode(), 255);
        CHECK_EQ(entered.load(), resumed ? 1 : 0);
    }
}

TEST_CASE("portNumbers") {
    CHECK_EQ(portNumber("COM1"), 1u);
    CHECK_EQ(portNumber("com254"), 254u);
    CHECK_EQ(portNumber("COM255"), 0u);
    CHECK_EQ(portNumber("COM0"), 0u);
    CHECK_EQ(portNumber("COM05"), 0u);
    CHECK_EQ(portNumber("COM5x"), 0u);
    CHECK_EQ(portNumber("LPT1"), 0u);
    CHECK_EQ(comPortName(17), std::string("COM17"));
    CHECK_EQ(resolvePortName("not a port"), std::string());
}
