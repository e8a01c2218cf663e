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
    case OpenFailure::BaudRate:
        return "the device cannot run at that baud rate";
    case OpenFailure::Other:
        break;
    }
    return "the device cannot be used";
}

std::string openFailureText(const OpenFailureDetail& detail) {
    if (detail.reason != OpenFailure::BaudRate || detail.askedBaudRate == 0) {
        return openFailureText(detail.reason);
    }
    std::string text = "the device cannot run at " + std::to_string(detail.askedBaudRate) + " baud";
    if (detail.setBaudRate != 0) {
        text += "; it set " + std::to_string(detail.setBaudRate);
    }
    return text;
}
