#ifndef VELK_MANUALRESETEVENT_H
#define VELK_MANUALRESETEVENT_H

#include <memory>
#include <string>

// Event that stays set until it is reset; every waiter passes while it is
// set. The name only identifies the object; it is registered nowhere.
// POSIX: mutex + condition variable, timed waits on CLOCK_MONOTONIC, the waits
// are thread cancellation points (see PlatformThread). Windows: an unnamed
// manual-reset event object.
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
    struct Native;
    std::string label;
    std::unique_ptr<Native> native;
};

#endif
