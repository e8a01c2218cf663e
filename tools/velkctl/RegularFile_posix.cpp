#include "RegularFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
bool refused(const struct stat& st, std::string& reason) {
    if (S_ISREG(st.st_mode)) {
        return false;
    }
    reason = S_ISDIR(st.st_mode) ? "is a directory" : "not a regular file";
    return true;
}
} // namespace

std::FILE* openRegularFile(const std::string& path, std::uint64_t& size, std::string& reason) {
    reason.clear();
    // Looked at before it is opened: opening a serial device switches its
    // modem lines. Looked at again once open, in case it changed meanwhile;
    // O_NONBLOCK lets even that open return at once.
    struct stat st {};
    if (stat(path.c_str(), &st) == 0 && refused(st, reason)) {
        return nullptr;
    }
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return nullptr;
    }
    std::FILE* file = fstat(fd, &st) == 0 && !refused(st, reason) ? fdopen(fd, "rb") : nullptr;
    if (file == nullptr) {
        close(fd);
        return nullptr;
    }
    size = std::uint64_t(st.st_size);
    return file;
}
