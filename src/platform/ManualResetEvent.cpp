#include "ManualResetEvent.h"

#include "Deadline.h"

#include <cerrno>

namespace {
// Releases the event's mutex also when the waiting thread is cancelled:
// the forced unwind of a cancellation runs destructors, and the condition
// wait has taken the mutex back by then.
class Unlocker {
public:
    explicit Unlocker(pthread_mutex_t& m) : mutex(m) { pthread_mutex_lock(&mutex); }
    ~Unlocker() { pthread_mutex_unlock(&mutex); }
    Unlocker(const Unlocker&) = delete;
    Unlocker& operator=(const Unlocker&) = delete;

private:
    pthread_mutex_t& mutex;
};
} // namespace

ManualResetEvent::ManualResetEvent(const std::string& name, bool initiallySet)
    : label(name), signalled(initiallySet) {
    pthread_mutex_init(&mutex, nullptr);
    pthread_condattr_t attributes;
    pthread_condattr_init(&attributes);
    pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC);
    pthread_cond_init(&condition, &attributes);
    pthread_condattr_destroy(&attributes);
}

ManualResetEvent::~ManualResetEvent() {
    pthread_cond_destroy(&condition);
    pthread_mutex_destroy(&mutex);
}

bool ManualResetEvent::set() {
    Unlocker lock(mutex);
    signalled = true;
    return pthread_cond_broadcast(&condition) == 0;
}

bool ManualResetEvent::reset() {
    Unlocker lock(mutex);
    signalled = false;
    return true;
}

void ManualResetEvent::wait() {
    Unlocker lock(mutex);
    while (!signalled) {
        pthread_cond_wait(&condition, &mutex);
    }
}

bool ManualResetEvent::waitFor(unsigned ms) {
    const Deadline deadline = Deadline::after(ms);
    Unlocker lock(mutex);
    while (!signalled) {
        if (pthread_cond_timedwait(&condition, &mutex, &deadline.when()) == ETIMEDOUT) {
            return signalled;
        }
    }
    return true;
}

bool ManualResetEvent::isSet() const {
    Unlocker lock(mutex);
    return signalled;
}
