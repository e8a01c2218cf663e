// velk-sim on Windows: a VELK slave on a real COM port (see --help). The
// pseudo-terminal mode (--com) needs a POSIX system.

#include "PortNames.h"
#include "SerialLineSetup.h"
#include "SimEngine.h"
#include "SimOptions.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <string>

namespace {

// The longest read wait, so that a stop request is seen soon.
const DWORD longestWaitMs = 50;
// How long a write may hold up an answer before it is dropped.
const DWORD writeStallMs = 200;

std::atomic<bool> stopRequested{false};

BOOL WINAPI onControl(DWORD type) {
    switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
        stopRequested = true;
        return TRUE;
    default:
        return FALSE;
    }
}

std::string systemMessage(DWORD code) {
    char text[256] = {};
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                   text, sizeof text, nullptr);
    std::string message(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) {
        message.pop_back();
    }
    return message;
}

HANDLE openLine(const std::string& device, unsigned baud, std::string& error) {
    const std::wstring path(device.begin(), device.end());
    HANDLE line = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (line == INVALID_HANDLE_VALUE) {
        error = device + ": " + systemMessage(GetLastError());
        return INVALID_HANDLE_VALUE;
    }
    // Raw 8N1 without flow control, as the master's line.
    const OpenFailureDetail refused = setUpSerialLine(line, baud, 0);
    if (refused.reason != OpenFailure::None) {
        error = device + ": " + openFailureText(refused);
        CloseHandle(line);
        return INVALID_HANDLE_VALUE;
    }
    PurgeComm(line, PURGE_RXCLEAR | PURGE_TXCLEAR);
    return line;
}

// A read returns at once with what has come, or waits up to waitMs for a first byte.
bool setReadWait(HANDLE line, DWORD waitMs) {
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = waitMs == 0 ? 0 : MAXDWORD;
    timeouts.ReadTotalTimeoutConstant = waitMs;
    timeouts.WriteTotalTimeoutConstant = writeStallMs;
    return SetCommTimeouts(line, &timeouts) != 0;
}

int run(HANDLE line, const std::string& device, SimEngine& engine) {
    unsigned char buffer[4096];
    DWORD appliedWait = MAXDWORD;
    while (!stopRequested) {
        const DWORD waitMs = DWORD(engine.waitMs(simNowUs(), int(longestWaitMs)));
        if (waitMs != appliedWait) {
            if (!setReadWait(line, waitMs)) {
                std::fprintf(stderr, "velk-sim: %s: %s\n", device.c_str(),
                             systemMessage(GetLastError()).c_str());
                return simExitIoError;
            }
            appliedWait = waitMs;
        }
        DWORD got = 0;
        if (!ReadFile(line, buffer, sizeof buffer, &got, nullptr)) {
            std::fprintf(stderr, "velk-sim: %s: %s\n", device.c_str(),
                         systemMessage(GetLastError()).c_str());
            return simExitIoError;
        }
        if (got > 0) {
            engine.feed(buffer, got, simNowUs());
        }
        engine.expire(simNowUs());
        const bool sent = engine.sendDue(
            simNowUs(), [&](const unsigned char* bytes, std::size_t n, std::size_t& taken) {
                DWORD written = 0;
                if (!WriteFile(line, bytes, static_cast<DWORD>(n), &written, nullptr)) {
                    std::fprintf(stderr, "velk-sim: write to %s failed: %s\n", device.c_str(),
                                 systemMessage(GetLastError()).c_str());
                    return SimEngine::Written::Failed;
                }
                taken = written;
                return written == 0 ? SimEngine::Written::Stalled : SimEngine::Written::Some;
            });
        if (!sent) {
            return simExitIoError;
        }
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    SimOptions options;
    int status = 0;
    if (!simCommandLine(argc, argv, options, status)) {
        return status;
    }
    std::string error;
    if (options.com != 0) {
        std::fprintf(stderr, "velk-sim: --com needs a pseudo-terminal, which Windows does not "
                             "have; serve a port with --device COMn\n");
        return simExitUsage;
    }
    const std::string device = resolvePortName(options.device);
    if (device.empty()) {
        std::fprintf(stderr, "velk-sim: %s is not a port name (COM1 to COM254)\n",
                     options.device.c_str());
        return simExitUsage;
    }
    HANDLE line = openLine(device, options.baud, error);
    if (line == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "velk-sim: %s\n", error.c_str());
        return simExitUnavailable;
    }
    SetConsoleCtrlHandler(&onControl, TRUE);

    printReady(options.device, device);

    SimEngine engine(options);
    const int code = run(line, device, engine);
    CloseHandle(line);
    return code;
}
