#include "TimerResolutionGuard.h"

#include <windows.h>

#include <timeapi.h>

TimerResolutionGuard::TimerResolutionGuard() {
    timeBeginPeriod(1);
}

TimerResolutionGuard::~TimerResolutionGuard() {
    timeEndPeriod(1);
}
