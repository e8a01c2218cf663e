#include "Deadline.h"

namespace {
constexpr long nanosPerSecond = 1000000000L;

timespec now() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t;
}

bool before(const timespec& a, const timespec& b) {
    return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}
} // namespace

Deadline Deadline::after(unsigned ms) {
    Deadline d;
    d.at = now();
    d.at.tv_sec += static_cast<time_t>(ms / 1000);
    d.at.tv_nsec += static_cast<long>(ms % 1000) * 1000000L;
    if (d.at.tv_nsec >= nanosPerSecond) {
        d.at.tv_sec += 1;
        d.at.tv_nsec -= nanosPerSecond;
    }
    return d;
}

timespec Deadline::remaining() const {
    const timespec t = now();
    timespec left{};
    if (!before(t, at)) {
        return left;
    }
    left.tv_sec = at.tv_sec - t.tv_sec;
    left.tv_nsec = at.tv_nsec - t.tv_nsec;
    if (left.tv_nsec < 0) {
        left.tv_sec -= 1;
        left.tv_nsec += nanosPerSecond;
    }
    return left;
}

bool Deadline::passed() const {
    return !before(now(), at);
}
