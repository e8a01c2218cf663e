#ifndef VELK_SIMPLETHREAD_H
#define VELK_SIMPLETHREAD_H

#include "ManualResetEvent.h"
#include "NamedMutex.h"
#include "PlatformThread.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

// Runs one member function of one object over and over on a thread of its
// own (every call is a pass), until the member function answers 0 or the
// owner stops the thread. The owner may pause it between two passes and
// start it again, with another object, member function or priority.
//
// Priorities: 0 normal, 15 time-critical (see PlatformThread). A thread that
// does not end within the stop limit is terminated with exit code 255; see
// PlatformThread for what that means on POSIX.
template <class T> class SimpleThread {
public:
    using Method = int (T::*)();

    SimpleThread()
        : mutex("SimpleThreadMutex" + addressText()),
          pauseCompleteEvent("SimpleThreadPauseCompleteEvent" + addressText(), false),
          extObjMethodCompleteEvent("SimpleThreadExtObjMethodCompleteEvent" + addressText(),
                                    false) {}

    ~SimpleThread() { stop(30000); }

    SimpleThread(const SimpleThread&) = delete;
    SimpleThread& operator=(const SimpleThread&) = delete;

    // Starts the loop, or resumes a paused one; nothing while it runs.
    void start(T* obj, Method meth, int priority) {
        std::lock_guard<NamedMutex> lock(mutex);
        if (isRunning()) {
            return;
        }
        if (!thread) {
            auto fresh = std::make_unique<PlatformThread>();
            if (!fresh->create(&SimpleThread::loop, this)) {
                running = false;
                paused = false;
                return;
            }
            thread = std::move(fresh);
        }
        // object and method are published by the store to paused below: the
        // loop reads them only after it has seen paused false.
        object = obj;
        method = meth;
        running = true;
        paused = false;
        thread->setPriority(priority);
        thread->resume();
        pauseCompleteEvent.set();
    }

    // Lets the current pass finish (waiting at most timeoutMs) and holds the
    // thread before its next pass.
    void pause(unsigned timeoutMs) {
        std::lock_guard<NamedMutex> lock(mutex);
        if (!isRunning()) {
            return;
        }
        paused = true;
        extObjMethodCompleteEvent.reset();
        extObjMethodCompleteEvent.waitFor(timeoutMs);
        pauseCompleteEvent.reset();
    }

    // Ends the loop and the thread, waiting at most timeoutMs; a thread
    // that does not end in time is terminated.
    void stop(unsigned timeoutMs) {
        std::lock_guard<NamedMutex> lock(mutex);
        if (!thread) {
            return;
        }
        running = false;
        pauseCompleteEvent.set();
        if (!thread->join(timeoutMs)) {
            thread->terminate(255);
        }
        lastExitCode = thread->exitCode();
        thread.reset();
    }

    // True while the thread exists, has not ended, is not paused and may run.
    // Reaps a thread that has ended by itself.
    bool isRunning() {
        std::lock_guard<NamedMutex> lock(mutex);
        if (!thread || thread->hasEnded()) {
            stop(30000);
            return false;
        }
        return running && !paused;
    }

    // Exit code of the last thread that was stopped or reaped: 0 when its
    // loop ended, 255 when it was terminated.
    int exitCode() {
        std::lock_guard<NamedMutex> lock(mutex);
        return lastExitCode;
    }

private:
    static int loop(void* argument) {
        auto* self = static_cast<SimpleThread*>(argument);
        if (self == nullptr) {
            return 0;
        }
        int more = 1;
        while (self->running && more != 0) {
            self->pauseCompleteEvent.wait();
            if (!self->paused) {
                more = (self->object != nullptr && self->method != nullptr)
                           ? (self->object->*(self->method))()
                           : 0;
            }
            self->extObjMethodCompleteEvent.set();
        }
        return 0;
    }

    std::string addressText() const {
        return std::to_string(reinterpret_cast<std::uintptr_t>(this));
    }

    std::unique_ptr<PlatformThread> thread;
    NamedMutex mutex;
    ManualResetEvent pauseCompleteEvent;
    ManualResetEvent extObjMethodCompleteEvent;
    T* object = nullptr;
    Method method = nullptr;
    std::atomic<bool> running{false};
    std::atomic<bool> paused{false};
    int lastExitCode = 0;
};

#endif
