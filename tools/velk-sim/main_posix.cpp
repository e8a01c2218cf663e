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

// After a read error on the pseudo-terminal, wait this long before looking again.
const int ptyRetryMs = 50;
// How long a full output queue may hold up an answer before it is dropped.
const int writeStallMs = 200;

// Writes what is due; a full output queue may hold an answer up for a while.
SimEngine::Written writeLine(SimLine& line, const unsigned char* bytes, std::size_t n,
                             std::size_t& taken) {
    for (;;) {
        const ssize_t written = write(line.fd(), bytes, n);
        if (written > 0) {
            taken = static_cast<std::size_t>(written);
            return SimEngine::Written::Some;
        }
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd out = {line.fd(), POLLOUT, 0};
            if (poll(&out, 1, writeStallMs) > 0 && (out.revents & POLLOUT)) {
                continue;
            }
            return SimEngine::Written::Stalled;
        }
        if (line.isPty()) {
            return SimEngine::Written::NobodyThere;
        }
        std::fprintf(stderr, "velk-sim: write to %s failed: %s\n", line.device().c_str(),
                     std::strerror(errno));
        return SimEngine::Written::Failed;
    }
}

int run(SimEngine& engine, SimLine& line, int signalFd) {
    std::uint64_t lineRetryUs = 0; // the line is left out of the poll until then
    unsigned char buffer[4096];
    for (;;) {
        std::uint64_t now = simNowUs();
        int timeoutMs = engine.waitMs(now);
        if (lineRetryUs != 0) {
            const int retry = lineRetryUs <= now ? 0 : int((lineRetryUs - now + 999) / 1000);
            timeoutMs = timeoutMs < 0 ? retry : std::min(timeoutMs, retry);
        }
        pollfd fds[3] = {{signalFd, POLLIN, 0},
                         {lineRetryUs == 0 ? line.fd() : -1, POLLIN, 0},
                         {line.watchFd(), POLLIN, 0}};
        const int ready = poll(fds, 3, timeoutMs);
        if (ready < 0 && errno != EINTR) {
            std::fprintf(stderr, "velk-sim: poll failed: %s\n", std::strerror(errno));
            return simExitIoError;
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
                    return simExitIoError;
                }
                // The other side of the pseudo-terminal is gone; look again a little later.
                lineRetryUs = now + ptyRetryMs * 1000u;
            }
        }
        engine.expire(now);
        if (!engine.sendDue(simNowUs(),
                            [&line](const unsigned char* bytes, std::size_t n, std::size_t& taken) {
                                return writeLine(line, bytes, n, taken);
                            })) {
            return simExitIoError;
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    SimOptions options;
    int status = 0;
    if (!simCommandLine(argc, argv, options, status)) {
        return status;
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
        return simExitUnavailable;
    }

    SimLine line;
    std::string error;
    std::string name;
    if (options.com != 0) {
        name = "COM" + std::to_string(options.com);
        if (!line.openPty(error) || !line.createLink(defaultPortsFolder(), options.com, error)) {
            std::fprintf(stderr, "velk-sim: %s\n", error.c_str());
            return simExitUnavailable;
        }
    } else {
        name = options.device;
        if (!line.openDevice(resolvePortName(options.device), options.baud, error)) {
            std::fprintf(stderr, "velk-sim: %s\n", error.c_str());
            return simExitUnavailable;
        }
    }

    printReady(name, line.device());
    SimEngine engine(options);
    const int code = run(engine, line, signalFd);
    close(signalFd);
    return code;
}
