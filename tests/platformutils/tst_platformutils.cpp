#include "FakeSystemLayer.h"
#include "PlatformUtilities.h"
#include "PosixSystemLayer.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <cerrno>
#include <climits>
#include <csignal>

using Outcome = ISystemLayer::ProcessOutcome;
Q_DECLARE_METATYPE(Outcome::Status)

namespace {

const QString sdaPartition = QStringLiteral("/sys/devices/pci0000:00/ata1/host0/block/sda/sda2");
const QString sdaDisk = QStringLiteral("/sys/devices/pci0000:00/ata1/host0/block/sda");
const QString sdaCacheType = sdaDisk + QStringLiteral("/device/scsi_disk/0:0:0:0/cache_type");

// A machine whose "/" is the second partition of a SATA disk.
void setUpSataRoot(FakeSystemLayer& system, const QByteArray& cacheState) {
    system.mounts = "1 0 0:1 / / rw - rootfs rootfs rw\n"
                    "22 1 8:2 / / rw,relatime shared:1 - ext4 /dev/sda2 rw\n"
                    "23 22 0:21 / /proc rw - proc proc rw\n";
    system.canonicalPaths.insert(QStringLiteral("/sys/dev/block/8:2"), sdaPartition);
    system.files.insert(sdaPartition + QStringLiteral("/partition"), "2\n");
    system.directories.insert(sdaDisk + QStringLiteral("/device/scsi_disk"),
                              {QStringLiteral("0:0:0:0")});
    system.files.insert(sdaCacheType, cacheState);
}

bool writeScript(const QString& path, const QByteArray& body) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write("#!/bin/sh\n" + body + "\n");
    file.close();
    return file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

// The fake system, except that the write-filter tool is a real script run for real.
class ScriptToolLayer : public FakeSystemLayer {
public:
    explicit ScriptToolLayer(const QString& script) : script(script) {
        files.insert(QString::fromUtf8(writeFilterTool), QByteArray());
    }
    Outcome runProcess(const QString& program, const QStringList& arguments,
                       int timeoutMs) override {
        FakeSystemLayer::runProcess(program, arguments, timeoutMs);
        return PosixSystemLayer().runProcess(script, arguments, timeoutMs);
    }

private:
    QString script;
};

} // namespace

class TestPlatformUtils : public QObject {
    Q_OBJECT

private slots:
    void setBits_data();
    void setBits();
    void testBits_data();
    void testBits();
    void power_data();
    void power();
    void nearlyEqual_data();
    void nearlyEqual();

    void waitZeroReturnsAtOnce();
    void waitProcessesEvents_data();
    void waitProcessesEvents();

    void locate_data();
    void locate();

    void rebootNeedsTheRight();
    void rebootSyncsThenRestarts_data();
    void rebootSyncsThenRestarts();

    void ntfsVolume_data();
    void ntfsVolume();

    void writeCacheByPath_data();
    void writeCacheByPath();
    void writeCacheByDisk_data();
    void writeCacheByDisk();

    void writeFilterOutcome_data();
    void writeFilterOutcome();
    void writeFilterToolAbsent();
    void writeFilterRealTool_data();
    void writeFilterRealTool();
    void timedOutToolIsKilled();

    void posixFileOperations();

    void clearConsole_data();
    void clearConsole();
    void openDebugConsole_data();
    void openDebugConsole();
};

