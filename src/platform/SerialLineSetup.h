#ifndef VELK_SERIALLINESETUP_H
#define VELK_SERIALLINESETUP_H

#include "OpenFailure.h"

// The line of the bus, set up in one place per platform for the port, the
// simulator and the benchmarks alike: raw 8 data bits, the parity (0 none,
// 1 odd, 2 even, 3 mark, 4 space), 1 stop bit, no flow control, DTR and RTS
// left to the caller (POSIX: reads return at once, VMIN = VTIME = 0), and
// the baud rate, any rate the driver takes (POSIX: termios2 and BOTHER
// where no B constant names it). The rate is read back afterwards: a driver
// may take the settings and keep another rate without a word (Linux: the
// 8250 keeps the old rate for one above its clock's, tcsetattr returns 0),
// and a line at the wrong rate only garbles every byte.

#ifdef _WIN32
using SerialLineHandle = void*; // the HANDLE of a COM device
#else
using SerialLineHandle = int; // the file descriptor of a tty
#endif

// None when the line runs as asked; BaudRate when the driver refused the
// rate or the rate read back is more than 3 % off (with the rate it kept);
// NotATerminal when the handle has no line settings (a file, a pipe);
// Other when they could not be read or written, or the baud rate is 0 or
// the parity code unknown.
OpenFailureDetail setUpSerialLine(SerialLineHandle line, unsigned baudRate, int parity);

// Whether a rate that a driver set is close enough to the one asked for:
// within 3 %, what the far end's receiver still reads.
bool baudRateHolds(unsigned asked, unsigned set);

#endif
