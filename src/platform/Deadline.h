#ifndef VELK_DEADLINE_H
#define VELK_DEADLINE_H

#include <time.h>

// A point in time on CLOCK_MONOTONIC, so that waits are not disturbed when
// the wall clock is set. Used by every timed wait of the platform layer.
class Deadline {
public:
    // The moment ms milliseconds from now.
    static Deadline after(unsigned ms);

    // Absolute time for clock_nanosleep / pthread_cond_timedwait.
    const timespec& when() const { return at; }
    // Time left (zero once passed), for poll-style relative waits.
    timespec remaining() const;
    bool passed() const;

private:
    timespec at{};
};

#endif
