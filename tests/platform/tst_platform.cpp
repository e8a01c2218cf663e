// The POSIX-only part of the platform layer. Events, mutexes, threads and
// sleeps are tested by tests/plain/plain_platform.cpp, which runs on Linux and,
// for the Win32 files, under Wine.

#include "Deadline.h"
#include "ProcessorShare.h"
#include "Sleep.h"

#include <QtTest>

#include <sched.h>
#include <thread>

class TestPlatform : public QObject {
    Q_OBJECT

private slots:
    void deadlinePassesAndHasNothingLeft();
    void threadsOfAShareRunOnOneProcessor();
};

void TestPlatform::deadlinePassesAndHasNothingLeft() {
    const Deadline deadline = Deadline::after(10);
    QVERIFY(!deadline.passed());
    sleepMs(12);
    QVERIFY(deadline.passed());
    const timespec left = deadline.remaining();
    QCOMPARE(left.tv_sec, time_t(0));
    QCOMPARE(left.tv_nsec, 0L);
}

namespace {
// Where a thread that joins the share may run, and where it runs then.
struct Placement {
    cpu_set_t allowed;
    int running = -1;
};

Placement joinFromNewThread(ProcessorShare& share) {
    Placement placement;
    CPU_ZERO(&placement.allowed);
    std::thread thread([&] {
        share.join();
        sched_getaffinity(0, sizeof placement.allowed, &placement.allowed);
        placement.running = sched_getcpu();
    });
    thread.join();
    return placement;
}
} // namespace

void TestPlatform::threadsOfAShareRunOnOneProcessor() {
    ProcessorShare share;
    for (int round = 0; round < 2; ++round) {
        const Placement first = joinFromNewThread(share);
        QCOMPARE(CPU_COUNT(&first.allowed), 1);
        QVERIFY(CPU_ISSET(first.running, &first.allowed));
        for (int i = 0; i < 3; ++i) {
            const Placement later = joinFromNewThread(share);
            QCOMPARE(CPU_COUNT(&later.allowed), 1);
            QCOMPARE(later.running, first.running);
        }
        // A cleared share is chosen anew by the next thread, which may run
        // anywhere the process may.
        share.clear();
    }
}

QTEST_APPLESS_MAIN(TestPlatform)
#include "tst_platform.moc"