void TestPlatformUtils::setBits_data() {
    QTest::addColumn<int>("width");
    QTest::addColumn<quint32>("start");
    QTest::addColumn<unsigned>("n");
    QTest::addColumn<bool>("on");
    QTest::addColumn<quint32>("expected");

    QTest::newRow("8: set bit 3") << 8 << 0x00u << 3u << true << 0x08u;
    QTest::newRow("8: clear bit 3") << 8 << 0xFFu << 3u << false << 0xF7u;
    QTest::newRow("8: set bit 7") << 8 << 0x01u << 7u << true << 0x81u;
    QTest::newRow("8: set already set") << 8 << 0x08u << 3u << true << 0x08u;
    QTest::newRow("8: bit 8 no change") << 8 << 0x5Au << 8u << true << 0x5Au;
    QTest::newRow("8: clear bit 8 no change") << 8 << 0xFFu << 8u << false << 0xFFu;
    QTest::newRow("8: bit 200 no change") << 8 << 0x5Au << 200u << false << 0x5Au;
    QTest::newRow("32: set bit 31") << 32 << 0x0u << 31u << true << 0x80000000u;
    QTest::newRow("32: clear bit 0") << 32 << 0xFFFFFFFFu << 0u << false << 0xFFFFFFFEu;
    QTest::newRow("32: set bit 16") << 32 << 0x1u << 16u << true << 0x10001u;
    QTest::newRow("32: bit 32 no change") << 32 << 0x1234u << 32u << true << 0x1234u;
    QTest::newRow("32: bit 33 no change") << 32 << 0xFFFFFFFFu << 33u << false << 0xFFFFFFFFu;
}

void TestPlatformUtils::setBits() {
    QFETCH(int, width);
    QFETCH(quint32, start);
    QFETCH(unsigned, n);
    QFETCH(bool, on);
    QFETCH(quint32, expected);
    if (width == 8) {
        unsigned char byte = static_cast<unsigned char>(start);
        setBit8(byte, n, on);
        QCOMPARE(quint32(byte), expected);
    } else {
        std::uint32_t word = start;
        setBit32(word, n, on);
        QCOMPARE(quint32(word), expected);
    }
}

void TestPlatformUtils::testBits_data() {
    QTest::addColumn<int>("width");
    QTest::addColumn<quint32>("value");
    QTest::addColumn<unsigned>("n");
    QTest::addColumn<bool>("expected");

    QTest::newRow("8: bit 3 of 08") << 8 << 0x08u << 3u << true;
    QTest::newRow("8: bit 2 of 08") << 8 << 0x08u << 2u << false;
    QTest::newRow("8: bit 7 of 80") << 8 << 0x80u << 7u << true;
    QTest::newRow("8: bit 8 of FF") << 8 << 0xFFu << 8u << false;
    QTest::newRow("8: bit 9 of FF") << 8 << 0xFFu << 9u << false;
    QTest::newRow("32: bit 31") << 32 << 0x80000000u << 31u << true;
    QTest::newRow("32: bit 30") << 32 << 0x80000000u << 30u << false;
    QTest::newRow("32: bit 32") << 32 << 0xFFFFFFFFu << 32u << false;
    QTest::newRow("32: bit 64") << 32 << 0xFFFFFFFFu << 64u << false;
}

void TestPlatformUtils::testBits() {
    QFETCH(int, width);
    QFETCH(quint32, value);
    QFETCH(unsigned, n);
    QFETCH(bool, expected);
    if (width == 8)
        QCOMPARE(testBit8(static_cast<unsigned char>(value), n), expected);
    else
        QCOMPARE(testBit32(value, n), expected);
}

void TestPlatformUtils::power_data() {
    QTest::addColumn<int>("base");
    QTest::addColumn<unsigned>("exponent");
    QTest::addColumn<int>("expected");

    QTest::newRow("2^10") << 2 << 10u << 1024;
    QTest::newRow("7^0") << 7 << 0u << 1;
    QTest::newRow("0^0") << 0 << 0u << 1;
    QTest::newRow("0^5") << 0 << 5u << 0;
    QTest::newRow("(-3)^3") << -3 << 3u << -27;
    QTest::newRow("(-2)^4") << -2 << 4u << 16;
    QTest::newRow("3^13") << 3 << 13u << 1594323;
    QTest::newRow("2^31 wraps") << 2 << 31u << INT_MIN;
    QTest::newRow("2^32 wraps to 0") << 2 << 32u << 0;
    QTest::newRow("10^10 wraps") << 10 << 10u << 1410065408;
    QTest::newRow("7^12 wraps") << 7 << 12u << 956385313;
    QTest::newRow("3^21 wraps") << 3 << 21u << 1870418611;
    QTest::newRow("(-3)^21 wraps") << -3 << 21u << -1870418611;
    QTest::newRow("(-1)^(2^32-1)") << -1 << 4294967295u << -1;
}

