// The Linux system layer of the platform utilities: volumes and drive caches
// on a described machine (file-system operations overridden), and the real
// process, file and terminal operations on temporary files and a pseudo-terminal.

#include "PlatformUtilities.h"
#include "PosixSystemLayer.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <doctest/doctest.h>
#include <fcntl.h>
#include <map>
#include <pty.h>
#include <signal.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using Outcome = ISystemLayer::ProcessOutcome;

namespace {

// A machine described by its mount table and files; writes are only recorded.
class DescribedMachine : public PosixSystemLayer {
public:
    std::string mounts;
    std::map<std::string, std::string> canonicalPaths; // a path not listed does not resolve
    std::map<std::string, std::string> files;
    std::map<std::string, std::vector<std::string>> directories;
    std::vector<std::string> writes;

    std::string mountTable() override { return mounts; }
    std::string canonicalPath(const std::string& path) override {
        const auto found = canonicalPaths.find(path);
        return found == canonicalPaths.end() ? std::string() : found->second;
    }
    bool pathExists(const std::string& path) override {
        return files.count(path) != 0 || directories.count(path) != 0;
    }
    std::vector<std::string> listDirectory(const std::string& path) override {
        const auto found = directories.find(path);
        return found == directories.end() ? std::vector<std::string>() : found->second;
    }
    bool readFile(const std::string& path, std::size_t maxBytes, std::string& content) override {
        const auto found = files.find(path);
        if (found == files.end())
            return false;
        content = found->second.substr(0, maxBytes);
        return true;
    }
    bool writeFile(const std::string& path, const std::string& content) override {
        writes.push_back(path + " <- " + content);
        if (files.count(path) == 0)
            return false;
        files[path] = content;
        return true;
    }
};

const std::string sdaPartition = "/sys/devices/pci0000:00/ata1/host0/block/sda/sda2";
const std::string sdaDisk = "/sys/devices/pci0000:00/ata1/host0/block/sda";
const std::string sdaCacheType = sdaDisk + "/device/scsi_disk/0:0:0:0/cache_type";

// A machine whose "/" is the second partition of a SATA disk.
void setUpSataRoot(DescribedMachine& machine, const std::string& cacheState) {
    machine.mounts = "1 0 0:1 / / rw - rootfs rootfs rw\n"
                     "22 1 8:2 / / rw,relatime shared:1 - ext4 /dev/sda2 rw\n"
                     "23 22 0:21 / /proc rw - proc proc rw\n";
    machine.canonicalPaths["/sys/dev/block/8:2"] = sdaPartition;
    machine.files[sdaPartition + "/partition"] = "2\n";
    machine.directories[sdaDisk + "/device/scsi_disk"] = {"0:0:0:0"};
    machine.files[sdaCacheType] = cacheState;
}

// A folder of its own, removed with everything in it when the test ends.
struct TempDir {
    std::string path;
    TempDir() {
        char name[] = "/tmp/velk-utils-XXXXXX";
        path = ::mkdtemp(name) != nullptr ? name : "";
    }
    ~TempDir() {
        if (!path.empty())
            std::system(("rm -rf '" + path + "'").c_str());
    }
};

bool writeText(const std::string& path, const std::string& text) {
    FILE* file = std::fopen(path.c_str(), "w");
    if (file == nullptr)
        return false;
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    return std::fclose(file) == 0 && written;
}

std::string readText(const std::string& path) {
    std::string text;
    FILE* file = std::fopen(path.c_str(), "r");
    if (file == nullptr)
        return text;
    char buffer[256];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        text.append(buffer, got);
    std::fclose(file);
    return text;
}

bool writeScript(const std::string& path, const std::string& body) {
    return writeText(path, "#!/bin/sh\n" + body + "\n") && ::chmod(path.c_str(), 0700) == 0;
}

std::wstring wide(const std::string& ascii) {
    return std::wstring(ascii.begin(), ascii.end());
}

} // namespace

