#include "SerialLineSetup.h"

// The kernel's own termios2, not <termios.h>: only it carries a free baud
// rate, and the two clash in one file.
#include <asm/termbits.h>
#include <cerrno>
#include <sys/ioctl.h>

namespace {
// The rates that have a B constant; a tty that knows nothing of free rates
// (a pseudo-terminal) then reports the constant, as cfsetospeed would set it.
tcflag_t speedCode(unsigned baudRate) {
    static const struct {
        unsigned rate;
        tcflag_t code;
    } codes[] = {{50, B50},           {75, B75},           {110, B110},         {134, B134},
                 {150, B150},         {200, B200},         {300, B300},         {600, B600},
                 {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
                 {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
                 {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
                 {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
                 {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
                 {3500000, B3500000}, {4000000, B4000000}};
    for (const auto& entry : codes) {
        if (entry.rate == baudRate) {
            return entry.code;
        }
    }
    return BOTHER;
}
} // namespace

OpenFailureDetail setUpSerialLine(int line, unsigned baudRate, int parity) {
    if (baudRate == 0 || parity < 0 || parity > 4) {
        return OpenFailure::Other;
    }
    termios2 settings{};
    if (ioctl(line, TCGETS2, &settings) != 0) {
        return errno == ENOTTY ? OpenFailure::NotATerminal : OpenFailure::Other;
    }
    // Raw, as cfmakeraw() makes it, and no flow control of either kind.
    settings.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR |
                                               ICRNL | IXON | IXOFF | IXANY | INPCK);
    settings.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    settings.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    settings.c_cflag &= ~static_cast<tcflag_t>(CSIZE | CSTOPB | CRTSCTS | PARENB | PARODD | CMSPAR |
                                               CBAUD | (CBAUD << IBSHIFT));
    settings.c_cflag |= CS8 | CLOCAL | CREAD;
    static const tcflag_t parityFlags[] = {0, PARENB | PARODD, PARENB, PARENB | PARODD | CMSPAR,
                                           PARENB | CMSPAR};
    settings.c_cflag |= parityFlags[parity];
    if (parity != 0) {
        settings.c_iflag |= INPCK;
    }
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    // The input rate follows the output rate (no input code of its own).
    settings.c_cflag |= speedCode(baudRate);
    settings.c_ispeed = baudRate;
    settings.c_ospeed = baudRate;
    if (ioctl(line, TCSETS2, &settings) != 0) {
        return OpenFailure::Other;
    }
    termios2 applied{};
    if (ioctl(line, TCGETS2, &applied) != 0) {
        return OpenFailure::Other;
    }
    if (!baudRateHolds(baudRate, applied.c_ospeed)) {
        return OpenFailureDetail(OpenFailure::BaudRate, baudRate, applied.c_ospeed);
    }
    return OpenFailure::None;
}
