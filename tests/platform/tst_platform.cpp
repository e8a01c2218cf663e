// The POSIX-only part of the platform layer. Events, mutexes, threads and
// sleeps are tested by tests/plain/plain_platform.cpp, which runs on Linux and,
// for the Win32 files, under Wine.

#include "Deadline.h"
#include "Sleep.h"

#include <QtTest>

class TestPlatform : public QObject {
    Q_OBJECT

private slots:
    void deadlinePassesAndHasNothingLeft();
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

QTEST_APPLESS_MAIN(TestPlatform)
#include "tst_platform.moc"
