#include "OpenFailure.h"

const char* openFailureText(OpenFailure reason) {
    switch (reason) {
    case OpenFailure::None:
        return "no failure";
    case OpenFailure::NoSuchDevice:
        return "no such device";
    case OpenFailure::Busy:
        return "busy: another program holds it";
    case OpenFailure::PermissionDenied:
        return "permission denied: join the 'dialout' group (sudo usermod -aG dialout $USER, "
               "then log in again)";
    case OpenFailure::NotATerminal:
        return "not a terminal (no serial device)";
    case OpenFailure::Other:
        break;
    }
    return "the device cannot be used";
}
