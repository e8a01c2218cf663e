// Times whole exchanges of Velk21Session against velk-sim (echo) over a
// pseudo-terminal, and the CPU that an open, idle session costs.
//
//   bench_exchange [exchanges] [idle seconds]      (defaults 2000 and 5)
//
// Every exchange includes the 2 ms that RTS must stay high after the last
// byte; "beyond the tail" is what the exchange costs on top of it.

#include "Velk21Session.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

const double rtsTailMs = 2.0;
const int com = 201;

double cpuSeconds() {
    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// CPU seconds used so far by another process (utime + stime from /proc).
double processCpuSeconds(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const std::string::size_type end = text.rfind(')');
    if (end == std::string::npos) {
        return 0;
    }
    std::istringstream fields(text.substr(end + 2));
    std::string field;
    unsigned long utime = 0;
    unsigned long stime = 0;
    for (int i = 3; fields >> field; ++i) {
        if (i == 14) {
            utime = std::stoul(field);
        } else if (i == 15) {
            stime = std::stoul(field);
            break;
        }
    }
    return double(utime + stime) / double(sysconf(_SC_CLK_TCK));
}

double percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    const size_t index = std::min(values.size() - 1, size_t(p * (values.size() - 1) + 0.5));
    return values[index];
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

} // namespace

int main(int argc, char** argv) {
    const int exchanges = argc > 1 ? std::atoi(argv[1]) : 2000;
    const int idleSeconds = argc > 2 ? std::atoi(argv[2]) : 5;
    if (exchanges <= 0 || idleSeconds < 0) {
        std::fprintf(stderr, "usage: bench_exchange [exchanges] [idle seconds]\n");
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
        Velk21Session session("COM" + std::to_string(com), 1000000);
        if (!session.isOpen()) {
            std::fprintf(stderr, "the session's port did not open\n");
            return 1;
        }
        const Velk21AddressBlockKernel address(Velk21Address(1, 0, 0, 0), 0);
        auto once = [&](int i) {
            Velk21DataBlockKernel data(Velk21ParameterId(0x10, static_cast<unsigned char>(i)), 0x05,
                                       0, 0, 0, 0, 0, 0, 0);
            DataBlock<unsigned char> extended;
            int error = -1;
            return session.exchange(address, data, extended, 0, 150, &error);
        };
        for (int i = 0; i < 50; ++i) {
            once(i);
        }

        std::vector<double> ms;
        ms.reserve(exchanges);
        int failures = 0;
        const double cpuBefore = cpuSeconds();
        const double simBefore = processCpuSeconds(sim.pid);
        for (int i = 0; i < exchanges; ++i) {
            const auto start = std::chrono::steady_clock::now();
            failures += once(i) ? 0 : 1;
            const auto end = std::chrono::steady_clock::now();
            ms.push_back(std::chrono::duration<double, std::milli>(end - start).count());
        }
        const double cpu = cpuSeconds() - cpuBefore;
        const double simCpu = processCpuSeconds(sim.pid) - simBefore;

        const double median = percentile(ms, 0.5);
        const double p99 = percentile(ms, 0.99);
        std::printf("exchanges: %d at 1000000 baud, echo, %d failed\n", exchanges, failures);
        std::printf("exchange time: median %.3f ms, p99 %.3f ms, max %.3f ms\n", median, p99,
                    *std::max_element(ms.begin(), ms.end()));
        std::printf("beyond the %.0f ms RTS tail: median %.3f ms (goal <= 0.3), p99 %.3f ms "
                    "(goal <= 1)\n",
                    rtsTailMs, median - rtsTailMs, p99 - rtsTailMs);
        std::printf("CPU per exchange: master %.1f us, simulator %.1f us\n", cpu / exchanges * 1e6,
                    simCpu / exchanges * 1e6);

        if (idleSeconds > 0) {
            const double idleBefore = cpuSeconds();
            const double simIdleBefore = processCpuSeconds(sim.pid);
            std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
            const double idle = cpuSeconds() - idleBefore;
            const double simIdle = processCpuSeconds(sim.pid) - simIdleBefore;
            std::printf("idle for %d s with the session open: master %.4f %% of one core (goal "
                        "<= 0.1), simulator %.4f %%\n",
                        idleSeconds, idle / idleSeconds * 100, simIdle / idleSeconds * 100);
        }
        status = failures == 0 ? 0 : 1;
    }
    const std::string link = std::string(folder) + "/ORBEK/ports/COM" + std::to_string(com);
    unlink(link.c_str());
    rmdir((std::string(folder) + "/ORBEK/ports").c_str());
    rmdir((std::string(folder) + "/ORBEK").c_str());
    rmdir(folder);
    return status;
}
