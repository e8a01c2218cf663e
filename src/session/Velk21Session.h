#ifndef VELK_VELK21SESSION_H
#define VELK_VELK21SESSION_H

#include "DataBlock.h"
#include "ISerialDevice.h"
#include "ISession.h"
#include "ManualResetEvent.h"
#include "NamedMutex.h"
#include "SerialPort.h"
#include "Velk21AddressBlockKernel.h"
#include "Velk21AddressBlockPacketPackager.h"
#include "Velk21DataBlockKernel.h"
#include "Velk21DataBlockPacketPackager.h"
#include "Velk21ExtendedBlockPacketPackager.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>

// The bus master: runs one request/answer exchange at a time over its own
// serial port. exchange() reports one of these codes:
//   0 success, 1 address block not framed, 2 data block not framed,
//   3 extended block not framed, 4 transmission failed, 5 answer data block
//   not received, 6 answer data block did not decode, 7 an extended block of
//   the answer not received, 8 an extended block did not decode.
class Velk21Session : public ISession {
public:
    Velk21Session(const std::string& portName, unsigned baudRate);
    // Same, over the given device (a fake in tests).
    Velk21Session(const std::string& portName, unsigned baudRate,
                  std::unique_ptr<ISerialDevice> device);
    ~Velk21Session() override;
    Velk21Session(const Velk21Session&) = delete;
    Velk21Session& operator=(const Velk21Session&) = delete;

    // Called by the port's worker threads.
    void txComplete() override;
    void rxComplete() override;
    bool rxProcess(unsigned bytesRead) override;

    // data and extendedData hold the request on entry and the answer on
    // success. receivedDataPacket, when given, gets the answer's data block
    // exactly as it came off the line whenever a whole one arrived (codes 0,
    // 6, 7, 8) and is cleared otherwise; strayBytes, when given, what came
    // before it and a header byte made the reception start again from (noise,
    // a broken block), at most 4096 bytes. Returns true exactly for code 0.
    bool exchange(const Velk21AddressBlockKernel& address, Velk21DataBlockKernel& data,
                  DataBlock<unsigned char>& extendedData, unsigned maxRestarts,
                  unsigned byteTimeoutMs, int* errorOut,
                  DataBlock<unsigned char>* receivedDataPacket = nullptr,
                  DataBlock<unsigned char>* strayBytes = nullptr);

    const std::string& portName() const { return portName_; }
    unsigned baudRate() const { return baudRate_; }
    bool isOpen();
    // Why the port did not open (see SerialPort::openFailureDetail).
    OpenFailure openFailure() const { return port.openFailure(); }
    OpenFailureDetail openFailureDetail() const { return port.openFailureDetail(); }

    // The port's life under exchanges. A hang-up or I/O error of the device
    // closes the port; the next exchange opens it again by the same name (a
    // replugged adapter, a restarted simulator; never a pseudo-terminal
    // named by its path, whose number goes to others), at most once per
    // reopenIntervalMs while it keeps failing, the wait counted in the
    // exchange. While the port stays closed an exchange ends with code 4.

    // Ends the exchange that runs now, from any thread: closes the port, so
    // every wait of the exchange returns and it ends with an error code (4, 5
    // or 7). The next exchange opens the port again.
    void abortExchange();
    // As abortExchange, for good: no later exchange opens the port again,
    // each ends with code 4 at once. For an owner about to delete the session.
    void close();
    // Opens the port again now if it is closed (after abortExchange, say),
    // unless closed for good. True when it is open afterwards.
    bool reopen();
    // Counts for reports: successful opens (the constructor's included) and
    // losses of the device.
    unsigned long openings() const { return openCount; }
    unsigned long losses() const { return lossCount; }
    // Whether a lost port is looked for again (not for a pseudo-terminal's path).
    bool mayReopen() const;

    static constexpr unsigned reopenIntervalMs = 250;

private:
    // Opens a closed port unless closed for good, keeping to reopenIntervalMs
    // after a failed attempt.
    void openPort();
    void reopenIfClosed();
    void closePort(bool forGood);
    // The request in transferBlock goes out, and the answer's first block
    // comes back into it: 0, or the exchange's code 4 or 5.
    int transmitAndReceive(unsigned byteTimeoutMs);
    bool receive(DataBlock<unsigned char>& block, unsigned byteTimeoutMs);
    void prepareReception(DataBlock<unsigned char>& block);
    int runExchange(const Velk21AddressBlockKernel& address, Velk21DataBlockKernel& data,
                    DataBlock<unsigned char>& extendedData, unsigned byteTimeoutMs,
                    DataBlock<unsigned char>* receivedDataPacket,
                    DataBlock<unsigned char>* strayBytes);

    std::string portName_;
    unsigned baudRate_;
    SerialPort port;
    DataBlock<unsigned char> transferBlock; // the request, then each received block
    DataBlock<unsigned char> rxDiscarded;   // what restarts of the reception dropped
    unsigned rxIndex;
    unsigned rxExpected;
    unsigned rxRestarts;
    unsigned rxMaxRestarts;
    Velk21AddressBlockPacketPackager addressPackager;
    Velk21DataBlockPacketPackager dataPackager;
    Velk21ExtendedBlockPacketPackager extendedPackager;
    NamedMutex mutex; // held for a whole exchange
    ManualResetEvent txCompleteEvent;
    ManualResetEvent rxCompleteEvent;
    // The reception follows the transmission at once (transmitAndReceive);
    // txComplete prepares it. Handed over by the port's start and callbacks.
    std::atomic<bool> receiveFollows{false};
    std::atomic<bool> transmitted{false};

    // Guards opening and closing the port against each other: the owner's
    // close must not race a reopen in the exchange.
    std::mutex portMutex;
    bool closedForGood = false;
    std::chrono::steady_clock::time_point nextAttempt{};
    ManualResetEvent abortEvent; // ends the wait before a reopen attempt
    std::atomic<unsigned long> openCount{0};
    std::atomic<unsigned long> lossCount{0};
};

#endif
