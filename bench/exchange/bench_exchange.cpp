// Times whole exchanges of Velk21Session against velk-sim (echo) over a
// pseudo-terminal, the CPU that they and an open, idle session cost, and the
// RTS tail. Beside it, in the same run, a floor: the same bytes exchanged
// raw over the same kind of pseudo-terminal (one write of the request,
// blocking reads of the answer, one thread, no session); our figures are
// also printed as ratios to it. The two alternate in rounds, so that a
// neighbour's load on a shared machine falls on both alike.
//
//   bench_exchange [exchanges] [idle seconds] [rounds]   (defaults 2000, 5, 8)
//
// Every session exchange includes the 2 ms that RTS must stay high after
// the last byte; "beyond the tail" is what the exchange costs on top of it.
// The RTS tail is timed at the device: from the return of the drain (the
// last byte has left) to the call that drops RTS.
//
// A second floor does the work that the port must do, and nothing else, on
// one thread: the purge before the request, one write per byte, the drain,
// the 2 ms tail as one absolute sleep, one read per byte of the answer. What
// the master spends above it is the price of its threads and hand-overs.

#include "PortNames.h"
#include "PosixSerialDevice.h"
#include "SerialLineSetup.h"
#include "Velk21Session.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <memory>
#include <string>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

const double rtsTailMs = 2.0;
const int com = 201;
const unsigned baudRate = 1000000;
const unsigned answerSize = 12;

double cpuSeconds() {
    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Times the process's threads went to sleep (voluntary context switches):
// each is a wake-up later.
long sleeps() {
    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_nvcsw;
}

long processSleeps(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("voluntary_ctxt_switches:", 0) == 0) {
            return std::stol(line.substr(line.find(':') + 1));
        }
    }
    return 0;
}

// CPU seconds used so far by a single-threaded process, to the nanosecond
// (/proc/stat's clock ticks are too coarse for a round).
double processCpuSeconds(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/schedstat");
    unsigned long long ns = 0;
    stat >> ns;
    return double(ns) / 1e9;
}

double percentile(std::vector<double> values, double p) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    const size_t index = std::min(values.size() - 1, size_t(p * (values.size() - 1) + 0.5));
    return values[index];
}

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

struct Simulator {
    pid_t pid = -1;

    bool start() {
        int out[2];
        if (pipe(out) != 0) {
            return false;
        }
        pid = fork();
        if (pid == 0) {
            dup2(out[1], STDOUT_FILENO);
            close(out[0]);
            close(out[1]);
            const std::string n = std::to_string(com);
            execl(VELK_SIM_PATH, "velk-sim", "--com", n.c_str(), "--quiet", nullptr);
            _exit(127);
        }
        close(out[1]);
        std::string line;
        char c = 0;
        while (read(out[0], &c, 1) == 1 && c != '\n') {
            line += c;
        }
        close(out[0]);
        std::printf("simulator: %s\n", line.c_str());
        return line.rfind("READY", 0) == 0;
    }

    ~Simulator() {
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
    }
};

// The real device, with the RTS tail timed: from the drain's return to the
// next call that drops RTS.
class TailTimedDevice : public ISerialDevice {
public:
    explicit TailTimedDevice(std::vector<double>& tailsMs) : tails(tailsMs) {}

    bool open(const std::string& path) override { return device.open(path); }
    void close() override { device.close(); }
    bool isOpen() const override { return device.isOpen(); }
    bool configure(unsigned baud, int parity) override { return device.configure(baud, parity); }
    bool setRts(bool high) override {
        if (!high && drained) {
            tails.push_back(msSince(drainedAt));
            drained = false;
        }
        return device.setRts(high);
    }
    bool writeByte(unsigned char byte, unsigned timeoutMs, unsigned& written) override {
        return device.writeByte(byte, timeoutMs, written);
    }
    bool drain(unsigned timeoutMs) override {
        const bool ok = device.drain(timeoutMs);
        drainedAt = Clock::now();
        drained = true;
        return ok;
    }
    bool read(unsigned char* buffer, unsigned count, unsigned timeoutMs, unsigned& got) override {
        return device.read(buffer, count, timeoutMs, got);
    }
    bool purge() override { return device.purge(); }
    bool clearErrors(bool* parityError) override { return device.clearErrors(parityError); }
    void wake() override { device.wake(); }

private:
    PosixSerialDevice device;
    std::vector<double>& tails;
    Clock::time_point drainedAt;
    bool drained = false;
};

