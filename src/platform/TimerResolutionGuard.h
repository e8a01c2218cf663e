#ifndef VELK_TIMERRESOLUTIONGUARD_H
#define VELK_TIMERRESOLUTIONGUARD_H

// Holds the system timer at 1 ms resolution for its lifetime. Windows:
// timeBeginPeriod(1) / timeEndPeriod(1). Linux sleeps and polls already
// resolve well below a millisecond, so there is nothing to switch; the guard
// keeps its place in the serial port's lifecycle.
class TimerResolutionGuard {
public:
    TimerResolutionGuard();
    ~TimerResolutionGuard();
    TimerResolutionGuard(const TimerResolutionGuard&) = delete;
    TimerResolutionGuard& operator=(const TimerResolutionGuard&) = delete;
};

#endif
