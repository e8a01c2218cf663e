#ifndef VELK_SERIALPORT_H
#define VELK_SERIALPORT_H

#include "DataBlock.h"
#include "ISerialDevice.h"
#include "ISession.h"
#include "ManualResetEvent.h"
#include "NamedMutex.h"
#include "OpenFailure.h"
#include "SimpleThread.h"
#include "TimerResolutionGuard.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

// Time-outs in milliseconds, as the port applies them: a read waits up to
// readTotalTimeoutConstant for its first byte; a one-byte write may take
// writeTotalTimeoutConstant + writeTotalTimeoutMultiplier.
struct SerialTimeouts {
    unsigned readTotalTimeoutConstant = 150;
    unsigned writeTotalTimeoutMultiplier = 1;
    unsigned writeTotalTimeoutConstant = 150;
};

// One serial device, 8 data bits, no parity, 1 stop bit, no flow control, and
// one operation at a time: a transmission of a byte block or a reception into
// one, each carried out by a worker thread and reported to the client
// (ISession). RTS is high only while a transmission runs.
class SerialPort {
public:
    // The platform's serial device.
    SerialPort();
    // Any device, a fake one for instance.
    explicit SerialPort(std::unique_ptr<ISerialDevice> device);
    virtual ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // portName: COMn (see PortNames) or an absolute device path. False also
    // when the worker threads cannot be created: the device is closed again.
    bool open(const std::string& portName, unsigned baudRate);
    // Safe from any thread, also while an operation runs: every wait of the
    // workers returns at once, a running reception calls rxComplete() with
    // error 2 (once), and a running transmission stops at its next byte and
    // calls txComplete() with error 1.
    void close();

    bool startTransmit(DataBlock<unsigned char>* data, ISession* client);
    // A reception that the transmit thread starts itself once a transmission
    // has ended well, right after txComplete(), and carries out itself: the
    // client is spared a wake-up between the two, and the receive thread is
    // not woken at all.
    struct FollowingReception {
        DataBlock<unsigned char>* destination = nullptr;
        unsigned bytesPerRead = 1;
        unsigned extraTimeoutMs = 0;
    };
    // As startTransmit, followed by that reception as startReceive would
    // start it. When it cannot start (the transmission failed, the port
    // closed, the start refused) rxComplete() comes all the same, after
    // txComplete(), with the error code of the transmission, or 2.
    bool startTransmit(DataBlock<unsigned char>* data, ISession* client,
                       const FollowingReception& then);
    bool startReceive(DataBlock<unsigned char>* destination, unsigned bytesPerRead,
                      unsigned extraTimeoutMs, ISession* client);

    bool isOpen() const { return opened; }
    // The device failed (hang-up, I/O error: not a time-out) since it was
    // opened; the line is dead until it is opened again.
    bool deviceFailed() const { return failed; }
    // Why the last open() failed, with its figures; None after one that worked.
    OpenFailureDetail openFailureDetail() const;
    OpenFailure openFailure() const { return openFailureDetail().reason; }
    bool isBusy() const { return busy; }
    int error() const { return errorCode; }
    unsigned bitsPerCharacter() const;
    bool parityError();
    bool setParity(int parity);
    // The time-outs last computed (a refused start keeps its read time-out).
    SerialTimeouts timeouts() const;

    int transmitWorker();
    int receiveWorker();

private:
    struct LineSettings {
        unsigned baudRate = 0;
        int parity = 0;
    };

    bool startTransmit(DataBlock<unsigned char>* data, ISession* client,
                       const FollowingReception* then);
    // The read time-out of a reception of bytesPerRead bytes per read.
    void computeReadTimeout(unsigned bytesPerRead, unsigned extraTimeoutMs);
    enum class ReceiveOn { ReceiveThread, ThisThread };
    // The part of startReceive under txRxMutex.
    bool beginReceive(DataBlock<unsigned char>* destination, unsigned bytesPerRead,
                      ISession* newClient, ReceiveOn where);
    enum class ReadOutcome { More, Ended, Closed };
    // One read of a running reception and what the client makes of it;
    // finishReceive() once the reception has ended.
    ReadOutcome receiveOnce();
    void startFollowingReception();
    void closeLocked();
    void noteFailure(bool deviceOk);
    void finishTransmit();
    void finishReceive();
    // Resets a worker's event unless close() has begun, so that the wake-up
    // that close() sends is never lost.
    void resetUnlessClosing(ManualResetEvent& event);
    void releaseHandles();
    void noteOpenFailure(const OpenFailureDetail& why);

    SimpleThread<SerialPort> txThread;
    SimpleThread<SerialPort> rxThread;
    std::atomic<ISession*> client{nullptr};
    std::unique_ptr<ISerialDevice> device;
    std::unique_ptr<NamedMutex> txRxMutex;
    std::unique_ptr<ManualResetEvent> txEvent;
    std::unique_ptr<ManualResetEvent> rxEvent;
    DataBlock<unsigned char>* txData = nullptr;
    DataBlock<unsigned char>* rxData = nullptr;
    // Handed to the transmit thread with txEvent, like txData.
    FollowingReception following;
    bool receiveFollows = false;
    DataBlock<unsigned char> rxChunk;
    std::atomic<bool> busy{false};
    std::atomic<bool> opened{false};
    std::atomic<bool> failed{false};
    // close() cut a reception short and it has been reported; the receive
    // thread, woken by close() too, must not report it again.
    std::atomic<bool> cutReported{false};
    mutable std::mutex openFailureMutex;
    OpenFailureDetail lastOpenFailure;
    std::atomic<int> errorCode{0};
    std::atomic<int> parity{0};
    std::mutex settingsMutex;
    LineSettings dcb;
    std::atomic<unsigned> readTimeoutMs{150};
    // The read time-out in force for the reception that runs.
    unsigned appliedReadTimeoutMs = 150;
    std::mutex closingMutex;
    // Held by open, close and the two starts: close() may come from another
    // thread than the client's and must not free what a start uses.
    std::mutex lifecycleMutex;
    TimerResolutionGuard timerResolution;
};

#endif
