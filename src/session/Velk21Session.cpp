#include "Velk21Session.h"

#include <climits>
#include <mutex>

namespace {

const unsigned transferReserve = 65535;
// Stray bytes kept of one reception for the report; a noisy line may send more.
const unsigned discardedLimit = 4096;
const unsigned extendedBytesPerBlock = 7;

// A pseudo-terminal's number goes to the next terminal opened anywhere once
// its line is gone: the path never names the same line again. A COM name is
// looked up anew on every open and follows the line.
bool mayComeBack(const std::string& portName) {
    return portName.rfind("/dev/pts/", 0) != 0;
}

unsigned groupsFor(unsigned count) {
    return count / extendedBytesPerBlock + (count % extendedBytesPerBlock != 0 ? 1 : 0);
}

} // namespace

Velk21Session::Velk21Session(const std::string& portName, unsigned baudRate)
    : portName_(portName), baudRate_(baudRate), port(), rxIndex(0), rxExpected(0), rxRestarts(0),
      rxMaxRestarts(0), mutex(portName + "Velk21MasterSessionMutex"),
      txCompleteEvent(portName + "Velk21MasterSessionTxCompleteEvent", false),
      rxCompleteEvent(portName + "Velk21MasterSessionRxCompleteEvent", false),
      abortEvent(portName + "Velk21MasterSessionAbortEvent", false) {
    openPort(); // the owner asks isOpen()
    transferBlock.reserve(transferReserve);
    rxDiscarded.reserve(discardedLimit);
}

Velk21Session::Velk21Session(const std::string& portName, unsigned baudRate,
                             std::unique_ptr<ISerialDevice> device)
    : portName_(portName), baudRate_(baudRate), port(std::move(device)), rxIndex(0), rxExpected(0),
      rxRestarts(0), rxMaxRestarts(0), mutex(portName + "Velk21MasterSessionMutex"),
      txCompleteEvent(portName + "Velk21MasterSessionTxCompleteEvent", false),
      rxCompleteEvent(portName + "Velk21MasterSessionRxCompleteEvent", false),
      abortEvent(portName + "Velk21MasterSessionAbortEvent", false) {
    openPort();
    transferBlock.reserve(transferReserve);
    rxDiscarded.reserve(discardedLimit);
}

Velk21Session::~Velk21Session() {
    // Stops the port's workers before the events they signal go away.
    port.close();
}

bool Velk21Session::reopen() {
    if (!port.isOpen() && mayComeBack(portName_)) {
        openPort();
    }
    return port.isOpen();
}

void Velk21Session::openPort() {
    std::lock_guard<std::mutex> lock(portMutex);
    // Checked again under the lock: a close for good, or an exchange that
    // opened it meanwhile.
    if (closedForGood || port.isOpen()) {
        return;
    }
    if (port.open(portName_, baudRate_)) {
        ++openCount;
    } else {
        nextAttempt =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(reopenIntervalMs);
    }
}

void Velk21Session::reopenIfClosed() {
    if (port.isOpen() || !mayComeBack(portName_)) {
        return;
    }
    std::chrono::steady_clock::time_point notBefore;
    {
        std::lock_guard<std::mutex> lock(portMutex);
        if (closedForGood) {
            return;
        }
        notBefore = nextAttempt;
    }
    // A device that is gone is not looked for more often than this; abort
    // and close end the wait.
    abortEvent.reset();
    const auto now = std::chrono::steady_clock::now();
    if (now < notBefore) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(notBefore - now).count();
        if (abortEvent.waitFor(static_cast<unsigned>(left) + 1)) {
            return;
        }
    }
    openPort();
}

void Velk21Session::closePort(bool forGood) {
    {
        std::lock_guard<std::mutex> lock(portMutex);
        closedForGood = closedForGood || forGood;
        port.close();
    }
    // A transmission cut short by the close ends without a callback, and a
    // waiting reopen attempt is not wanted any more.
    abortEvent.set();
    txCompleteEvent.set();
    rxCompleteEvent.set();
}

void Velk21Session::abortExchange() {
    closePort(false);
}

void Velk21Session::close() {
    closePort(true);
}

bool Velk21Session::mayReopen() const {
    return mayComeBack(portName_);
}

bool Velk21Session::isOpen() {
    return port.isOpen();
}

void Velk21Session::txComplete() {
    if (receiveFollows) {
        // The port starts the reception as soon as this returns: the block
        // that held the request is made ready for the answer here.
        transmitted = port.error() == 0 && port.isOpen();
        prepareReception(transferBlock);
    }
    txCompleteEvent.set();
}

void Velk21Session::prepareReception(DataBlock<unsigned char>& block) {
    block.clear();
    rxDiscarded.clear();
    rxIndex = 0;
    rxRestarts = 0;
}

void Velk21Session::rxComplete() {
    rxCompleteEvent.set();
}

bool Velk21Session::rxProcess(unsigned) {
    if (transferBlock.size() == 0) {
        return false;
    }
    if (rxIndex < transferBlock.size()) {
        const unsigned char b = transferBlock[rxIndex];
        // Only block headers have bits 7 and 6 set: one inside a block means
        // the block we were collecting was broken; start again from it.
        if (b >= 0xC0 && rxIndex > 0) {
            for (unsigned i = 0; i < rxIndex && rxDiscarded.size() < discardedLimit; ++i) {
                rxDiscarded.append(transferBlock[i]);
            }
            ++rxRestarts;
            rxIndex = 0;
            transferBlock.clear();
            transferBlock.append(b);
        }
        ++rxIndex;
    }
    return transferBlock.size() < rxExpected && rxRestarts <= rxMaxRestarts;
}

