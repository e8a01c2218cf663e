#include "PlatformUtilities.h"

#include "IntegerConversion.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QStringList>
#include <QThread>

#include <cerrno>
#include <cmath>
#include <iostream>
#include <vector>

// How each Windows service maps onto Linux is tabled in SystemLayer.h.

namespace {

struct MountEntry {
    QString device; // "major:minor"
    QString mountPoint;
    QString type;
    QString source;
};

// mountinfo escapes blanks, newlines and backslashes in paths as \ooo.
QString unescapeMountField(const QByteArray& field) {
    QByteArray out;
    out.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && field[i + 1] >= '0' &&
            field[i + 1] <= '3' && field[i + 2] >= '0' && field[i + 2] <= '7' &&
            field[i + 3] >= '0' && field[i + 3] <= '7') {
            out.append(static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                                         (field[i + 3] - '0')));
            i += 3;
        } else {
            out.append(field[i]);
        }
    }
    return QString::fromUtf8(out);
}

// Lines: id parent major:minor root mount-point options [optional...] - type source options
std::vector<MountEntry> parseMountTable(const QByteArray& table) {
    std::vector<MountEntry> entries;
    for (const QByteArray& line : table.split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        const qsizetype separator = fields.indexOf("-");
        if (separator < 6 || separator + 2 >= fields.size())
            continue;
        entries.push_back({QString::fromLatin1(fields[2]), unescapeMountField(fields[4]),
                           unescapeMountField(fields[separator + 1]),
                           unescapeMountField(fields[separator + 2])});
    }
    return entries;
}

bool holds(const QString& mountPoint, const QString& path) {
    if (mountPoint == QLatin1String("/"))
        return path.startsWith(QLatin1Char('/'));
    return path == mountPoint || path.startsWith(mountPoint + QLatin1Char('/'));
}

// The mount that holds an absolute, canonical path: the longest mount point; of mounts
// stacked on one point the later one is the visible one.
bool findMount(const QByteArray& table, const QString& path, MountEntry& found) {
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

// The only regular file in dir named a letter, anything, then fileName; empty otherwise.
QString onlyPatternMatch(const QString& dir, const QString& fileName) {
    const QDir directory(dir);
    const QStringList matches = directory.entryList(
        QStringList{QStringLiteral("[a-zA-Z]*") + fileName}, QDir::Files, QDir::Unsorted);
    return matches.size() == 1 ? directory.filePath(matches.front()) : QString();
}

bool isFile(const QString& path) {
    return QFileInfo(path).isFile();
}

} // namespace

void setBit8(unsigned char& byte, unsigned n, bool on) {
    if (n >= 8)
        return;
    const unsigned mask = 1u << n;
    byte = static_cast<unsigned char>(on ? (byte | mask) : (byte & ~mask));
}

void setBit32(std::uint32_t& word, unsigned n, bool on) {
    if (n >= 32)
        return;
    const std::uint32_t mask = std::uint32_t{1} << n;
    word = on ? (word | mask) : (word & ~mask);
}

bool testBit8(unsigned char value, unsigned n) {
    return n < 8 && ((value >> n) & 1u) != 0;
}

bool testBit32(std::uint32_t value, unsigned n) {
    return n < 32 && ((value >> n) & 1u) != 0;
}

int power(int base, unsigned exponent) {
    // Unsigned arithmetic wraps around without undefined behaviour.
    std::uint32_t b = static_cast<std::uint32_t>(base);
    std::uint32_t result = 1;
    while (exponent > 0) {
        if (exponent % 2 != 0) {
            result *= b;
            exponent -= 1;
        } else {
            b *= b;
            exponent /= 2;
        }
    }
    return wrapToInt32(result);
}

bool isNearlyEqual(double a, double b, double epsilon) {
    return std::fabs(a - b) < epsilon;
}

unsigned waitMs(unsigned ms, bool excludeUserInput) {
    const QEventLoop::ProcessEventsFlags flags =
        excludeUserInput ? QEventLoop::ExcludeUserInputEvents : QEventLoop::AllEvents;
    QElapsedTimer timer;
    timer.start();
    unsigned elapsed = 0;
    while (elapsed < ms) {
        QThread::msleep(10);
        elapsed = static_cast<unsigned>(timer.elapsed());
        QCoreApplication::processEvents(flags);
    }
    return elapsed;
}

