#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The operating-system services behind the platform utilities. The utilities keep their
// logic (order of steps, values, results) and reach the system only through this
// interface, so tests can run them against a fake.
//
// How each service of the embedded Windows target is provided on Linux:
//
// | Windows service                                | Linux |
// |------------------------------------------------|------------------------------------------------|
// | token + SeShutdownPrivilege (advapi32)         | effective CAP_SYS_BOOT (capget); EPERM without
// | | ExitWindowsEx(EWX_REBOOT | EWX_FORCE)          | sync(), then reboot(RB_AUTOBOOT) at once |
// | timeGetTime + Sleep(10) in waitMs              | QElapsedTimer (monotonic) + QThread::msleep |
// | GetVolumeInformationW file-system name         | /proc/self/mountinfo: the mount holding the |
// |                                                | canonical path (longest mount point, the later
// | |                                                | of stacked mounts); type, for "fuse.X" and |
// |                                                | "fuseblk.X" the subtype X; plain "fuseblk": |
// |                                                | "NTFS    " in the source's boot sector | |
// EWFMGR.EXE c: -commit                          | writeFilterTool ("/usr/sbin/ewfmgr", absent    |
// |                                                | unless the site installs one) via QProcess |
// | \\.\C: + IOCTL_DISK_GET/SET_CACHE_INFORMATION  | C: = the disk holding "/" (mountinfo major: |
// |                                                | minor -> /sys/dev/block/M:m -> whole disk); |
// |                                                | its device/scsi_disk/*/cache_type (or its own
// | |                                                | cache_type, virtio): "write back" -> "write
// | |                                                | through", which turns the drive's cache off.
// | |                                                | queue/write_cache is left alone: writing it
// | |                                                | only stops the kernel's cache flushes. | |
// console screen buffer fill + cursor to (0, 0)  | stdout a terminal: ESC[H ESC[2J ESC[3J         |
// | setlocale "Russian", AllocConsole, freopen     | setlocale ru_RU.UTF-8 (kept when missing); |
// | CONOUT$/CONIN$, 512-line buffer                | stdout, stdin, stderr reopened on /dev/tty |
// |                                                | (the controlling terminal), unbuffered; the |
// |                                                | scrollback belongs to the terminal emulator |
class ISystemLayer {
public:
    struct ProcessOutcome {
        enum Status { NotStarted, TimedOut, Crashed, Exited };
        Status status = NotStarted;
        int exitCode = -1;
    };

    virtual ~ISystemLayer() = default;

    // True when the process may restart the machine (CAP_SYS_BOOT in effect).
    virtual bool canRestart() = 0;
    virtual void syncFileSystems() = 0;
    // Restarts at once; returns only on failure, with errno (0 if it ever returns accepted).
    virtual int restart() = 0;

    // The process's mount table in /proc/self/mountinfo format; empty when unreadable.
    virtual QByteArray mountTable() = 0;
    // Absolute path with every link resolved; empty when the path cannot be resolved.
    virtual QString canonicalPath(const QString& path) = 0;
    virtual bool fileExists(const QString& path) = 0;
    // Entry names of a directory without "." and ".."; empty when unreadable.
    virtual QStringList listDirectory(const QString& path) = 0;
    // At most maxBytes from the start of a file (sysfs attribute, boot sector).
    virtual bool readFile(const QString& path, qint64 maxBytes, QByteArray& content) = 0;
    virtual bool writeFile(const QString& path, const QByteArray& content) = 0;

    // Starts program, waits at most timeoutMs for the start and then at most timeoutMs
    // for its end; a process still running then is killed.
    virtual ProcessOutcome runProcess(const QString& program, const QStringList& arguments,
                                      int timeoutMs) = 0;

    virtual bool stdoutIsTerminal() = 0;
    virtual bool writeStdout(const QByteArray& bytes) = 0;
    // Sets the Russian locale, then reopens stdout, stdin and stderr on the controlling
    // terminal, unbuffered. False when there is no terminal or a stream cannot be reopened.
    virtual bool attachConsole() = 0;
};

// The real system.
ISystemLayer& systemLayer();
