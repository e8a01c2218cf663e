#include "NamedMutex.h"

#include <windows.h>

// Unnamed on purpose: a named kernel object is shared by every process that
// uses the name, and two programs on different ports could meet through the
// thread objects' address-based names.
struct NamedMutex::Native {
    HANDLE handle = nullptr;
};

NamedMutex::NamedMutex(const std::string& name) : label(name), native(std::make_unique<Native>()) {
    native->handle = CreateMutexW(nullptr, FALSE, nullptr);
}

NamedMutex::~NamedMutex() {
    if (native->handle != nullptr) {
        CloseHandle(native->handle);
    }
}

void NamedMutex::lock() {
    WaitForSingleObject(native->handle, INFINITE);
}

void NamedMutex::unlock() {
    ReleaseMutex(native->handle);
}

bool NamedMutex::try_lock() {
    const DWORD result = WaitForSingleObject(native->handle, 0);
    // An abandoned mutex (its holder was terminated) is ours now all the same.
    return result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
}
