// uart-probe: the helper of scripts/test-uart.sh, in the QEMU guest beside
// the real drivers and on the host. Each mode prints one line of figures and
// exits 0 when its check passed, 1 when not, 64 on bad usage.
//
//   uart-probe ports
//       the port scan: one "COMn device" line per port, as the dialog lists them
//   uart-probe exchanges [code=N] [count=N] [extended=N] [data=A,B,C,D] [min-ms=M]
//       velkctl's JSON lines on stdin: every exchange has that code (and
//       extended bytes, answer data), there are count of them, none faster
//       than min-ms; prints how many, their codes and response times
//   uart-probe rts DEVICE BAUD HOST_ROUND_NS -- COMMAND...
//       runs COMMAND and samples RTS and the bytes moved until it ends: RTS
//       high while bytes go out, low again by 5 ms after their end on the
//       wire in the median (each single time within 5 ms times as much as
//       the guest is slower than the host, see calibrate), never high while
//       answer bytes come in. A UART is sampled
//       through its driver (opened first: opening raises RTS, the master's
//       open drops it again), a USB adapter through usbmon
//   uart-probe calibrate
//       ns per round of a fixed piece of work (see calibrate())
//   uart-probe replug DEVICE HOST_ROUND_NS -- COMMAND...
//       runs COMMAND (velkctl --json, cyclic), has the host unplug DEVICE and
//       plug it back (a line "@@host unplug" / "@@host replug" on stderr, the
//       reply on stdin): port_lost and port_reopened are reported, the
//       command takes at most 1 % of the host's processor while the device
//       is gone (the guest's figure over how much slower calibrate runs here
//       than the HOST_ROUND_NS the host measured), and its first good
//       exchange comes within 1 s of the device's return

#include "PortNames.h"
#include "RtsTimeline.h"
#include "SerialLineSetup.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <iostream>
#include <linux/serial.h>
#include <mutex>
#include <pthread.h>
#include <sched.h>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <time.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

constexpr int exitFailed = 1;
constexpr int exitUsage = 64;
constexpr double rtsLimitMs = 5.0;

std::int64_t nowNs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return std::int64_t(t.tv_sec) * 1000000000 + t.tv_nsec;
}

bool exists(const std::string& path) {
    struct stat entry;
    return stat(path.c_str(), &entry) == 0;
}

int usage() {
    std::fprintf(stderr,
                 "usage: uart-probe ports | exchanges [code=N] [count=N] [extended=N] "
                 "[data=A,B,C,D] [min-ms=M] | rts DEVICE BAUD HOST_ROUND_NS -- COMMAND... | "
                 "calibrate "
                 "| replug DEVICE HOST_ROUND_NS -- COMMAND...\n");
    return exitUsage;
}

