#ifndef VELK_SLEEP_H
#define VELK_SLEEP_H

// Waits at least ms milliseconds on CLOCK_MONOTONIC, also when signals
// interrupt the sleep, and not much longer: the wake-up is aimed early by
// the latency that the thread's last sleeps showed. A thread cancellation
// point.
void sleepMs(unsigned ms);

#endif
