#ifndef VELK_POSIXSERIALDEVICE_H
#define VELK_POSIXSERIALDEVICE_H

#include "ISerialDevice.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

// A tty device through termios and ioctl. Exclusive by TIOCEXCL and an
// advisory flock (TIOCEXCL does not stop root). RTS is left to the driver
// when it runs the kernel's RS-485 mode.
//
// The drain counts every byte's time on the wire at the line's rate and
// frame from the moment it was written, and waits that long first. Then,
// where the driver has a line status, it waits for the transmitter to be
// empty, but no longer than two more character times: a driver that misses
// that bound three times in a row is not asked again (ftdi_sio answers but
// never reports it empty), which is said once through the notice.
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

    // Where a fact about the driver goes, once per open; standard error,
    // after the program's name, unless set.
    void setNotice(std::function<void(const std::string&)> notice);

protected:
    // Characters in the driver's output queue (TIOCOUTQ).
    virtual unsigned queuedOutput() const;
    // Whether the UART's transmitter (FIFO and shift register) is empty, as
    // the driver's line status (TIOCSERGETLSR) says; Unknown without one.
    enum class Transmitter { Empty, Busy, Unknown };
    virtual Transmitter transmitter() const;

private:
    // Waits up to ns nanoseconds; true when woken meanwhile.
    bool wokenWithin(std::int64_t ns) const;
    // Waits until the monotonic time ns; true when woken meanwhile.
    bool wokenBefore(std::int64_t ns) const;
    void missedEmptyTransmitter();

    int fd = -1;
    std::string path;
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
    // A character's time on the wire, and when the line will have sent every
    // byte written so far (monotonic ns).
    std::atomic<std::int64_t> characterNs{0};
    std::atomic<std::int64_t> lineFreeNs{0};
    int missedBounds = 0;
    std::function<void(const std::string&)> notice;
};

// What a failed open(), flock() or ioctl() errno means for the user.
OpenFailure openFailureOfErrno(int error);

#endif
