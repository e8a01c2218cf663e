#include "FakeSystemLayer.h"

bool FakeSystemLayer::canRestart() {
    return restartAllowed;
}

void FakeSystemLayer::syncFileSystems() {
    calls.append(QStringLiteral("sync"));
}

int FakeSystemLayer::restart() {
    calls.append(QStringLiteral("restart"));
    return restartError;
}

QByteArray FakeSystemLayer::mountTable() {
    return mounts;
}

QString FakeSystemLayer::canonicalPath(const QString& path) {
    return canonicalPaths.value(path);
}

bool FakeSystemLayer::fileExists(const QString& path) {
    return files.contains(path) || directories.contains(path);
}

QStringList FakeSystemLayer::listDirectory(const QString& path) {
    return directories.value(path);
}

bool FakeSystemLayer::readFile(const QString& path, qint64 maxBytes, QByteArray& content) {
    content.clear();
    if (!files.contains(path))
        return false;
    content = files.value(path).left(maxBytes);
    return true;
}

bool FakeSystemLayer::writeFile(const QString& path, const QByteArray& content) {
    calls.append(QStringLiteral("write %1 %2").arg(path, QString::fromUtf8(content)));
    if (!writeSucceeds || !files.contains(path))
        return false;
    files[path] = content;
    return true;
}

ISystemLayer::ProcessOutcome
FakeSystemLayer::runProcess(const QString& program, const QStringList& arguments, int timeoutMs) {
    calls.append(QStringLiteral("run %1 %2 %3")
                     .arg(program, arguments.join(QLatin1Char(' ')))
                     .arg(timeoutMs));
    return processOutcome;
}

bool FakeSystemLayer::stdoutIsTerminal() {
    return terminal;
}

bool FakeSystemLayer::writeStdout(const QByteArray& bytes) {
    calls.append(QStringLiteral("stdout ") + QString::fromLatin1(bytes.toHex(' ')));
    return true;
}

bool FakeSystemLayer::attachConsole() {
    calls.append(QStringLiteral("attach"));
    return consoleAvailable;
}
