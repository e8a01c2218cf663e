#include "FakeSerialDevice.h"

#include <algorithm>

namespace {
using Lock = std::unique_lock<std::mutex>;
}

void FakeSerialDevice::record(Action::Kind kind, unsigned value) {
    log.push_back(Action{kind, value, Clock::now()});
}

bool FakeSerialDevice::failing(Operation operation) const {
    return std::find(failingOperations.begin(), failingOperations.end(), operation) !=
           failingOperations.end();
}

void FakeSerialDevice::queueIncoming(const std::vector<unsigned char>& bytes, unsigned delayMs) {
    Lock lock(mutex);
    pending.push_back(Chunk{bytes, delayMs, false, 0, Clock::now()});
    changed.notify_all();
}

void FakeSerialDevice::queueReply(const std::vector<unsigned char>& bytes, unsigned delayMs) {
    Lock lock(mutex);
    pending.push_back(
        Chunk{bytes, delayMs, true, static_cast<unsigned>(drainTimes.size()), Clock::now()});
    changed.notify_all();
}

void FakeSerialDevice::setFailing(Operation operation, bool fail) {
    Lock lock(mutex);
    failingOperations.erase(
        std::remove(failingOperations.begin(), failingOperations.end(), operation),
        failingOperations.end());
    if (fail) {
        failingOperations.push_back(operation);
    }
}

void FakeSerialDevice::failWritesAfter(unsigned bytes) {
    Lock lock(mutex);
    writesUntilFailure = bytes;
}

void FakeSerialDevice::stallWritesAfter(unsigned bytes) {
    Lock lock(mutex);
    writesUntilStall = bytes;
}

void FakeSerialDevice::hangUp() {
    Lock lock(mutex);
    hungUp = true;
    changed.notify_all();
}

void FakeSerialDevice::markParityError() {
    Lock lock(mutex);
    parityErrorPending = true;
}

void FakeSerialDevice::limitBaudRate(unsigned highest, unsigned kept) {
    Lock lock(mutex);
    highestBaud = highest;
    keptBaud = kept;
}

std::vector<FakeSerialDevice::Action> FakeSerialDevice::actions() const {
    Lock lock(mutex);
    return log;
}

std::vector<unsigned char> FakeSerialDevice::written() const {
    Lock lock(mutex);
    return output;
}

unsigned FakeSerialDevice::readCalls() const {
    Lock lock(mutex);
    return reads;
}

bool FakeSerialDevice::rts() const {
    Lock lock(mutex);
    return rtsHigh;
}

std::string FakeSerialDevice::openedPath() const {
    Lock lock(mutex);
    return path;
}

unsigned FakeSerialDevice::baudRate() const {
    Lock lock(mutex);
    return baud;
}

int FakeSerialDevice::parity() const {
    Lock lock(mutex);
    return parityCode;
}

bool FakeSerialDevice::open(const std::string& devicePath) {
    Lock lock(mutex);
    if (opened || hungUp || failing(Operation::Open)) {
        lastFailure = opened ? OpenFailure::Busy : OpenFailure::NoSuchDevice;
        return false;
    }
    lastFailure = OpenFailure::None;
    opened = true;
    woken = false;
    rtsHigh = false;
    path = devicePath;
    record(Action::Opened);
    return true;
}

void FakeSerialDevice::close() {
    Lock lock(mutex);
    if (!opened) {
        return;
    }
    opened = false;
    woken = false;
    record(Action::Closed);
    changed.notify_all();
}

bool FakeSerialDevice::isOpen() const {
    Lock lock(mutex);
    return opened;
}

OpenFailureDetail FakeSerialDevice::openFailureDetail() const {
    Lock lock(mutex);
    return lastFailure;
}

