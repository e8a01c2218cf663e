#include "TimerResolutionGuard.h"

TimerResolutionGuard::TimerResolutionGuard() {}

TimerResolutionGuard::~TimerResolutionGuard() {}
