#ifndef VELK_SIMPROCESS_H
#define VELK_SIMPROCESS_H

// Runs velk-sim as a child process for a test: started on a pseudo-terminal
// linked as COMn in the test's own ports folder, stopped (SIGTERM) at the end.

#include <QByteArray>
#include <QDir>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <csignal>

class SimProcess {
public:
    SimProcess() = default;
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;
    ~SimProcess() { stop(); }

    static QString binary() {
        return qEnvironmentVariable("VELK_BINARY_DIR") + "/tools/velk-sim/velk-sim";
    }

    static QString portsFolder() {
        return qEnvironmentVariable("XDG_CONFIG_HOME") + "/ORBEK/ports";
    }

    static QString linkPath(int com) { return portsFolder() + "/COM" + QString::number(com); }

    // Starts velk-sim --com com with the extra arguments and waits for its
    // READY line. False (with the reason in error) when it does not come.
    bool start(int com, const QStringList& extra, QString* error = nullptr) {
        process.setProgram(binary());
        process.setArguments(QStringList{"--com", QString::number(com)} + extra);
        process.start();
        if (!process.waitForStarted(5000)) {
            if (error) {
                *error = "velk-sim did not start: " + process.errorString();
            }
            return false;
        }
        while (!collected.contains('\n')) {
            if (!process.waitForReadyRead(5000)) {
                if (error) {
                    *error = "no READY line: " + QString::fromUtf8(process.readAllStandardError());
                }
                return false;
            }
            collected += process.readAllStandardOutput();
        }
        const QList<QByteArray> words = collected.left(collected.indexOf('\n')).split(' ');
        if (words.size() != 3 || words[0] != "READY") {
            if (error) {
                *error = "unexpected first line: " + QString::fromUtf8(collected);
            }
            return false;
        }
        name = QString::fromUtf8(words[1]);
        device = QString::fromUtf8(words[2]);
        return true;
    }

    // Sends the signal and waits for the exit; returns the exit code (-1 when
    // it had to be killed or was not running).
    int stop(int signal = SIGTERM) {
        if (process.state() == QProcess::NotRunning) {
            return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        }
        ::kill(static_cast<pid_t>(process.processId()), signal);
        if (!process.waitForFinished(5000)) {
            process.kill();
            process.waitForFinished(5000);
            return -1;
        }
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }

    // Everything the simulator logged so far, the READY line included.
    QByteArray output() {
        collected += process.readAllStandardOutput();
        return collected;
    }

    QString name;   // COMn
    QString device; // the pseudo-terminal
    QProcess process;

private:
    QByteArray collected;
};

#endif
