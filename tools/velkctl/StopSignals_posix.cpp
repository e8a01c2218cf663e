#include "StopSignals.h"

#include <csignal>
#include <pthread.h>
#include <thread>

struct StopSignals::Native {
    sigset_t stopSet;
    sigset_t previousMask;
    std::atomic<bool> ending{false};
    std::thread watcher;
};

StopSignals::StopSignals() : native(std::make_unique<Native>()) {
    Native& n = *native;
    sigemptyset(&n.stopSet);
    sigaddset(&n.stopSet, SIGINT);
    sigaddset(&n.stopSet, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &n.stopSet, &n.previousMask);
    n.watcher = std::thread([this] {
        int signal = 0;
        while (sigwait(&native->stopSet, &signal) == 0 && !native->ending) {
            deliver(signal);
        }
    });
}

StopSignals::~StopSignals() {
    // A signal for the watcher alone ends its wait.
    native->ending = true;
    pthread_kill(native->watcher.native_handle(), SIGTERM);
    native->watcher.join();
    pthread_sigmask(SIG_SETMASK, &native->previousMask, nullptr);
}
