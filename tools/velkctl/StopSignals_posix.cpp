#include "StopSignals.h"

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <thread>
#include <unistd.h>

struct StopSignals::Native {
    sigset_t stopSet;
    sigset_t previousMask;
    int signalFd = -1;
    int quitFd = -1; // ends the watcher
    std::thread watcher;
};

StopSignals::StopSignals() : native(std::make_unique<Native>()) {
    Native& n = *native;
    sigemptyset(&n.stopSet);
    sigaddset(&n.stopSet, SIGINT);
    sigaddset(&n.stopSet, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &n.stopSet, &n.previousMask);
    n.signalFd = signalfd(-1, &n.stopSet, SFD_CLOEXEC);
    n.quitFd = eventfd(0, EFD_CLOEXEC);
    if (n.signalFd < 0 || n.quitFd < 0) {
        // Nobody could take them: leave the signals their default action.
        pthread_sigmask(SIG_SETMASK, &n.previousMask, nullptr);
        return;
    }
    n.watcher = std::thread([this] {
        for (;;) {
            pollfd fds[2] = {{native->signalFd, POLLIN, 0}, {native->quitFd, POLLIN, 0}};
            if (poll(fds, 2, -1) < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return;
            }
            if (fds[1].revents != 0) {
                return;
            }
            signalfd_siginfo info{};
            if (fds[0].revents != 0 &&
                ::read(native->signalFd, &info, sizeof info) == ssize_t(sizeof info)) {
                deliver(int(info.ssi_signo));
            }
        }
    });
}

StopSignals::~StopSignals() {
    Native& n = *native;
    if (n.watcher.joinable()) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(n.quitFd, &one, sizeof one);
        n.watcher.join();
    }
    for (int fd : {n.quitFd, n.signalFd}) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    pthread_sigmask(SIG_SETMASK, &n.previousMask, nullptr);
}
