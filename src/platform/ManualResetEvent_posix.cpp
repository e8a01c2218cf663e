#include "ManualResetEvent.h"

#include "Deadline.h"

#include <atomic>
#include <cerrno>
#include <pthread.h>
#include <sched.h>

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
    std::atomic<unsigned> setting{0}; // set() calls not yet done with condition
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
    // A waiter may see the flag and destroy the event while set() is still
    // waking the others outside the lock; the condition has to outlive that.
    while (native->setting.load(std::memory_order_acquire) != 0) {
        sched_yield();
    }
    pthread_cond_destroy(&native->condition);
    pthread_mutex_destroy(&native->mutex);
}

bool ManualResetEvent::set() {
    Native& n = *native;
    n.setting.fetch_add(1, std::memory_order_relaxed);
    {
        Unlocker lock(n.mutex);
        n.signalled = true;
    }
    // Woken after the lock is free: a waiter woken while we still hold it
    // would run into it and cost two more futex calls and a wake-up.
    const bool woken = pthread_cond_broadcast(&n.condition) == 0;
    n.setting.fetch_sub(1, std::memory_order_release);
    return woken;
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
