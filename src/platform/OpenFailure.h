#ifndef VELK_OPENFAILURE_H
#define VELK_OPENFAILURE_H

#include <string>

// Why a serial device could not be opened, in terms a user can act on. Each
// platform maps its own error codes onto these.
enum class OpenFailure {
    None,             // the last open worked
    NoSuchDevice,     // no device by that name (an unplugged adapter)
    Busy,             // another program holds it
    PermissionDenied, // this user may not open it
    NotATerminal,     // it exists but is no serial device
    BaudRate,         // the device cannot run at the baud rate asked for
    Other,
};

// A failure with the figures behind it: for BaudRate the rate asked for and
// the one the driver set instead (0 where it set none, or did not say).
struct OpenFailureDetail {
    OpenFailureDetail(OpenFailure reason = OpenFailure::None, unsigned askedBaudRate = 0,
                      unsigned setBaudRate = 0)
        : reason(reason), askedBaudRate(askedBaudRate), setBaudRate(setBaudRate) {}

    OpenFailure reason;
    unsigned askedBaudRate;
    unsigned setBaudRate;
};

// One line of English for velkctl and logs, e.g. "busy: another program holds it".
const char* openFailureText(OpenFailure reason);
// The same with the figures, e.g. "the device cannot run at 1000000 baud; it set 115200".
std::string openFailureText(const OpenFailureDetail& detail);

#endif
