#include "PlatformThread.h"

#include <utility>

// What every system does alike; the system calls are in the platform files.

PlatformThread::PlatformThread() = default;

PlatformThread::~PlatformThread() {
    if (created && !join(0)) {
        terminate(255);
    }
}

bool PlatformThread::create(Entry entry, void* argument, std::shared_ptr<void> keepAlive) {
    if (created || entry == nullptr) {
        return false;
    }
    auto fresh = std::make_shared<State>();
    fresh->entry = entry;
    fresh->argument = argument;
    fresh->keepAlive = std::move(keepAlive);
    auto handOver = std::make_unique<std::shared_ptr<State>>(fresh);
    if (!startSuspended(*fresh, handOver.get())) {
        return false;
    }
    handOver.release(); // the thread's now
    state = std::move(fresh);
    created = true;
    return true;
}

std::shared_ptr<PlatformThread::State> PlatformThread::State::adopt(void* handOver) {
    const std::unique_ptr<std::shared_ptr<State>> share(
        static_cast<std::shared_ptr<State>*>(handOver));
    return *share;
}
