#pragma once

#include <QChar>
#include <QPushButton>

class IKeyboard;

// A character key: one character per keyboard mode; a left press hands the
// character of the keyboard's current mode to the keyboard.
class KeyboardButton : public QPushButton {
    Q_OBJECT

public:
    // The characters of modes 0 to 4 and 8 to 12.
    KeyboardButton(QWidget* parent, QChar c0, QChar c1, QChar c2, QChar c3, QChar c4, QChar c8,
                   QChar c9, QChar c10, QChar c11, QChar c12);

    void setChars(QChar c0, QChar c1, QChar c2, QChar c3, QChar c4, QChar c8, QChar c9, QChar c10,
                  QChar c11, QChar c12);
    // Caption = the character of `mode`; empty when the mode has none.
    void showMode(int mode);
    // Makes `k` the parent widget and the keyboard the key reports to.
    void attachTo(IKeyboard* k);

    // The character for `mode`; the null character when there is none.
    QChar charFor(int mode) const;

protected:
    void mousePressEvent(QMouseEvent* e) override;

private:
    QChar chars[13];
    IKeyboard* keyboard = nullptr;
};
