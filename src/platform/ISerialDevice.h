#ifndef VELK_ISERIALDEVICE_H
#define VELK_ISERIALDEVICE_H

#include "OpenFailure.h"

#include <string>

// Access to one serial device, as the serial port's logic needs it. The port
// calls open/configure/close from its owner's thread, the writes and the
// drain from its transmit thread, the reads from its receive thread, and
// wake from close() while a worker may be blocked in a wait.
class ISerialDevice {
public:
    virtual ~ISerialDevice() = default;

    // Opens the device at path for exclusive use and drops RTS and DTR.
    // False when it is missing, not a serial device, or held by someone else.
    virtual bool open(const std::string& path) = 0;
    // Why the last open or configure failed, with its figures; None after
    // ones that worked.
    virtual OpenFailureDetail openFailureDetail() const {
        return isOpen() ? OpenFailure::None : OpenFailure::Other;
    }
    OpenFailure openFailure() const { return openFailureDetail().reason; }
    // Releases the device; nothing when it is not open.
    virtual void close() = 0;
    virtual bool isOpen() const = 0;

    // Raw line: 8 data bits, parity, 1 stop bit, no flow control (see
    // SerialLineSetup). parity takes the classic codes 0 none, 1 odd, 2 even,
    // 3 mark, 4 space. A baud rate of 0 or an unknown parity code fails; so
    // does a rate the driver cannot run at (openFailureDetail() says which).
    virtual bool configure(unsigned baudRate, int parity) = 0;

    // Raises (true) or drops (false) RTS at once. A device without modem
    // lines counts as success.
    virtual bool setRts(bool high) = 0;

    // Writes one byte within timeoutMs. Returns false when the write fails
    // (device error, hang-up, wake). Returns true with written = 1 when the
    // byte was taken, with written = 0 when it could not be taken in time.
    virtual bool writeByte(unsigned char byte, unsigned timeoutMs, unsigned& written) = 0;
    // Waits until everything written has left the line: at least the bytes'
    // time on the wire, then for the last stop bit where the driver tells
    // (bounded by that time and a little more). False when the output does
    // not drain within timeoutMs beyond that time (a stalled line) or on a
    // wake.
    virtual bool drain(unsigned timeoutMs) = 0;

    // One read of at most count bytes: bytes already received come at once;
    // otherwise it waits up to timeoutMs for the first and returns with what
    // has come. got = 0 with true is a time-out. False when the read fails:
    // hang-up, the device gone, a wake.
    virtual bool read(unsigned char* buffer, unsigned count, unsigned timeoutMs, unsigned& got) = 0;

    // Discards pending input and output.
    virtual bool purge() = 0;
    // Clears the line's error state; when parityError is given, tells whether
    // a parity error was among the errors cleared.
    virtual bool clearErrors(bool* parityError) = 0;

    // Makes a blocked read, write or drain return false at once, and every
    // later one until the device is closed. Safe from any thread.
    virtual void wake() = 0;
};

#endif