const Velk21AddressBlockKernel address(Velk21Address(1, 0, 0, 0), 0);

Velk21DataBlockKernel request(int i) {
    return Velk21DataBlockKernel(Velk21ParameterId(0x10, static_cast<unsigned char>(i)), 0x05, 0, 0,
                                 0, 0, 0, 0, 0);
}

// The bytes that the session puts on the wire for request(i).
std::vector<unsigned char> requestBytes(int i) {
    Velk21AddressBlockPacketPackager addressPackager;
    Velk21DataBlockPacketPackager dataPackager;
    Velk21DataBlockKernel data = request(i);
    DataBlock<unsigned char> block;
    block.resize(addressPackager.size(address) + dataPackager.size(data), 0);
    unsigned position = 0;
    addressPackager.pack(block, position, address);
    dataPackager.pack(block, position, data);
    return std::vector<unsigned char>(block.data(), block.data() + block.size());
}

struct Figures {
    std::vector<double> ms;
    double cpu = 0;
    double simCpu = 0;
    long sleeps = 0;
    long simSleeps = 0;
    int count = 0;
    int failures = 0;
    // The master's share by thread: the one that calls exchange(), and the
    // port's workers.
    double callerCpu = 0;
    double workerCpu = 0;
    long callerRuns = 0;
    long workerRuns = 0;
};

// CPU seconds and times scheduled in of one thread of this process.
struct ThreadUse {
    double cpu = 0;
    long runs = 0;
};

ThreadUse threadUse(const std::string& tid) {
    std::ifstream stat("/proc/self/task/" + tid + "/schedstat");
    unsigned long long ns = 0;
    unsigned long long waited = 0;
    long runs = 0;
    stat >> ns >> waited >> runs;
    return {double(ns) / 1e9, runs};
}

std::string ownTid() {
    return std::to_string(static_cast<long>(gettid()));
}

// Every thread of this process but the caller's: while a session round
// runs, that is the port's two workers.
ThreadUse otherThreadsUse() {
    ThreadUse sum;
    const std::string own = ownTid();
    DIR* tasks = opendir("/proc/self/task");
    if (tasks == nullptr) {
        return sum;
    }
    while (const dirent* entry = readdir(tasks)) {
        const std::string tid = entry->d_name;
        if (tid == "." || tid == ".." || tid == own) {
            continue;
        }
        const ThreadUse use = threadUse(tid);
        sum.cpu += use.cpu;
        sum.runs += use.runs;
    }
    closedir(tasks);
    return sum;
}

// What the master and the simulator have used so far.
struct Sample {
    explicit Sample(pid_t sim)
        : cpu(cpuSeconds()), simCpu(processCpuSeconds(sim)), sleeps(::sleeps()),
          simSleeps(processSleeps(sim)) {}
    void addTo(Figures& figures, pid_t sim) const {
        figures.cpu += cpuSeconds() - cpu;
        figures.simCpu += processCpuSeconds(sim) - simCpu;
        figures.sleeps += ::sleeps() - sleeps;
        figures.simSleeps += processSleeps(sim) - simSleeps;
    }
    double cpu;
    double simCpu;
    long sleeps;
    long simSleeps;
};

