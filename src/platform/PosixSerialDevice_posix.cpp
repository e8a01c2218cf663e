#include "PosixSerialDevice.h"

#include "Deadline.h"
#include "SerialLineSetup.h"
#include "SystemSerialDevice.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

namespace {
// Times the wait for an empty transmitter may miss its bound in a row before
// the driver's line status is no longer believed.
constexpr int missesBeforeGivingUp = 3;

std::int64_t monotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return std::int64_t(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// The driver has no such request: a pseudo-terminal has no modem lines, no
// error counters and no line status register, nor have some adapters.
bool unsupported(int error) {
    return error == ENOTTY || error == EINVAL;
}

// The exclusive flag belongs to the tty, not to our descriptor: a pseudo-terminal
// whose other side stays open would refuse every later open without this.
void closeExclusive(int handle) {
    ioctl(handle, TIOCNXCL);
    ::close(handle);
}
} // namespace

std::unique_ptr<ISerialDevice> makeSystemSerialDevice() {
    return std::make_unique<PosixSerialDevice>();
}

PosixSerialDevice::~PosixSerialDevice() {
    close();
}

OpenFailure openFailureOfErrno(int error) {
    switch (error) {
    case ENOENT:
    case ENXIO:
    case ENODEV:
        return OpenFailure::NoSuchDevice;
    case EACCES:
    case EPERM:
        return OpenFailure::PermissionDenied;
    case EBUSY:
    case EWOULDBLOCK: // flock: another program holds the lock
        return OpenFailure::Busy;
    case ENOTTY:
    case EISDIR:
        return OpenFailure::NotATerminal;
    default:
        return OpenFailure::Other;
    }
}

bool PosixSerialDevice::open(const std::string& path) {
    close();
    const int handle = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (handle < 0) {
        lastOpenFailure = openFailureOfErrno(errno);
        return false;
    }
    if (!isatty(handle)) {
        lastOpenFailure = OpenFailure::NotATerminal;
        ::close(handle);
        return false;
    }
    // The lock comes first: until we hold the device we must not touch its
    // lines, someone else may be driving the bus.
    if (flock(handle, LOCK_EX | LOCK_NB) != 0 || ioctl(handle, TIOCEXCL) != 0) {
        lastOpenFailure = openFailureOfErrno(errno);
        ::close(handle);
        return false;
    }
    lastOpenFailure = OpenFailure::Other;
    const int events = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (events < 0) {
        closeExclusive(handle);
        return false;
    }
    serial_rs485 rs485Settings{};
    rs485 = ioctl(handle, TIOCGRS485, &rs485Settings) == 0 &&
            (rs485Settings.flags & SER_RS485_ENABLED) != 0;
    // Opening raises RTS and DTR; both stay low until a transmission. A
    // device without modem lines has no line to switch: not a failure.
    int lines = rs485 ? TIOCM_DTR : TIOCM_RTS | TIOCM_DTR;
    const bool linesCleared = ioctl(handle, TIOCMBIC, &lines) == 0;
    if (!linesCleared && !unsupported(errno)) {
        ::close(events);
        closeExclusive(handle);
        return false;
    }
    lastOpenFailure = OpenFailure::None;
    fd = handle;
    this->path = path;
    wakeFd = events;
    woken = false;
    noModemLines = !linesCleared;
    noErrorCounters = false;
    noLineStatus = false;
    haveParityCount = false;
    parityCount = 0;
    lineFreeNs = 0;
    missedBounds = 0;
    return true;
}

void PosixSerialDevice::close() {
    if (fd >= 0) {
        closeExclusive(fd);
        fd = -1;
    }
    if (wakeFd >= 0) {
        ::close(wakeFd);
        wakeFd = -1;
    }
    woken = false;
}

bool PosixSerialDevice::configure(unsigned baudRate, int parity) {
    if (fd < 0) {
        return false;
    }
    lastOpenFailure = setUpSerialLine(fd, baudRate, parity);
    if (lastOpenFailure.reason != OpenFailure::None) {
        return false;
    }
    // Start bit, 8 data bits, the parity bit if any, stop bit.
    characterNs = (parity != 0 ? 11 : 10) * std::int64_t(1000000000) / baudRate;
    return true;
}

void PosixSerialDevice::setNotice(std::function<void(const std::string&)> newNotice) {
    notice = std::move(newNotice);
}

bool PosixSerialDevice::setRts(bool high) {
    if (fd < 0) {
        return false;
    }
    // What the device said once about its lines holds for as long as it is
    // open; asking again on every switch only costs system calls.
    if (rs485 || noModemLines) {
        return true;
    }
    int lines = TIOCM_RTS;
    if (ioctl(fd, high ? TIOCMBIS : TIOCMBIC, &lines) == 0) {
        return true;
    }
    if (unsupported(errno)) {
        noModemLines = true;
        return true;
    }
    return false;
}

bool PosixSerialDevice::writeByte(unsigned char byte, unsigned timeoutMs, unsigned& written) {
    written = 0;
    if (fd < 0 || woken) {
        return false;
    }
    // The clock is read only when the byte is not taken at once.
    bool timed = false;
    Deadline deadline;
    for (;;) {
        const ssize_t n = ::write(fd, &byte, 1);
        if (n == 1) {
            written = 1;
            // It goes out once the bytes before it have.
            lineFreeNs = std::max<std::int64_t>(lineFreeNs, monotonicNs()) + characterNs;
            return true;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        }
        if (!timed) {
            deadline = Deadline::after(timeoutMs);
            timed = true;
        }
        pollfd fds[2] = {{fd, POLLOUT, 0}, {wakeFd, POLLIN, 0}};
        const timespec left = deadline.remaining();
        const int ready = ppoll(fds, 2, &left, nullptr);
        if (ready < 0 && errno != EINTR) {
            return false;
        }
        if (fds[1].revents != 0) {
            return false;
        }
        if ((fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
            return false;
        }
        if (ready == 0 || deadline.passed()) {
            return true;
        }
    }
}

bool PosixSerialDevice::drain(unsigned timeoutMs) {
    if (fd < 0 || woken) {
        return false;
    }
    // The bytes need their time on the wire, whatever the driver says.
    const std::int64_t wireEndNs = lineFreeNs;
    if (wokenBefore(wireEndNs)) {
        return false;
    }
    // Not tcdrain: on a stalled line it waits for ever, and close() cannot
    // wake it. The output queue is watched instead, within the time-out.
    const std::int64_t queueLimitNs = monotonicNs() + std::int64_t(timeoutMs) * 1000000;
    while (queuedOutput() != 0) {
        if (monotonicNs() >= queueLimitNs || wokenWithin(100000)) {
            return false;
        }
    }
    // An empty queue may leave characters in the UART; where the driver
    // tells, wait for its transmitter to be empty, within two more
    // characters' time.
    const std::int64_t boundNs = wireEndNs + 2 * characterNs;
    while (!noLineStatus) {
        switch (transmitter()) {
        case Transmitter::Empty:
            missedBounds = 0;
            return true;
        case Transmitter::Unknown:
            noLineStatus = true;
            return true;
        case Transmitter::Busy:
            break;
        }
        const std::int64_t leftNs = boundNs - monotonicNs();
        if (leftNs <= 0) {
            missedEmptyTransmitter();
            return true;
        }
        if (wokenWithin(std::min<std::int64_t>(leftNs, 100000))) {
            return false;
        }
    }
    return true;
}

void PosixSerialDevice::missedEmptyTransmitter() {
    if (++missedBounds < missesBeforeGivingUp) {
        return;
    }
    noLineStatus = true;
    const std::string text = path +
                             ": the driver does not report the transmitter empty when the bytes "
                             "have left; RTS now drops after their time on the wire";
    if (notice) {
        notice(text);
    } else {
        std::fprintf(stderr, "%s: %s\n", program_invocation_short_name, text.c_str());
    }
}

unsigned PosixSerialDevice::queuedOutput() const {
    int queued = 0;
    return ioctl(fd, TIOCOUTQ, &queued) == 0 && queued > 0 ? static_cast<unsigned>(queued) : 0;
}

PosixSerialDevice::Transmitter PosixSerialDevice::transmitter() const {
    unsigned int status = 0;
    if (ioctl(fd, TIOCSERGETLSR, &status) != 0) {
        return unsupported(errno) ? Transmitter::Unknown : Transmitter::Empty;
    }
    return (status & TIOCSER_TEMT) != 0 ? Transmitter::Empty : Transmitter::Busy;
}

bool PosixSerialDevice::wokenWithin(std::int64_t ns) const {
    if (woken) {
        return true;
    }
    pollfd wake{wakeFd, POLLIN, 0};
    const timespec span{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
    return ppoll(&wake, 1, &span, nullptr) > 0 || woken;
}

bool PosixSerialDevice::wokenBefore(std::int64_t ns) const {
    for (std::int64_t leftNs = ns - monotonicNs(); leftNs > 0; leftNs = ns - monotonicNs()) {
        if (wokenWithin(leftNs)) {
            return true;
        }
    }
    return false;
}

bool PosixSerialDevice::read(unsigned char* buffer, unsigned count, unsigned timeoutMs,
                             unsigned& got) {
    got = 0;
    if (fd < 0 || woken) {
        return false;
    }
    if (count == 0) {
        return true;
    }
    // Bytes already buffered come at once, without a wait. In raw mode with
    // VMIN = VTIME = 0 an empty queue reads as 0, so only bytes count here;
    // a hang-up is left to the poll below.
    const ssize_t buffered = ::read(fd, buffer, count);
    if (buffered > 0) {
        got = static_cast<unsigned>(buffered);
        return true;
    }
    if (buffered < 0 && errno != EAGAIN && errno != EINTR) {
        return false;
    }
    const Deadline deadline = Deadline::after(timeoutMs);
    for (;;) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
        const timespec left = deadline.remaining();
        const int ready = ppoll(fds, 2, &left, nullptr);
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (fds[1].revents != 0) {
            return false;
        }
        if ((fds[0].revents & POLLIN) != 0) {
            const ssize_t n = ::read(fd, buffer, count);
            if (n > 0) {
                got = static_cast<unsigned>(n);
                return true;
            }
            // Readable but nothing to read: the device has hung up (a USB
            // adapter pulled out). Waiting again would spin.
            if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                return false;
            }
        } else if ((fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
            return false;
        }
        if (ready == 0 || deadline.passed()) {
            return true;
        }
    }
}

bool PosixSerialDevice::purge() {
    if (fd < 0 || tcflush(fd, TCIOFLUSH) != 0) {
        return false;
    }
    // What was not sent will not be.
    lineFreeNs = 0;
    return true;
}

bool PosixSerialDevice::clearErrors(bool* parityError) {
    if (parityError != nullptr) {
        *parityError = false;
    }
    if (fd < 0) {
        return false;
    }
    // The driver keeps running error counters; a parity error is one that
    // has been counted since the last call.
    if (noErrorCounters) {
        return true;
    }
    serial_icounter_struct counters{};
    if (ioctl(fd, TIOCGICOUNT, &counters) != 0) {
        noErrorCounters = unsupported(errno);
        return noErrorCounters;
    }
    if (parityError != nullptr && haveParityCount && counters.parity != parityCount) {
        *parityError = true;
    }
    parityCount = counters.parity;
    haveParityCount = true;
    return true;
}

void PosixSerialDevice::wake() {
    woken = true;
    if (wakeFd >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(wakeFd, &one, sizeof one);
    }
}
