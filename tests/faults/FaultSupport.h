#ifndef VELK_FAULTSUPPORT_H
#define VELK_FAULTSUPPORT_H

// Helpers of the fault tests: a misbehaving slave on the master side of a
// pseudo-terminal, exchanges under a watchdog, and counts of the process's
// threads and open files to find leaks.

#include "DataBlock.h"
#include "Pty.h"
#include "Velk21AddressBlockKernel.h"
#include "Velk21DataBlockKernel.h"
#include "Velk21Session.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <functional>
#include <future>
#include <mutex>
#include <poll.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace faults {

using Bytes = std::vector<unsigned char>;

// Entries in a /proc/self folder: threads (task) or open files (fd).
inline int countEntries(const char* folder) {
    DIR* dir = opendir(folder);
    if (dir == nullptr) {
        return -1;
    }
    int n = 0;
    while (dirent* entry = readdir(dir)) {
        if (entry->d_name[0] != '.') {
            ++n;
        }
    }
    closedir(dir);
    return n - (std::string(folder) == "/proc/self/fd" ? 1 : 0); // the DIR itself
}

inline int threadCount() {
    return countEntries("/proc/self/task");
}

inline int openFileCount() {
    return countEntries("/proc/self/fd");
}

// Waits until the process has at most `threads` threads (threads that were
// joined may take a moment to leave /proc); returns the last count.
inline int settledThreadCount(int threads, int limitMs = 2000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    int now = threadCount();
    while (now > threads && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        now = threadCount();
    }
    return now;
}

// A slave that never pauses: once `waitFor` request bytes have come (0: at
// once), it writes next(i) for i = 0, 1, 2 ... until stopped, reading and
// dropping whatever the session sends meanwhile.
class Streamer {
public:
    Streamer(Pty& line, size_t waitFor, std::function<unsigned char(std::uint64_t)> next)
        : line(line), waitFor(waitFor), next(std::move(next)), worker([this] { run(); }) {}
    ~Streamer() { stop(); }
    Streamer(const Streamer&) = delete;
    Streamer& operator=(const Streamer&) = delete;

    void stop() {
        stopping = true;
        if (worker.joinable()) {
            worker.join();
        }
    }

    std::uint64_t written() const { return count; }

private:
    void run() {
        size_t requestBytes = 0;
        unsigned char chunk[512];
        while (!stopping) {
            pollfd p{line.master, static_cast<short>(POLLIN | POLLOUT), 0};
            if (::poll(&p, 1, 10) <= 0) {
                continue;
            }
            if (p.revents & POLLIN) {
                unsigned char in[256];
                const ssize_t got = ::read(line.master, in, sizeof in);
                if (got > 0) {
                    requestBytes += static_cast<size_t>(got);
                }
            }
            if (requestBytes < waitFor || !(p.revents & POLLOUT)) {
                if (requestBytes < waitFor) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                }
                continue;
            }
            for (unsigned char& b : chunk) {
                b = next(produced++);
            }
            const ssize_t n = ::write(line.master, chunk, sizeof chunk);
            if (n > 0) {
                // What did not fit is produced again from its index.
                produced -= sizeof chunk - static_cast<size_t>(n);
                count = produced;
            }
        }
    }

    Pty& line;
    size_t waitFor;
    std::function<unsigned char(std::uint64_t)> next;
    std::atomic<bool> stopping{false};
    std::atomic<std::uint64_t> count{0};
    std::uint64_t produced = 0;
    std::thread worker;
};

// Aborts the process when it is not disarmed within limitMs: a test step
// that hangs must fail, not wait for the test runner's time-out.
class Watchdog {
public:
    Watchdog(const char* what, int limitMs)
        : what(what), limit(std::chrono::milliseconds(limitMs)), worker([this] { run(); }) {}
    ~Watchdog() {
        {
            std::lock_guard<std::mutex> lock(mutex);
            disarmed = true;
        }
        changed.notify_all();
        worker.join();
    }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

private:
    void run() {
        std::unique_lock<std::mutex> lock(mutex);
        if (!changed.wait_for(lock, limit, [this] { return disarmed; })) {
            std::fprintf(stderr, "FAIL: %s did not end within %lld ms\n", what,
                         static_cast<long long>(limit.count()));
            std::fflush(stderr);
            std::abort();
        }
    }

    const char* what;
    std::chrono::milliseconds limit;
    std::mutex mutex;
    std::condition_variable changed;
    bool disarmed = false;
    std::thread worker;
};

struct Outcome {
    int code = -1;
    bool ok = false;
    Velk21DataBlockKernel data;
    DataBlock<unsigned char> extended;
};

inline Velk21DataBlockKernel plainRequest() {
    Velk21DataBlockKernel data(Velk21ParameterId(0x10, 0x02), 0x05, 0, 0x33, 0, 0, 0, 0, 0);
    data.data[0] = 0x7E;
    return data;
}

inline const Velk21AddressBlockKernel& slaveAddress() {
    static const Velk21AddressBlockKernel address(Velk21Address(3, 0, 0, 0), 0);
    return address;
}

// One exchange with the dialog's arguments (150 ms per byte). An exchange
// that has not ended after limitMs is a hang: the process aborts, since the
// stuck thread can be neither joined nor left behind.
inline Outcome exchangeWithin(Velk21Session& session, unsigned maxRestarts = 0, int limitMs = 20000,
                              const Velk21DataBlockKernel& request = plainRequest()) {
    auto task = std::async(std::launch::async, [&session, maxRestarts, request] {
        Outcome o;
        o.data = request;
        o.ok = session.exchange(slaveAddress(), o.data, o.extended, maxRestarts, 150, &o.code);
        return o;
    });
    if (task.wait_for(std::chrono::milliseconds(limitMs)) != std::future_status::ready) {
        std::fprintf(stderr, "FAIL: an exchange did not end within %d ms\n", limitMs);
        std::fflush(stderr);
        std::abort();
    }
    return task.get();
}

} // namespace faults

#endif