// A child process; with pipeOut its stdout goes to a pipe and its stderr
// nowhere, since the probe's own stderr talks to the host.
class Child {
public:
    bool start(char** argv, bool pipeOut) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        int fds[2] = {-1, -1};
        if (pipeOut) {
            if (pipe2(fds, O_CLOEXEC) != 0) {
                return false;
            }
            posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
            posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        }
        const int error = posix_spawnp(&pid, argv[0], &actions, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        if (pipeOut) {
            ::close(fds[1]);
            out = fds[0];
        }
        return error == 0;
    }
    int wait() {
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    ~Child() {
        if (pid > 0) {
            kill(pid, SIGKILL);
            wait();
        }
        if (out >= 0) {
            ::close(out);
        }
    }
    pid_t pid = -1;
    int out = -1;
};

// ---- exchanges ------------------------------------------------------------

int exchanges(int argc, char** argv) {
    long code = -1;
    long count = -1;
    long extended = -1;
    double minMs = -1;
    std::vector<std::string> data;
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto eq = arg.find('=');
        if (eq == std::string::npos) {
            return usage();
        }
        const std::string key = arg.substr(0, eq);
        const std::string value = arg.substr(eq + 1);
        if (key == "code") {
            code = std::stol(value);
        } else if (key == "count") {
            count = std::stol(value);
        } else if (key == "extended") {
            extended = std::stol(value);
        } else if (key == "min-ms") {
            minMs = std::stod(value);
        } else if (key == "data") {
            for (std::size_t start = 0;;) {
                const auto comma = value.find(',', start);
                data.push_back(value.substr(start, comma - start));
                if (comma == std::string::npos) {
                    break;
                }
                start = comma + 1;
            }
        } else {
            return usage();
        }
    }
    std::vector<double> times;
    std::vector<std::string> faults;
    long seen = 0;
    std::string line;
    while (std::getline(std::cin, line)) {
        const nlohmann::json record = nlohmann::json::parse(line, nullptr, false);
        if (record.is_discarded() || !record.is_object() ||
            record.value("type", "") != "exchange") {
            continue;
        }
        ++seen;
        const long got = record.value("error_code", -1L);
        const double ms = record.value("response_ms", -1.0);
        times.push_back(ms);
        const std::string at = "#" + std::to_string(seen) + ": ";
        if (code >= 0 && got != code) {
            faults.push_back(at + "code " + std::to_string(got));
        }
        if (extended >= 0 && record.value("extended_count", -1L) != extended) {
            faults.push_back(at + std::to_string(record.value("extended_count", -1L)) +
                             " extended bytes");
        }
        if (minMs >= 0 && ms < minMs) {
            faults.push_back(at + std::to_string(ms) + " ms");
        }
        for (std::size_t i = 0; i < data.size(); ++i) {
            const auto& answer = record["answer"];
            const std::string name = "data_" + std::to_string(i);
            const std::string value =
                answer.is_object() ? answer.value(name, std::string("?")) : std::string("-");
            if (strcasecmp(value.c_str(), data[i].c_str()) != 0) {
                faults.push_back(at + name + " " + value);
            }
        }
    }
    if (count >= 0 && seen != count) {
        faults.push_back(std::to_string(seen) + " exchanges, not " + std::to_string(count));
    }
    std::sort(times.begin(), times.end());
    const double median = times.empty() ? 0 : times[times.size() / 2];
    const double largest = times.empty() ? 0 : times.back();
    std::printf("%ld exchanges, response median %.2f ms, max %.2f ms", seen, median, largest);
    if (!faults.empty()) {
        std::printf("; wrong: %s", faults.front().c_str());
        if (faults.size() > 1) {
            std::printf(" and %zu more", faults.size() - 1);
        }
    }
    std::printf("\n");
    return faults.empty() && seen > 0 ? 0 : exitFailed;
}

// ---- calibrate --------------------------------------------------------------

