#include "PosixSystemLayer.h"

#include <QFile>
#include <QProcess>

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>

#include <dirent.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <sys/reboot.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// A process that outlasted its time-out gets this long to die after SIGKILL.
constexpr int killWaitMs = 5000;

QByteArray nativePath(const QString& path) {
    return QFile::encodeName(path);
}

bool writeAll(int fd, const char* data, qint64 size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, static_cast<size_t>(size));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        size -= written;
    }
    return true;
}

} // namespace

ISystemLayer& systemLayer() {
    static PosixSystemLayer layer;
    return layer;
}

bool PosixSystemLayer::canRestart() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (::syscall(SYS_capget, &header, data) != 0)
        return false;
    return (data[CAP_TO_INDEX(CAP_SYS_BOOT)].effective & CAP_TO_MASK(CAP_SYS_BOOT)) != 0;
}

void PosixSystemLayer::syncFileSystems() {
    ::sync();
}

int PosixSystemLayer::restart() {
    return ::reboot(RB_AUTOBOOT) == 0 ? 0 : errno;
}

QByteArray PosixSystemLayer::mountTable() {
    QByteArray table;
    readFile(QStringLiteral("/proc/self/mountinfo"), 16 * 1024 * 1024, table);
    return table;
}

QString PosixSystemLayer::canonicalPath(const QString& path) {
    if (path.isEmpty())
        return QString();
    char* resolved = ::realpath(nativePath(path).constData(), nullptr);
    if (resolved == nullptr)
        return QString();
    const QString result = QFile::decodeName(resolved);
    std::free(resolved);
    return result;
}

bool PosixSystemLayer::fileExists(const QString& path) {
    struct stat info;
    return !path.isEmpty() && ::stat(nativePath(path).constData(), &info) == 0;
}

QStringList PosixSystemLayer::listDirectory(const QString& path) {
    QStringList names;
    DIR* dir = ::opendir(nativePath(path).constData());
    if (dir == nullptr)
        return names;
    while (const dirent* entry = ::readdir(dir)) {
        const QString name = QFile::decodeName(entry->d_name);
        if (name != QLatin1String(".") && name != QLatin1String(".."))
            names.append(name);
    }
    ::closedir(dir);
    return names;
}

bool PosixSystemLayer::readFile(const QString& path, qint64 maxBytes, QByteArray& content) {
    content.clear();
    const int fd = ::open(nativePath(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = true;
    char buffer[4096];
    while (content.size() < maxBytes) {
        const qint64 wanted = qMin<qint64>(sizeof buffer, maxBytes - content.size());
        const ssize_t got = ::read(fd, buffer, static_cast<size_t>(wanted));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            ok = false;
        if (got <= 0)
            break;
        content.append(buffer, static_cast<qsizetype>(got));
    }
    ::close(fd);
    return ok;
}

bool PosixSystemLayer::writeFile(const QString& path, const QByteArray& content) {
    const int fd = ::open(nativePath(path).constData(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool written = writeAll(fd, content.constData(), content.size());
    // sysfs reports a rejected value at write or close time.
    return (::close(fd) == 0) && written;
}

ISystemLayer::ProcessOutcome
PosixSystemLayer::runProcess(const QString& program, const QStringList& arguments, int timeoutMs) {
    ProcessOutcome outcome;
    QProcess process;
    process.start(program, arguments, QIODevice::ReadWrite);
    if (!process.waitForStarted(timeoutMs)) {
        process.kill();
        process.waitForFinished(killWaitMs);
        return outcome;
    }
    // Nothing is sent to the tool: a tool that reads its input sees the end at once.
    process.closeWriteChannel();
    if (!process.waitForFinished(timeoutMs) && process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(killWaitMs);
        outcome.status = ProcessOutcome::TimedOut;
        return outcome;
    }
    if (process.exitStatus() == QProcess::CrashExit) {
        outcome.status = ProcessOutcome::Crashed;
        return outcome;
    }
    outcome.status = ProcessOutcome::Exited;
    outcome.exitCode = process.exitCode();
    return outcome;
}

bool PosixSystemLayer::stdoutIsTerminal() {
    return ::isatty(STDOUT_FILENO) == 1;
}

bool PosixSystemLayer::writeStdout(const QByteArray& bytes) {
    // Whatever stdio still holds goes out first, so the bytes land in order.
    std::fflush(stdout);
    return writeAll(STDOUT_FILENO, bytes.constData(), bytes.size());
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
