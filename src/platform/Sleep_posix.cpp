#include "Sleep.h"

#include "Deadline.h"

#include <cerrno>
#include <time.h>

namespace {
constexpr long nanosPerSecond = 1000000000L;
// Adjustment of the latency estimate per sleep, and its upper bound: no
// sleep ends more than this much early and waits out the rest on the clock.
constexpr long latencyStepNs = 2000;
constexpr long latencyLimitNs = 200000;

// How late this thread's timer wake-ups come, as a running median. The
// 2 ms that RTS stays up after a transmission must not run long: a fast
// slave answers right after it.
thread_local long wakeLatencyNs = 0;

timespec earlier(const timespec& t, long ns) {
    timespec r = t;
    r.tv_nsec -= ns;
    while (r.tv_nsec < 0) {
        r.tv_nsec += nanosPerSecond;
        r.tv_sec -= 1;
    }
    return r;
}

long nanosBetween(const timespec& from, const timespec& to) {
    return (to.tv_sec - from.tv_sec) * nanosPerSecond + (to.tv_nsec - from.tv_nsec);
}
} // namespace

void sleepMs(unsigned ms) {
    const Deadline deadline = Deadline::after(ms);
    const timespec aim = earlier(deadline.when(), wakeLatencyNs);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &aim, nullptr) == EINTR) {
    }
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    if (nanosBetween(aim, now) > wakeLatencyNs) {
        wakeLatencyNs = wakeLatencyNs + latencyStepNs > latencyLimitNs
                            ? latencyLimitNs
                            : wakeLatencyNs + latencyStepNs;
    } else {
        wakeLatencyNs = wakeLatencyNs > latencyStepNs ? wakeLatencyNs - latencyStepNs : 0;
    }
    // A wake-up that came early waits out the last microseconds.
    while (!deadline.passed()) {
    }
}
