#include "Sleep.h"

#include "Deadline.h"

#include <cerrno>
#include <time.h>

void sleepMs(unsigned ms) {
    const Deadline deadline = Deadline::after(ms);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline.when(), nullptr) == EINTR) {
    }
}
