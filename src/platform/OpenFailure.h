#ifndef VELK_OPENFAILURE_H
#define VELK_OPENFAILURE_H

// Why a serial device could not be opened, in terms a user can act on. Each
// platform maps its own error codes onto these.
enum class OpenFailure {
    None,             // the last open worked
    NoSuchDevice,     // no device by that name (an unplugged adapter)
    Busy,             // another program holds it
    PermissionDenied, // this user may not open it
    NotATerminal,     // it exists but is no serial device
    Other,
};

// One line of English for velkctl and logs, e.g. "busy: another program holds it".
const char* openFailureText(OpenFailure reason);

#endif
