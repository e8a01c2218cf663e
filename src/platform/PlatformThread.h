#ifndef VELK_PLATFORMTHREAD_H
#define VELK_PLATFORMTHREAD_H

#include <memory>

// One thread that is created suspended, gets a priority, is resumed, joined
// with a time limit and, as a last resort, terminated.
//
// Windows: CreateThread (suspended), SetThreadPriority, ResumeThread,
// WaitForSingleObject and TerminateThread, which ends the thread wherever it
// is, without unwinding.
//
// POSIX priorities: 0 is normal scheduling; 15 (time-critical) asks for
// SCHED_FIFO and silently stays normal when the process lacks the right (EPERM).
//
// POSIX termination: there is no safe way to end a thread wherever it is. We
// cancel it (pthread_cancel, deferred) and join it for a bounded time. The
// thread ends at its next cancellation point; every wait our workers use
// (events, sleeps, poll, read, write, tcdrain) is one. The cancellation
// unwinds the thread's stack, so its destructors run, but whatever the pass
// was doing is abandoned: locks it holds through non-RAII means, a raised RTS
// line and half-updated state stay as they are. A thread that reaches no
// cancellation point within the bound is detached and left to itself: it
// must then touch nothing its owner frees, which is why create() can hand the
// thread a share of the state it uses (keepAlive).
class PlatformThread {
public:
    using Entry = int (*)(void* argument);

    static constexpr int normalPriority = 0;
    static constexpr int timeCriticalPriority = 15;

    PlatformThread();
    // A thread still alive here is terminated (see above).
    ~PlatformThread();
    PlatformThread(const PlatformThread&) = delete;
    PlatformThread& operator=(const PlatformThread&) = delete;

    // The grace terminate() gives a cancelled thread: a thread waiting in a
    // cancellation point ends within microseconds; one that reaches none is
    // not worth a longer wait.
    static constexpr unsigned terminateGraceMs = 200;

    // Creates the thread suspended: entry(argument) runs only after resume().
    // keepAlive is held until the thread has ended, also when it outlives this
    // object (detached by terminate). False when the thread cannot be created
    // or one exists already.
    bool create(Entry entry, void* argument, std::shared_ptr<void> keepAlive = nullptr);
    bool exists() const { return created; }

    // 0 = normal, 15 = time-critical; may be called before or after resume().
    // False only when the thread does not exist; a refused real-time class
    // leaves the thread at normal priority and still counts as applied.
    bool setPriority(int priority);
    // Lets a suspended thread start; no effect on a running one.
    void resume();

    // True once the thread has ended (returned from entry or been cancelled).
    bool hasEnded() const;
    // Waits at most timeoutMs for the thread to end; true when it has ended
    // and has been joined.
    bool join(unsigned timeoutMs);
    // Cancels the thread and joins it for at most graceMs; its exit code is
    // then exitCode. Detaches it if it does not end within graceMs.
    void terminate(int exitCode, unsigned graceMs = terminateGraceMs);
    // The value returned by entry, or the code given to terminate().
    int exitCode() const;

    // What the system keeps of a thread; each platform file defines it.
    struct Native;
    // What the thread and its owner share, so that a thread that outlives
    // its owner (detached by terminate) still finds it.
    struct State {
        Entry entry = nullptr;
        void* argument = nullptr;
        std::shared_ptr<void> keepAlive;
        std::unique_ptr<Native> native;
        State();
        ~State();
        // First thing on the new thread: its own share, handed over by create().
        static std::shared_ptr<State> adopt(void* handOver);
    };

private:
    // Each platform file defines it: starts the thread suspended, running
    // its entry point with handOver, which it owns once this returns true.
    static bool startSuspended(State& state, void* handOver);

    std::shared_ptr<State> state;
    bool created = false;
};

#endif