void TestPlatformUtils::power() {
    QFETCH(int, base);
    QFETCH(unsigned, exponent);
    QFETCH(int, expected);
    QCOMPARE(::power(base, exponent), expected);
}

void TestPlatformUtils::nearlyEqual_data() {
    QTest::addColumn<double>("a");
    QTest::addColumn<double>("b");
    QTest::addColumn<double>("epsilon");
    QTest::addColumn<bool>("expected");

    QTest::newRow("difference equals epsilon") << 1.0 << 1.5 << 0.5 << false;
    QTest::newRow("difference equals epsilon, reversed") << 1.5 << 1.0 << 0.5 << false;
    QTest::newRow("difference below epsilon") << 1.0 << 1.4 << 0.5 << true;
    QTest::newRow("across zero") << -1.0 << 1.0 << 2.0001 << true;
    QTest::newRow("equal, epsilon 0") << 1.0 << 1.0 << 0.0 << false;
    QTest::newRow("far apart") << 0.0 << 100.0 << 1.0 << false;
}

void TestPlatformUtils::nearlyEqual() {
    QFETCH(double, a);
    QFETCH(double, b);
    QFETCH(double, epsilon);
    QFETCH(bool, expected);
    QCOMPARE(isNearlyEqual(a, b, epsilon), expected);
}

void TestPlatformUtils::waitZeroReturnsAtOnce() {
    bool fired = false;
    QTimer::singleShot(0, this, [&fired] { fired = true; });
    QCOMPARE(waitMs(0, false), 0u);
    QVERIFY(!fired); // no events were handled
    QTRY_VERIFY(fired);
}

void TestPlatformUtils::waitProcessesEvents_data() {
    QTest::addColumn<bool>("excludeUserInput");
    QTest::newRow("all events") << false;
    QTest::newRow("user input excluded") << true;
}

void TestPlatformUtils::waitProcessesEvents() {
    QFETCH(bool, excludeUserInput);
    bool fired = false;
    QTimer::singleShot(0, this, [&fired] { fired = true; });
    QElapsedTimer clock;
    clock.start();
    const unsigned waited = waitMs(25, excludeUserInput);
    QVERIFY2(waited >= 25, qPrintable(QString::number(waited)));
    QVERIFY(clock.elapsed() >= 25);
    QVERIFY(fired);
}

void TestPlatformUtils::locate_data() {
    QTest::addColumn<QStringList>("baseFiles");
    QTest::addColumn<QStringList>("appFiles");
    QTest::addColumn<QString>("expected");

    // Names ending in "/" are created as directories.
    QTest::newRow("direct in base")
        << QStringList{"data.bin", "Xdata.bin"} << QStringList{"data.bin"} << "base:data.bin";
    QTest::newRow("one match in base") << QStringList{"Xdata.bin", "1data.bin", "data.bin.bak"}
                                       << QStringList{"data.bin"} << "base:Xdata.bin";
    QTest::newRow("two matches in base, direct in app")
        << QStringList{"Adata.bin", "bbdata.bin"} << QStringList{"data.bin"} << "app:data.bin";
    QTest::newRow("two matches in base, one in app")
        << QStringList{"Adata.bin", "Bdata.bin"} << QStringList{"Cdata.bin"} << "app:Cdata.bin";
    QTest::newRow("none in base, direct in app")
        << QStringList{"other.bin"} << QStringList{"data.bin", "Ydata.bin"} << "app:data.bin";
    QTest::newRow("none in base, one in app")
        << QStringList{} << QStringList{"vdata.bin", "9data.bin"} << "app:vdata.bin";
    QTest::newRow("two matches in both")
        << QStringList{"Adata.bin", "Bdata.bin"} << QStringList{"Adata.bin", "Bdata.bin"} << "";
    QTest::newRow("nothing anywhere") << QStringList{} << QStringList{} << "";
    QTest::newRow("directories are not files")
        << QStringList{"data.bin/", "Xdata.bin/"} << QStringList{"Zdata.bin/"} << "";
    QTest::newRow("directory match does not count")
        << QStringList{"Xdata.bin", "Ydata.bin/"} << QStringList{} << "base:Xdata.bin";
}

