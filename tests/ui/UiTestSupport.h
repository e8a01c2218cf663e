#ifndef VELK_UITESTSUPPORT_H
#define VELK_UITESTSUPPORT_H

// Helpers shared by the dialog's tests: a fake port tree under the test's own
// XDG_CONFIG_HOME, pseudo-terminal ports, the simulator, and taps on the
// on-screen keyboards.

#include "FullsizeKeyboard.h"
#include "IKeyboard.h"
#include "KeyboardButton.h"
#include "NumericKeyboard.h"
#include "PortNames.h"
#include "QLineEditEmbedded.h"
#include "VelkTestUi.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTest>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <memory>
#include <vector>

namespace uitest {

inline QString configHome() {
    return qEnvironmentVariable("XDG_CONFIG_HOME");
}

inline QString portsFolder() {
    return configHome() + "/ORBEK/ports";
}

inline QString settingsFile() {
    return configHome() + "/ORBEK/VelkTest.conf";
}

// A port tree with empty /dev and /sys: only the links in the ports folder
// count, so no test ever sees or opens a real device.
inline PortRoots testRoots() {
    const QString home = configHome();
    Q_ASSERT_X(!home.isEmpty() && !home.startsWith(QDir::homePath() + "/.config"), "testRoots",
               "the tests need their own XDG_CONFIG_HOME");
    QDir().mkpath(home + "/fake-dev");
    QDir().mkpath(home + "/fake-sys");
    QDir().mkpath(portsFolder());
    PortRoots roots;
    roots.devRoot = (home + "/fake-dev").toStdString();
    roots.sysRoot = (home + "/fake-sys").toStdString();
    roots.portsFolder = portsFolder().toStdString();
    return roots;
}

inline void clearSettings() {
    QSettings settings("ORBEK", "VelkTest");
    settings.clear();
    settings.sync();
}

template <class W> W* widget(QWidget* dialog, const char* name) {
    W* w = dialog->findChild<W*>(QString::fromLatin1(name));
    if (w == nullptr) {
        qFatal("no widget %s", name);
    }
    return w;
}

inline QLineEditEmbedded* field(QWidget* dialog, const char* name) {
    return widget<QLineEditEmbedded>(dialog, name);
}

// A pseudo-terminal listed as COMn through a link in the ports folder; the
// test plays the slave on the master side.
class PtyPort {
public:
    explicit PtyPort(int number) : link(portsFolder() + "/COM" + QString::number(number)) {
        testRoots();
        int slave = -1;
        char name[256] = {};
        if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
            qFatal("openpty failed");
        }
        termios t{};
        tcgetattr(slave, &t);
        cfmakeraw(&t);
        tcsetattr(slave, TCSANOW, &t);
        // The master keeps the pty alive; the dialog opens the slave by name.
        ::close(slave);
        device = QString::fromLocal8Bit(name);
        QFile::remove(link);
        QFile::link(device, link);
    }
    ~PtyPort() {
        QFile::remove(link);
        ::close(master);
    }
    PtyPort(const PtyPort&) = delete;
    PtyPort& operator=(const PtyPort&) = delete;

    // Reads exactly n bytes, or fewer when none arrive for timeoutMs.
    QByteArray read(int n, int timeoutMs) {
        QByteArray bytes;
        while (bytes.size() < n) {
            pollfd p{master, POLLIN, 0};
            if (::poll(&p, 1, timeoutMs) <= 0) {
                break;
            }
            if ((p.revents & POLLIN) == 0) {
                // Nobody has the slave side open yet.
                ::usleep(5000);
                break;
            }
            char buffer[256];
            const ssize_t got =
                ::read(master, buffer, size_t(std::min<int>(n - bytes.size(), 256)));
            if (got <= 0) {
                break;
            }
            bytes.append(buffer, int(got));
        }
        return bytes;
    }

