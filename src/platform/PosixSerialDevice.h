#ifndef VELK_POSIXSERIALDEVICE_H
#define VELK_POSIXSERIALDEVICE_H

#include "ISerialDevice.h"

#include <atomic>

// A tty device through termios and ioctl. Exclusive by TIOCEXCL and an
// advisory flock (TIOCEXCL does not stop root). RTS is left to the driver
// when it runs the kernel's RS-485 mode.
class PosixSerialDevice : public ISerialDevice {
public:
    PosixSerialDevice() = default;
    ~PosixSerialDevice() override;
    PosixSerialDevice(const PosixSerialDevice&) = delete;
    PosixSerialDevice& operator=(const PosixSerialDevice&) = delete;

    bool open(const std::string& path) override;
    OpenFailureDetail openFailureDetail() const override { return lastOpenFailure; }
    void close() override;
    bool isOpen() const override { return fd >= 0; }
    bool configure(unsigned baudRate, int parity) override;
    bool setRts(bool high) override;
    bool writeByte(unsigned char byte, unsigned timeoutMs, unsigned& written) override;
    bool drain(unsigned timeoutMs) override;
    bool read(unsigned char* buffer, unsigned count, unsigned timeoutMs, unsigned& got) override;
    bool purge() override;
    bool clearErrors(bool* parityError) override;
    void wake() override;

protected:
    // Characters in the driver's output queue (TIOCOUTQ).
    virtual unsigned queuedOutput() const;
    // Whether the UART's transmitter (FIFO and shift register) is empty, as
    // the driver's line status (TIOCSERGETLSR) says; Unknown without one.
    enum class Transmitter { Empty, Busy, Unknown };
    virtual Transmitter transmitter() const;

private:
    // Waits up to us microseconds; true when woken meanwhile.
    bool wokenWithin(long us) const;

    int fd = -1;
    int wakeFd = -1;
    std::atomic<bool> woken{false};
    bool rs485 = false;
    OpenFailureDetail lastOpenFailure;
    // Requests the driver answered with "not supported" while open; set by
    // whichever thread asks first.
    std::atomic<bool> noModemLines{false};
    std::atomic<bool> noErrorCounters{false};
    mutable std::atomic<bool> noLineStatus{false};
    bool haveParityCount = false;
    int parityCount = 0;
};

// What a failed open(), flock() or ioctl() errno means for the user.
OpenFailure openFailureOfErrno(int error);

#endif