void TestPlatformUtils::locate() {
    QFETCH(QStringList, baseFiles);
    QFETCH(QStringList, appFiles);
    QFETCH(QString, expected);

    // The same sub-folder name under a temporary base and next to the test program.
    QTemporaryDir appTemp(QCoreApplication::applicationDirPath() + "/locate-XXXXXX");
    QTemporaryDir baseTemp;
    QVERIFY(appTemp.isValid() && baseTemp.isValid());
    const QString subDir = QFileInfo(appTemp.path()).fileName() + "/";
    const QString baseDir = baseTemp.path() + "/";
    QVERIFY(QDir().mkpath(baseDir + subDir));
    const QString appSubDir = QCoreApplication::applicationDirPath() + "/" + subDir;

    auto create = [](const QString& dir, const QStringList& names) {
        for (const QString& name : names) {
            if (name.endsWith('/')) {
                if (!QDir().mkpath(dir + name))
                    return false;
            } else {
                QFile file(dir + name);
                if (!file.open(QIODevice::WriteOnly))
                    return false;
            }
        }
        return true;
    };
    QVERIFY(create(baseDir + subDir, baseFiles));
    QVERIFY(create(appSubDir, appFiles));

    QString expectedPath;
    if (expected.startsWith("base:"))
        expectedPath = baseDir + subDir + expected.mid(5);
    else if (expected.startsWith("app:"))
        expectedPath = appSubDir + expected.mid(4);
    QCOMPARE(locateFile(baseDir, subDir, "data.bin"), expectedPath);
}

void TestPlatformUtils::rebootNeedsTheRight() {
    FakeSystemLayer system;
    system.restartAllowed = false;
    QCOMPARE(rebootSystem(system), unsigned(EPERM));
    QVERIFY2(system.calls.isEmpty(), qPrintable(system.calls.join(", ")));
}

void TestPlatformUtils::rebootSyncsThenRestarts_data() {
    QTest::addColumn<int>("restartError");
    QTest::newRow("accepted") << 0;
    QTest::newRow("refused") << int(EINVAL);
}

void TestPlatformUtils::rebootSyncsThenRestarts() {
    QFETCH(int, restartError);
    FakeSystemLayer system;
    system.restartAllowed = true;
    system.restartError = restartError;
    QCOMPARE(rebootSystem(system), unsigned(restartError));
    QCOMPARE(system.calls, (QStringList{"sync", "restart"}));
}

void TestPlatformUtils::ntfsVolume_data() {
    QTest::addColumn<QByteArray>("extraMounts");
    QTest::addColumn<QString>("canonical");
    QTest::addColumn<QByteArray>("bootSector");
    QTest::addColumn<bool>("expected");

    const QByteArray ntfsBoot("\xEB\x52\x90NTFS    ", 11);
    const QByteArray exfatBoot("\xEB\x76\x90"
                               "EXFAT   ",
                               11);
    QTest::newRow("ntfs3 below its mount point")
        << QByteArray() << "/mnt/win/dir" << QByteArray() << true;
    QTest::newRow("ntfs3 mount point itself") << QByteArray() << "/mnt/win" << QByteArray() << true;
    QTest::newRow("old ntfs driver") << QByteArray() << "/mnt/old/a" << QByteArray() << true;
    QTest::newRow("ext4 root") << QByteArray() << "/home/user" << QByteArray() << false;
    QTest::newRow("name prefix is not a mount")
        << QByteArray() << "/mnt/window" << QByteArray() << false;
    QTest::newRow("fuseblk with NTFS boot sector")
        << QByteArray() << "/mnt/usb/x" << ntfsBoot << true;
    QTest::newRow("fuseblk with exFAT boot sector")
        << QByteArray() << "/mnt/usb/x" << exfatBoot << false;
    QTest::newRow("fuseblk unreadable device")
        << QByteArray() << "/mnt/usb" << QByteArray() << false;
    QTest::newRow("fuseblk.ntfs-3g subtype")
        << QByteArray() << "/mnt/my disk/f" << QByteArray() << true;
    QTest::newRow("fuse.sshfs") << QByteArray() << "/mnt/ssh/f" << ntfsBoot << false;
    QTest::newRow("unresolvable path") << QByteArray() << "" << QByteArray() << false;
    QTest::newRow("ext4 stacked on the ntfs3 mount")
        << QByteArray("45 40 8:81 / /mnt/win rw - ext4 /dev/sdf1 rw\n") << "/mnt/win/dir"
        << QByteArray() << false;
    QTest::newRow("deeper ntfs mount inside ext4")
        << QByteArray("46 22 8:97 / /home/user/win rw - ntfs3 /dev/sdg1 rw\n") << "/home/user/win/x"
        << QByteArray() << true;
}

