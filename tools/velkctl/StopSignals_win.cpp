#include "StopSignals.h"

#include <windows.h>

namespace {
// The handler runs on a thread of its own that the system creates; it only
// sets the event, which the run takes between two exchanges.
HANDLE stopEvent = nullptr;

BOOL WINAPI onControl(DWORD type) {
    switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
        SetEvent(stopEvent);
        return TRUE;
    default:
        return FALSE;
    }
}
} // namespace

struct StopSignals::Native {};

StopSignals::StopSignals() : native(std::make_unique<Native>()) {
    stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(&onControl, TRUE);
}

StopSignals::~StopSignals() {
    SetConsoleCtrlHandler(&onControl, FALSE);
    CloseHandle(stopEvent);
    stopEvent = nullptr;
}

bool StopSignals::wait(unsigned ms) {
    if (WaitForSingleObject(stopEvent, ms) != WAIT_OBJECT_0) {
        return false;
    }
    // Taken, as a signal is: the next look waits for the next one.
    ResetEvent(stopEvent);
    return true;
}