// A fixed piece of work like a master's idle round (a time stamp, a
// formatted record, a system call), on the thread's own CPU clock: ns per
// round, the best of three. Its ratio between the guest and the host is how
// much slower the emulated machine runs such work.
double calibrate() {
    const int sink = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    const auto cpuNow = [] {
        timespec t{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return std::int64_t(t.tv_sec) * 1000000000 + t.tv_nsec;
    };
    constexpr int rounds = 20000;
    double best = 0;
    for (int run = 0; run < 3; ++run) {
        const std::int64_t start = cpuNow();
        for (int i = 0; i < rounds; ++i) {
            timespec now{};
            clock_gettime(CLOCK_REALTIME, &now);
            char line[160];
            const int n =
                std::snprintf(line, sizeof line, "{\"seq\":%d,\"time\":%lld.%09ld,\"ms\":%.3f}\n",
                              i, static_cast<long long>(now.tv_sec), now.tv_nsec, i * 1e-3);
            if (::write(sink, line, static_cast<std::size_t>(n)) < 0) {
                break;
            }
        }
        const double ns = double(cpuNow() - start) / rounds;
        best = run == 0 ? ns : std::min(best, ns);
    }
    ::close(sink);
    return best;
}

// ---- rts ------------------------------------------------------------------

// Sleeps until periodUs after the last wake-up (on CLOCK_MONOTONIC). The
// probe runs above the master: each sample is time taken from it, and an
// emulator on a loaded machine makes that time long.
void tick(timespec& next, long periodUs) {
    next.tv_nsec += periodUs * 1000;
    if (next.tv_nsec >= 1000000000) {
        next.tv_nsec -= 1000000000;
        ++next.tv_sec;
    }
    clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
}

// Above the master's time-critical workers, so that no stretch of RTS falls
// between two samples; below the kernel's interrupt threads.
void runAboveTheMaster() {
    sched_param realTime{};
    realTime.sched_priority = 40;
    pthread_setschedparam(pthread_self(), SCHED_FIFO, &realTime);
}

// A UART's lines and counters as its driver keeps them: cheap to ask.
bool sampleDriver(const std::string& device, const std::atomic<bool>& stop,
                  std::vector<LineSample>& samples) {
    const int fd = ::open(device.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    bool ok = true;
    timespec next{};
    clock_gettime(CLOCK_MONOTONIC, &next);
    while (!stop) {
        int lines = 0;
        serial_icounter_struct counters{};
        if (ioctl(fd, TIOCMGET, &lines) != 0 || ioctl(fd, TIOCGICOUNT, &counters) != 0) {
            ok = false;
            break;
        }
        LineSample sample;
        sample.ns = nowNs();
        sample.rts = (lines & TIOCM_RTS) != 0;
        sample.tx = static_cast<std::uint32_t>(counters.tx);
        sample.rx = static_cast<std::uint32_t>(counters.rx);
        samples.push_back(sample);
        tick(next, 200);
    }
    ::close(fd);
    return ok;
}

// A USB adapter's RTS and bytes as its USB traffic shows them (usbmon's text
// interface), when the adapter took them. Asking its driver instead
// (TIOCMGET on ftdi_sio) sends a control request per sample, which holds up
// the master's own requests for RTS.
class UsbTraffic {
public:
    static constexpr const char* path = "/sys/kernel/debug/usb/usbmon/0u";

    bool open() {
        fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        return fd >= 0;
    }
    ~UsbTraffic() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    // Takes in what usbmon has seen since; each change of the line becomes
    // a sample at usbmon's time stamp.
    void poll() {
        char buffer[16384];
        for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) {
            pending.append(buffer, static_cast<std::size_t>(n));
            for (auto end = pending.find('\n'); end != std::string::npos;
                 end = pending.find('\n')) {
                take(pending.substr(0, end));
                pending.erase(0, end + 1);
            }
        }
    }
    std::vector<LineSample> changes;

private:
    // "TAG STAMP S Co:BUS:DEV:EP s 40 01 VALUE ..." asks the FTDI adapter to
    // set its modem lines (VALUE: mask in the high byte, level in the low
    // one, RTS bit 2); "TAG STAMP C ADDRESS STATUS LENGTH ..." completes a
    // request: bulk out bytes sent, bulk in bytes received (each packet of up
    // to 64 bytes begins with two status bytes).
    void take(const std::string& text) {
        std::istringstream in(text);
        std::string tag, event, address;
        std::int64_t stampUs = 0;
        if (!(in >> tag >> stampUs >> event >> address) || address.size() < 3) {
            return;
        }
        const std::string kind = address.substr(0, 3);
        if (event == "S" && kind == "Co:") {
            std::string setup, type, request, value;
            if (in >> setup >> type >> request >> value && setup == "s" && type == "40" &&
                request == "01") {
                const int lines = std::stoi(value, nullptr, 16);
                // RTS counts as up once the adapter has it, and as down
                // once the master asks: the bus's own delay is not its.
                if ((lines & 0x0202) == 0x0200) {
                    line.rts = false;
                    line.ns = stampUs * 1000;
                    changes.push_back(line);
                } else {
                    rtsRequests.emplace_back(tag, lines);
                }
            }
            return;
        }
        long status = -1;
        long length = 0;
        if (event != "C" || !(in >> status >> length) || status != 0) {
            return;
        }
        if (kind == "Co:") {
            for (auto it = rtsRequests.begin(); it != rtsRequests.end(); ++it) {
                if (it->first == tag) {
                    if ((it->second & 0x0200) != 0) {
                        line.rts = (it->second & 0x02) != 0;
                    }
                    rtsRequests.erase(it);
                    break;
                }
            }
        } else if (kind == "Bo:") {
            line.tx += static_cast<std::uint32_t>(length);
        } else if (kind == "Bi:") {
            line.rx += static_cast<std::uint32_t>(length - 2 * ((length + 63) / 64));
        } else {
            return;
        }
        line.ns = stampUs * 1000;
        changes.push_back(line);
    }

    int fd = -1;
    std::string pending;
    LineSample line;
    std::vector<std::pair<std::string, int>> rtsRequests;
};

// The time usbmon stamps with: monotonic microseconds, seconds modulo 4096.
std::int64_t usbmonNowNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (std::int64_t(now.tv_sec & 0xFFF) * 1000000 + now.tv_nsec / 1000) * 1000;
}

