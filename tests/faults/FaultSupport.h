#ifndef VELK_FAULTSUPPORT_H
#define VELK_FAULTSUPPORT_H

// Helpers of the fault tests: a pseudo-terminal whose master side the test
// drives as a misbehaving slave, exchanges under a watchdog, and counts of
// the process's threads and open files to find leaks.

#include "DataBlock.h"
#include "Velk21AddressBlockKernel.h"
#include "Velk21DataBlockKernel.h"
#include "Velk21Session.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <future>
#include <mutex>
#include <poll.h>
#include <pty.h>
#include <string>
#include <sys/wait.h>
#include <termios.h>
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

// A pseudo-terminal: the session opens the slave by path, the test plays the
// slave on the master side. The master is non-blocking.
class PtyLine {
public:
    PtyLine() {
        int slave = -1;
        char name[256] = {};
        if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
            std::perror("openpty");
            std::abort();
        }
        termios t{};
        tcgetattr(slave, &t);
        cfmakeraw(&t);
        tcsetattr(slave, TCSANOW, &t);
        ::close(slave); // the session opens it by name
        path = name;
        fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    }
    ~PtyLine() { closeMaster(); }
    PtyLine(const PtyLine&) = delete;
    PtyLine& operator=(const PtyLine&) = delete;

    // The device vanishes: the slave side sees a hang-up.
    void closeMaster() {
        if (master >= 0) {
            ::close(master);
            master = -1;
        }
    }

    // Reads exactly n bytes, or what came before nothing arrived for timeoutMs.
    Bytes read(size_t n, int timeoutMs) {
        Bytes bytes;
        while (bytes.size() < n) {
            pollfd p{master, POLLIN, 0};
            if (::poll(&p, 1, timeoutMs) <= 0) {
                break;
            }
            unsigned char buffer[256];
            const ssize_t got = ::read(master, buffer, std::min<size_t>(n - bytes.size(), 256));
            if (got <= 0) {
                break;
            }
            bytes.insert(bytes.end(), buffer, buffer + got);
        }
        return bytes;
    }

    // Writes all bytes, waiting for room at most timeoutMs at a time.
    bool write(const Bytes& bytes, int timeoutMs = 1000) {
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(master, bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += static_cast<size_t>(n);
                continue;
            }
            pollfd p{master, POLLOUT, 0};
            if (::poll(&p, 1, timeoutMs) <= 0) {
                return false;
            }
        }
        return true;
    }

    // Drops whatever the session has written so far.
    void discardInput() {
        unsigned char buffer[256];
        while (::read(master, buffer, sizeof buffer) > 0) {
        }
    }

    int master = -1;
    std::string path;
};

// A slave that never pauses: once `waitFor` request bytes have come (0: at
// once), it writes next(i) for i = 0, 1, 2 ... until stopped, reading and
// dropping whatever the session sends meanwhile.
class Streamer {
public:
    Streamer(PtyLine& line, size_t waitFor, std::function<unsigned char(std::uint64_t)> next)
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

    PtyLine& line;
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

// velk-sim as a child process, started with fork and exec. (QProcess starts
// children with a raw clone() that ThreadSanitizer's runtime cannot follow.)
class SimChild {
public:
    SimChild() = default;
    ~SimChild() { stop(SIGTERM); }
    SimChild(const SimChild&) = delete;
    SimChild& operator=(const SimChild&) = delete;

    static std::string binary() {
        const char* dir = std::getenv("VELK_BINARY_DIR");
        return std::string(dir != nullptr ? dir : ".") + "/tools/velk-sim/velk-sim";
    }

    // Starts velk-sim --com com with the extra arguments and waits for its
    // READY line; false when it does not come within 5 s.
    bool start(int com, std::vector<std::string> extra) {
        int out[2];
        if (pipe2(out, O_CLOEXEC) != 0) {
            return false;
        }
        std::vector<std::string> words = {binary(), "--com", std::to_string(com)};
        words.insert(words.end(), extra.begin(), extra.end());
        std::vector<char*> argv;
        for (std::string& w : words) {
            argv.push_back(&w[0]);
        }
        argv.push_back(nullptr);
        pid = fork();
        if (pid == 0) {
            dup2(out[1], STDOUT_FILENO);
            execv(argv[0], argv.data());
            _exit(127);
        }
        ::close(out[1]);
        if (pid < 0) {
            ::close(out[0]);
            return false;
        }
        output = out[0];
        std::string line;
        while (line.find('\n') == std::string::npos) {
            pollfd p{output, POLLIN, 0};
            char buffer[256];
            ssize_t n = 0;
            if (::poll(&p, 1, 5000) <= 0 || (n = ::read(output, buffer, sizeof buffer)) <= 0) {
                return false;
            }
            line.append(buffer, static_cast<size_t>(n));
        }
        return line.rfind("READY COM" + std::to_string(com) + " ", 0) == 0;
    }

    // Sends the signal and reaps the child; its exit status (-1 when not running).
    int stop(int signal) {
        if (pid <= 0) {
            return -1;
        }
        ::kill(pid, signal);
        int status = 0;
        waitpid(pid, &status, 0);
        pid = -1;
        ::close(output);
        output = -1;
        return status;
    }

private:
    pid_t pid = -1;
    int output = -1;
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