// The floor: one write of the request, blocking reads of the answer (VTIME
// bounds each read, so a silent simulator shows as a failure, not a hang).
class RawLine {
public:
    bool open(const std::string& path) {
        fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (fd < 0) {
            return false;
        }
        // The port's own line, but reads that block for up to 0.2 s.
        termios settings{};
        if (setUpSerialLine(fd, 1000000, 0).reason != OpenFailure::None ||
            tcgetattr(fd, &settings) != 0) {
            return false;
        }
        settings.c_cc[VTIME] = 2;
        return tcsetattr(fd, TCSANOW, &settings) == 0 && tcflush(fd, TCIOFLUSH) == 0;
    }
    ~RawLine() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    bool exchange(const std::vector<unsigned char>& bytes) {
        if (write(fd, bytes.data(), bytes.size()) != ssize_t(bytes.size())) {
            return false;
        }
        unsigned char answer[answerSize];
        for (unsigned got = 0; got < answerSize;) {
            const ssize_t n = ::read(fd, answer + got, answerSize - got);
            if (n <= 0) {
                return false;
            }
            got += unsigned(n);
        }
        return true;
    }
    bool exchangeByteByByte(const std::vector<unsigned char>& bytes) {
        if (tcflush(fd, TCIOFLUSH) != 0) {
            return false;
        }
        timespec wireEnd{};
        clock_gettime(CLOCK_MONOTONIC, &wireEnd);
        for (const unsigned char byte : bytes) {
            if (write(fd, &byte, 1) != 1) {
                return false;
            }
        }
        int queued = 0;
        while (ioctl(fd, TIOCOUTQ, &queued) == 0 && queued > 0) {
            usleep(100);
        }
        // As the port: the tail counts from the bytes' end on the wire (10
        // bits each at 1000000 baud), or from now if the queue took longer.
        const auto later = [](timespec t, long ns) {
            t.tv_nsec += ns;
            t.tv_sec += t.tv_nsec / 1000000000L;
            t.tv_nsec %= 1000000000L;
            return t;
        };
        wireEnd = later(wireEnd, long(bytes.size()) * 10000);
        timespec until{};
        clock_gettime(CLOCK_MONOTONIC, &until);
        if (wireEnd.tv_sec > until.tv_sec ||
            (wireEnd.tv_sec == until.tv_sec && wireEnd.tv_nsec > until.tv_nsec)) {
            until = wireEnd;
        }
        until = later(until, long(rtsTailMs * 1e6));
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
        }
        unsigned char answer[answerSize];
        for (unsigned got = 0; got < answerSize; ++got) {
            if (::read(fd, answer + got, 1) != 1) {
                return false;
            }
        }
        return true;
    }

private:
    int fd = -1;
};

bool floorRound(const std::string& path, const std::vector<std::vector<unsigned char>>& requests,
                int first, int count, pid_t sim, Figures& figures, bool byteByByte) {
    RawLine line;
    if (!line.open(path)) {
        return false;
    }
    const Sample before(sim);
    for (int i = first; i < first + count; ++i) {
        const Clock::time_point start = Clock::now();
        const std::vector<unsigned char>& bytes = requests[size_t(i) % requests.size()];
        const bool ok = byteByByte ? line.exchangeByteByByte(bytes) : line.exchange(bytes);
        figures.failures += ok ? 0 : 1;
        figures.ms.push_back(msSince(start));
    }
    before.addTo(figures, sim);
    figures.count += count;
    return true;
}

bool exchangeOnce(Velk21Session& session, int i) {
    Velk21DataBlockKernel data = request(i);
    DataBlock<unsigned char> extended;
    int error = -1;
    return session.exchange(address, data, extended, 0, 150, &error);
}

bool sessionRound(int first, int count, pid_t sim, Figures& figures, std::vector<double>& tails) {
    Velk21Session session("COM" + std::to_string(com), baudRate,
                          std::make_unique<TailTimedDevice>(tails));
    if (!session.isOpen()) {
        return false;
    }
    const Sample before(sim);
    const ThreadUse callerBefore = threadUse(ownTid());
    const ThreadUse workersBefore = otherThreadsUse();
    for (int i = first; i < first + count; ++i) {
        const Clock::time_point start = Clock::now();
        figures.failures += exchangeOnce(session, i) ? 0 : 1;
        figures.ms.push_back(msSince(start));
    }
    const ThreadUse callerAfter = threadUse(ownTid());
    const ThreadUse workersAfter = otherThreadsUse();
    before.addTo(figures, sim);
    figures.callerCpu += callerAfter.cpu - callerBefore.cpu;
    figures.callerRuns += callerAfter.runs - callerBefore.runs;
    figures.workerCpu += workersAfter.cpu - workersBefore.cpu;
    figures.workerRuns += workersAfter.runs - workersBefore.runs;
    figures.count += count;
    return true;
}

