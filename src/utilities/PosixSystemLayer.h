#pragma once

#include "SystemLayer.h"

// ISystemLayer on Linux: capabilities, reboot(2), procfs, sysfs, QProcess, the tty.
class PosixSystemLayer : public ISystemLayer {
public:
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
