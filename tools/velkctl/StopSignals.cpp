#include "StopSignals.h"

#include <chrono>

bool StopSignals::wait(unsigned ms) {
    std::unique_lock<std::mutex> lock(mutex);
    return stopped.wait_for(lock, std::chrono::milliseconds(ms), [this] { return taken != 0; });
}

int StopSignals::signal() {
    std::lock_guard<std::mutex> lock(mutex);
    return taken;
}

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
    stopped.notify_all();
    if (stopAction) {
        stopAction();
    }
}