void TestPlatformUtils::ntfsVolume() {
    QFETCH(QByteArray, extraMounts);
    QFETCH(QString, canonical);
    QFETCH(QByteArray, bootSector);
    QFETCH(bool, expected);

    FakeSystemLayer system;
    system.mounts = "22 1 8:2 / / rw,relatime shared:1 - ext4 /dev/sda2 rw\n"
                    "40 22 8:17 / /mnt/win rw,relatime shared:20 - ntfs3 /dev/sdb1 rw,uid=0\n"
                    "41 22 8:33 / /mnt/usb rw,nosuid shared:21 - fuseblk /dev/sdc1 rw\n"
                    "42 22 0:50 / /mnt/ssh rw shared:22 - fuse.sshfs host:/ rw\n"
                    "43 22 8:49 / /mnt/my\\040disk rw - fuseblk.ntfs-3g /dev/sdd1 rw\n"
                    "44 22 8:65 / /mnt/old rw - ntfs /dev/sde1 rw\n" +
                    extraMounts;
    if (!canonical.isEmpty())
        system.canonicalPaths.insert("volume", canonical);
    if (!bootSector.isEmpty()) {
        system.files.insert("/dev/sdc1", bootSector);
        system.files.insert("/dev/sdd1", bootSector);
    }
    QCOMPARE(isNtfsVolume("volume", system), expected);
    QVERIFY(system.calls.isEmpty());
}

void TestPlatformUtils::writeCacheByPath_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("state");
    QTest::addColumn<bool>("changed");

    QTest::newRow("C: write back") << "C:" << QByteArray("write back\n") << true;
    QTest::newRow("c:\\ write back") << "c:\\" << QByteArray("write back\n") << true;
    QTest::newRow("C: write back, no read")
        << "C:" << QByteArray("write back, no read (daft)\n") << true;
    QTest::newRow("C: write through") << "C:" << QByteArray("write through\n") << false;
    QTest::newRow("C: none") << "C:" << QByteArray("none\n") << false;
    QTest::newRow("1: is not a drive") << "1:" << QByteArray("write back\n") << false;
    QTest::newRow("one character") << "C" << QByteArray("write back\n") << false;
    QTest::newRow("empty") << "" << QByteArray("write back\n") << false;
    QTest::newRow("no colon") << "C;" << QByteArray("write back\n") << false;
    QTest::newRow("non-ASCII letter")
        << QString::fromUtf8("С:") << QByteArray("write back\n") << false;
    QTest::newRow("D: has no counterpart") << "D:" << QByteArray("write back\n") << false;
}

void TestPlatformUtils::writeCacheByPath() {
    QFETCH(QString, path);
    QFETCH(QByteArray, state);
    QFETCH(bool, changed);

    FakeSystemLayer system;
    setUpSataRoot(system, state);
    disableWriteCache(path, system);
    const QStringList expected =
        changed ? QStringList{"write " + sdaCacheType + " write through"} : QStringList{};
    QCOMPARE(system.calls, expected);
}

void TestPlatformUtils::writeCacheByDisk_data() {
    QTest::addColumn<QString>("layout");
    QTest::addColumn<QString>("written");

    QTest::newRow("partition of a SATA disk") << "sata-partition" << sdaCacheType;
    QTest::newRow("whole SATA disk") << "sata-disk" << sdaCacheType;
    QTest::newRow("virtio disk") << "virtio"
                                 << "/sys/devices/virtio1/block/vda/cache_type";
    QTest::newRow("NVMe disk has no switch") << "nvme"
                                             << "";
    QTest::newRow("root without block device") << "overlay"
                                               << "";
    QTest::newRow("no mount table") << "none"
                                    << "";
}

