#include "WinSerialDevice.h"

#include "SerialLineSetup.h"
#include "SystemSerialDevice.h"

#include <windows.h>

namespace {
constexpr DWORD queueSize = 4096;
constexpr DWORD purgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;

HANDLE handleOf(void* h) {
    return static_cast<HANDLE>(h);
}

std::wstring widePath(const std::string& path) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, nullptr, 0);
    if (n <= 0) {
        return std::wstring();
    }
    std::wstring result(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, &result[0], n);
    result.resize(static_cast<std::size_t>(n - 1));
    return result;
}

// A line without modem signals (a pseudo-terminal behind Wine's COM port,
// some adapters) has no RTS to switch: the driver answers NOT_SUPPORTED, and
// that is not a failure.
bool escape(HANDLE device, DWORD function) {
    return EscapeCommFunction(device, function) != 0 || GetLastError() == ERROR_NOT_SUPPORTED;
}

void closeHandle(void*& h) {
    if (h != nullptr) {
        CloseHandle(handleOf(h));
        h = nullptr;
    }
}
} // namespace

OpenFailure openFailureOfWinError(unsigned long error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_NETPATH:
    case ERROR_DEV_NOT_EXIST:
        return OpenFailure::NoSuchDevice;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return OpenFailure::Busy;
    default:
        return OpenFailure::Other;
    }
}

std::unique_ptr<ISerialDevice> makeSystemSerialDevice() {
    return std::make_unique<WinSerialDevice>();
}

WinSerialDevice::~WinSerialDevice() {
    close();
}

bool WinSerialDevice::open(const std::string& path) {
    close();
    const std::wstring name = widePath(path);
    HANDLE handle = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        lastOpenFailure = openFailureOfWinError(GetLastError());
        return false;
    }
    // A file or a pipe opens too; only a communications device has a DCB.
    DCB probe{};
    probe.DCBlength = sizeof probe;
    if (!GetCommState(handle, &probe)) {
        // Whatever the driver answers, the handle is no serial device.
        lastOpenFailure = OpenFailure::NotATerminal;
        CloseHandle(handle);
        return false;
    }
    lastOpenFailure = OpenFailure::Other;
    SetupComm(handle, queueSize, queueSize);
    SetCommMask(handle, 0);
    // The write and read records' events start set; the wake event clear.
    HANDLE events[3] = {CreateEventW(nullptr, TRUE, TRUE, nullptr),
                        CreateEventW(nullptr, TRUE, TRUE, nullptr),
                        CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    if (events[0] == nullptr || events[1] == nullptr || events[2] == nullptr ||
        !escape(handle, CLRRTS) || !escape(handle, CLRDTR)) {
        for (HANDLE e : events) {
            if (e != nullptr) {
                CloseHandle(e);
            }
        }
        CloseHandle(handle);
        return false;
    }
    lastOpenFailure = OpenFailure::None;
    device = handle;
    writeEvent = events[0];
    readEvent = events[1];
    wakeEvent = events[2];
    woken = false;
    timeoutsKnown = false;
    return true;
}

void WinSerialDevice::close() {
    closeHandle(device);
    closeHandle(writeEvent);
    closeHandle(readEvent);
    closeHandle(wakeEvent);
    woken = false;
}

bool WinSerialDevice::configure(unsigned baudRate, int parity) {
    if (device == nullptr) {
        return false;
    }
    lastOpenFailure = setUpSerialLine(device, baudRate, parity);
    if (lastOpenFailure.reason != OpenFailure::None) {
        return false;
    }
    if (!applyTimeouts(150, 151)) {
        lastOpenFailure = OpenFailure::Other;
        return false;
    }
    return true;
}

