#ifndef VELK_SIMPLETHREAD_H
#define VELK_SIMPLETHREAD_H

#include "ManualResetEvent.h"
#include "NamedMutex.h"
#include "PlatformThread.h"

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
// PlatformThread for what that means on POSIX. stop() returns within its
// limit plus PlatformThread::terminateGraceMs.
//
// Everything the loop touches (gate, flags, object and method) lives in a
// control block that the thread shares: a thread that could not be ended and
// was left to finish its pass finds it still there after this object is
// gone, sees that it must not run again, and ends. The pass itself must end
// promptly once its owner wakes it; SimpleThread cannot stop it from touching
// its object.
template <class T> class SimpleThread {
public:
    using Method = int (T::*)();

    SimpleThread() : mutex("SimpleThreadMutex" + addressText()) {}

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
            auto freshControl = std::make_shared<Control>(addressText());
            if (!fresh->create(&SimpleThread::loop, freshControl.get(), freshControl)) {
                return;
            }
            thread = std::move(fresh);
            control = std::move(freshControl);
        }
        {
            // A pass whose pause ran out may still run: the next one takes
            // object and method only under this lock.
            std::lock_guard<std::mutex> handOver(control->handOver);
            control->object = obj;
            control->method = meth;
            control->running = true;
            control->paused = false;
        }
        thread->setPriority(priority);
        thread->resume();
        control->pauseCompleteEvent.set();
    }

    // Lets the current pass finish (waiting at most timeoutMs) and holds the
    // thread before its next pass.
    void pause(unsigned timeoutMs) {
        std::lock_guard<NamedMutex> lock(mutex);
        if (!isRunning()) {
            return;
        }
        {
            std::lock_guard<std::mutex> handOver(control->handOver);
            control->paused = true;
        }
        control->extObjMethodCompleteEvent.reset();
        control->extObjMethodCompleteEvent.waitFor(timeoutMs);
        control->pauseCompleteEvent.reset();
    }

    // Ends the loop and the thread, waiting at most timeoutMs; a thread
    // that does not end in time is terminated.
    void stop(unsigned timeoutMs) {
        std::lock_guard<NamedMutex> lock(mutex);
        if (!thread) {
            return;
        }
        {
            std::lock_guard<std::mutex> handOver(control->handOver);
            control->running = false;
        }
        control->pauseCompleteEvent.set();
        if (!thread->join(timeoutMs)) {
            thread->terminate(255);
        }
        lastExitCode = thread->exitCode();
        thread.reset();
        control.reset();
    }

    // True while the thread exists, has not ended, is not paused and may run.
    // Reaps a thread that has ended by itself.
    bool isRunning() {
        std::lock_guard<NamedMutex> lock(mutex);
        if (!thread || thread->hasEnded()) {
            stop(30000);
            return false;
        }
        std::lock_guard<std::mutex> handOver(control->handOver);
        return control->running && !control->paused;
    }

    // Exit code of the last thread that was stopped or reaped: 0 when its
    // loop ended, 255 when it was terminated.
    int exitCode() {
        std::lock_guard<NamedMutex> lock(mutex);
        return lastExitCode;
    }

private:
    // One per thread, shared by the owner and the thread.
    struct Control {
        explicit Control(const std::string& suffix)
            : pauseCompleteEvent("SimpleThreadPauseCompleteEvent" + suffix, false),
              extObjMethodCompleteEvent("SimpleThreadExtObjMethodCompleteEvent" + suffix, false) {}
        ManualResetEvent pauseCompleteEvent; // the gate before every pass
        ManualResetEvent extObjMethodCompleteEvent;
        std::mutex handOver; // guards the four below
        T* object = nullptr;
        Method method = nullptr;
        bool running = false;
        bool paused = false;
    };

    static int loop(void* argument) {
        auto* c = static_cast<Control*>(argument);
        if (c == nullptr) {
            return 0;
        }
        int more = 1;
        for (;;) {
            {
                std::lock_guard<std::mutex> handOver(c->handOver);
                if (!c->running || more == 0) {
                    return 0;
                }
            }
            c->pauseCompleteEvent.wait();
            T* object = nullptr;
            Method method = nullptr;
            bool skip = true;
            {
                std::lock_guard<std::mutex> handOver(c->handOver);
                skip = c->paused || !c->running;
                object = c->object;
                method = c->method;
            }
            if (!skip) {
                more = (object != nullptr && method != nullptr) ? (object->*method)() : 0;
            }
            c->extObjMethodCompleteEvent.set();
        }
    }

    std::string addressText() const {
        return std::to_string(reinterpret_cast<std::uintptr_t>(this));
    }

    std::unique_ptr<PlatformThread> thread;
    std::shared_ptr<Control> control; // set exactly while thread is
    NamedMutex mutex;
    int lastExitCode = 0;
};

#endif
