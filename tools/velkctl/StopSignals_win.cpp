#include "StopSignals.h"

#include <csignal>
#include <windows.h>

struct StopSignals::Native {
    static inline StopSignals* current = nullptr;

    // Runs on a thread of its own that the system creates.
    static BOOL WINAPI onControl(DWORD type) {
        switch (type) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
            current->deliver(SIGINT);
            return TRUE;
        case CTRL_CLOSE_EVENT:
            current->deliver(SIGTERM);
            return TRUE;
        default:
            return FALSE;
        }
    }
};

StopSignals::StopSignals() : native(std::make_unique<Native>()) {
    Native::current = this;
    SetConsoleCtrlHandler(&Native::onControl, TRUE);
}

StopSignals::~StopSignals() {
    SetConsoleCtrlHandler(&Native::onControl, FALSE);
    Native::current = nullptr;
}
