#pragma once

// velkctl as a child process of a test, and readers of what it prints.

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QtDebug>

namespace velkctl_child {

inline QString binary(const QString& relative) {
    return QDir(qEnvironmentVariable("VELK_BINARY_DIR")).filePath(relative);
}

struct Run {
    int exitCode = -1;
    QString out;
    QString err;
    QStringList lines() const { return out.split('\n', Qt::SkipEmptyParts); }
};

inline Run velkctl(const QStringList& args, int timeoutMs = 30000) {
    QProcess p;
    p.start(binary("tools/velkctl/velkctl"), args);
    Run r;
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        r.err = "velkctl did not finish";
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

inline QJsonObject json(const QString& line) {
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(line.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) {
        qWarning() << "not a JSON object:" << line;
        return {};
    }
    return doc.object();
}

inline int byteCount(const QString& hex) {
    return int(hex.split(' ', Qt::SkipEmptyParts).size());
}

} // namespace velkctl_child

using namespace velkctl_child;