// The changes, with the probe's own ticks between them: a tick missing
// tells that the guest stood still.
std::vector<LineSample> mergeTicks(const std::vector<LineSample>& changes,
                                   const std::vector<std::int64_t>& ticks) {
    std::vector<LineSample> samples;
    LineSample line;
    std::size_t c = 0;
    // The stamps wrap every 4096 s: a run that crosses the wrap counts on.
    const std::int64_t wrapNs = std::int64_t(4096) * 1000000000;
    const auto unwrapped = [&](std::int64_t ns) {
        return !ticks.empty() && ns < ticks.front() - wrapNs / 2 ? ns + wrapNs : ns;
    };
    for (const std::int64_t t : ticks) {
        for (; c < changes.size() && unwrapped(changes[c].ns) <= unwrapped(t); ++c) {
            line = changes[c];
            line.ns = unwrapped(line.ns);
            samples.push_back(line);
        }
        line.ns = unwrapped(t);
        samples.push_back(line);
    }
    return samples;
}

// The floor: what a master must do for a transmission and nothing more, on
// one thread: RTS up, one write per byte, the output queue empty and the
// bytes' time on the wire passed, 2 ms, RTS down; every 20 ms, count times.
bool floorTransmissions(const std::string& device, unsigned baud, int count) {
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 || setUpSerialLine(fd, baud, 0).reason != OpenFailure::None) {
        if (fd >= 0) {
            ::close(fd);
        }
        return false;
    }
    const int rts = TIOCM_RTS;
    const int both = TIOCM_RTS | TIOCM_DTR;
    bool ok = ioctl(fd, TIOCMBIC, &both) == 0;
    const unsigned char request[18] = {0x80, 1, 0, 0, 0, 5, 0xC0, 0x1F, 0,
                                       0x10, 2, 0, 1, 2, 3, 4,    0,    0x55};
    const std::int64_t characterNs = 10 * std::int64_t(1000000000) / baud;
    for (int i = 0; i < count && ok; ++i) {
        tcflush(fd, TCIOFLUSH);
        ok = ioctl(fd, TIOCMBIS, &rts) == 0;
        std::int64_t wireEndNs = nowNs();
        for (const unsigned char byte : request) {
            while (ok && ::write(fd, &byte, 1) != 1) {
                ok = errno == EAGAIN || errno == EINTR;
                usleep(50);
            }
            wireEndNs = std::max(wireEndNs, nowNs()) + characterNs;
        }
        int queued = 0;
        while (ok && ioctl(fd, TIOCOUTQ, &queued) == 0 && queued > 0) {
            usleep(100);
        }
        const std::int64_t untilNs = std::max(wireEndNs, nowNs()) + 2000000;
        for (std::int64_t leftNs = untilNs - nowNs(); leftNs > 0; leftNs = untilNs - nowNs()) {
            usleep(static_cast<useconds_t>(leftNs / 1000));
        }
        ok = ok && ioctl(fd, TIOCMBIC, &rts) == 0;
        usleep(20000);
    }
    ::close(fd);
    return ok;
}

