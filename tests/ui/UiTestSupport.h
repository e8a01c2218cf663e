#ifndef VELK_UITESTSUPPORT_H
#define VELK_UITESTSUPPORT_H

// Helpers shared by the dialog's tests: a fake port tree under the test's own
// XDG_CONFIG_HOME (Windows: a SERIALCOMM key in the test's own registry),
// ports that open, the simulator, and taps on the on-screen keyboards.

#include "FullsizeKeyboard.h"
#include "IKeyboard.h"
#include "KeyboardButton.h"
#include "NumericKeyboard.h"
#include "PortNames.h"
#include "QLineEditEmbedded.h"
#include "VelkTestUi.h"
#ifdef Q_OS_WIN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include "Pty.h"
#include "SimChild.h"
#endif

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QSettings>
#include <QTest>
#include <QTextBrowser>

#include <memory>
#include <vector>

namespace uitest {

#ifdef Q_OS_WIN

// The test's SERIALCOMM key, inside its own HKEY_CURRENT_USER (RegistrySandbox_win.cpp).
inline const wchar_t* testPortsKey() {
    return L"Software\\ORBEK\\TestPorts";
}

inline PortRoots testRoots() {
    PortRoots roots;
    roots.serialCommKey = "HKCU\\Software\\ORBEK\\TestPorts";
    return roots;
}

inline QString settingsFile() {
    return QStringLiteral("\\HKEY_CURRENT_USER\\Software\\ORBEK\\VelkTest");
}

// A port listed as COMn in the test's SERIALCOMM key. It opens only in the
// Wine prefix of scripts/test-windows.sh, which maps COM1-COM9 to /dev/ptmx
// (each open a fresh pseudo-terminal); anywhere else COMn may be a real
// port, so the test stops before the dialog could open it.
class TestPort {
public:
    explicit TestPort(int number)
        : name(QStringLiteral("COM%1").arg(number)), device("\\\\.\\" + name) {
        wchar_t target[64] = {0};
        DWORD bytes = sizeof target - sizeof(wchar_t);
        const LONG mapped = RegGetValueW(HKEY_LOCAL_MACHINE, L"Software\\Wine\\Ports",
                                         reinterpret_cast<const wchar_t*>(name.utf16()),
                                         RRF_RT_REG_SZ, nullptr, target, &bytes);
        if (mapped != ERROR_SUCCESS || std::wstring(target) != L"/dev/ptmx") {
            qFatal("%s is not the test prefix's pseudo-terminal (run scripts/test-windows.sh)",
                   qPrintable(name));
        }
        HKEY key = nullptr;
        RegCreateKeyExW(HKEY_CURRENT_USER, testPortsKey(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &key, nullptr);
        const std::wstring data = name.toStdWString();
        RegSetValueExW(key, valueName().c_str(), 0, REG_SZ,
                       reinterpret_cast<const BYTE*>(data.c_str()),
                       DWORD((data.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
    }
    ~TestPort() { RegDeleteKeyValueW(HKEY_CURRENT_USER, testPortsKey(), valueName().c_str()); }

    QString name;
    QString device;

private:
    std::wstring valueName() const { return L"\\Device\\Test" + name.toStdWString(); }
};

#else

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
    return PortRoots::linksOnly(home.toStdString());
}

#endif

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

#ifndef Q_OS_WIN
// A pseudo-terminal listed as COMn through a link in the ports folder; the
// test plays the slave on the master side.
class PtyPort : public Pty {
public:
    explicit PtyPort(int number)
        : device(QString::fromStdString(path)),
          link(portsFolder() + "/COM" + QString::number(number)) {
        testRoots();
        if (!ok()) {
            qFatal("openpty failed");
        }
        QFile::remove(link);
        QFile::link(device, link);
    }
    ~PtyPort() { QFile::remove(link); }

    QString device;
    QString link;
};

// A port that opens: here a pseudo-terminal.
using TestPort = PtyPort;
#endif

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

// What a dialog shows, read by the names of its widgets: a test case derives
// from it (after QObject) and keeps its dialog in `dialog`.
class DialogReader {
protected:
    std::unique_ptr<VelkTestUi> dialog;

    QWidget* d() { return dialog.get(); }
    QString text(const char* name) { return field(d(), name)->text(); }
    bool box(const char* name) { return widget<QCheckBox>(d(), name)->isChecked(); }
    QStringList log() {
        return widget<QTextBrowser>(d(), "textBrowser")->toPlainText().split('\n');
    }
    QString errorText() { return widget<QLabel>(d(), "sessionErrorText")->text(); }
    bool okShown() { return !widget<QWidget>(d(), "rxBlockOkLabel")->isHidden(); }
    bool errorShown() { return !widget<QWidget>(d(), "rxBlockErrorLabel")->isHidden(); }
};

inline QStringList fieldTexts(QWidget* dialog, const std::vector<const char*>& names) {
    QStringList texts;
    for (const char* name : names) {
        texts << field(dialog, name)->text();
    }
    return texts;
}

} // namespace uitest

#endif
