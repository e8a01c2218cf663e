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

#include <memory>
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
    // 6, 7, 8) and is cleared otherwise. Returns true exactly for code 0.
    bool exchange(const Velk21AddressBlockKernel& address, Velk21DataBlockKernel& data,
                  DataBlock<unsigned char>& extendedData, unsigned maxRestarts,
                  unsigned byteTimeoutMs, int* errorOut,
                  DataBlock<unsigned char>* receivedDataPacket = nullptr);

    const std::string& portName() const { return portName_; }
    unsigned baudRate() const { return baudRate_; }
    bool isOpen();

private:
    bool transmit(DataBlock<unsigned char>& block);
    bool receive(DataBlock<unsigned char>& block, unsigned byteTimeoutMs);
    int runExchange(const Velk21AddressBlockKernel& address, Velk21DataBlockKernel& data,
                    DataBlock<unsigned char>& extendedData, unsigned byteTimeoutMs,
                    DataBlock<unsigned char>* receivedDataPacket);

    std::string portName_;
    unsigned baudRate_;
    SerialPort port;
    DataBlock<unsigned char> transferBlock; // the request, then each received block
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
};

#endif
