#include "SerialLineSetup.h"

#include <windows.h>

OpenFailureDetail setUpSerialLine(void* line, unsigned baudRate, int parity) {
    if (baudRate == 0 || parity < 0 || parity > 4) {
        return OpenFailure::Other;
    }
    HANDLE device = static_cast<HANDLE>(line);
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    // Every field not set here keeps what the driver reported. Only a
    // communications device has them (a file or a pipe opens too).
    if (!GetCommState(device, &dcb)) {
        return OpenFailure::NotATerminal;
    }
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = baudRate;
    dcb.fBinary = 1;
    dcb.fParity = parity != 0 ? 1 : 0;
    dcb.fOutxCtsFlow = 0;
    dcb.fOutxDsrFlow = 0;
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.fDsrSensitivity = 0;
    dcb.fTXContinueOnXoff = 1;
    dcb.fOutX = 0;
    dcb.fInX = 0;
    dcb.fErrorChar = 0;
    dcb.fNull = 0;
    // RTS is switched only by EscapeCommFunction.
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    dcb.fAbortOnError = 0;
    dcb.wReserved = 0;
    dcb.ByteSize = 8;
    dcb.Parity = static_cast<BYTE>(parity);
    dcb.StopBits = ONESTOPBIT;
    if (!SetCommState(device, &dcb)) {
        // What a driver answers for a rate it cannot run at; the rest of the
        // settings are those every COM driver takes.
        return GetLastError() == ERROR_INVALID_PARAMETER
                   ? OpenFailureDetail(OpenFailure::BaudRate, baudRate)
                   : OpenFailureDetail(OpenFailure::Other);
    }
    DCB applied{};
    applied.DCBlength = sizeof applied;
    if (GetCommState(device, &applied) && !baudRateHolds(baudRate, applied.BaudRate)) {
        return OpenFailureDetail(OpenFailure::BaudRate, baudRate, applied.BaudRate);
    }
    return OpenFailure::None;
}
