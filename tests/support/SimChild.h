#pragma once

// velk-sim as a child process of a test. Started with fork and exec rather
// than QProcess: QProcess starts children with a raw clone() that clang's
// ThreadSanitizer runtime cannot follow. What the child prints goes to
// in-memory files, never to a pipe, so a simulator that logs a lot never
// blocks on a test that does not read its log, and no reader thread is
// needed (the fault tests count the process's threads).

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

class SimChild {
public:
    SimChild() = default;
    SimChild(const SimChild&) = delete;
    SimChild& operator=(const SimChild&) = delete;
    ~SimChild() {
        stop(SIGTERM);
        closeFiles();
    }

    static QString binary() {
        return qEnvironmentVariable("VELK_BINARY_DIR") + "/tools/velk-sim/velk-sim";
    }

    static QString portsFolder() {
        return qEnvironmentVariable("XDG_CONFIG_HOME") + "/ORBEK/ports";
    }

    static QString linkPath(int com) { return portsFolder() + "/COM" + QString::number(com); }

    // Starts velk-sim --com com with the extra arguments and waits for its
    // READY line naming COMn. False (with the reason in error) when it does
    // not come within timeoutMs.
    bool start(int com, const QStringList& extra = {}, QString* error = nullptr,
               int timeoutMs = 5000) {
        if (!launch(QStringList{"--com", QString::number(com)} + extra, error)) {
            return false;
        }
        if (!waitReady(timeoutMs, error)) {
            return false;
        }
        if (name != "COM" + QString::number(com)) {
            return fail(error, "READY names " + name);
        }
        return true;
    }

    // Starts velk-sim with exactly these arguments, waiting for nothing.
    bool launch(const QStringList& arguments, QString* error = nullptr) {
        if (pid > 0) {
            return fail(error, "velk-sim is already running");
        }
        closeFiles();
        result = -1;
        name.clear();
        device.clear();
        out = memfd_create("velk-sim-out", MFD_CLOEXEC);
        err = memfd_create("velk-sim-err", MFD_CLOEXEC);
        if (out < 0 || err < 0) {
            return fail(error, "memfd_create failed");
        }
        // Everything the child needs is prepared before fork: in between fork
        // and exec only async-signal-safe calls are allowed.
        std::vector<std::string> words{binary().toStdString()};
        for (const QString& a : arguments) {
            words.push_back(a.toStdString());
        }
        std::vector<char*> argv;
        for (std::string& w : words) {
            argv.push_back(&w[0]);
        }
        argv.push_back(nullptr);
        pid = fork();
        if (pid == 0) {
            if (dup2(out, STDOUT_FILENO) < 0 || dup2(err, STDERR_FILENO) < 0) {
                _exit(126);
            }
            execv(argv[0], argv.data());
            _exit(127);
        }
        if (pid < 0) {
            return fail(error, "fork failed");
        }
        return true;
    }

    // Waits for the READY line and takes the port name and device from it.
    bool waitReady(int timeoutMs = 5000, QString* error = nullptr) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        QByteArray log = output();
        while (!log.contains('\n')) {
            if (!running()) {
                return fail(error, "velk-sim ended (" + QString::number(result) +
                                       "): " + QString::fromUtf8(errors()));
            }
            if (std::chrono::steady_clock::now() > end) {
                return fail(error, "no READY line: " + QString::fromUtf8(errors()));
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            log = output();
        }
        const QList<QByteArray> words = log.left(log.indexOf('\n')).split(' ');
        if (words.size() != 3 || words[0] != "READY") {
            return fail(error, "unexpected first line: " + QString::fromUtf8(log));
        }
        name = QString::fromUtf8(words[1]);
        device = QString::fromUtf8(words[2]);
        return true;
    }

    // Whether the child still runs (reaps it once it has ended).
    bool running() {
        if (pid <= 0) {
            return false;
        }
        int status = 0;
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == 0) {
            return true;
        }
        settle(done == pid ? status : -1);
        return false;
    }

    // Waits for the child to end by itself; its exit code, or -1 when a
    // signal ended it or it had to be killed after timeoutMs.
    int wait(int timeoutMs = 5000) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (running()) {
            if (std::chrono::steady_clock::now() > end) {
                ::kill(pid, SIGKILL);
                reap();
                result = -1;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return result;
    }

    // Sends the signal and waits for the exit; the exit code (-1 when a
    // signal ended it, it had to be killed, or it never ran). Once ended,
    // later calls return the same result.
    int stop(int signal = SIGTERM, int timeoutMs = 5000) {
        if (running()) {
            ::kill(pid, signal);
            return wait(timeoutMs);
        }
        return result;
    }

    // Everything the simulator printed on stdout so far, the READY line included.
    QByteArray output() { return readAll(out, outLog); }

    // What it printed on stderr so far.
    QByteArray errors() { return readAll(err, errLog); }

    // How many lines it logged so far start with prefix.
    int loggedLines(const QByteArray& prefix) {
        int n = 0;
        for (const QByteArray& line : output().split('\n')) {
            n += line.startsWith(prefix) ? 1 : 0;
        }
        return n;
    }

    QString name;   // COMn
    QString device; // the pseudo-terminal

private:
    static bool fail(QString* error, const QString& why) {
        if (error != nullptr) {
            *error = why;
        }
        return false;
    }

    void settle(int status) {
        result = status >= 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        pid = -1;
    }

    void reap() {
        int status = 0;
        pid_t done = -1;
        do {
            done = waitpid(pid, &status, 0);
        } while (done < 0 && errno == EINTR);
        settle(done == pid ? status : -1);
    }

    // The child writes at the file's shared offset; the test reads with
    // pread from where it stopped, never moving that offset.
    static QByteArray readAll(int fd, QByteArray& log) {
        if (fd < 0) {
            return log;
        }
        char buffer[4096];
        ssize_t n = 0;
        while ((n = pread(fd, buffer, sizeof buffer, off_t(log.size()))) > 0) {
            log.append(buffer, int(n));
        }
        return log;
    }

    void closeFiles() {
        for (int* fd : {&out, &err}) {
            if (*fd >= 0) {
                ::close(*fd);
                *fd = -1;
            }
        }
        outLog.clear();
        errLog.clear();
    }

    pid_t pid = -1;
    int result = -1;
    int out = -1;
    int err = -1;
    QByteArray outLog;
    QByteArray errLog;
};
