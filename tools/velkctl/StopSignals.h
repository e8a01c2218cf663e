#ifndef VELK_VELKCTL_STOPSIGNALS_H
#define VELK_VELKCTL_STOPSIGNALS_H

#include <memory>

// SIGINT and SIGTERM end a cyclic run between two exchanges. Both signals are
// blocked from construction on, so the threads created later (the port's)
// inherit the mask and never take them, and the run takes them synchronously:
// nothing runs in a signal handler and an exchange is never cut short.
// Windows: Ctrl-C, Ctrl-Break and closing the console window, taken by a
// console control handler that only sets an event.
class StopSignals {
public:
    StopSignals();
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // Waits up to ms milliseconds; true as soon as a stop signal is taken.
    bool wait(unsigned ms);
    // True when a stop signal arrived since the last look.
    bool pending() { return wait(0); }

private:
    struct Native;
    std::unique_ptr<Native> native;
};

#endif
