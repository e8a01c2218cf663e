#pragma once

// A pseudo-terminal whose master side the test holds and drives as the far
// end of the line; the code under test opens the slave side by its path, as
// it would open a real tty. The slave is set raw and closed again at once,
// and the master is non-blocking.

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <string>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

class Pty {
public:
    using Bytes = std::vector<unsigned char>;

    Pty() {
        int slave = -1;
        char name[256] = {};
        if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
            master = -1;
            return;
        }
        termios raw{};
        tcgetattr(slave, &raw);
        cfmakeraw(&raw);
        tcsetattr(slave, TCSANOW, &raw);
        ::close(slave);
        path = name;
        fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    }
    ~Pty() { closeMaster(); }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    bool ok() const { return master >= 0 && !path.empty(); }

    // The device vanishes: the slave side sees a hang-up.
    void closeMaster() {
        if (master >= 0) {
            ::close(master);
            master = -1;
        }
    }

    // What the slave side has sent: count bytes, or fewer when they have not
    // all come within timeoutMs. Waits while nobody has the slave open.
    Bytes read(std::size_t count, int timeoutMs) const {
        Bytes bytes;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (bytes.size() < count && master >= 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  end - std::chrono::steady_clock::now())
                                  .count();
            if (left < 0) {
                break;
            }
            pollfd p{master, POLLIN, 0};
            if (::poll(&p, 1, int(std::min<long long>(left, 5))) <= 0 ||
                (p.revents & POLLIN) == 0) {
                // Nothing yet, or a hang-up while the slave is closed:
                // poll() then returns at once, so pause instead.
                if (p.revents != 0) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                }
                continue;
            }
            unsigned char buffer[512];
            const ssize_t n = ::read(master, buffer, std::min(sizeof buffer, count - bytes.size()));
            if (n > 0) {
                bytes.insert(bytes.end(), buffer, buffer + n);
            }
        }
        return bytes;
    }

    // Writes all bytes, waiting for room at most timeoutMs at a time.
    bool write(const Bytes& bytes, int timeoutMs = 1000) const {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(master, bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EINTR) {
                return false;
            }
            pollfd p{master, POLLOUT, 0};
            if (::poll(&p, 1, timeoutMs) <= 0) {
                return false;
            }
        }
        return true;
    }

    int master = -1;
    std::string path;
};
