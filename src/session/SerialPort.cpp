#include "SerialPort.h"

#include "PortNames.h"
#include "Sleep.h"
#include "SystemSerialDevice.h"

#include <cmath>
#include <limits>
#include <utility>

namespace {
constexpr unsigned stopLimitMs = 30000;
constexpr unsigned rtsHoldMs = 2;
} // namespace

SerialPort::SerialPort() : SerialPort(makeSystemSerialDevice()) {}

SerialPort::SerialPort(std::unique_ptr<ISerialDevice> serialDevice)
    : device(std::move(serialDevice)) {}

SerialPort::~SerialPort() {
    close();
}

bool SerialPort::open(const std::string& portName, unsigned baudRate) {
    std::lock_guard<std::mutex> lifecycle(lifecycleMutex);
    closeLocked();
    txRxMutex = std::make_unique<NamedMutex>(portName + "PortTxRxMutex");
    const std::string path = resolvePortName(portName);
    if (!device || path.empty() || !device->open(path)) {
        noteOpenFailure(path.empty() ? OpenFailure::NoSuchDevice
                        : device     ? device->openFailureDetail()
                                     : OpenFailure::Other);
        txRxMutex.reset();
        return false;
    }
    // Leftovers of an earlier user of the line go; the results do not matter.
    device->clearErrors(nullptr);
    device->purge();

    txEvent = std::make_unique<ManualResetEvent>(portName + "PortTxEvent", false);
    rxEvent = std::make_unique<ManualResetEvent>(portName + "PortRxEvent", false);

    readTimeoutMs = SerialTimeouts().readTotalTimeoutConstant;
    {
        std::lock_guard<std::mutex> lock(settingsMutex);
        dcb.baudRate = baudRate;
        dcb.parity = parity & 0xFF;
    }
    if (!device->configure(baudRate, parity & 0xFF)) {
        const OpenFailureDetail why = device->openFailureDetail();
        noteOpenFailure(why.reason != OpenFailure::None ? why : OpenFailure::Other);
        device->close();
        releaseHandles();
        return false;
    }
    busy = false;
    failed = false;
    cutReported = false;
    opened = true;
    noteOpenFailure(OpenFailure::None);
    txThread.start(this, &SerialPort::transmitWorker, PlatformThread::timeCriticalPriority);
    rxThread.start(this, &SerialPort::receiveWorker, PlatformThread::timeCriticalPriority);
    // Without its workers the first operation would wait for ever.
    if (!txThread.isRunning() || !rxThread.isRunning()) {
        closeLocked();
        noteOpenFailure(OpenFailure::Other);
        return false;
    }
    return true;
}

void SerialPort::close() {
    std::lock_guard<std::mutex> lifecycle(lifecycleMutex);
    closeLocked();
}

void SerialPort::closeLocked() {
    if (!opened) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(closingMutex);
        opened = false;
    }
    // A worker blocked in a read or write returns at once.
    device->wake();
    txEvent->set();
    txThread.stop(stopLimitMs);
    rxEvent->set();
    rxThread.stop(stopLimitMs);
    device->purge();
    device->close();
    releaseHandles();
}

void SerialPort::noteOpenFailure(const OpenFailureDetail& why) {
    std::lock_guard<std::mutex> lock(openFailureMutex);
    lastOpenFailure = why;
}

OpenFailureDetail SerialPort::openFailureDetail() const {
    std::lock_guard<std::mutex> lock(openFailureMutex);
    return lastOpenFailure;
}

void SerialPort::releaseHandles() {
    txEvent.reset();
    rxEvent.reset();
    txRxMutex.reset();
}

bool SerialPort::startTransmit(DataBlock<unsigned char>* data, ISession* newClient) {
    return startTransmit(data, newClient, nullptr);
}

bool SerialPort::startTransmit(DataBlock<unsigned char>* data, ISession* newClient,
                               const FollowingReception& then) {
    return startTransmit(data, newClient, &then);
}

