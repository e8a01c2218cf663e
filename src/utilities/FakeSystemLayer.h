#pragma once

#include "SystemLayer.h"

#include <QHash>

// A scriptable ISystemLayer for tests: answers come from its public fields, and every
// call that would change the system is only recorded in calls, in order.
class FakeSystemLayer : public ISystemLayer {
public:
    bool restartAllowed = false;
    int restartError = 0;
    QByteArray mounts;
    // Paths that resolve, and what to; a path not listed does not resolve.
    QHash<QString, QString> canonicalPaths;
    QHash<QString, QByteArray> files;
    QHash<QString, QStringList> directories;
    ProcessOutcome processOutcome;
    bool terminal = false;
    bool writeSucceeds = true;
    bool consoleAvailable = false;

    // "sync", "restart", "write <path> <content>", "run <program> <args> <timeout>",
    // "stdout <bytes>", "attach".
    QStringList calls;

    bool canRestart() override;
    void syncFileSystems() override;
    int restart() override;
    QByteArray mountTable() override;
    QString canonicalPath(const QString& path) override;
    bool fileExists(const QString& path) override;
    QStringList listDirectory(const QString& path) override;
    bool readFile(const QString& path, qint64 maxBytes, QByteArray& content) override;
    bool writeFile(const QString& path, const QByteArray& content) override;
    ProcessOutcome runProcess(const QString& program, const QStringList& arguments,
                              int timeoutMs) override;
    bool stdoutIsTerminal() override;
    bool writeStdout(const QByteArray& bytes) override;
    bool attachConsole() override;
};
