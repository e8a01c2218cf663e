// Figures for velkctl's commands:
//   - scan of the whole address range (1..7F) against velk-sim serving three
//     slaves at 115200 baud, with the default 150 ms time-out;
//   - monitor's decoding of a capture of the given size (default 100 MB):
//     the decoder alone, and replay with the summary only and with JSON lines;
//   - a plan of 1000 steps against velk-sim's registers (steps per second).
//
//   bench_cli [capture MB]

#include "BusDecoder.h"
#include "Capture.h"
#include "MonitorCommand.h"
#include "RunCommand.h"
#include "ScanCommand.h"
#include "StopSignals.h"
#include "Velk21DataBlockPacketPackager.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <streambuf>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

// CPU seconds of this process: on a machine shared with other jobs the
// honest measure of what decoding costs, beside the wall-clock time.
double cpuSeconds() {
    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Takes whatever is written and keeps nothing, as /dev/null would.
class NullBuffer : public std::streambuf {
protected:
    int overflow(int c) override { return c; }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

struct Simulator {
    pid_t pid = -1;

    bool start(int com, const std::vector<std::string>& extra) {
        int out[2];
        if (pipe(out) != 0) {
            return false;
        }
        std::vector<std::string> words{"velk-sim", "--com", std::to_string(com), "--quiet"};
        words.insert(words.end(), extra.begin(), extra.end());
        std::vector<char*> argv;
        for (std::string& w : words) {
            argv.push_back(&w[0]);
        }
        argv.push_back(nullptr);
        pid = fork();
        if (pid == 0) {
            dup2(out[1], STDOUT_FILENO);
            close(out[0]);
            close(out[1]);
            execv(VELK_SIM_PATH, argv.data());
            _exit(127);
        }
        close(out[1]);
        std::string line;
        char c = 0;
        while (read(out[0], &c, 1) == 1 && c != '\n') {
            line += c;
        }
        close(out[0]);
        return line.rfind("READY", 0) == 0;
    }

    ~Simulator() {
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
    }
};

// A line as a busy bus would carry it: requests, answers, now and then an
// answer with extended blocks, a bad CRC or noise.
std::vector<unsigned char> busTraffic(std::size_t bytes) {
    Velk21DataBlockPacketPackager packager;
    std::vector<unsigned char> one;
    const unsigned char address[6] = {0x80, 0x05, 0x00, 0x00, 0x00, 0x63};
    for (int i = 0; i < 64; ++i) {
        Velk21DataBlockKernel data(Velk21ParameterId(0x10, static_cast<unsigned char>(i)), 0x1F, 0,
                                   0x81, 1, 0, 0, 0, 0);
        data.data[0] = static_cast<unsigned char>(i * 7);
        DataBlock<unsigned char> block;
        block.resize(12, 0);
        unsigned position = 0;
        packager.pack(block, position, data);
        one.insert(one.end(), address, address + 6);
        one.insert(one.end(), block.data(), block.data() + 12);
        data.ao = 5;
        data.csBit = 1;
        block.resize(12, 0);
        position = 0;
        packager.pack(block, position, data);
        if (i % 16 == 3) {
            block[11] ^= 1; // bad CRC
        }
        one.insert(one.end(), block.data(), block.data() + 12);
        if (i % 16 == 9) {
            one.insert(one.end(), {0x11, 0x22, 0x33}); // noise
        }
    }
    std::vector<unsigned char> all;
    all.reserve(bytes + one.size());
    while (all.size() < bytes) {
        all.insert(all.end(), one.begin(), one.end());
    }
    all.resize(bytes);
    return all;
}

void scanFigure(StopSignals& stop) {
    Simulator sim;
    if (!sim.start(231, {"--address", "3,5,9"})) {
        std::printf("scan: velk-sim did not start\n");
        return;
    }
    ScanOptions options;
    options.port = "COM231";
    options.output.quiet = true;
    std::ostringstream out;
    std::ostringstream err;
    const auto start = std::chrono::steady_clock::now();
    const int status = runScan(options, out, err, stop, false);
    std::printf("scan 1..7F, 3 slaves, 115200 baud, 150 ms time-out: %.2f s (exit %d) %s",
                secondsSince(start), status, out.str().c_str());
}

void decodeFigures(std::size_t megabytes, const std::string& folder, StopSignals& stop) {
    const std::vector<unsigned char> traffic = busTraffic(megabytes * 1000000);
    const double mb = double(traffic.size()) / 1e6;

    unsigned long long items = 0;
    BusDecoder decoder([&](const BusItem&) { ++items; });
    auto start = std::chrono::steady_clock::now();
    double cpu = cpuSeconds();
    const std::size_t chunk = 4096;
    for (std::size_t i = 0; i < traffic.size(); i += chunk) {
        decoder.feed(traffic.data() + i, std::min(chunk, traffic.size() - i), i / 10);
    }
    decoder.finish();
    double s = secondsSince(start);
    cpu = cpuSeconds() - cpu;
    std::printf("decoder alone: %.0f MB in %.2f s = %.0f MB/s; CPU %.2f s = %.0f MB/s (%llu "
                "blocks and noise pieces)\n",
                mb, s, mb / s, cpu, mb / cpu, items);

    const std::string capture = folder + "/bench.cap";
    CaptureWriter writer;
    writer.open(capture, 0);
    for (std::size_t i = 0; i < traffic.size(); i += chunk) {
        writer.write(i / 10, traffic.data() + i, std::min(chunk, traffic.size() - i));
    }
    writer.close();

    NullBuffer sink;
    std::ostream null(&sink);
    for (OutputMode mode : {OutputMode::Text, OutputMode::Json}) {
        for (bool quiet : {true, false}) {
            if (quiet && mode == OutputMode::Json) {
                continue;
            }
            MonitorOptions options;
            options.replayFile = capture;
            options.output.mode = mode;
            options.output.quiet = quiet;
            start = std::chrono::steady_clock::now();
            cpu = cpuSeconds();
            replayCapture(options, null, null, stop);
            s = secondsSince(start);
            cpu = cpuSeconds() - cpu;
            std::printf(
                "monitor --replay%s: %.0f MB in %.2f s = %.0f MB/s; CPU %.2f s = %.0f MB/s\n",
                quiet ? " --quiet" : (mode == OutputMode::Json ? " --json" : " (text)"), mb, s,
                mb / s, cpu, mb / cpu);
        }
    }
    std::remove(capture.c_str());
}

void planFigure(StopSignals& stop, const std::string& folder) {
    Simulator sim;
    if (!sim.start(232, {"--scenario", "registers"})) {
        std::printf("plan: velk-sim did not start\n");
        return;
    }
    const std::string path = folder + "/plan.json";
    std::ofstream plan(path);
    plan << "{\"port\": \"COM232\", \"steps\": [\n";
    for (int i = 0; i < 1000; ++i) {
        const bool write = i % 2 == 0;
        char index[8];
        std::snprintf(index, sizeof index, "%X", (i / 2) % 256);
        plan << (i != 0 ? ",\n" : "") << "{\"request\": {\"address\": \"5\", \"code\": \"10\", "
             << "\"index\": \"" << index << "\""
             << (write ? ", \"wts\": true, \"value\": \"" + std::to_string(i) + "\""
                       : std::string())
             << "}, \"expect\": {\"value\": {\"type\": \"INTEGER\", \"equals\": "
             << (write ? i : i - 1) << "}}}";
    }
    plan << "]}\n";
    plan.close();
    RunOptions options;
    options.planFile = path;
    options.output.quiet = true;
    std::ostringstream out;
    std::ostringstream err;
    const auto start = std::chrono::steady_clock::now();
    const int status = runPlan(options, out, err, stop);
    const double s = secondsSince(start);
    std::printf("plan of 1000 steps at 115200 baud: %.2f s = %.0f steps/s (exit %d) %s%s", s,
                1000 / s, status, out.str().c_str(), err.str().c_str());
    std::remove(path.c_str());
}

} // namespace

int main(int argc, char** argv) {
    const long megabytes = argc > 1 ? std::atol(argv[1]) : 100;
    if (megabytes <= 0) {
        std::fprintf(stderr, "usage: bench_cli [capture MB]\n");
        return 64;
    }
    // The links go into a ports folder of our own, never the user's.
    char folder[] = "/tmp/velk-bench-XXXXXX";
    if (mkdtemp(folder) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    setenv("XDG_CONFIG_HOME", folder, 1);
    StopSignals stop;
    scanFigure(stop);
    decodeFigures(std::size_t(megabytes), folder, stop);
    planFigure(stop, folder);
    return 0;
}