bool WinSerialDevice::applyTimeouts(unsigned readMs, unsigned writeMs) {
    if (timeoutsKnown && readMs == readTimeoutMs && writeMs == writeTimeoutMs) {
        return true;
    }
    // A read returns at once with what is buffered, waits up to readMs for a
    // first byte otherwise; a one-byte write may take 1 ms + the constant.
    // MAXDWORD would mean "return at once" for the read, 0 no limit for the
    // write: both are kept out of range.
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = readMs == 0 ? 0 : MAXDWORD;
    timeouts.ReadTotalTimeoutConstant = readMs < MAXDWORD ? readMs : MAXDWORD - 1;
    timeouts.WriteTotalTimeoutMultiplier = 1;
    timeouts.WriteTotalTimeoutConstant = writeMs > 0 ? writeMs - 1 : 0;
    if (!SetCommTimeouts(handleOf(device), &timeouts)) {
        timeoutsKnown = false;
        return false;
    }
    readTimeoutMs = readMs;
    writeTimeoutMs = writeMs;
    timeoutsKnown = true;
    return true;
}

bool WinSerialDevice::setRts(bool high) {
    return device != nullptr && escape(handleOf(device), high ? SETRTS : CLRRTS);
}

// One overlapped transfer, waited for with GetOverlappedResult. The wait is
// bounded here as well as by the driver's time-outs (Wine's serial driver does
// not end a read on its total time-out); a wake or the bound cancels the
// request, and whatever it moved before still counts.
bool WinSerialDevice::transfer(bool writing, void* buffer, unsigned count, unsigned limitMs,
                               unsigned& moved) {
    moved = 0;
    OVERLAPPED record{};
    record.hEvent = handleOf(writing ? writeEvent : readEvent);
    ResetEvent(record.hEvent);
    HANDLE h = handleOf(device);
    const BOOL done = writing ? WriteFile(h, buffer, count, nullptr, &record)
                              : ReadFile(h, buffer, count, nullptr, &record);
    if (!done && GetLastError() != ERROR_IO_PENDING) {
        return false;
    }
    bool wokenUp = false;
    if (!done) {
        const HANDLE waits[2] = {record.hEvent, handleOf(wakeEvent)};
        const DWORD limit = limitMs < INFINITE ? limitMs : INFINITE - 1;
        const DWORD result = WaitForMultipleObjects(2, waits, FALSE, limit);
        if (result != WAIT_OBJECT_0) {
            wokenUp = result == WAIT_OBJECT_0 + 1;
            CancelIoEx(h, &record);
        }
    }
    DWORD n = 0;
    const BOOL ok = GetOverlappedResult(h, &record, &n, TRUE);
    moved = n;
    if (wokenUp || woken) {
        return false;
    }
    return ok != 0 || GetLastError() == ERROR_OPERATION_ABORTED;
}

bool WinSerialDevice::writeByte(unsigned char byte, unsigned timeoutMs, unsigned& written) {
    written = 0;
    if (device == nullptr || woken || !applyTimeouts(readTimeoutMs, timeoutMs)) {
        return false;
    }
    // A write time-out completes the request with 0 bytes: true, written 0.
    return transfer(true, &byte, 1, timeoutMs, written);
}

bool WinSerialDevice::drain(unsigned) {
    // Every byte was confirmed by its own write request, and the driver hands
    // a completed byte to the UART: what is left is below the 2 ms that the
    // port waits before RTS drops.
    return device != nullptr && !woken;
}

bool WinSerialDevice::read(unsigned char* buffer, unsigned count, unsigned timeoutMs,
                           unsigned& got) {
    got = 0;
    if (device == nullptr || woken || !applyTimeouts(timeoutMs, writeTimeoutMs)) {
        return false;
    }
    if (count == 0) {
        return true;
    }
    return transfer(false, buffer, count, timeoutMs, got);
}

bool WinSerialDevice::purge() {
    return device != nullptr && PurgeComm(handleOf(device), purgeAll) != 0;
}

bool WinSerialDevice::clearErrors(bool* parityError) {
    if (parityError != nullptr) {
        *parityError = false;
    }
    DWORD errors = 0;
    if (device == nullptr || !ClearCommError(handleOf(device), &errors, nullptr)) {
        return false;
    }
    if (parityError != nullptr) {
        *parityError = (errors & CE_RXPARITY) != 0;
    }
    return true;
}

void WinSerialDevice::wake() {
    woken = true;
    if (wakeEvent != nullptr) {
        SetEvent(handleOf(wakeEvent));
    }
}
