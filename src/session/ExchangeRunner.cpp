#include "ExchangeRunner.h"

#include "Velk21Session.h"

ExchangeRunner::ExchangeRunner(Velk21Session& session) : session(session) {}

ExchangeResult ExchangeRunner::exchange(const ExchangeRequest& request) {
    ExchangeResult result;
    frameRequest(request.address, request.data, result.txAddressPacket, result.txDataPacket);
    result.answer = request.data;
    result.extendedData = request.extendedData;
    const unsigned long openings = session.openings();
    const unsigned long losses = session.losses();

    result.started = std::chrono::system_clock::now();
    const auto start = std::chrono::steady_clock::now();
    int code = 0;
    DataBlock<unsigned char> block;
    session.exchange(request.address, result.answer, result.extendedData, request.maxRestarts,
                     request.byteTimeoutMs, &code, &block, &result.rxDataPacket);
    const auto end = std::chrono::steady_clock::now();
    result.responseMs = std::chrono::duration<double, std::milli>(end - start).count();
    result.error = exchangeErrorOf(code);
    if (block.size() == 0) {
        result.rxDataPacket.clear(); // no block came: nor does the noise count
    }
    for (unsigned i = 0; i < block.size(); ++i) {
        result.rxDataPacket.append(block[i]);
    }
    result.aborted = code != 0 && aborting;

    // An exchange first opens a lost port again, then may lose it.
    result.portReopened = session.openings() != openings;
    result.portLost = session.losses() != losses;
    result.portGone = result.portLost && !session.mayReopen();
    if (result.portReopened) {
        result.portDownMs = std::chrono::duration<double, std::milli>(end - lostAt).count();
    }
    if (result.portLost) {
        lostAt = end;
    }
    if (!result.answerDecoded()) { // 1 to 6 leave the request behind
        result.answer = Velk21DataBlockKernel();
        result.extendedData.clear();
    }
    return result;
}

void ExchangeRunner::run(const Next& next, const Sink& sink, unsigned periodMs) {
    ExchangeRequest request;
    while (!stopped() && next(request)) {
        if (periodMs != 0 && !pause(periodMs)) {
            break;
        }
        const ExchangeResult result = exchange(request);
        if (result.aborted || !sink(result)) {
            break;
        }
    }
}

void ExchangeRunner::cyclic(const ExchangeRequest& request, unsigned periodMs, unsigned count,
                            const Sink& sink) {
    unsigned made = 0;
    run(
        [&](ExchangeRequest& next) {
            next = request;
            return count == 0 || made++ < count;
        },
        sink, periodMs);
}

bool ExchangeRunner::pause(unsigned ms) {
    std::unique_lock<std::mutex> lock(mutex);
    return !wake.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopped(); });
}

void ExchangeRunner::stop() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    wake.notify_all();
}

void ExchangeRunner::abort() {
    aborting = true;
    stop();
    session.close();
}
