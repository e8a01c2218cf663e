#ifndef VELK_VELKCTL_STOPSIGNALS_H
#define VELK_VELKCTL_STOPSIGNALS_H

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

// A stop request from the user ends a run at once, even in the middle of an
// exchange. POSIX: SIGINT and SIGTERM, blocked from construction on (the
// threads created later, the port's, inherit the mask) and taken by a
// watcher thread in sigwait, so nothing runs in a signal handler.
// Windows: Ctrl-C and Ctrl-Break (as SIGINT) and closing the console window
// (as SIGTERM), taken by a console control handler on a thread the system
// creates. Either way the stop action (ending the running exchange) runs on
// that thread.
class StopSignals {
public:
    StopSignals();
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // Whether a stop has come; cheap enough for a loop over every record.
    bool pending() const { return taken != 0; }
    // The stop signal taken (SIGINT or SIGTERM), 0 while none.
    int signal() const { return taken; }

    // Runs action when a stop comes, at once if one has come already. Once
    // setStopAction(nullptr) returns, the last action has ended and none
    // will start.
    void setStopAction(std::function<void()> action);

private:
    // Called by the platform's watcher for each stop signal.
    void deliver(int signal);

    struct Native;
    std::mutex mutex;
    std::atomic<int> taken{0};
    std::function<void()> stopAction;
    std::unique_ptr<Native> native; // last: its watcher ends before the rest goes
};

#endif