// The samples taken between two moments.
std::vector<LineSample> between(const std::vector<LineSample>& samples, std::int64_t from,
                                std::int64_t to) {
    std::vector<LineSample> part;
    for (const LineSample& sample : samples) {
        if (sample.ns >= from && sample.ns <= to) {
            part.push_back(sample);
        }
    }
    return part;
}

int rts(const std::string& device, unsigned baud, double hostRoundNs, char** command) {
    UsbTraffic traffic;
    const bool usb = device.find("ttyUSB") != std::string::npos && traffic.open();
    const auto now = [usb] { return usb ? usbmonNowNs() : nowNs(); };
    std::vector<LineSample> samples;
    std::vector<std::int64_t> ticks;
    samples.reserve(400000);
    ticks.reserve(400000);
    std::atomic<bool> stop{false};
    bool sampled = true;
    std::thread sampler([&] {
        runAboveTheMaster();
        if (!usb) {
            sampled = sampleDriver(device, stop, samples);
            return;
        }
        timespec next{};
        clock_gettime(CLOCK_MONOTONIC, &next);
        while (!stop) {
            traffic.poll();
            ticks.push_back(usbmonNowNs());
            tick(next, 250);
        }
    });
    // The floor and then the master open the device after the probe's
    // sampler: opening raises RTS.
    usleep(100000);
    const std::int64_t floorFrom = now();
    const bool floorOk = floorTransmissions(device, baud, 30);
    const std::int64_t floorTo = now();
    usleep(50000);
    const std::int64_t masterFrom = now();
    Child child;
    int status = exitFailed;
    if (child.start(command, false)) {
        status = child.wait();
    }
    const std::int64_t masterTo = now();
    stop = true;
    sampler.join();
    if (usb) {
        traffic.poll();
        samples = mergeTicks(traffic.changes, ticks);
    }
    if (!sampled || !floorOk) {
        std::printf("the driver of %s does not report its lines or counters, or the floor "
                    "could not drive it\n",
                    device.c_str());
        return exitFailed;
    }
    // Single transmissions may take as much longer as the emulator is slower,
    // never as long as a third of the write time-out (151 ms) that a drain
    // waiting for nothing ends at. The median may exceed the floor's, done in
    // the same guest at the same time, by what 5 ms leave beyond the 2 ms
    // tail.
    const double slower = std::max(1.0, calibrate() / hostRoundNs);
    const double worstMs = std::min(rtsLimitMs * slower, 50.0);
    const RtsVerdict floor =
        judgeRts(between(samples, floorFrom, floorTo), baud, 10, rtsLimitMs, worstMs);
    const double limitMs = std::max(rtsLimitMs, floor.medianTailMs + rtsLimitMs - 2);
    const RtsVerdict verdict =
        judgeRts(between(samples, masterFrom, masterTo), baud, 10, limitMs, worstMs);
    std::printf("%s; floor: median %.2f ms, max %.2f ms (%s); %s exit %d\n", verdict.text().c_str(),
                floor.medianTailMs, floor.worstTailMs,
                usb ? "as the adapter got them, usbmon" : "as the driver holds them", command[0],
                status);
    return verdict.passed() && status == 0 ? 0 : exitFailed;
}

// ---- replug ---------------------------------------------------------------

