#ifndef VELK_EXCHANGERUNNER_H
#define VELK_EXCHANGERUNNER_H

#include "ExchangeResult.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

class Velk21Session;

// Runs the exchanges of a tool on one session: one request, the same one
// cyclically, or one after another as the caller hands them over, and
// reports each as an ExchangeResult. A lost port is opened again by its name
// before the next exchange (the session does that; the result says so).
//
// stop() and abort() may come from any thread (a signal's): stop lets the
// exchange in flight end and starts no other, abort ends it at once too, by
// closing the session's port for good.
class ExchangeRunner {
public:
    explicit ExchangeRunner(Velk21Session& session);
    ExchangeRunner(const ExchangeRunner&) = delete;
    ExchangeRunner& operator=(const ExchangeRunner&) = delete;

    // Hands over the next request; false when there is none.
    using Next = std::function<bool(ExchangeRequest& request)>;
    // Takes each result; false ends the run.
    using Sink = std::function<bool(const ExchangeResult& result)>;

    // Until next() or sink() says no or a stop comes: waits periodMs (the
    // dialog's cycle: the wait comes first), exchanges, reports. An exchange
    // cut short by abort() is not reported.
    void run(const Next& next, const Sink& sink, unsigned periodMs = 0);
    // count exchanges of one request (0: until stopped), a period before each.
    void cyclic(const ExchangeRequest& request, unsigned periodMs, unsigned count,
                const Sink& sink);
    // One exchange now, stopped or not.
    ExchangeResult exchange(const ExchangeRequest& request);

    // Waits up to ms; false when a stop came first (or had come).
    bool pause(unsigned ms);
    void stop();
    void abort();
    bool stopped() const { return stopping; }

private:
    Velk21Session& session;
    std::mutex mutex;
    std::condition_variable wake;
    std::atomic<bool> stopping{false};
    std::atomic<bool> aborting{false};
    std::chrono::steady_clock::time_point lostAt{};
};

#endif