void TestPlatformUtils::writeCacheByDisk() {
    QFETCH(QString, layout);
    QFETCH(QString, written);

    FakeSystemLayer system;
    setUpSataRoot(system, "write back\n");
    if (layout == "sata-disk") {
        system.mounts = "22 1 8:0 / / rw - ext4 /dev/sda rw\n";
        system.canonicalPaths.insert("/sys/dev/block/8:0", sdaDisk);
    } else if (layout == "virtio") {
        system.mounts = "22 1 254:1 / / rw - ext4 /dev/vda1 rw\n";
        system.canonicalPaths.insert("/sys/dev/block/254:1", "/sys/devices/virtio1/block/vda/vda1");
        system.files.insert("/sys/devices/virtio1/block/vda/vda1/partition", "1\n");
        system.files.insert("/sys/devices/virtio1/block/vda/cache_type", "write back\n");
    } else if (layout == "nvme") {
        system.mounts = "22 1 259:2 / / rw - ext4 /dev/nvme0n1p2 rw\n";
        system.canonicalPaths.insert("/sys/dev/block/259:2",
                                     "/sys/devices/nvme0/nvme0n1/nvme0n1p2");
        system.files.insert("/sys/devices/nvme0/nvme0n1/nvme0n1p2/partition", "2\n");
        system.files.insert("/sys/devices/nvme0/nvme0n1/queue/write_cache", "write back\n");
    } else if (layout == "overlay") {
        system.mounts = "500 400 0:52 / / rw - overlay overlay rw,lowerdir=/l\n";
    } else if (layout == "none") {
        system.mounts.clear();
    }
    disableWriteCache("C:", system);
    const QStringList expected =
        written.isEmpty() ? QStringList{} : QStringList{"write " + written + " write through"};
    QCOMPARE(system.calls, expected);
}

void TestPlatformUtils::writeFilterOutcome_data() {
    QTest::addColumn<Outcome::Status>("status");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<bool>("expected");

    QTest::newRow("finished, exit 0") << Outcome::Exited << 0 << true;
    QTest::newRow("finished, exit 1") << Outcome::Exited << 1 << false;
    QTest::newRow("did not start") << Outcome::NotStarted << -1 << false;
    QTest::newRow("outlasted the time-out") << Outcome::TimedOut << -1 << false;
    QTest::newRow("crashed") << Outcome::Crashed << -1 << false;
}

void TestPlatformUtils::writeFilterOutcome() {
    QFETCH(Outcome::Status, status);
    QFETCH(int, exitCode);
    QFETCH(bool, expected);

    FakeSystemLayer system;
    system.files.insert(QString::fromUtf8(writeFilterTool), QByteArray());
    system.processOutcome.status = status;
    system.processOutcome.exitCode = exitCode;
    QCOMPARE(commitWriteFilter(1234, system), expected);
    QCOMPARE(system.calls,
             QStringList{QStringLiteral("run %1 c: -commit 1234").arg(writeFilterTool)});
}

void TestPlatformUtils::writeFilterToolAbsent() {
    FakeSystemLayer system;
    system.processOutcome.status = Outcome::Exited;
    system.processOutcome.exitCode = 0;
    QVERIFY(!commitWriteFilter(1000, system));
    QVERIFY(system.calls.isEmpty());
}

void TestPlatformUtils::writeFilterRealTool_data() {
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("expected");

    QTest::newRow("succeeds") << QByteArray("[ \"$1 $2\" = \"c: -commit\" ] || exit 9\nexit 0")
                              << true;
    QTest::newRow("fails") << QByteArray("echo 'commit failed' >&2\nexit 3") << false;
    QTest::newRow("reads its input") << QByteArray("cat >/dev/null\nexit 0") << true;
    QTest::newRow("killed by a signal") << QByteArray("kill -9 $$") << false;
    QTest::newRow("outlasts the time-out") << QByteArray("sleep 10\nexit 0") << false;
}