TEST_CASE("fileSystemOfAPath") {
    struct Case {
        const char* name;
        std::string extraMounts;
        std::string canonical; // empty: the path does not resolve
        std::string bootSector;
        bool ntfs;
    };
    const std::string ntfsBoot("\xEB\x52\x90NTFS    ", 11);
    const std::string exfatBoot("\xEB\x76\x90"
                                "EXFAT   ",
                                11);
    const Case cases[] = {
        {"ntfs3 below its mount point", "", "/mnt/win/dir", "", true},
        {"ntfs3 mount point itself", "", "/mnt/win", "", true},
        {"old ntfs driver", "", "/mnt/old/a", "", true},
        {"ext4 root", "", "/home/user", "", false},
        {"name prefix is not a mount", "", "/mnt/window", "", false},
        {"fuseblk with NTFS boot sector", "", "/mnt/usb/x", ntfsBoot, true},
        {"fuseblk with exFAT boot sector", "", "/mnt/usb/x", exfatBoot, false},
        {"fuseblk unreadable device", "", "/mnt/usb", "", false},
        {"fuseblk.ntfs-3g subtype", "", "/mnt/my disk/f", "", true},
        {"fuse.sshfs", "", "/mnt/ssh/f", ntfsBoot, false},
        {"unresolvable path", "", "", "", false},
        {"ext4 stacked on the ntfs3 mount", "45 40 8:81 / /mnt/win rw - ext4 /dev/sdf1 rw\n",
         "/mnt/win/dir", "", false},
        {"deeper ntfs mount inside ext4", "46 22 8:97 / /home/user/win rw - ntfs3 /dev/sdg1 rw\n",
         "/home/user/win/x", "", true},
    };
    for (const Case& c : cases) {
        DescribedMachine machine;
        machine.mounts = "22 1 8:2 / / rw,relatime shared:1 - ext4 /dev/sda2 rw\n"
                         "40 22 8:17 / /mnt/win rw,relatime shared:20 - ntfs3 /dev/sdb1 rw,uid=0\n"
                         "41 22 8:33 / /mnt/usb rw,nosuid shared:21 - fuseblk /dev/sdc1 rw\n"
                         "42 22 0:50 / /mnt/ssh rw shared:22 - fuse.sshfs host:/ rw\n"
                         "43 22 8:49 / /mnt/my\\040disk rw - fuseblk.ntfs-3g /dev/sdd1 rw\n"
                         "44 22 8:65 / /mnt/old rw - ntfs /dev/sde1 rw\n" +
                         c.extraMounts;
        if (!c.canonical.empty())
            machine.canonicalPaths["volume"] = c.canonical;
        if (!c.bootSector.empty()) {
            machine.files["/dev/sdc1"] = c.bootSector;
            machine.files["/dev/sdd1"] = c.bootSector;
        }
        INFO(c.name);
        CHECK(isNtfsVolume(L"volume", machine) == c.ntfs);
        CHECK(machine.writes.empty());
    }
}

TEST_CASE("writeCacheOfTheRootDisk") {
    struct Case {
        const char* layout;
        std::string state;
        std::string written; // empty: nothing written
    };
    const Case cases[] = {
        {"sata-partition", "write back\n", sdaCacheType},
        {"sata-partition", "write back, no read (daft)\n", sdaCacheType},
        {"sata-partition", "write through\n", ""},
        {"sata-partition", "none\n", ""},
        {"sata-disk", "write back\n", sdaCacheType},
        {"virtio", "write back\n", "/sys/devices/virtio1/block/vda/cache_type"},
        {"nvme", "write back\n", ""},
        {"overlay", "write back\n", ""},
        {"no mount table", "write back\n", ""},
        {"drive D", "write back\n", ""}, // only C: has a counterpart
    };
    for (const Case& c : cases) {
        DescribedMachine machine;
        setUpSataRoot(machine, c.state);
        const std::string layout = c.layout;
        if (layout == "sata-disk") {
            machine.mounts = "22 1 8:0 / / rw - ext4 /dev/sda rw\n";
            machine.canonicalPaths["/sys/dev/block/8:0"] = sdaDisk;
        } else if (layout == "virtio") {
            machine.mounts = "22 1 254:1 / / rw - ext4 /dev/vda1 rw\n";
            machine.canonicalPaths["/sys/dev/block/254:1"] = "/sys/devices/virtio1/block/vda/vda1";
            machine.files["/sys/devices/virtio1/block/vda/vda1/partition"] = "1\n";
            machine.files["/sys/devices/virtio1/block/vda/cache_type"] = c.state;
        } else if (layout == "nvme") {
            machine.mounts = "22 1 259:2 / / rw - ext4 /dev/nvme0n1p2 rw\n";
            machine.canonicalPaths["/sys/dev/block/259:2"] = "/sys/devices/nvme0/nvme0n1/nvme0n1p2";
            machine.files["/sys/devices/nvme0/nvme0n1/nvme0n1p2/partition"] = "2\n";
            machine.files["/sys/devices/nvme0/nvme0n1/queue/write_cache"] = c.state;
        } else if (layout == "overlay") {
            machine.mounts = "500 400 0:52 / / rw - overlay overlay rw,lowerdir=/l\n";
        } else if (layout == "no mount table") {
            machine.mounts.clear();
        }
        disableWriteCache(layout == "drive D" ? L"D:" : L"c:\\", machine);
        const std::vector<std::string> expected =
            c.written.empty() ? std::vector<std::string>{}
                              : std::vector<std::string>{c.written + " <- write through"};
        INFO(c.layout << ", " << c.state);
        CHECK(machine.writes == expected);
    }
}

