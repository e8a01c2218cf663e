#include "ManualResetEvent.h"

#include "Deadline.h"

#include <cerrno>
#include <pthread.h>

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

struct ManualResetEvent::Native {
    pthread_mutex_t mutex;
    pthread_cond_t condition;
    bool signalled;
};

ManualResetEvent::ManualResetEvent(const std::string& name, bool initiallySet)
    : label(name), native(std::make_unique<Native>()) {
    native->signalled = initiallySet;
    pthread_mutex_init(&native->mutex, nullptr);
    pthread_condattr_t attributes;
    pthread_condattr_init(&attributes);
    pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC);
    pthread_cond_init(&native->condition, &attributes);
    pthread_condattr_destroy(&attributes);
}

ManualResetEvent::~ManualResetEvent() {
    pthread_cond_destroy(&native->condition);
    pthread_mutex_destroy(&native->mutex);
}

bool ManualResetEvent::set() {
    Unlocker lock(native->mutex);
    native->signalled = true;
    return pthread_cond_broadcast(&native->condition) == 0;
}

bool ManualResetEvent::reset() {
    Unlocker lock(native->mutex);
    native->signalled = false;
    return true;
}

void ManualResetEvent::wait() {
    Unlocker lock(native->mutex);
    while (!native->signalled) {
        pthread_cond_wait(&native->condition, &native->mutex);
    }
}

bool ManualResetEvent::waitFor(unsigned ms) {
    const Deadline deadline = Deadline::after(ms);
    Unlocker lock(native->mutex);
    while (!native->signalled) {
        if (pthread_cond_timedwait(&native->condition, &native->mutex, &deadline.when()) ==
            ETIMEDOUT) {
            return native->signalled;
        }
    }
    return true;
}

bool ManualResetEvent::isSet() const {
    Unlocker lock(native->mutex);
    return native->signalled;
}
