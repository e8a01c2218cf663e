#include "Velk21Session.h"

#include <climits>
#include <mutex>

namespace {

const unsigned transferReserve = 65535;
const unsigned extendedBytesPerBlock = 7;

unsigned groupsFor(unsigned count) {
    return count / extendedBytesPerBlock + (count % extendedBytesPerBlock != 0 ? 1 : 0);
}

} // namespace

Velk21Session::Velk21Session(const std::string& portName, unsigned baudRate)
    : portName_(portName), baudRate_(baudRate), port(), rxIndex(0), rxExpected(0), rxRestarts(0),
      rxMaxRestarts(0), mutex(portName + "Velk21MasterSessionMutex"),
      txCompleteEvent(portName + "Velk21MasterSessionTxCompleteEvent", false),
      rxCompleteEvent(portName + "Velk21MasterSessionRxCompleteEvent", false) {
    port.open(portName, baudRate); // the owner asks isOpen()
    transferBlock.reserve(transferReserve);
}

Velk21Session::Velk21Session(const std::string& portName, unsigned baudRate,
                             std::unique_ptr<ISerialDevice> device)
    : portName_(portName), baudRate_(baudRate), port(std::move(device)), rxIndex(0), rxExpected(0),
      rxRestarts(0), rxMaxRestarts(0), mutex(portName + "Velk21MasterSessionMutex"),
      txCompleteEvent(portName + "Velk21MasterSessionTxCompleteEvent", false),
      rxCompleteEvent(portName + "Velk21MasterSessionRxCompleteEvent", false) {
    port.open(portName, baudRate);
    transferBlock.reserve(transferReserve);
}

Velk21Session::~Velk21Session() {
    // Stops the port's workers before the events they signal go away.
    port.close();
}

bool Velk21Session::isOpen() {
    return port.isOpen();
}

void Velk21Session::txComplete() {
    txCompleteEvent.set();
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
            ++rxRestarts;
            rxIndex = 0;
            transferBlock.clear();
            transferBlock.append(b);
        }
        ++rxIndex;
    }
    return transferBlock.size() < rxExpected && rxRestarts <= rxMaxRestarts;
}

bool Velk21Session::transmit(DataBlock<unsigned char>& block) {
    if (port.isBusy()) {
        return false;
    }
    txCompleteEvent.reset();
    if (!port.startTransmit(&block, this)) {
        return false;
    }
    txCompleteEvent.wait();
    return port.error() == 0;
}

bool Velk21Session::receive(DataBlock<unsigned char>& block, unsigned byteTimeoutMs) {
    if (port.isBusy()) {
        return false;
    }
    block.clear();
    rxIndex = 0;
    rxRestarts = 0;
    rxCompleteEvent.reset();
    if (!port.startReceive(&block, 1, byteTimeoutMs, this)) {
        return false;
    }
    rxCompleteEvent.wait();
    return port.error() == 0;
}

bool Velk21Session::exchange(const Velk21AddressBlockKernel& address, Velk21DataBlockKernel& data,
                             DataBlock<unsigned char>& extendedData, unsigned maxRestarts,
                             unsigned byteTimeoutMs, int* errorOut,
                             DataBlock<unsigned char>* receivedDataPacket) {
    std::lock_guard<NamedMutex> lock(mutex);
    rxMaxRestarts = maxRestarts;
    if (receivedDataPacket != nullptr) {
        receivedDataPacket->clear();
    }
    const int error = runExchange(address, data, extendedData, byteTimeoutMs, receivedDataPacket);
    if (errorOut != nullptr) {
        *errorOut = error;
    }
    return error == 0;
}

int Velk21Session::runExchange(const Velk21AddressBlockKernel& address, Velk21DataBlockKernel& data,
                               DataBlock<unsigned char>& extendedData, unsigned byteTimeoutMs,
                               DataBlock<unsigned char>* receivedDataPacket) {
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

    if (!transmit(transferBlock)) {
        return 4;
    }
    rxExpected = dataPackager.size(data);
    if (!receive(transferBlock, byteTimeoutMs)) {
        return 5;
    }
    if (receivedDataPacket != nullptr) {
        *receivedDataPacket = transferBlock; // before unpacking rewrites bit 7
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
