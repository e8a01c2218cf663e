#include "PlatformUtilitiesQt.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QStringList>
#include <QThread>

namespace {

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
