#ifndef VELK_SERIALLINESETUP_H
#define VELK_SERIALLINESETUP_H

#include "OpenFailure.h"

// The line of the bus, set up in one place per platform for the port, the
// simulator and the benchmarks alike: raw 8 data bits, the parity (0 none,
// 1 odd, 2 even, 3 mark, 4 space), 1 stop bit, no flow control, DTR and RTS
// left to the caller (POSIX: reads return at once, VMIN = VTIME = 0), and
// the baud rate, any rate the driver takes (POSIX: termios2 and BOTHER
// where no B constant names it).

#ifdef _WIN32
using SerialLineHandle = void*; // the HANDLE of a COM device
#else
using SerialLineHandle = int; // the file descriptor of a tty
#endif

// None when the line runs as asked; BaudRate when the driver refused the
// rate; NotATerminal when the handle has no line settings (a file, a pipe);
// Other when they could not be read or written, or the baud rate is 0 or
// the parity code unknown.
OpenFailureDetail setUpSerialLine(SerialLineHandle line, unsigned baudRate, int parity);

#endif
