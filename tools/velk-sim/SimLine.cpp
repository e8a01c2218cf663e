#include "SimLine.h"

#include "SerialLineSetup.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

std::string errorText(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

bool makeFolder(const std::string& folder) {
    for (std::string::size_type slash = 1;; ++slash) {
        slash = folder.find('/', slash);
        const std::string part = folder.substr(0, slash);
        if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) {
            return false;
        }
        if (slash == std::string::npos) {
            return true;
        }
    }
}

bool isPtyPath(const std::string& path) {
    return path.rfind("/dev/pts/", 0) == 0;
}

std::string linkTarget(const std::string& link) {
    char target[4096];
    const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
    return n >= 0 ? std::string(target, static_cast<std::size_t>(n)) : std::string();
}

} // namespace

SimLine::~SimLine() {
    removeLink();
    if (notifyFd >= 0) {
        close(notifyFd);
    }
    if (slaveFd >= 0) {
        close(slaveFd);
    }
    if (lineFd >= 0) {
        close(lineFd);
    }
}

bool SimLine::openPty(std::string& error) {
    lineFd = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (lineFd < 0) {
        error = errorText("cannot create a pseudo-terminal");
        return false;
    }
    char name[128];
    if (grantpt(lineFd) != 0 || unlockpt(lineFd) != 0 ||
        ptsname_r(lineFd, name, sizeof name) != 0) {
        error = errorText("cannot set up the pseudo-terminal");
        return false;
    }
    devicePath = name;
    slaveFd = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    // The rate means nothing to a pseudo-terminal; the master sets its own.
    if (slaveFd < 0 || setUpSerialLine(slaveFd, 115200, 0).reason != OpenFailure::None) {
        error = errorText("cannot set up " + devicePath);
        return false;
    }
    const int flags = fcntl(lineFd, F_GETFL);
    if (flags < 0 || fcntl(lineFd, F_SETFL, flags | O_NONBLOCK) != 0) {
        error = errorText("cannot set up the pseudo-terminal");
        return false;
    }
    notifyFd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (notifyFd >= 0 && inotify_add_watch(notifyFd, name, IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) < 0) {
        close(notifyFd);
        notifyFd = -1;
    }
    pty = true;
    return true;
}

bool SimLine::openDevice(const std::string& path, unsigned baud, std::string& error) {
    devicePath = path;
    lineFd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (lineFd < 0) {
        error = errorText("cannot open " + path);
        return false;
    }
    if (!isatty(lineFd)) {
        error = path + " is not a terminal";
        return false;
    }
    if (flock(lineFd, LOCK_EX | LOCK_NB) != 0) {
        error = errorText("cannot lock " + path);
        return false;
    }
    ioctl(lineFd, TIOCEXCL);
    const OpenFailureDetail refused = setUpSerialLine(lineFd, baud, 0);
    if (refused.reason != OpenFailure::None) {
        error = "cannot open " + path + ": " + openFailureText(refused);
        return false;
    }
    tcflush(lineFd, TCIOFLUSH);
    return true;
}

bool SimLine::createLink(const std::string& folder, int com, std::string& error) {
    if (!makeFolder(folder)) {
        error = errorText("cannot create " + folder);
        return false;
    }
    const std::string path = folder + "/COM" + std::to_string(com);
    bool leftOver = false;
    if (!lock(folder + "/.COM" + std::to_string(com) + ".velk-sim.lock", leftOver, error)) {
        if (error.empty()) {
            error = path + " already points at a live device (another velk-sim serves it)";
        }
        return false;
    }
    struct stat entry;
    if (lstat(path.c_str(), &entry) == 0) {
        struct stat target;
        const bool reachable = stat(path.c_str(), &target) == 0;
        // A killed simulator leaves its link behind, and its terminal number
        // is free again: we may just have been given it, or any other
        // program may have. A link to our own terminal is as stale as a
        // dangling one, and so is a link to a terminal a killed simulator made.
        struct stat own;
        const bool ours = reachable && S_ISCHR(target.st_mode) &&
                          stat(devicePath.c_str(), &own) == 0 && own.st_rdev == target.st_rdev;
        const bool leftByKilled = leftOver && isPtyPath(linkTarget(path));
        if (!S_ISLNK(entry.st_mode) || (reachable && !ours && !leftByKilled)) {
            const bool live = reachable && S_ISCHR(target.st_mode);
            error = path + (live ? " already points at a live device"
                                 : " exists and is not a dangling link");
            return false;
        }
        // A stale link: replace it in one step.
        const std::string temporary = path + ".velk-sim." + std::to_string(getpid());
        unlink(temporary.c_str());
        if (symlink(devicePath.c_str(), temporary.c_str()) != 0 ||
            rename(temporary.c_str(), path.c_str()) != 0) {
            error = errorText("cannot replace " + path);
            unlink(temporary.c_str());
            return false;
        }
    } else if (symlink(devicePath.c_str(), path.c_str()) != 0) {
        error = errorText("cannot create " + path);
        return false;
    }
    linkPath = path;
    return true;
}

void SimLine::removeLink() {
    if (!linkPath.empty() && linkTarget(linkPath) == devicePath) {
        unlink(linkPath.c_str());
    }
    linkPath.clear();
    if (lockFd >= 0) {
        // Removed while held: whoever opened it meanwhile sees it is gone.
        unlink(lockPath.c_str());
        close(lockFd);
        lockFd = -1;
    }
}

bool SimLine::lock(const std::string& path, bool& leftOver, std::string& error) {
    for (int attempt = 0; attempt < 10; ++attempt) {
        int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        leftOver = fd < 0 && errno == EEXIST;
        if (leftOver) {
            fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
        }
        if (fd < 0) {
            if (errno == ENOENT) {
                continue; // removed by its holder just now
            }
            error = errorText("cannot create " + path);
            return false;
        }
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            close(fd);
            error.clear(); // held: another simulator serves this number
            return false;
        }
        // The file locked must still be the one of that name: a holder that
        // ended removes it, and the next simulator creates a new one.
        struct stat held;
        struct stat named;
        if (fstat(fd, &held) == 0 && stat(path.c_str(), &named) == 0 &&
            held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
            lockFd = fd;
            lockPath = path;
            return true;
        }
        close(fd);
    }
    error = "cannot lock " + path;
    return false;
}

void SimLine::onWatch() {
    alignas(inotify_event) char buffer[4096];
    bool closed = false;
    for (;;) {
        const ssize_t n = read(notifyFd, buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        closed = true;
    }
    if (closed && slaveFd >= 0) {
        ioctl(slaveFd, TIOCNXCL);
    }
}