QString locateFile(const QString& baseDir, const QString& subDir, const QString& fileName) {
    const QString baseSubDir = baseDir + subDir;
    if (isFile(baseSubDir + fileName))
        return baseSubDir + fileName;
    QString found = onlyPatternMatch(baseSubDir, fileName);
    if (!found.isEmpty())
        return found;
    const QString appSubDir = QCoreApplication::applicationDirPath() + QLatin1Char('/') + subDir;
    if (isFile(appSubDir + fileName))
        return appSubDir + fileName;
    return onlyPatternMatch(appSubDir, fileName);
}

unsigned rebootSystem(ISystemLayer& system) {
    if (!system.canRestart())
        return EPERM;
    system.syncFileSystems();
    return static_cast<unsigned>(system.restart());
}

bool isNtfsVolume(const QString& root, ISystemLayer& system) {
    const QString path = system.canonicalPath(root);
    if (path.isEmpty())
        return false;
    MountEntry mount;
    if (!findMount(system.mountTable(), path, mount))
        return false;
    QString type = mount.type;
    const qsizetype dot = type.indexOf(QLatin1Char('.'));
    const QString base = type.left(dot);
    if (dot > 0 && (base == QLatin1String("fuse") || base == QLatin1String("fuseblk"))) {
        type = type.mid(dot + 1);
    } else if (type == QLatin1String("fuseblk")) {
        // FUSE names no file system here; an NTFS boot sector carries "NTFS    " at byte 3.
        QByteArray bootSector;
        return system.readFile(mount.source, 11, bootSector) && bootSector.size() == 11 &&
               bootSector.mid(3) == "NTFS    ";
    }
    return type.startsWith(QLatin1String("NTFS"), Qt::CaseInsensitive);
}

bool commitWriteFilter(int timeoutMs, ISystemLayer& system) {
    const QString tool = QString::fromUtf8(writeFilterTool);
    if (!system.fileExists(tool))
        return false;
    QStringList arguments;
    for (const char* argument : writeFilterArguments)
        arguments.append(QString::fromUtf8(argument));
    const ISystemLayer::ProcessOutcome outcome = system.runProcess(tool, arguments, timeoutMs);
    // A commit that ends in time but reports failure has not committed.
    return outcome.status == ISystemLayer::ProcessOutcome::Exited && outcome.exitCode == 0;
}

void disableWriteCache(const QString& path, ISystemLayer& system) {
    if (path.size() < 2)
        return;
    const char16_t letter = path[0].unicode();
    const bool isLetter = (letter >= u'A' && letter <= u'Z') || (letter >= u'a' && letter <= u'z');
    if (!isLetter || path[1] != QLatin1Char(':'))
        return;
    if (letter != u'C' && letter != u'c')
        return;

    MountEntry root;
    if (!findMount(system.mountTable(), QStringLiteral("/"), root))
        return;
    // File systems without a block device of their own (major 0: overlay, tmpfs, btrfs
    // subvolumes) have no entry here, and nothing is changed.
    QString disk = system.canonicalPath(QStringLiteral("/sys/dev/block/") + root.device);
    if (disk.isEmpty())
        return;
    if (system.fileExists(disk + QStringLiteral("/partition")))
        disk.truncate(disk.lastIndexOf(QLatin1Char('/')));

    // SCSI and SATA disks switch their cache through the scsi_disk attribute, virtio disks
    // through their own. Disks without such an attribute (NVMe, MMC) stay as they are.
    QStringList candidates;
    const QString scsiDisks = disk + QStringLiteral("/device/scsi_disk");
    for (const QString& name : system.listDirectory(scsiDisks))
        candidates.append(scsiDisks + QLatin1Char('/') + name + QStringLiteral("/cache_type"));
    candidates.append(disk + QStringLiteral("/cache_type"));

    for (const QString& attribute : candidates) {
        QByteArray state;
        if (!system.readFile(attribute, 64, state))
            continue;
        if (state.trimmed().startsWith("write back"))
            system.writeFile(attribute, QByteArrayLiteral("write through"));
        return;
    }
}

bool clearConsole(ISystemLayer& system) {
    if (!system.stdoutIsTerminal())
        return false;
    // Cursor home, clear the screen, clear the scroll-back: what clear(1) sends to the
    // terminals in use (xterm family, the Linux console).
    return system.writeStdout(QByteArrayLiteral("\x1b[H\x1b[2J\x1b[3J"));
}

bool openDebugConsole(ISystemLayer& system) {
    if (!system.attachConsole())
        return false;
    return std::ios::sync_with_stdio(true);
}
