#include "NamedMutex.h"

NamedMutex::NamedMutex(const std::string& name) : label(name) {}

void NamedMutex::lock() {
    mutex.lock();
}

void NamedMutex::unlock() {
    mutex.unlock();
}

bool NamedMutex::try_lock() {
    return mutex.try_lock();
}