TEST_CASE("writeFilterToolRunForReal") {
    struct Case {
        const char* body;
        Outcome::Status status;
        int exitCode;
    };
    const Case cases[] = {
        {"[ \"$1 $2\" = \"c: -commit\" ] || exit 9\nexit 0", Outcome::Exited, 0},
        {"echo 'commit failed' >&2\nexit 3", Outcome::Exited, 3},
        {"cat >/dev/null\nexit 0", Outcome::Exited, 0}, // its input ends at once
        {"kill -9 $$", Outcome::Crashed, -1},
        {"sleep 10\nexit 0", Outcome::TimedOut, -1},
    };
    TempDir temp;
    CHECK(!temp.path.empty());
    PosixSystemLayer system;
    for (const Case& c : cases) {
        const std::string script = temp.path + "/commit.sh";
        CHECK(writeScript(script, c.body));
        const auto start = std::chrono::steady_clock::now();
        const Outcome outcome = system.runProcess(wide(script), {L"c:", L"-commit"}, 1000);
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - start)
                            .count();
        INFO(c.body);
        CHECK(outcome.status == c.status);
        CHECK(outcome.exitCode == c.exitCode);
        CHECK(ms < 5000); // a time-out of 1 s ends it, whatever the tool does
    }
}

TEST_CASE("timedOutToolIsKilled") {
    TempDir temp;
    const std::string script = temp.path + "/slow.sh";
    const std::string pidFile = temp.path + "/pid";
    CHECK(writeScript(script, "echo $$ > \"$1\"\nexec sleep 10"));

    PosixSystemLayer system;
    CHECK_EQ(int(system.runProcess(wide(script), {wide(pidFile)}, 300).status),
             int(Outcome::TimedOut));
    const pid_t pid = std::atoi(readText(pidFile).c_str());
    CHECK(pid > 0);
    CHECK_EQ(::kill(pid, 0), -1); // gone and reaped
    CHECK_EQ(errno, ESRCH);

    CHECK_EQ(int(system.runProcess(wide(temp.path + "/missing.sh"), {}, 300).status),
             int(Outcome::NotStarted));
}

TEST_CASE("fileOperations") {
    // Only harmless operations on a temporary folder and procfs.
    TempDir temp;
    PosixSystemLayer system;
    const std::string real = system.canonicalPath(temp.path);
    CHECK(!real.empty());
    CHECK_EQ(::mkdir((real + "/target").c_str(), 0700), 0);
    CHECK_EQ(::symlink((real + "/target").c_str(), (real + "/link").c_str()), 0);
    CHECK(writeText(real + "/target/attr", "write back\n"));

    CHECK_EQ(system.canonicalPath(temp.path + "/link/../link/attr"), real + "/target/attr");
    CHECK_EQ(system.canonicalPath(temp.path + "/missing"), std::string());
    CHECK(system.fileExists(wide(real + "/link/attr")));
    CHECK(!system.fileExists(wide(real + "/link/other")));
    CHECK(system.listDirectory(real + "/link") == std::vector<std::string>{"attr"});

    std::string content;
    CHECK(system.readFile(real + "/link/attr", 5, content));
    CHECK_EQ(content, std::string("write"));
    CHECK(system.writeFile(real + "/link/attr", "write through"));
    CHECK(system.readFile(real + "/target/attr", 64, content));
    CHECK_EQ(content, std::string("write through"));
    CHECK(!system.writeFile(real + "/absent", "x")); // never creates files
    CHECK(!system.pathExists(real + "/absent"));
    CHECK(!system.readFile(real + "/absent", 10, content));

    CHECK(system.mountTable().find(" / ") != std::string::npos);
    std::string name;
    CHECK(system.fileSystemName(wide(real), name));
    CHECK(!name.empty());
}

TEST_CASE("clearConsoleOnlyOnATerminal") {
    int master = -1;
    int slave = -1;
    CHECK_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    termios raw{};
    ::tcgetattr(slave, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(slave, TCSANOW, &raw);
    CHECK(PosixSystemLayer(slave).clearConsole());
    char bytes[64] = {};
    const ssize_t got = ::read(master, bytes, sizeof bytes);
    CHECK_EQ(std::string(bytes, got > 0 ? std::size_t(got) : 0),
             std::string("\x1b[H\x1b[2J\x1b[3J"));
    ::close(slave);
    ::close(master);

    int pipeFds[2] = {-1, -1};
    CHECK_EQ(::pipe(pipeFds), 0);
    CHECK(!PosixSystemLayer(pipeFds[1]).clearConsole());
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
}
