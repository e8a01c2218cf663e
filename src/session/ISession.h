#ifndef VELK_ISESSION_H
#define VELK_ISESSION_H

// Client of the serial port. The port calls it from its worker threads, so
// an implementation must be safe to call from them. The outcome of an
// operation is the port's error code, not the callback.
class ISession {
public:
    virtual ~ISession() = default;
    // The transmission that the client started has ended, well or not.
    virtual void txComplete() = 0;
    // The reception that the client started has ended, well or not.
    virtual void rxComplete() = 0;
    // After each complete read, once its bytes are in the client's block:
    // true to keep receiving, false to end the reception.
    virtual bool rxProcess(unsigned bytesRead) = 0;
};

#endif