bool FakeSerialDevice::configure(unsigned baudRate, int parity) {
    Lock lock(mutex);
    if (!opened || hungUp || baudRate == 0 || parity < 0 || parity > 4 ||
        failing(Operation::Configure)) {
        lastFailure = OpenFailure::Other;
        return false;
    }
    if (highestBaud != 0 && baudRate > highestBaud) {
        lastFailure = OpenFailureDetail(OpenFailure::BaudRate, baudRate, keptBaud);
        return false;
    }
    lastFailure = OpenFailure::None;
    baud = baudRate;
    parityCode = parity;
    record(Action::Configured, baudRate);
    return true;
}

bool FakeSerialDevice::setRts(bool high) {
    Lock lock(mutex);
    if (!opened || hungUp || failing(Operation::SetRts)) {
        return false;
    }
    rtsHigh = high;
    record(high ? Action::RtsHigh : Action::RtsLow);
    return true;
}

bool FakeSerialDevice::writeByte(unsigned char byte, unsigned timeoutMs, unsigned& count) {
    Lock lock(mutex);
    count = 0;
    if (!opened || hungUp || woken || failing(Operation::Write) || writesUntilFailure == 0) {
        return false;
    }
    if (writesUntilStall == 0) {
        // The byte is never taken: the write runs into its time-out.
        changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                         [this] { return woken || hungUp || !opened; });
        return !(woken || hungUp || !opened);
    }
    if (writesUntilFailure > 0) {
        --writesUntilFailure;
    }
    if (writesUntilStall > 0) {
        --writesUntilStall;
    }
    output.push_back(byte);
    record(Action::Wrote, byte);
    count = 1;
    return true;
}

bool FakeSerialDevice::drain(unsigned) {
    Lock lock(mutex);
    if (!opened || hungUp || woken || failing(Operation::Drain)) {
        return false;
    }
    drainTimes.push_back(Clock::now());
    record(Action::Drained);
    changed.notify_all();
    return true;
}

FakeSerialDevice::Clock::time_point FakeSerialDevice::deliver(Clock::time_point now) {
    while (!pending.empty()) {
        const Chunk& chunk = pending.front();
        Clock::time_point base = chunk.queuedAt;
        if (chunk.afterDrain) {
            if (drainTimes.size() <= chunk.drainsAtQueue) {
                return Clock::time_point::max();
            }
            base = drainTimes[chunk.drainsAtQueue];
        }
        const Clock::time_point due =
            std::max(base, lastArrival) + std::chrono::milliseconds(chunk.delayMs);
        if (due > now) {
            return due;
        }
        input.insert(input.end(), chunk.bytes.begin(), chunk.bytes.end());
        lastArrival = due;
        pending.pop_front();
    }
    return Clock::time_point::max();
}

bool FakeSerialDevice::read(unsigned char* buffer, unsigned count, unsigned timeoutMs,
                            unsigned& got) {
    Lock lock(mutex);
    got = 0;
    ++reads;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (!opened || hungUp || woken || failing(Operation::Read)) {
            return false;
        }
        const Clock::time_point now = Clock::now();
        const Clock::time_point next = deliver(now);
        if (!input.empty()) {
            while (got < count && !input.empty()) {
                buffer[got++] = input.front();
                input.pop_front();
            }
            return true;
        }
        if (now >= deadline) {
            return true;
        }
        changed.wait_until(lock, std::min(deadline, next));
    }
}

bool FakeSerialDevice::purge() {
    Lock lock(mutex);
    if (!opened || hungUp || failing(Operation::Purge)) {
        return false;
    }
    deliver(Clock::now());
    input.clear();
    record(Action::Purged);
    return true;
}

bool FakeSerialDevice::clearErrors(bool* parityError) {
    Lock lock(mutex);
    if (parityError != nullptr) {
        *parityError = false;
    }
    if (!opened || hungUp || failing(Operation::ClearErrors)) {
        return false;
    }
    if (parityError != nullptr) {
        *parityError = parityErrorPending;
    }
    parityErrorPending = false;
    return true;
}

void FakeSerialDevice::wake() {
    Lock lock(mutex);
    woken = true;
    record(Action::Woken);
    changed.notify_all();
}