// The records of a running velkctl --json, each stamped as it arrives.
class RecordReader {
public:
    explicit RecordReader(int fd) : fd(fd), thread([this] { run(); }) {}
    ~RecordReader() { thread.join(); }

    struct Record {
        std::int64_t ns;
        long code;
        bool lost;
        bool reopened;
    };

    // Waits up to ms for a record after index `from` that pred accepts;
    // returns its index, or -1.
    template <class Pred> long waitFor(std::size_t from, int ms, Pred pred) {
        std::unique_lock<std::mutex> lock(mutex);
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        for (;;) {
            for (std::size_t i = from; i < records.size(); ++i) {
                if (pred(records[i])) {
                    return static_cast<long>(i);
                }
            }
            from = records.size();
            if (ended || changed.wait_until(lock, until) == std::cv_status::timeout) {
                return -1;
            }
        }
    }
    Record at(std::size_t i) {
        std::lock_guard<std::mutex> lock(mutex);
        return records[i];
    }
    std::size_t size() {
        std::lock_guard<std::mutex> lock(mutex);
        return records.size();
    }

private:
    void run() {
        std::string pending;
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n <= 0) {
                if (n < 0 && errno == EINTR) {
                    continue;
                }
                break;
            }
            const std::int64_t ns = nowNs();
            pending.append(buffer, static_cast<std::size_t>(n));
            for (auto end = pending.find('\n'); end != std::string::npos;
                 end = pending.find('\n')) {
                const auto json = nlohmann::json::parse(pending.substr(0, end), nullptr, false);
                pending.erase(0, end + 1);
                if (json.is_object() && json.value("type", "") == "exchange") {
                    std::lock_guard<std::mutex> lock(mutex);
                    records.push_back(Record{ns, json.value("error_code", -1L),
                                             json.value("port_lost", false),
                                             json.value("port_reopened", false)});
                    changed.notify_all();
                }
            }
        }
        std::lock_guard<std::mutex> lock(mutex);
        ended = true;
        changed.notify_all();
    }

    int fd;
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<Record> records;
    bool ended = false;
    std::thread thread;
};

// CPU time of every thread of a process, in ns.
std::int64_t cpuNs(pid_t pid) {
    const std::string folder = "/proc/" + std::to_string(pid) + "/task";
    DIR* tasks = opendir(folder.c_str());
    if (tasks == nullptr) {
        return -1;
    }
    std::int64_t total = 0;
    while (const dirent* entry = readdir(tasks)) {
        if (entry->d_name[0] == '.') {
            continue;
        }
        std::ifstream stat(folder + "/" + entry->d_name + "/schedstat");
        std::int64_t ns = 0;
        if (stat >> ns) {
            total += ns;
        }
    }
    closedir(tasks);
    return total;
}

bool waitForPath(const std::string& path, bool present, int ms, std::int64_t& at) {
    const std::int64_t until = nowNs() + std::int64_t(ms) * 1000000;
    while (nowNs() < until) {
        if (exists(path) == present) {
            at = nowNs();
            return true;
        }
        usleep(5000);
    }
    return false;
}

// Asks the host for an action and waits for its answer line.
bool askHost(const std::string& action) {
    std::fprintf(stderr, "@@host %s\n", action.c_str());
    std::fflush(stderr);
    std::string reply;
    return std::getline(std::cin, reply) && reply.rfind("@@ok", 0) == 0;
}