void TestPlatformUtils::writeFilterRealTool() {
    QFETCH(QByteArray, body);
    QFETCH(bool, expected);

    QTemporaryDir temp;
    QVERIFY(temp.isValid());
    const QString script = temp.filePath("commit.sh");
    QVERIFY(writeScript(script, body));
    ScriptToolLayer system(script);
    QCOMPARE(commitWriteFilter(1000, system), expected);
}

void TestPlatformUtils::timedOutToolIsKilled() {
    QTemporaryDir temp;
    QVERIFY(temp.isValid());
    const QString script = temp.filePath("slow.sh");
    const QString pidFile = temp.filePath("pid");
    QVERIFY(writeScript(script, "echo $$ > \"$1\"\nexec sleep 10"));

    PosixSystemLayer system;
    QCOMPARE(system.runProcess(script, {pidFile}, 300).status, Outcome::TimedOut);
    QFile file(pidFile);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const pid_t pid = file.readAll().trimmed().toInt();
    QVERIFY(pid > 0);
    QCOMPARE(::kill(pid, 0), -1); // gone and reaped
    QCOMPARE(errno, ESRCH);

    QCOMPARE(system.runProcess(temp.filePath("missing.sh"), {}, 300).status, Outcome::NotStarted);
}

void TestPlatformUtils::posixFileOperations() {
    // Only harmless operations on a temporary folder and procfs.
    QTemporaryDir temp;
    QVERIFY(temp.isValid());
    const QString real = QDir(temp.path()).canonicalPath();
    QVERIFY(QDir().mkpath(real + "/target"));
    QVERIFY(QFile::link(real + "/target", real + "/link"));
    QFile attribute(real + "/target/attr");
    QVERIFY(attribute.open(QIODevice::WriteOnly));
    attribute.write("write back\n");
    attribute.close();

    PosixSystemLayer system;
    QCOMPARE(system.canonicalPath(temp.path() + "/link/../link/attr"), real + "/target/attr");
    QCOMPARE(system.canonicalPath(temp.path() + "/missing"), QString());
    QVERIFY(system.fileExists(real + "/link/attr"));
    QVERIFY(!system.fileExists(real + "/link/other"));
    QCOMPARE(system.listDirectory(real + "/link"), QStringList{"attr"});

    QByteArray content;
    QVERIFY(system.readFile(real + "/link/attr", 5, content));
    QCOMPARE(content, QByteArray("write"));
    QVERIFY(system.writeFile(real + "/link/attr", "write through"));
    QVERIFY(system.readFile(real + "/target/attr", 64, content));
    QCOMPARE(content, QByteArray("write through"));
    QVERIFY(!system.writeFile(real + "/absent", "x")); // never creates files
    QVERIFY(!QFile::exists(real + "/absent"));
    QVERIFY(!system.readFile(real + "/absent", 10, content));

    QVERIFY(system.mountTable().contains(" / "));
}

void TestPlatformUtils::clearConsole_data() {
    QTest::addColumn<bool>("terminal");
    QTest::newRow("stdout is a terminal") << true;
    QTest::newRow("stdout is not a terminal") << false;
}

void TestPlatformUtils::clearConsole() {
    QFETCH(bool, terminal);
    FakeSystemLayer system;
    system.terminal = terminal;
    QCOMPARE(::clearConsole(system), terminal);
    const QStringList expected =
        terminal ? QStringList{"stdout 1b 5b 48 1b 5b 32 4a 1b 5b 33 4a"} : QStringList{};
    QCOMPARE(system.calls, expected);
}

void TestPlatformUtils::openDebugConsole_data() {
    QTest::addColumn<bool>("available");
    QTest::newRow("controlling terminal") << true;
    QTest::newRow("no terminal") << false;
}

void TestPlatformUtils::openDebugConsole() {
    QFETCH(bool, available);
    FakeSystemLayer system;
    system.consoleAvailable = available;
    // The C++ streams start synchronised, so the previous setting is true.
    QCOMPARE(::openDebugConsole(system), available);
    QCOMPARE(system.calls, QStringList{"attach"});
}

QTEST_GUILESS_MAIN(TestPlatformUtils)
#include "tst_platformutils.moc"
