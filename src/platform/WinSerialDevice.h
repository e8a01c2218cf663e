#ifndef VELK_WINSERIALDEVICE_H
#define VELK_WINSERIALDEVICE_H

#include "ISerialDevice.h"

#include <atomic>

// A COM device through the Win32 communications API: opened exclusively for
// overlapped I/O, one write or read at a time, each waited for with
// GetOverlappedResult. A wake event ends a wait at once and cancels the I/O.
class WinSerialDevice : public ISerialDevice {
public:
    WinSerialDevice() = default;
    ~WinSerialDevice() override;
    WinSerialDevice(const WinSerialDevice&) = delete;
    WinSerialDevice& operator=(const WinSerialDevice&) = delete;

    bool open(const std::string& path) override;
    void close() override;
    bool isOpen() const override { return device != nullptr; }
    OpenFailureDetail openFailureDetail() const override { return lastOpenFailure; }
    bool configure(unsigned baudRate, int parity) override;
    bool setRts(bool high) override;
    bool writeByte(unsigned char byte, unsigned timeoutMs, unsigned& written) override;
    bool drain(unsigned timeoutMs) override;
    bool read(unsigned char* buffer, unsigned count, unsigned timeoutMs, unsigned& got) override;
    bool purge() override;
    bool clearErrors(bool* parityError) override;
    void wake() override;

private:
    // Handles as void*, so that users of this header need no <windows.h>.
    bool applyTimeouts(unsigned readMs, unsigned writeMs);
    bool transfer(bool writing, void* buffer, unsigned count, unsigned limitMs, unsigned& moved);

    void* device = nullptr;
    void* writeEvent = nullptr;
    void* readEvent = nullptr;
    void* wakeEvent = nullptr;
    std::atomic<bool> woken{false};
    // The time-outs last applied; each read or write sets only what changed.
    unsigned readTimeoutMs = 0;
    unsigned writeTimeoutMs = 0;
    bool timeoutsKnown = false;
    OpenFailureDetail lastOpenFailure;
};

// The reason for a GetLastError() code of CreateFile. A COM
// port that another program has open answers access denied: that is busy.
OpenFailure openFailureOfWinError(unsigned long error);

#endif
