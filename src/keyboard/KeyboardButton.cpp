#include "KeyboardButton.h"

#include "IKeyboard.h"

#include <QMouseEvent>

KeyboardButton::KeyboardButton(QWidget* parent, QChar c0, QChar c1, QChar c2, QChar c3, QChar c4,
                               QChar c8, QChar c9, QChar c10, QChar c11, QChar c12)
    : QPushButton(parent) {
    // A tapped key must not take the focus from the keyboard's editor: the
    // physical keys would then go to the button instead of the editor.
    setFocusPolicy(Qt::NoFocus);
    setChars(c0, c1, c2, c3, c4, c8, c9, c10, c11, c12);
}

void KeyboardButton::setChars(QChar c0, QChar c1, QChar c2, QChar c3, QChar c4, QChar c8, QChar c9,
                              QChar c10, QChar c11, QChar c12) {
    chars[0] = c0;
    chars[1] = c1;
    chars[2] = c2;
    chars[3] = c3;
    chars[4] = c4;
    chars[8] = c8;
    chars[9] = c9;
    chars[10] = c10;
    chars[11] = c11;
    chars[12] = c12;
}

QChar KeyboardButton::charFor(int mode) const {
    if (mode < 0 || mode >= IKeyboard::ModeCount) {
        return QChar();
    }
    return chars[mode];
}

void KeyboardButton::showMode(int mode) {
    const QChar c = charFor(mode);
    setText(c.isNull() ? QString() : QString(c));
}

void KeyboardButton::attachTo(IKeyboard* k) {
    setParent(k);
    keyboard = k;
}

void KeyboardButton::mousePressEvent(QMouseEvent* e) {
    QAbstractButton::mousePressEvent(e);
    if (!e || e->button() != Qt::LeftButton || !keyboard) {
        return;
    }
    // A mode without a character for this key types nothing (no NUL in the text).
    const QChar c = charFor(keyboard->mode());
    if (!c.isNull()) {
        keyboard->insertKey(c);
    }
}
