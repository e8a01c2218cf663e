// velk-sim: a VELK slave on a pseudo-terminal or a real port (see --help).

#include "PortNames.h"
#include "SimEngine.h"
#include "SimLine.h"
#include "SimOptions.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <sys/signalfd.h>
#include <time.h>
#include <unistd.h>

namespace {

const int exitUsage = 64;
const int exitUnavailable = 69;
const int exitIoError = 74;
// After a read error on the pseudo-terminal, wait this long before looking again.
const int ptyRetryMs = 50;
// How long a full output queue may hold up an answer before it is dropped.
const int writeStallMs = 200;

class Simulator {
public:
    Simulator(const SimOptions& options, SimLine& line) : engine(options), line(line) {}

    int run(int signalFd);

private:
    bool sendDue(std::uint64_t now, int& exitCode);

    SimEngine engine;
    SimLine& line;
};

// Writes every byte that is due, in one write where possible.
bool Simulator::sendDue(std::uint64_t now, int& exitCode) {
    unsigned char buffer[4096];
    for (;;) {
        const std::size_t n = engine.due(now, buffer, sizeof buffer);
        if (n == 0) {
            break;
        }
        const ssize_t written = write(line.fd(), buffer, n);
        if (written > 0) {
            engine.sent(static_cast<std::size_t>(written));
            continue;
        }
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd out = {line.fd(), POLLOUT, 0};
            if (poll(&out, 1, writeStallMs) > 0 && (out.revents & POLLOUT)) {
                continue;
            }
            engine.dropAnswer("answer dropped: nobody reads the line");
            return true;
        }
        if (line.isPty()) {
            engine.dropAnswer(); // nobody on the other side
            return true;
        }
        std::fprintf(stderr, "velk-sim: write to %s failed: %s\n", line.device().c_str(),
                     std::strerror(errno));
        exitCode = exitIoError;
        return false;
    }
    return true;
}

int Simulator::run(int signalFd) {
    std::uint64_t lineRetryUs = 0; // the line is left out of the poll until then
    unsigned char buffer[4096];
    for (;;) {
        std::uint64_t now = simNowUs();
        std::uint64_t wake = engine.nextDueUs();
        if (lineRetryUs != 0) {
            wake = std::min(wake, lineRetryUs);
        }
        int timeoutMs = -1;
        if (wake != UINT64_MAX) {
            timeoutMs = wake <= now ? 0 : static_cast<int>((wake - now + 999) / 1000);
        }

        pollfd fds[3] = {{signalFd, POLLIN, 0},
                         {lineRetryUs == 0 ? line.fd() : -1, POLLIN, 0},
                         {line.watchFd(), POLLIN, 0}};
        const int ready = poll(fds, 3, timeoutMs);
        if (ready < 0 && errno != EINTR) {
            std::fprintf(stderr, "velk-sim: poll failed: %s\n", std::strerror(errno));
            return exitIoError;
        }
        now = simNowUs();
        if (ready > 0 && (fds[0].revents & POLLIN)) {
            signalfd_siginfo info;
            if (read(signalFd, &info, sizeof info) > 0) {
                return 0;
            }
        }
        if (ready > 0 && (fds[2].revents & POLLIN)) {
            line.onWatch();
        }
        if (lineRetryUs != 0 && now >= lineRetryUs) {
            lineRetryUs = 0;
        }
        if (ready > 0 && fds[1].revents != 0) {
            const ssize_t n = read(line.fd(), buffer, sizeof buffer);
            if (n > 0) {
                engine.feed(buffer, static_cast<std::size_t>(n), now);
            } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                if (!line.isPty()) {
                    std::fprintf(stderr, "velk-sim: %s: %s\n", line.device().c_str(),
                                 n == 0 ? "the device went away" : std::strerror(errno));
                    return exitIoError;
                }
                // The other side of the pseudo-terminal is gone; look again a little later.
                lineRetryUs = now + ptyRetryMs * 1000u;
            }
        }
        engine.expire(now);
        int exitCode = 0;
        if (!sendDue(simNowUs(), exitCode)) {
            return exitCode;
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    SimOptions options;
    std::string error;
    if (!parseSimOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "velk-sim: %s\n", error.c_str());
        return exitUsage;
    }
    if (options.help) {
        std::fputs(usageText(), stdout);
        return 0;
    }

    // Signals arrive through a descriptor, so that the loop ends cleanly and
    // the link is removed.
    sigset_t mask;
    sigemptyset(&mask);
    sigaddset(&mask, SIGINT);
    sigaddset(&mask, SIGTERM);
    sigaddset(&mask, SIGHUP);
    sigprocmask(SIG_BLOCK, &mask, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    const int signalFd = signalfd(-1, &mask, SFD_CLOEXEC);
    if (signalFd < 0) {
        std::fprintf(stderr, "velk-sim: signalfd failed: %s\n", std::strerror(errno));
        return exitUnavailable;
    }

    SimLine line;
    std::string name;
    if (options.com != 0) {
        name = "COM" + std::to_string(options.com);
        if (!line.openPty(error) || !line.createLink(defaultPortsFolder(), options.com, error)) {
            std::fprintf(stderr, "velk-sim: %s\n", error.c_str());
            return exitUnavailable;
        }
    } else {
        name = options.device;
        if (!line.openDevice(resolvePortName(options.device), options.baud, error)) {
            std::fprintf(stderr, "velk-sim: %s\n", error.c_str());
            return exitUnavailable;
        }
    }

    std::printf("READY %s %s\n", name.c_str(), line.device().c_str());
    std::fflush(stdout);

    Simulator simulator(options, line);
    const int code = simulator.run(signalFd);
    close(signalFd);
    return code;
}