bool SerialPort::startTransmit(DataBlock<unsigned char>* data, ISession* newClient,
                               const FollowingReception* then) {
    std::lock_guard<std::mutex> lifecycle(lifecycleMutex);
    NamedMutex* mutex = txRxMutex.get();
    if (mutex == nullptr) {
        return false;
    }
    std::lock_guard<NamedMutex> lock(*mutex);
    if (!opened || busy || data == nullptr || data->size() == 0) {
        return false;
    }
    // Pending input from before the request is discarded here; RTS goes up
    // only once everything else has succeeded.
    // A device that refuses these is gone (a hang-up fails them with EIO).
    if (!device->clearErrors(nullptr) || !device->purge() || !device->setRts(true)) {
        noteFailure(false);
        return false;
    }
    txData = data;
    receiveFollows = then != nullptr;
    if (then != nullptr) {
        following = *then;
    }
    client = newClient;
    errorCode = 0;
    busy = true;
    return txEvent->set();
}

int SerialPort::transmitWorker() {
    txEvent->wait();
    if (!opened) {
        return 0;
    }
    const SerialTimeouts limits = timeouts();
    const unsigned writeTimeoutMs =
        limits.writeTotalTimeoutConstant + limits.writeTotalTimeoutMultiplier;
    const unsigned n = txData->size();
    unsigned sent = 0;
    bool ok = true;
    // One write per byte, each confirmed before the next. A byte that is not
    // taken within the write time-out makes the transmission incomplete;
    // offering it again would only hold RTS up longer on a stuck line.
    while (sent < n && ok) {
        unsigned written = 0;
        const bool wrote = device->writeByte((*txData)[sent], writeTimeoutMs, written);
        noteFailure(wrote);
        ok = wrote && written == 1;
        sent += written;
    }
    if (sent != n || !ok) {
        errorCode = 1;
    }
    // RTS may drop only once the last stop bit has left the line.
    device->drain(writeTimeoutMs);
    sleepMs(rtsHoldMs);
    device->setRts(false);
    const bool receiveNext = receiveFollows;
    finishTransmit();
    if (receiveNext) {
        startFollowingReception();
    }
    return 1;
}

void SerialPort::startFollowingReception() {
    receiveFollows = false;
    bool started = false;
    if (errorCode == 0) {
        computeReadTimeout(following.bytesPerRead, following.extraTimeoutMs);
        // Not lifecycleMutex: close() holds it while it waits for this thread.
        std::lock_guard<NamedMutex> lock(*txRxMutex);
        started = beginReceive(following.destination, following.bytesPerRead, client,
                               ReceiveOn::ThisThread);
    }
    if (!started) {
        if (errorCode == 0) {
            errorCode = 2;
        }
        if (ISession* current = client) {
            current->rxComplete();
        }
        return;
    }
    // This thread reads the answer itself: handing it to the receive thread
    // would cost a wake-up and a switch on every exchange.
    while (receiveOnce() == ReadOutcome::More) {
    }
}

void SerialPort::finishTransmit() {
    resetUnlessClosing(*txEvent);
    busy = false;
    if (ISession* current = client) {
        current->txComplete();
    }
}

bool SerialPort::startReceive(DataBlock<unsigned char>* destination, unsigned bytesPerRead,
                              unsigned extraTimeoutMs, ISession* newClient) {
    // The read time-out is recomputed and kept even when the start is refused.
    computeReadTimeout(bytesPerRead, extraTimeoutMs);
    std::lock_guard<std::mutex> lifecycle(lifecycleMutex);
    NamedMutex* mutex = txRxMutex.get();
    if (mutex == nullptr) {
        return false;
    }
    std::lock_guard<NamedMutex> lock(*mutex);
    return beginReceive(destination, bytesPerRead, newClient, ReceiveOn::ReceiveThread);
}

