#pragma once

#include "SystemLayer.h"

#include <string>
#include <vector>

// ISystemLayer on Linux: capabilities, reboot(2), procfs, sysfs, posix_spawn, the tty.
//
// | Windows service                                | Linux                                        |
// |------------------------------------------------|----------------------------------------------|
// | token + SeShutdownPrivilege (advapi32)         | effective CAP_SYS_BOOT (capget); EPERM       |
// |                                                | without it                                   |
// | ExitWindowsEx(EWX_REBOOT | EWX_FORCE)          | sync(), then reboot(RB_AUTOBOOT) at once     |
// | GetVolumeInformationW file-system name         | /proc/self/mountinfo: the mount holding the  |
// |                                                | canonical path (longest mount point, the     |
// |                                                | later of stacked mounts); type, for "fuse.X" |
// |                                                | and "fuseblk.X" the subtype X; plain         |
// |                                                | "fuseblk": "NTFS" when the source's boot     |
// |                                                | sector carries "NTFS    "                    |
// | EWFMGR.EXE c: -commit                          | writeFilterTool ("/usr/sbin/ewfmgr", absent  |
// |                                                | unless the site installs one), posix_spawn   |
// | \\.\C: + IOCTL_DISK_GET/SET_CACHE_INFORMATION  | C: = the disk holding "/" (mountinfo major:  |
// |                                                | minor -> /sys/dev/block/M:m -> whole disk);  |
// |                                                | its device/scsi_disk/*/cache_type (or its    |
// |                                                | own cache_type, virtio): "write back" ->     |
// |                                                | "write through", which turns the drive's     |
// |                                                | cache off. queue/write_cache is left alone:  |
// |                                                | writing it only stops the kernel's flushes.  |
// | console screen buffer fill + cursor to (0, 0)  | output a terminal: ESC[H ESC[2J ESC[3J       |
// | setlocale "Russian", AllocConsole, freopen     | setlocale ru_RU.UTF-8 (kept when missing);   |
// | CONOUT$/CONIN$, 512-line buffer                | stdout, stdin, stderr reopened on /dev/tty   |
// |                                                | (the controlling terminal), unbuffered; the  |
// |                                                | scrollback belongs to the terminal emulator  |
class PosixSystemLayer : public ISystemLayer {
public:
    // The console services act on outputFd (standard output unless a test says otherwise).
    explicit PosixSystemLayer(int outputFd = 1) : outputFd(outputFd) {}

    unsigned enableRestart() override;
    void syncFileSystems() override;
    unsigned restart() override;
    bool fileSystemName(const std::wstring& root, std::string& name) override;
    bool readDriveCache(wchar_t letter, DriveCache& cache) override;
    bool writeDriveCache(wchar_t letter, const DriveCache& cache) override;
    bool fileExists(const std::wstring& path) override;
    ProcessOutcome runProcess(const std::wstring& program,
                              const std::vector<std::wstring>& arguments, int timeoutMs) override;
    bool clearConsole() override;
    bool attachConsole() override;

    // The file-system operations that the volume and drive services are built on; tests
    // override them to describe a machine.

    // The process's mount table in /proc/self/mountinfo format; empty when unreadable.
    virtual std::string mountTable();
    // Absolute path with every link resolved; empty when the path cannot be resolved.
    virtual std::string canonicalPath(const std::string& path);
    virtual bool pathExists(const std::string& path);
    // Entry names of a directory without "." and ".."; empty when unreadable.
    virtual std::vector<std::string> listDirectory(const std::string& path);
    // At most maxBytes from the start of a file (sysfs attribute, boot sector).
    virtual bool readFile(const std::string& path, std::size_t maxBytes, std::string& content);
    // Replaces the content of an existing file; never creates one.
    virtual bool writeFile(const std::string& path, const std::string& content);

private:
    int outputFd;
};
