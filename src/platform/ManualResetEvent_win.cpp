#include "ManualResetEvent.h"

#include <windows.h>

// Unnamed for the reason given in NamedMutex_win.cpp.
struct ManualResetEvent::Native {
    HANDLE handle = nullptr;
};

ManualResetEvent::ManualResetEvent(const std::string& name, bool initiallySet)
    : label(name), native(std::make_unique<Native>()) {
    native->handle = CreateEventW(nullptr, TRUE, initiallySet ? TRUE : FALSE, nullptr);
}

ManualResetEvent::~ManualResetEvent() {
    if (native->handle != nullptr) {
        CloseHandle(native->handle);
    }
}

bool ManualResetEvent::set() {
    return SetEvent(native->handle) != 0;
}

bool ManualResetEvent::reset() {
    return ResetEvent(native->handle) != 0;
}

void ManualResetEvent::wait() {
    WaitForSingleObject(native->handle, INFINITE);
}

bool ManualResetEvent::waitFor(unsigned ms) {
    // INFINITE is MAXDWORD: a wait that long is one without a limit, as asked.
    return WaitForSingleObject(native->handle, ms) == WAIT_OBJECT_0;
}

bool ManualResetEvent::isSet() const {
    return WaitForSingleObject(native->handle, 0) == WAIT_OBJECT_0;
}
