#include "PlatformUtilities.h"
#include "PosixSystemLayer.h"
#include "WideText.h"

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include <dirent.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <signal.h>
#include <spawn.h>
#include <sys/reboot.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

const wchar_t* const writeFilterTool = L"/usr/sbin/ewfmgr";

namespace {

struct MountEntry {
    std::string device; // "major:minor"
    std::string mountPoint;
    std::string type;
    std::string source;
};

bool isOctal(char c) {
    return c >= '0' && c <= '7';
}

// mountinfo escapes blanks, newlines and backslashes in paths as \ooo.
std::string unescapeMountField(const std::string& field) {
    std::string out;
    out.reserve(field.size());
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && field[i + 1] >= '0' &&
            field[i + 1] <= '3' && isOctal(field[i + 2]) && isOctal(field[i + 3])) {
            out += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                                     (field[i + 3] - '0'));
            i += 3;
        } else {
            out += field[i];
        }
    }
    return out;
}

std::vector<std::string> splitFields(const std::string& line) {
    std::vector<std::string> fields;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r'))
            ++i;
        const std::size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r')
            ++i;
        if (i > start)
            fields.push_back(line.substr(start, i - start));
    }
    return fields;
}

// Lines: id parent major:minor root mount-point options [optional...] - type source options
std::vector<MountEntry> parseMountTable(const std::string& table) {
    std::vector<MountEntry> entries;
    std::size_t start = 0;
    while (start < table.size()) {
        std::size_t end = table.find('\n', start);
        if (end == std::string::npos)
            end = table.size();
        const std::vector<std::string> fields = splitFields(table.substr(start, end - start));
        start = end + 1;
        std::size_t separator = 0;
        while (separator < fields.size() && fields[separator] != "-")
            ++separator;
        if (separator < 6 || separator + 2 >= fields.size())
            continue;
        entries.push_back({fields[2], unescapeMountField(fields[4]),
                           unescapeMountField(fields[separator + 1]),
                           unescapeMountField(fields[separator + 2])});
    }
    return entries;
}

bool startsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

bool holds(const std::string& mountPoint, const std::string& path) {
    if (mountPoint == "/")
        return startsWith(path, "/");
    return path == mountPoint || startsWith(path, mountPoint + "/");
}

// The mount that holds an absolute, canonical path: the longest mount point; of mounts
// stacked on one point the later one is the visible one.
bool findMount(const std::string& table, const std::string& path, MountEntry& found) {
    bool any = false;
    for (const MountEntry& entry : parseMountTable(table)) {
        if (holds(entry.mountPoint, path) &&
            (!any || entry.mountPoint.size() >= found.mountPoint.size())) {
            found = entry;
            any = true;
        }
    }
    return any;
}

bool writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

void sleepMs(long ms) {
    timespec pause{ms / 1000, (ms % 1000) * 1000000L};
    while (::clock_nanosleep(CLOCK_MONOTONIC, 0, &pause, &pause) == EINTR) {
    }
}

long long monotonicMs() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

} // namespace

ISystemLayer& systemLayer() {
    static PosixSystemLayer layer;
    return layer;
}

unsigned PosixSystemLayer::enableRestart() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (::syscall(SYS_capget, &header, data) != 0)
        return EPERM;
    const bool allowed =
        (data[CAP_TO_INDEX(CAP_SYS_BOOT)].effective & CAP_TO_MASK(CAP_SYS_BOOT)) != 0;
    return allowed ? 0 : EPERM;
}

void PosixSystemLayer::syncFileSystems() {
    ::sync();
}

unsigned PosixSystemLayer::restart() {
    return ::reboot(RB_AUTOBOOT) == 0 ? 0 : static_cast<unsigned>(errno);
}

bool PosixSystemLayer::fileSystemName(const std::wstring& root, std::string& name) {
    const std::string path = canonicalPath(utf8FromWide(root));
    if (path.empty())
        return false;
    MountEntry mount;
    if (!findMount(mountTable(), path, mount))
        return false;
    const std::size_t dot = mount.type.find('.');
    const std::string base = mount.type.substr(0, dot);
    if (dot != std::string::npos && dot > 0 && (base == "fuse" || base == "fuseblk")) {
        name = mount.type.substr(dot + 1);
        return true;
    }
    if (mount.type == "fuseblk") {
        // FUSE names no file system here; an NTFS boot sector carries "NTFS    " at byte 3.
        std::string bootSector;
        if (!readFile(mount.source, 11, bootSector) || bootSector.size() != 11 ||
            bootSector.compare(3, 8, "NTFS    ") != 0)
            return false;
        name = "NTFS";
        return true;
    }
    name = mount.type;
    return true;
}

bool PosixSystemLayer::readDriveCache(wchar_t letter, DriveCache& cache) {
    if (letter != L'C' && letter != L'c')
        return false;
    MountEntry root;
    if (!findMount(mountTable(), "/", root))
        return false;
    // File systems without a block device of their own (major 0: overlay, tmpfs, btrfs
    // subvolumes) have no entry here, and nothing is changed.
    std::string disk = canonicalPath("/sys/dev/block/" + root.device);
    if (disk.empty())
        return false;
    if (pathExists(disk + "/partition"))
        disk.erase(disk.rfind('/'));

    // SCSI and SATA disks switch their cache through the scsi_disk attribute, virtio disks
    // through their own. Disks without such an attribute (NVMe, MMC) stay as they are.
    std::vector<std::string> candidates;
    const std::string scsiDisks = disk + "/device/scsi_disk";
    for (const std::string& name : listDirectory(scsiDisks))
        candidates.push_back(scsiDisks + "/" + name + "/cache_type");
    candidates.push_back(disk + "/cache_type");

    for (const std::string& attribute : candidates) {
        std::string state;
        if (!readFile(attribute, 64, state))
            continue;
        const std::size_t first = state.find_first_not_of(" \t\n");
        cache.writeCacheEnabled =
            first != std::string::npos && state.compare(first, 10, "write back") == 0;
        // The attribute read is the one written.
        cache.record.assign(attribute.begin(), attribute.end());
        return true;
    }
    return false;
}

