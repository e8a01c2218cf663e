#ifndef VELK_FAKESERIALDEVICE_H
#define VELK_FAKESERIALDEVICE_H

#include "ISerialDevice.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

// Scriptable serial device for tests and fuzz targets; no hardware, no tty.
//
// Hand it to the serial port and keep a plain pointer for scripting: it
// stays valid as long as its owner lives. Every member is thread-safe.
//
// Incoming bytes (what the device "receives"):
//   queueIncoming(bytes, delayMs)  the bytes arrive delayMs after this call,
//                                  or after the chunk queued before them
//                                  has arrived, whichever is later;
//   queueReply(bytes, delayMs)     the bytes arrive delayMs after the end of
//                                  the next transmission (the next drain),
//                                  so they survive the purge that starts it.
//   A purge discards the bytes that have arrived, not those still to come.
// Faults:
//   setFailing(op, true)           makes that operation fail from now on;
//   failWritesAfter(n)             n more bytes are written, then writes fail;
//   stallWritesAfter(n)            n more bytes, then writes take 0 bytes;
//   hangUp()                       the device is gone: reads and writes fail
//                                  at once (also those blocked now);
//   markParityError()              the next clearErrors reports a parity error;
//   limitBaudRate(highest, kept)   configure fails for a faster rate, as a
//                                  driver that keeps kept (0: says nothing)
//                                  instead; openFailureDetail() tells.
// Records (each with a steady_clock time stamp): actions() in order;
// written() the bytes taken; readCalls() the number of read() calls;
// rts() the current RTS level; openedPath(), baudRate(), parity().
class FakeSerialDevice : public ISerialDevice {
public:
    using Clock = std::chrono::steady_clock;

    enum class Operation { Open, Configure, SetRts, Write, Drain, Read, Purge, ClearErrors };

    struct Action {
        enum Kind { Opened, Closed, Configured, RtsHigh, RtsLow, Wrote, Drained, Purged, Woken };
        Kind kind;
        unsigned value; // Wrote: the byte; Configured: the baud rate
        Clock::time_point time;
    };

    FakeSerialDevice() = default;

    // Scripting.
    void queueIncoming(const std::vector<unsigned char>& bytes, unsigned delayMs = 0);
    void queueReply(const std::vector<unsigned char>& bytes, unsigned delayMs = 0);
    void setFailing(Operation operation, bool failing);
    void failWritesAfter(unsigned bytes);
    void stallWritesAfter(unsigned bytes);
    void hangUp();
    void markParityError();
    void limitBaudRate(unsigned highest, unsigned kept);

    // Records.
    std::vector<Action> actions() const;
    std::vector<unsigned char> written() const;
    unsigned readCalls() const;
    bool rts() const;
    std::string openedPath() const;
    unsigned baudRate() const;
    int parity() const;

    // ISerialDevice.
    bool open(const std::string& path) override;
    void close() override;
    bool isOpen() const override;
    OpenFailureDetail openFailureDetail() const override;
    bool configure(unsigned baudRate, int parity) override;
    bool setRts(bool high) override;
    bool writeByte(unsigned char byte, unsigned timeoutMs, unsigned& written) override;
    bool drain(unsigned timeoutMs) override;
    bool read(unsigned char* buffer, unsigned count, unsigned timeoutMs, unsigned& got) override;
    bool purge() override;
    bool clearErrors(bool* parityError) override;
    void wake() override;

private:
    struct Chunk {
        std::vector<unsigned char> bytes;
        unsigned delayMs;
        bool afterDrain;
        unsigned drainsAtQueue;
        Clock::time_point queuedAt;
    };

    void record(Action::Kind kind, unsigned value = 0);
    bool failing(Operation operation) const;
    // Moves the chunks whose time has come into the input; returns when the
    // next one is due (Clock::time_point::max() when unknown).
    Clock::time_point deliver(Clock::time_point now);

    mutable std::mutex mutex;
    std::condition_variable changed;
    std::vector<Action> log;
    std::vector<unsigned char> output;
    std::deque<unsigned char> input;
    std::deque<Chunk> pending;
    std::vector<Clock::time_point> drainTimes;
    Clock::time_point lastArrival{};
    std::vector<Operation> failingOperations;
    std::string path;
    unsigned baud = 0;
    unsigned highestBaud = 0;
    unsigned keptBaud = 0;
    OpenFailureDetail lastFailure;
    int parityCode = 0;
    unsigned reads = 0;
    long writesUntilFailure = -1;
    long writesUntilStall = -1;
    bool opened = false;
    bool rtsHigh = false;
    bool hungUp = false;
    bool woken = false;
    bool parityErrorPending = false;
};

#endif