    void write(const QByteArray& bytes) {
        if (::write(master, bytes.constData(), size_t(bytes.size())) != bytes.size()) {
            qWarning("short write to the pty");
        }
    }

    int master = -1;
    QString device;
    QString link;
};

// velk-sim serving COMn over a pseudo-terminal, with its own link in the
// ports folder.
class Simulator {
public:
    Simulator(int number, const QString& scenario) {
        testRoots();
        const QString binary = qEnvironmentVariable("VELK_BINARY_DIR") + "/tools/velk-sim/velk-sim";
        process.setProgram(binary);
        process.setArguments({"--com", QString::number(number), "--scenario", scenario});
        process.setProcessChannelMode(QProcess::SeparateChannels);
        process.start();
        if (!process.waitForStarted(5000)) {
            qFatal("cannot start %s", qPrintable(binary));
        }
        QByteArray line;
        while (!line.startsWith("READY")) {
            if (!process.canReadLine() && !process.waitForReadyRead(10000)) {
                qFatal("velk-sim did not get ready: %s",
                       process.readAllStandardError().constData());
            }
            while (process.canReadLine() && !line.startsWith("READY")) {
                line = process.readLine();
            }
        }
    }
    ~Simulator() {
        process.terminate();
        if (!process.waitForFinished(5000)) {
            process.kill();
            process.waitForFinished(5000);
        }
    }
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Requests the simulator has logged so far (a REQ line each).
    int requests() {
        while (process.canReadLine() || process.waitForReadyRead(0)) {
            if (!process.canReadLine()) {
                break;
            }
            if (process.readLine().startsWith("REQ")) {
                ++logged;
            }
        }
        return logged;
    }

    QProcess process;
    int logged = 0;
};

inline KeyboardButton* keyFor(IKeyboard* keyboard, QChar c) {
    for (KeyboardButton* key : keyboard->keys) {
        if (key->text() == QString(c)) {
            return key;
        }
    }
    return nullptr;
}

// Presses the keys for text on a keyboard, switching the full-size keyboard
// to the other language when a character is not on the keys shown.
inline bool typeKeys(IKeyboard* keyboard, const QString& text) {
    for (QChar c : text) {
        KeyboardButton* key = keyFor(keyboard, c);
        if (key == nullptr) {
            if (auto* full = qobject_cast<FullsizeKeyboard*>(keyboard)) {
                QTest::mouseClick(&full->languageButton, Qt::LeftButton);
                key = keyFor(keyboard, c);
            }
        }
        if (key == nullptr) {
            return false;
        }
        QTest::mouseClick(key, Qt::LeftButton);
    }
    return true;
}

// A tap on the field, the keys of text, then Enter: the whole road of an
// entry through the on-screen keyboard.
inline bool enterThroughKeyboard(QLineEditEmbedded* f, const QString& text) {
    QTest::mouseClick(f, Qt::LeftButton);
    IKeyboard* keyboard = f->keyboardType() == IKeyboard::NUMERIC_KBD
                              ? static_cast<IKeyboard*>(NumericKeyboard::instance())
                              : static_cast<IKeyboard*>(FullsizeKeyboard::instance());
    if (!keyboard->isVisible()) {
        return false;
    }
    // Empty the editor whatever the keyboard pre-selected.
    keyboard->editor.setCursorPosition(keyboard->editor.text().size());
    while (!keyboard->editor.text().isEmpty()) {
        QTest::mouseClick(&keyboard->backspaceButton, Qt::LeftButton);
    }
    const bool typed = typeKeys(keyboard, text);
    QTest::mouseClick(&keyboard->enterButton, Qt::LeftButton);
    return typed && !keyboard->isVisible();
}

inline QStringList fieldTexts(QWidget* dialog, const std::vector<const char*>& names) {
    QStringList texts;
    for (const char* name : names) {
        texts << field(dialog, name)->text();
    }
    return texts;
}

} // namespace uitest

#endif
