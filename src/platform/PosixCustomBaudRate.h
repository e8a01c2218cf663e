#ifndef VELK_POSIXCUSTOMBAUDRATE_H
#define VELK_POSIXCUSTOMBAUDRATE_H

// Sets any baud rate on an open tty through termios2/BOTHER. Kept apart
// because the kernel's termios2 header clashes with <termios.h>.
bool applyCustomBaudRate(int fd, unsigned baudRate);

#endif