int Velk21Session::transmitAndReceive(unsigned byteTimeoutMs) {
    if (port.isBusy()) {
        return 4;
    }
    txCompleteEvent.reset();
    rxCompleteEvent.reset();
    receiveFollows = true;
    transmitted = false;
    SerialPort::FollowingReception answer;
    answer.destination = &transferBlock;
    answer.bytesPerRead = 1;
    answer.extraTimeoutMs = byteTimeoutMs;
    if (!port.startTransmit(&transferBlock, this, answer)) {
        receiveFollows = false;
        return 4;
    }
    // One wait for both: the port calls rxComplete also when no reception
    // could follow. A close sets the event too.
    rxCompleteEvent.wait();
    receiveFollows = false;
    // A close cuts the transmission short, maybe before it could fail.
    if (!transmitted) {
        return 4;
    }
    return port.error() == 0 && port.isOpen() ? 0 : 5;
}

bool Velk21Session::receive(DataBlock<unsigned char>& block, unsigned byteTimeoutMs) {
    if (port.isBusy()) {
        return false;
    }
    prepareReception(block);
    rxCompleteEvent.reset();
    if (!port.startReceive(&block, 1, byteTimeoutMs, this)) {
        return false;
    }
    rxCompleteEvent.wait();
    return port.error() == 0 && port.isOpen();
}

bool Velk21Session::exchange(const Velk21AddressBlockKernel& address, Velk21DataBlockKernel& data,
                             DataBlock<unsigned char>& extendedData, unsigned maxRestarts,
                             unsigned byteTimeoutMs, int* errorOut,
                             DataBlock<unsigned char>* receivedDataPacket,
                             DataBlock<unsigned char>* strayBytes) {
    std::lock_guard<NamedMutex> lock(mutex);
    rxMaxRestarts = maxRestarts;
    for (DataBlock<unsigned char>* block : {receivedDataPacket, strayBytes}) {
        if (block != nullptr) {
            block->clear();
        }
    }
    reopenIfClosed();
    const int error =
        runExchange(address, data, extendedData, byteTimeoutMs, receivedDataPacket, strayBytes);
    if (port.isOpen() && port.deviceFailed()) {
        // The dead descriptor goes; the next exchange looks for the device anew.
        ++lossCount;
        std::lock_guard<std::mutex> portLock(portMutex);
        port.close();
    }
    if (errorOut != nullptr) {
        *errorOut = error;
    }
    return error == 0;
}

int Velk21Session::runExchange(const Velk21AddressBlockKernel& address, Velk21DataBlockKernel& data,
                               DataBlock<unsigned char>& extendedData, unsigned byteTimeoutMs,
                               DataBlock<unsigned char>* receivedDataPacket,
                               DataBlock<unsigned char>* strayBytes) {
    data.csBit = 0; // a request never carries CS
    Velk21ExtendedBlockKernel extendedKernel(data.wtsBit, data.csBit, data.subLBit);

    // Framing. Extended blocks go out only with a request that has both EF and WTS set.
    unsigned count = 0;
    unsigned groups = 0;
    transferBlock.clear();
    const unsigned headSize = addressPackager.size(address) + dataPackager.size(data);
    if (data.efBit && data.wtsBit) {
        count = extendedData.size();
        groups = groupsFor(count);
        // Even the longest request must fit a block's 32-bit length.
        if (groups > (UINT_MAX - headSize) / extendedPackager.size(extendedKernel)) {
            return 3;
        }
        transferBlock.resize(headSize + extendedPackager.size(extendedKernel) * groups, 0);
    } else {
        transferBlock.resize(headSize, 0);
    }

    unsigned position = 0;
    if (!addressPackager.pack(transferBlock, position, address)) {
        return 1;
    }
    if (!dataPackager.pack(transferBlock, position, data)) {
        return 2;
    }
    // In a short last group the bytes after the data keep those of the group
    // before (zeros when there is only one): the kernel is reused on purpose.
    for (unsigned g = 0, next = 0; g < groups; ++g) {
        for (unsigned i = 0; i < extendedBytesPerBlock && next < count; ++i, ++next) {
            extendedKernel.data[i] = extendedData[next];
        }
        if (!extendedPackager.pack(transferBlock, position, extendedKernel)) {
            return 3;
        }
    }

    rxExpected = dataPackager.size(data);
    if (const int error = transmitAndReceive(byteTimeoutMs)) {
        return error;
    }
    if (receivedDataPacket != nullptr) {
        *receivedDataPacket = transferBlock; // before unpacking rewrites bit 7
    }
    if (strayBytes != nullptr) {
        *strayBytes = rxDiscarded;
    }
    position = 0;
    if (!dataPackager.unpack(transferBlock, position, data)) {
        return 6;
    }

    extendedData.clear();
    if (!data.efBit) {
        return 0;
    }
    // At most 65535 announced bytes, in at most 9363 blocks of 7.
    count = data.data[0] + 256u * data.data[1];
    groups = groupsFor(count);
    extendedData.resize(count, 0);
    if (count == 0) {
        return 0;
    }
    rxExpected = extendedPackager.size(extendedKernel);
    for (unsigned g = 0, next = 0; g < groups; ++g) {
        if (!receive(transferBlock, byteTimeoutMs)) {
            extendedData.clear();
            return 7;
        }
        position = 0;
        if (!extendedPackager.unpack(transferBlock, position, extendedKernel)) {
            extendedData.clear();
            return 8;
        }
        for (unsigned i = 0; i < extendedBytesPerBlock && next < count; ++i, ++next) {
            extendedData[next] = extendedKernel.data[i];
        }
    }
    return 0;
}
