#ifndef VELK_MANUALRESETEVENT_H
#define VELK_MANUALRESETEVENT_H

#include <pthread.h>
#include <string>

// Event that stays set until it is reset; every waiter passes while it is
// set. Timed waits count on CLOCK_MONOTONIC. The waits are thread
// cancellation points (a worker stuck in one can be terminated, see
// PlatformThread). The name only identifies the object.
class ManualResetEvent {
public:
    ManualResetEvent(const std::string& name, bool initiallySet);
    ~ManualResetEvent();
    ManualResetEvent(const ManualResetEvent&) = delete;
    ManualResetEvent& operator=(const ManualResetEvent&) = delete;

    bool set();
    bool reset();
    // Returns once the event is set.
    void wait();
    // True when the event is set within ms milliseconds, false on time-out.
    bool waitFor(unsigned ms);
    bool isSet() const;
    const std::string& name() const { return label; }

private:
    std::string label;
    mutable pthread_mutex_t mutex;
    pthread_cond_t condition;
    bool signalled;
};

#endif
