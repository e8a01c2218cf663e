#include "StopSignals.h"

#include <csignal>
#include <windows.h>

namespace {
// The handler runs on a thread of its own that the system creates.
StopSignals* current = nullptr;
void (*deliverTo)(StopSignals*, int) = nullptr;

BOOL WINAPI onControl(DWORD type) {
    switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        deliverTo(current, SIGINT);
        return TRUE;
    case CTRL_CLOSE_EVENT:
        deliverTo(current, SIGTERM);
        return TRUE;
    default:
        return FALSE;
    }
}
} // namespace

struct StopSignals::Native {
    static void deliver(StopSignals* signals, int signal) { signals->deliver(signal); }
};

StopSignals::StopSignals() : native(std::make_unique<Native>()) {
    current = this;
    deliverTo = &Native::deliver;
    SetConsoleCtrlHandler(&onControl, TRUE);
}

StopSignals::~StopSignals() {
    SetConsoleCtrlHandler(&onControl, FALSE);
    current = nullptr;
}