double ratio(double ours, double floor) {
    return floor > 0 ? ours / floor : 0;
}

} // namespace

int main(int argc, char** argv) {
    const int exchanges = argc > 1 ? std::atoi(argv[1]) : 2000;
    const int idleSeconds = argc > 2 ? std::atoi(argv[2]) : 5;
    const int rounds = argc > 3 ? std::atoi(argv[3]) : 8;
    if (exchanges <= 0 || idleSeconds < 0 || rounds <= 0 || rounds > exchanges) {
        std::fprintf(stderr, "usage: bench_exchange [exchanges] [idle seconds] [rounds]\n");
        return 64;
    }

    // The link goes into a ports folder of our own, never the user's.
    char folder[] = "/tmp/velk-bench-XXXXXX";
    if (mkdtemp(folder) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    setenv("XDG_CONFIG_HOME", folder, 1);

    int status = 0;
    {
        Simulator sim;
        if (!sim.start()) {
            std::fprintf(stderr, "velk-sim did not start\n");
            return 1;
        }
        const std::string path = resolvePortName("COM" + std::to_string(com));
        std::vector<std::vector<unsigned char>> requests;
        for (int i = 0; i < 256; ++i) {
            requests.push_back(requestBytes(i));
        }

        // Warm-up of both, not counted.
        Figures floor;
        Figures bytewise;
        Figures ours;
        std::vector<double> tails;
        tails.reserve(size_t(exchanges) + 100);
        if (!floorRound(path, requests, 0, 50, sim.pid, floor, false) ||
            !floorRound(path, requests, 0, 50, sim.pid, bytewise, true) ||
            !sessionRound(0, 50, sim.pid, ours, tails)) {
            std::fprintf(stderr, "the pseudo-terminal did not open\n");
            return 1;
        }
        floor = Figures();
        bytewise = Figures();
        ours = Figures();
        tails.clear();

        for (int r = 0; r < rounds; ++r) {
            const int first = exchanges * r / rounds;
            const int count = exchanges * (r + 1) / rounds - first;
            if (!floorRound(path, requests, first, count, sim.pid, floor, false) ||
                !floorRound(path, requests, first, count, sim.pid, bytewise, true) ||
                !sessionRound(first, count, sim.pid, ours, tails)) {
                std::fprintf(stderr, "the pseudo-terminal did not open\n");
                return 1;
            }
        }

        const double median = percentile(ours.ms, 0.5);
        const double p99 = percentile(ours.ms, 0.99);
        const double floorMedian = percentile(floor.ms, 0.5);
        const double floorP99 = percentile(floor.ms, 0.99);
        const double cpu = ours.cpu / ours.count * 1e6;
        const double simCpu = ours.simCpu / ours.count * 1e6;
        const double floorCpu = floor.cpu / floor.count * 1e6;
        const double floorSimCpu = floor.simCpu / floor.count * 1e6;
        const double bytewiseCpu = bytewise.cpu / bytewise.count * 1e6;
        const double bytewiseSimCpu = bytewise.simCpu / bytewise.count * 1e6;
        const double bytewiseMedian = percentile(bytewise.ms, 0.5);
        std::printf("exchanges: %d at %u baud, echo, in %d rounds; %d failed, floors %d and %d "
                    "failed\n",
                    ours.count, baudRate, rounds, ours.failures, floor.failures, bytewise.failures);
        std::printf("exchange time: median %.3f ms, p99 %.3f ms, max %.3f ms\n", median, p99,
                    *std::max_element(ours.ms.begin(), ours.ms.end()));
        std::printf("beyond the %.0f ms RTS tail: median %.3f ms (goal <= 0.2), p99 %.3f ms "
                    "(goal <= 1)\n",
                    rtsTailMs, median - rtsTailMs, p99 - rtsTailMs);
        std::printf("RTS tail, drain to RTS drop: median %.3f ms (goal 2.00-2.05), p99 %.3f ms "
                    "(goal <= 2.10), max %.3f ms, %zu timed\n",
                    percentile(tails, 0.5), percentile(tails, 0.99),
                    tails.empty() ? 0.0 : *std::max_element(tails.begin(), tails.end()),
                    tails.size());
        std::printf("CPU per exchange: master %.1f us (goal <= 120), simulator %.1f us (goal <= "
                    "25)\n",
                    cpu, simCpu);
        std::printf("master by thread, per exchange: the caller's %.1f us in %.2f runs, the "
                    "port's workers %.1f us in %.2f runs\n",
                    ours.callerCpu / ours.count * 1e6, double(ours.callerRuns) / ours.count,
                    ours.workerCpu / ours.count * 1e6, double(ours.workerRuns) / ours.count);
        std::printf("floor, raw exchange: median %.3f ms, p99 %.3f ms; CPU master %.1f us, "
                    "simulator %.1f us\n",
                    floorMedian, floorP99, floorCpu, floorSimCpu);
        std::printf("wake-ups per exchange: master %.2f, simulator %.2f; floor: master %.2f, "
                    "simulator %.2f\n",
                    double(ours.sleeps) / ours.count, double(ours.simSleeps) / ours.count,
                    double(floor.sleeps) / floor.count, double(floor.simSleeps) / floor.count);
        std::printf("ratio to the floor: master CPU %.2fx (goal <= 3), simulator CPU %.2fx, "
                    "beyond the tail median %.2fx, p99 %.2fx\n",
                    ratio(cpu, floorCpu), ratio(simCpu, floorSimCpu),
                    ratio(median - rtsTailMs, floorMedian), ratio(p99 - rtsTailMs, floorP99));

        std::printf("floor, byte by byte on one thread: beyond the tail median %.3f ms, p99 "
                    "%.3f ms; CPU master %.1f us, simulator %.1f us; wake-ups master %.2f\n",
                    bytewiseMedian - rtsTailMs, percentile(bytewise.ms, 0.99) - rtsTailMs,
                    bytewiseCpu, bytewiseSimCpu, double(bytewise.sleeps) / bytewise.count);
        std::printf("ratio to the byte-by-byte floor: master CPU %.2fx, simulator CPU %.2fx, "
                    "beyond the tail median %.2fx; master CPU above it %.1f us\n",
                    ratio(cpu, bytewiseCpu), ratio(simCpu, bytewiseSimCpu),
                    ratio(median - rtsTailMs, bytewiseMedian - rtsTailMs), cpu - bytewiseCpu);

        if (idleSeconds > 0) {
            Velk21Session session("COM" + std::to_string(com), baudRate);
            const double idleBefore = cpuSeconds();
            const double simIdleBefore = processCpuSeconds(sim.pid);
            std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
            const double idle = cpuSeconds() - idleBefore;
            const double simIdle = processCpuSeconds(sim.pid) - simIdleBefore;
            std::printf("idle for %d s with the session open: master %.4f %% of one core (goal "
                        "<= 0.1), simulator %.4f %%\n",
                        idleSeconds, idle / idleSeconds * 100, simIdle / idleSeconds * 100);
        }
        status = ours.failures == 0 && floor.failures == 0 && bytewise.failures == 0 ? 0 : 1;
    }
    const std::string link = std::string(folder) + "/ORBEK/ports/COM" + std::to_string(com);
    unlink(link.c_str());
    rmdir((std::string(folder) + "/ORBEK/ports").c_str());
    rmdir((std::string(folder) + "/ORBEK").c_str());
    rmdir(folder);
    return status;
}
