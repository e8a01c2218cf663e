#ifndef VELK_SLEEP_H
#define VELK_SLEEP_H

// Waits at least ms milliseconds on CLOCK_MONOTONIC, also when signals
// interrupt the sleep. A thread cancellation point.
void sleepMs(unsigned ms);

#endif