int replug(const std::string& device, double hostRoundNs, char** command) {
    Child child;
    if (!child.start(command, true)) {
        std::printf("cannot run %s\n", command[0]);
        return exitFailed;
    }
    int result = exitFailed;
    std::string fault;
    {
        RecordReader reader(child.out);
        std::int64_t goneAt = 0;
        std::int64_t backAt = 0;
        double cpuPercent = -1;
        double goneSeconds = 0;
        long lost = -1;
        long good = -1;
        bool reopened = false;
        const auto isGood = [](const RecordReader::Record& r) { return r.code == 0; };
        if (reader.waitFor(0, 20000, [&, n = 0](const RecordReader::Record& r) mutable {
                return isGood(r) && ++n == 3;
            }) < 0) {
            fault = "no good exchanges before the unplug";
        } else if (!askHost("unplug")) {
            fault = "the host did not unplug the device";
        } else if (!waitForPath(device, false, 15000, goneAt)) {
            fault = device + " did not go away";
        } else if ((lost = reader.waitFor(
                        0, 5000, [](const RecordReader::Record& r) { return r.lost; })) < 0) {
            fault = "no port_lost";
        } else {
            // The CPU the master takes while nothing is there to open.
            const std::int64_t cpuBefore = cpuNs(child.pid);
            const std::int64_t wallBefore = nowNs();
            usleep(3000000);
            const std::int64_t cpuAfter = cpuNs(child.pid);
            goneSeconds = (nowNs() - wallBefore) / 1e9;
            cpuPercent = 100.0 * (cpuAfter - cpuBefore) / (goneSeconds * 1e9);
            const std::size_t before = reader.size();
            if (!askHost("replug")) {
                fault = "the host did not plug the device back";
            } else if (!waitForPath(device, true, 20000, backAt)) {
                fault = device + " did not come back";
            } else if ((good = reader.waitFor(before, 10000, [&](const RecordReader::Record& r) {
                           reopened = reopened || r.reopened;
                           return isGood(r) && r.ns > backAt;
                       })) < 0) {
                fault = "no good exchange after the return";
            } else if (!reopened) {
                fault = "no port_reopened";
            }
        }
        kill(child.pid, SIGTERM);
        const int status = child.wait();
        const double firstGoodS = good >= 0 ? (reader.at(std::size_t(good)).ns - backAt) / 1e9 : -1;
        // The emulator runs everything slower than the host: the share of
        // the host's processor the same work takes there.
        const double slower = std::max(1.0, calibrate() / hostRoundNs);
        const double hostPercent = cpuPercent / slower;
        std::printf("port_lost %s, port_reopened %s; CPU while gone %.2f %% of the host's "
                    "processor (limit 1 %%; %.2f %% in the guest, %.0fx slower) over %.1f s; "
                    "first good exchange %.3f s after the device returned (limit 1 s); exit %d",
                    lost >= 0 ? "reported" : "missing", reopened ? "reported" : "missing",
                    hostPercent, cpuPercent, slower, goneSeconds, firstGoodS, status);
        if (fault.empty() && (cpuPercent < 0 || hostPercent > 1.0)) {
            fault = "too much CPU while gone";
        }
        if (fault.empty() && firstGoodS > 1.0) {
            fault = "late after the return";
        }
        result = fault.empty() ? 0 : exitFailed;
    }
    std::printf("%s%s\n", fault.empty() ? "" : "; ", fault.c_str());
    return result;
}

} // namespace

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    if (argc < 2) {
        return usage();
    }
    const std::string mode = argv[1];
    if (mode == "ports" && argc == 2) {
        for (const PortInfo& port : scanPorts()) {
            std::printf("%s %s\n", port.name.c_str(), port.device.c_str());
        }
        return 0;
    }
    if (mode == "exchanges") {
        return exchanges(argc - 2, argv + 2);
    }
    if (mode == "calibrate" && argc == 2) {
        std::printf("%.1f\n", calibrate());
        return 0;
    }
    if (mode == "rts" && argc > 6 && std::strcmp(argv[5], "--") == 0 && std::stod(argv[4]) > 0) {
        return rts(argv[2], static_cast<unsigned>(std::stoul(argv[3])), std::stod(argv[4]),
                   argv + 6);
    }
    if (mode == "replug" && argc > 5 && std::strcmp(argv[4], "--") == 0 && std::stod(argv[3]) > 0) {
        return replug(argv[2], std::stod(argv[3]), argv + 5);
    }
    return usage();
}
