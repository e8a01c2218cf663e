#include "PlatformThread.h"

#include <windows.h>

// Shared by the owner and the thread, as on POSIX: a thread that outlives
// its owner still finds it.
struct PlatformThread::State {
    HANDLE handle = nullptr;
    Entry entry = nullptr;
    void* argument = nullptr;
    std::shared_ptr<void> keepAlive;
    ~State() {
        if (handle != nullptr) {
            CloseHandle(handle);
        }
    }
};

namespace {
DWORD WINAPI trampoline(LPVOID raw) {
    std::unique_ptr<std::shared_ptr<PlatformThread::State>> owner(
        static_cast<std::shared_ptr<PlatformThread::State>*>(raw));
    const std::shared_ptr<PlatformThread::State> s = *owner;
    owner.reset();
    return static_cast<DWORD>(s->entry(s->argument));
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
    fresh->handle = CreateThread(nullptr, 0, &trampoline, handOver, CREATE_SUSPENDED, nullptr);
    if (fresh->handle == nullptr) {
        delete handOver;
        return false;
    }
    state = std::move(fresh);
    created = true;
    return true;
}

bool PlatformThread::setPriority(int priority) {
    if (!created) {
        return false;
    }
    SetThreadPriority(state->handle, priority >= timeCriticalPriority
                                         ? THREAD_PRIORITY_TIME_CRITICAL
                                         : THREAD_PRIORITY_NORMAL);
    return true;
}

void PlatformThread::resume() {
    if (created) {
        ResumeThread(state->handle);
    }
}

bool PlatformThread::hasEnded() const {
    return !created || WaitForSingleObject(state->handle, 0) == WAIT_OBJECT_0;
}

bool PlatformThread::join(unsigned timeoutMs) {
    if (!created) {
        return true;
    }
    if (WaitForSingleObject(state->handle, timeoutMs) != WAIT_OBJECT_0) {
        return false;
    }
    created = false;
    return true;
}

void PlatformThread::terminate(int exitCode, unsigned graceMs) {
    if (!created) {
        return;
    }
    TerminateThread(state->handle, static_cast<DWORD>(exitCode));
    WaitForSingleObject(state->handle, graceMs);
    created = false;
}

int PlatformThread::exitCode() const {
    DWORD code = 0;
    if (!state || !GetExitCodeThread(state->handle, &code) || code == STILL_ACTIVE) {
        return 0;
    }
    return static_cast<int>(code);
}
