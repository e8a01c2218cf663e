#include "StopSignals.h"

#include <cerrno>
#include <csignal>
#include <ctime>
#include <pthread.h>

namespace {

long long nowNs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (long long)t.tv_sec * 1000000000LL + t.tv_nsec;
}

} // namespace

struct StopSignals::Native {
    sigset_t stopSet;
    sigset_t previousMask;
};

StopSignals::StopSignals() : native(std::make_unique<Native>()) {
    sigemptyset(&native->stopSet);
    sigaddset(&native->stopSet, SIGINT);
    sigaddset(&native->stopSet, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &native->stopSet, &native->previousMask);
}

StopSignals::~StopSignals() {
    pthread_sigmask(SIG_SETMASK, &native->previousMask, nullptr);
}

bool StopSignals::wait(unsigned ms) {
    const long long deadline = nowNs() + (long long)ms * 1000000LL;
    while (true) {
        const long long left = deadline - nowNs();
        timespec timeout{};
        if (left > 0) {
            timeout.tv_sec = time_t(left / 1000000000LL);
            timeout.tv_nsec = long(left % 1000000000LL);
        }
        if (sigtimedwait(&native->stopSet, nullptr, &timeout) >= 0) {
            return true;
        }
        // EINTR: another signal; go on waiting for the time left.
        if (errno != EINTR || left <= 0) {
            return false;
        }
    }
}
