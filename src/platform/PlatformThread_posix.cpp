#include "PlatformThread.h"

#include "ManualResetEvent.h"

#include <cerrno>
#include <pthread.h>
#include <sched.h>
#include <utility>

struct PlatformThread::Native {
    pthread_t handle{};
    ManualResetEvent resumed{"PlatformThreadResumed", false};
    ManualResetEvent ended{"PlatformThreadEnded", false};
    pthread_mutex_t codeMutex = PTHREAD_MUTEX_INITIALIZER;
    int exitCode = 0;
    bool returned = false;
};

PlatformThread::State::State() : native(std::make_unique<Native>()) {}
PlatformThread::State::~State() = default;

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

void* trampoline(void* handOver) {
    const std::shared_ptr<PlatformThread::State> s = PlatformThread::State::adopt(handOver);
    PlatformThread::Native& n = *s->native;
    EndMarker marker(n.ended);
    n.resumed.wait();
    const int code = s->entry(s->argument);
    pthread_mutex_lock(&n.codeMutex);
    n.exitCode = code;
    n.returned = true;
    pthread_mutex_unlock(&n.codeMutex);
    return nullptr;
}

// Middle of the real-time range: above ordinary threads, below the kernel's
// interrupt threads, which must keep serving the UART.
int realTimePriority() {
    const int low = sched_get_priority_min(SCHED_FIFO);
    const int high = sched_get_priority_max(SCHED_FIFO);
    return low + (high - low) / 3;
}
} // namespace

bool PlatformThread::startSuspended(State& state, void* handOver) {
    return pthread_create(&state.native->handle, nullptr, &trampoline, handOver) == 0;
}

bool PlatformThread::setPriority(int priority) {
    if (!created) {
        return false;
    }
    sched_param parameters{};
    if (priority >= timeCriticalPriority) {
        parameters.sched_priority = realTimePriority();
        if (pthread_setschedparam(state->native->handle, SCHED_FIFO, &parameters) == 0) {
            return true;
        }
        // No right to real-time scheduling: stay normal, the work is the same.
        parameters.sched_priority = 0;
    }
    pthread_setschedparam(state->native->handle, SCHED_OTHER, &parameters);
    return true;
}

void PlatformThread::resume() {
    if (created) {
        state->native->resumed.set();
    }
}

bool PlatformThread::hasEnded() const {
    return !created || state->native->ended.isSet();
}

bool PlatformThread::join(unsigned timeoutMs) {
    if (!created) {
        return true;
    }
    if (!state->native->ended.waitFor(timeoutMs)) {
        return false;
    }
    pthread_join(state->native->handle, nullptr);
    created = false;
    return true;
}

void PlatformThread::terminate(int exitCode, unsigned graceMs) {
    if (!created) {
        return;
    }
    pthread_mutex_lock(&state->native->codeMutex);
    if (!state->native->returned) {
        state->native->exitCode = exitCode;
    }
    pthread_mutex_unlock(&state->native->codeMutex);
    pthread_cancel(state->native->handle);
    // A thread never resumed waits in a cancellation point already.
    if (!join(graceMs)) {
        pthread_detach(state->native->handle);
        created = false;
    }
}

int PlatformThread::exitCode() const {
    if (!state) {
        return 0;
    }
    pthread_mutex_lock(&state->native->codeMutex);
    const int code = state->native->exitCode;
    pthread_mutex_unlock(&state->native->codeMutex);
    return code;
}
