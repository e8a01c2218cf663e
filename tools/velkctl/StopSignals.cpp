#include "StopSignals.h"

void StopSignals::setStopAction(std::function<void()> action) {
    std::lock_guard<std::mutex> lock(mutex);
    stopAction = std::move(action);
    if (taken != 0 && stopAction) {
        stopAction();
    }
}

void StopSignals::deliver(int signal) {
    std::lock_guard<std::mutex> lock(mutex);
    if (taken != 0) {
        return; // a second Ctrl-C: already stopping
    }
    taken = signal;
    if (stopAction) {
        stopAction();
    }
}
