#ifndef VELK_TIMERRESOLUTIONGUARD_H
#define VELK_TIMERRESOLUTIONGUARD_H

// Holds the system timer at 1 ms resolution for its lifetime. Linux sleeps
// and polls already resolve well below a millisecond, so there is nothing to
// switch; the guard keeps its place in the serial port's lifecycle.
class TimerResolutionGuard {
public:
    // Written out (not defaulted) so the guard is a real lifetime object.
    TimerResolutionGuard() {}
    ~TimerResolutionGuard() {}
    TimerResolutionGuard(const TimerResolutionGuard&) = delete;
    TimerResolutionGuard& operator=(const TimerResolutionGuard&) = delete;
};

#endif
