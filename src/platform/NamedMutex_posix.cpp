#include "NamedMutex.h"

#include <mutex>

struct NamedMutex::Native {
    std::recursive_mutex mutex;
};

NamedMutex::NamedMutex(const std::string& name) : label(name), native(std::make_unique<Native>()) {}

NamedMutex::~NamedMutex() = default;

void NamedMutex::lock() {
    native->mutex.lock();
}

void NamedMutex::unlock() {
    native->mutex.unlock();
}

bool NamedMutex::try_lock() {
    return native->mutex.try_lock();
}