bool PosixSystemLayer::writeDriveCache(wchar_t, const DriveCache& cache) {
    if (cache.record.empty())
        return false;
    const std::string attribute(cache.record.begin(), cache.record.end());
    return writeFile(attribute, cache.writeCacheEnabled ? "write back" : "write through");
}

bool PosixSystemLayer::fileExists(const std::wstring& path) {
    return pathExists(utf8FromWide(path));
}

ISystemLayer::ProcessOutcome
PosixSystemLayer::runProcess(const std::wstring& program,
                             const std::vector<std::wstring>& arguments, int timeoutMs) {
    ProcessOutcome outcome;
    std::vector<std::string> words{utf8FromWide(program)};
    for (const std::wstring& argument : arguments)
        words.push_back(utf8FromWide(argument));
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(&word[0]);
    argv.push_back(nullptr);

    // Nothing is sent to the tool (a tool that reads its input sees the end at once) and
    // nothing it prints is kept.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int spawned = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return outcome;

    // The start is synchronous; the end is polled, often at first, then every 10 ms.
    const long long deadline = monotonicMs() + (timeoutMs > 0 ? timeoutMs : 0);
    int status = 0;
    long pauseMs = 1;
    for (;;) {
        const pid_t ended = ::waitpid(pid, &status, WNOHANG);
        if (ended == pid)
            break;
        if (ended < 0 && errno != EINTR)
            return outcome;
        if (monotonicMs() >= deadline) {
            ::kill(pid, SIGKILL);
            while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
            outcome.status = ProcessOutcome::TimedOut;
            return outcome;
        }
        sleepMs(pauseMs);
        pauseMs = pauseMs < 10 ? pauseMs * 2 : 10;
    }
    if (WIFSIGNALED(status)) {
        outcome.status = ProcessOutcome::Crashed;
        return outcome;
    }
    outcome.status = ProcessOutcome::Exited;
    outcome.exitCode = WEXITSTATUS(status);
    return outcome;
}

bool PosixSystemLayer::clearConsole() {
    if (::isatty(outputFd) != 1)
        return false;
    // Whatever stdio still holds goes out first, so the bytes land in order.
    std::fflush(stdout);
    // Cursor home, clear the screen, clear the scroll-back: what clear(1) sends to the
    // terminals in use (xterm family, the Linux console).
    static const char clear[] = "\x1b[H\x1b[2J\x1b[3J";
    return writeAll(outputFd, clear, sizeof clear - 1);
}

bool PosixSystemLayer::attachConsole() {
    // The Russian texts print correctly where that locale is installed; without it the
    // current locale stays.
    std::setlocale(LC_ALL, "ru_RU.UTF-8");
    const char* terminal = "/dev/tty";
    const int fd = ::open(terminal, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return false;
    ::close(fd);
    if (std::freopen(terminal, "w", stdout) == nullptr ||
        std::freopen(terminal, "r", stdin) == nullptr ||
        std::freopen(terminal, "w", stderr) == nullptr)
        return false;
    return std::setvbuf(stdout, nullptr, _IONBF, 0) == 0 &&
           std::setvbuf(stdin, nullptr, _IONBF, 0) == 0 &&
           std::setvbuf(stderr, nullptr, _IONBF, 0) == 0;
}

std::string PosixSystemLayer::mountTable() {
    std::string table;
    readFile("/proc/self/mountinfo", 16 * 1024 * 1024, table);
    return table;
}

std::string PosixSystemLayer::canonicalPath(const std::string& path) {
    if (path.empty())
        return std::string();
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (resolved == nullptr)
        return std::string();
    const std::string result(resolved);
    std::free(resolved);
    return result;
}

bool PosixSystemLayer::pathExists(const std::string& path) {
    struct stat info;
    return !path.empty() && ::stat(path.c_str(), &info) == 0;
}

std::vector<std::string> PosixSystemLayer::listDirectory(const std::string& path) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(path.c_str());
    if (dir == nullptr)
        return names;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name(entry->d_name);
        if (name != "." && name != "..")
            names.push_back(name);
    }
    ::closedir(dir);
    return names;
}

bool PosixSystemLayer::readFile(const std::string& path, std::size_t maxBytes,
                                std::string& content) {
    content.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = true;
    char buffer[4096];
    while (content.size() < maxBytes) {
        const std::size_t wanted = std::min(sizeof buffer, maxBytes - content.size());
        const ssize_t got = ::read(fd, buffer, wanted);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            ok = false;
        if (got <= 0)
            break;
        content.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return ok;
}

bool PosixSystemLayer::writeFile(const std::string& path, const std::string& content) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool written = writeAll(fd, content.data(), content.size());
    // sysfs reports a rejected value at write or close time.
    return (::close(fd) == 0) && written;
}
