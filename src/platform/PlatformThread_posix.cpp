#include "PlatformThread.h"

#include "ManualResetEvent.h"

#include <cerrno>
#include <pthread.h>
#include <sched.h>
#include <utility>

// Shared by the owner and the thread itself, so that a detached thread that
// outlives its owner still finds it.
struct PlatformThread::State {
    pthread_t handle{};
    Entry entry = nullptr;
    void* argument = nullptr;
    std::shared_ptr<void> keepAlive;
    ManualResetEvent resumed{"PlatformThreadResumed", false};
    ManualResetEvent ended{"PlatformThreadEnded", false};
    pthread_mutex_t codeMutex = PTHREAD_MUTEX_INITIALIZER;
    int exitCode = 0;
    bool returned = false;
};

namespace {
// Marks the thread ended whichever way it leaves: a normal return or the
// forced unwind of a cancellation.
class EndMarker {
public:
    explicit EndMarker(ManualResetEvent& e) : ended(e) {}
    ~EndMarker() { ended.set(); }
    EndMarker(const EndMarker&) = delete;
    EndMarker& operator=(const EndMarker&) = delete;

private:
    ManualResetEvent& ended;
};

void* trampoline(void* raw);

// Middle of the real-time range: above ordinary threads, below the kernel's
// interrupt threads, which must keep serving the UART.
int realTimePriority() {
    const int low = sched_get_priority_min(SCHED_FIFO);
    const int high = sched_get_priority_max(SCHED_FIFO);
    return low + (high - low) / 3;
}
} // namespace

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
    auto* handOver = new std::shared_ptr<State>(fresh);
    if (pthread_create(&fresh->handle, nullptr, &trampoline, handOver) != 0) {
        delete handOver;
        return false;
    }
    state = std::move(fresh);
    created = true;
    return true;
}

namespace {
void* trampoline(void* raw) {
    using State = PlatformThread::State;
    std::unique_ptr<std::shared_ptr<State>> owner(static_cast<std::shared_ptr<State>*>(raw));
    const std::shared_ptr<State> s = *owner;
    owner.reset();
    EndMarker marker(s->ended);
    s->resumed.wait();
    const int code = s->entry(s->argument);
    pthread_mutex_lock(&s->codeMutex);
    s->exitCode = code;
    s->returned = true;
    pthread_mutex_unlock(&s->codeMutex);
    return nullptr;
}
} // namespace

bool PlatformThread::setPriority(int priority) {
    if (!created) {
        return false;
    }
    sched_param parameters{};
    if (priority >= timeCriticalPriority) {
        parameters.sched_priority = realTimePriority();
        if (pthread_setschedparam(state->handle, SCHED_FIFO, &parameters) == 0) {
            return true;
        }
        // No right to real-time scheduling: stay normal, the work is the same.
        parameters.sched_priority = 0;
    }
    pthread_setschedparam(state->handle, SCHED_OTHER, &parameters);
    return true;
}

void PlatformThread::resume() {
    if (created) {
        state->resumed.set();
    }
}

bool PlatformThread::hasEnded() const {
    return !created || state->ended.isSet();
}

bool PlatformThread::join(unsigned timeoutMs) {
    if (!created) {
        return true;
    }
    if (!state->ended.waitFor(timeoutMs)) {
        return false;
    }
    pthread_join(state->handle, nullptr);
    created = false;
    return true;
}

void PlatformThread::terminate(int exitCode, unsigned graceMs) {
    if (!created) {
        return;
    }
    pthread_mutex_lock(&state->codeMutex);
    if (!state->returned) {
        state->exitCode = exitCode;
    }
    pthread_mutex_unlock(&state->codeMutex);
    pthread_cancel(state->handle);
    // A thread never resumed waits in a cancellation point already.
    if (!join(graceMs)) {
        pthread_detach(state->handle);
        created = false;
    }
}

int PlatformThread::exitCode() const {
    if (!state) {
        return 0;
    }
    pthread_mutex_lock(&state->codeMutex);
    const int code = state->exitCode;
    pthread_mutex_unlock(&state->codeMutex);
    return code;
}
