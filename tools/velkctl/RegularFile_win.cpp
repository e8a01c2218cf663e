#include "RegularFile.h"

#include <sys/stat.h>

namespace {
// NUL, CON, COM ports and pipes are character devices or FIFOs here.
bool refused(const struct _stat64& st, std::string& reason) {
    if ((st.st_mode & _S_IFMT) == _S_IFREG) {
        return false;
    }
    reason = (st.st_mode & _S_IFMT) == _S_IFDIR ? "is a directory" : "not a regular file";
    return true;
}
} // namespace

std::FILE* openRegularFile(const std::string& path, std::uint64_t& size, std::string& reason) {
    reason.clear();
    // Looked at before it is opened (Windows opens no folder as a file, and
    // opening a COM port is not harmless), and again once open.
    struct _stat64 st {};
    if (_stat64(path.c_str(), &st) == 0 && refused(st, reason)) {
        return nullptr;
    }
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file != nullptr && (_fstat64(_fileno(file), &st) != 0 || refused(st, reason))) {
        std::fclose(file);
        file = nullptr;
    }
    size = file != nullptr ? std::uint64_t(st.st_size) : 0;
    return file;
}
