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
#include "Pty.h"
#include "QLineEditEmbedded.h"
#include "SimChild.h"
#include "VelkTestUi.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTest>

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
    return PortRoots::linksOnly(home.toStdString());
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
