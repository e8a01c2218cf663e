#include "PlatformThread.h"

#include <windows.h>

struct PlatformThread::Native {
    HANDLE handle = nullptr;
    Native() = default;
    Native(const Native&) = delete;
    Native& operator=(const Native&) = delete;
    ~Native() {
        if (handle != nullptr) {
            CloseHandle(handle);
        }
    }
};

PlatformThread::State::State() : native(std::make_unique<Native>()) {}
PlatformThread::State::~State() = default;

namespace {
DWORD WINAPI trampoline(LPVOID handOver) {
    const std::shared_ptr<PlatformThread::State> s = PlatformThread::State::adopt(handOver);
    return static_cast<DWORD>(s->entry(s->argument));
}
} // namespace

bool PlatformThread::startSuspended(State& state, void* handOver) {
    state.native->handle =
        CreateThread(nullptr, 0, &trampoline, handOver, CREATE_SUSPENDED, nullptr);
    return state.native->handle != nullptr;
}

bool PlatformThread::setPriority(int priority) {
    if (!created) {
        return false;
    }
    SetThreadPriority(state->native->handle, priority >= timeCriticalPriority
                                                 ? THREAD_PRIORITY_TIME_CRITICAL
                                                 : THREAD_PRIORITY_NORMAL);
    return true;
}

void PlatformThread::resume() {
    if (created) {
        ResumeThread(state->native->handle);
    }
}

bool PlatformThread::hasEnded() const {
    return !created || WaitForSingleObject(state->native->handle, 0) == WAIT_OBJECT_0;
}

bool PlatformThread::join(unsigned timeoutMs) {
    if (!created) {
        return true;
    }
    if (WaitForSingleObject(state->native->handle, timeoutMs) != WAIT_OBJECT_0) {
        return false;
    }
    created = false;
    return true;
}

void PlatformThread::terminate(int exitCode, unsigned graceMs) {
    if (!created) {
        return;
    }
    TerminateThread(state->native->handle, static_cast<DWORD>(exitCode));
    WaitForSingleObject(state->native->handle, graceMs);
    created = false;
}

int PlatformThread::exitCode() const {
    DWORD code = 0;
    if (!state || !GetExitCodeThread(state->native->handle, &code) || code == STILL_ACTIVE) {
        return 0;
    }
    return static_cast<int>(code);
}
