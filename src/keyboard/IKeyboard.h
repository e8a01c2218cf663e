#pragma once

#include <QChar>
#include <QDialog>
#include <QFrame>
#include <QLineEdit>
#include <QList>
#include <QPushButton>
#include <QString>

class KeyboardButton;

// A modal on-screen keyboard with its own editor. Concrete keyboards create
// the character keys, place every widget and supply each key's characters.
// The widgets are public, like those of a form, so that the input fields can
// pass their echo mode to the editor and tests can press the keys.
class IKeyboard : public QDialog {
    Q_OBJECT

public:
    enum KeyboardTypes : int { NUMERIC_KBD = 0, FULLSIZE_KBD = 1 };
    Q_ENUM(KeyboardTypes)
    enum KeyboardGroups : int { SHIFT = 1, CAPS = 2, ALT = 4 };
    Q_ENUM(KeyboardGroups)
    // Bit 8 selects the local (Russian) character set; the lower bits are groups.
    enum KeyboardModes : int {
        EN = 0,
        EN_SHIFT = 1,
        EN_CAPS = 2,
        EN_CAPS_SHIFT = 3,
        EN_ALT = 4,
        EN_UNUSED_MODE_5 = 5,
        EN_UNUSED_MODE_6 = 6,
        EN_UNUSED_MODE_7 = 7,
        LC = 8,
        LC_SHIFT = 9,
        LC_CAPS = 10,
        LC_CAPS_SHIFT = 11,
        LC_ALT = 12
    };
    Q_ENUM(KeyboardModes)

    // Number of characters a key stores, one per mode 0 to 12.
    static constexpr int ModeCount = 13;

    explicit IKeyboard(QWidget* parent = nullptr);
    ~IKeyboard() override;

    virtual void setMode(int mode);
    int mode() const { return currentMode; }
    // Puts a pressed key's character into the editor.
    virtual void insertKey(const QChar& c) = 0;
    // Loads the editor and shows the keyboard; returns at once.
    virtual void showKeyboardFor(const QString& text, const QString& hint) = 0;
    virtual void retranslateUi();

    QList<KeyboardButton*> keys;
    QFrame keyboardFrame;
    QPushButton enterButton;
    QPushButton backspaceButton;
    QPushButton escButton;
    QLineEdit editor;

signals:
    void dataEnteredSignal(QString text);

protected slots:
    void backspacePressed();
    void accept() override;

protected:
    void keyPressEvent(QKeyEvent* e) override;
    void changeEvent(QEvent* e) override;

    // Creates `count` keys side by side; all arguments but the last two are in units.
    void addKeyRow(int x0, int y, int w, int h, int gap, int unit, int count);
    // Gives every key its characters from a table of 13 characters per key
    // (modes 0 to 4, three unused, modes 8 to 12). A table of another length
    // is ignored. Returns whether the table was used.
    bool applyKeyTable(const QString& table);

    // Layout grid shared by the keyboards: unit, key side and gap (in units).
    static constexpr int Unit = int(50 * 0.25 + 0.5);
    static constexpr int KeySide = 4;
    static constexpr int Gap = 0;
    int margin() const { return keyboardFrame.lineWidth(); }

private:
    int currentMode = LC;
};