void SerialPort::computeReadTimeout(unsigned bytesPerRead, unsigned extraTimeoutMs) {
    unsigned baudRate = 0;
    {
        std::lock_guard<std::mutex> lock(settingsMutex);
        baudRate = dcb.baudRate;
    }
    const float bits =
        static_cast<float>(bitsPerCharacter()) * 1000.0f * static_cast<float>(bytesPerRead);
    double characterTime = 1.0;
    if (baudRate != 0) {
        characterTime = std::trunc(static_cast<double>(bits) / static_cast<double>(baudRate) + 1);
    }
    const double total = static_cast<double>(extraTimeoutMs) + characterTime;
    const double largest = static_cast<double>(std::numeric_limits<unsigned>::max());
    readTimeoutMs =
        total >= largest ? std::numeric_limits<unsigned>::max() : static_cast<unsigned>(total);
}

bool SerialPort::beginReceive(DataBlock<unsigned char>* destination, unsigned bytesPerRead,
                              ISession* newClient, ReceiveOn where) {
    if (!opened || busy || bytesPerRead == 0 || destination == nullptr) {
        return false;
    }
    // Input is not purged: bytes that came since the transmission ended are
    // the beginning of the answer.
    if (!device->setRts(false)) {
        noteFailure(false);
        return false;
    }
    appliedReadTimeoutMs = readTimeoutMs;
    rxData = destination;
    client = newClient;
    errorCode = 0;
    busy = true;
    rxChunk.clear();
    rxChunk.resize(bytesPerRead, 0);
    return where == ReceiveOn::ThisThread || rxEvent->set();
}

int SerialPort::receiveWorker() {
    rxEvent->wait();
    if (!opened) {
        if (!cutReported) {
            finishReceive();
        }
        return 0;
    }
    return receiveOnce() == ReadOutcome::Closed ? 0 : 1;
}

SerialPort::ReadOutcome SerialPort::receiveOnce() {
    const unsigned n = rxChunk.size();
    unsigned got = 0;
    const bool ok = device->read(rxChunk.data(), n, appliedReadTimeoutMs, got);
    noteFailure(ok);
    if (!opened) {
        // close() cut the read short: the reception ends here, reported once.
        errorCode = 2;
        cutReported = true;
        finishReceive();
        return ReadOutcome::Closed;
    }
    bool more = false;
    if (ok && got == n) {
        for (unsigned i = 0; i < got; ++i) {
            rxData->append(rxChunk[i]);
        }
        if (ISession* current = client) {
            more = current->rxProcess(got);
        }
    } else {
        errorCode = 2;
    }
    if (!more) {
        finishReceive();
        return ReadOutcome::Ended;
    }
    return ReadOutcome::More;
}

void SerialPort::finishReceive() {
    resetUnlessClosing(*rxEvent);
    busy = false;
    if (ISession* current = client) {
        current->rxComplete();
    }
}

void SerialPort::noteFailure(bool deviceOk) {
    // A wake from close() fails the device call too; that is no fault of
    // the device.
    std::lock_guard<std::mutex> lock(closingMutex);
    if (!deviceOk && opened) {
        failed = true;
    }
}

void SerialPort::resetUnlessClosing(ManualResetEvent& event) {
    std::lock_guard<std::mutex> lock(closingMutex);
    if (opened) {
        event.reset();
    }
}

unsigned SerialPort::bitsPerCharacter() const {
    return parity != 0 ? 11 : 10;
}

bool SerialPort::parityError() {
    if (!opened) {
        return false;
    }
    bool flagged = false;
    return device->clearErrors(&flagged) && flagged;
}

bool SerialPort::setParity(int newParity) {
    std::lock_guard<std::mutex> lock(settingsMutex);
    LineSettings copy = dcb;
    copy.parity = newParity & 0xFF;
    if (!opened || dcb.parity == copy.parity || !device->configure(copy.baudRate, copy.parity)) {
        return false;
    }
    dcb = copy;
    parity = newParity;
    return true;
}

SerialTimeouts SerialPort::timeouts() const {
    SerialTimeouts current;
    current.readTotalTimeoutConstant = readTimeoutMs;
    return current;
}
