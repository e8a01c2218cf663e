#pragma once

#include "IKeyboard.h"
#include "KeyboardButton.h"

#include <QPushButton>

// Keyboard for text: 47 character keys in four rows, English and Russian sets,
// one-shot Shift and Alt, Caps, a space bar and cursor keys.
class FullsizeKeyboard : public IKeyboard {
    Q_OBJECT

public:
    // The process-wide full-size keyboard, created on first use.
    static FullsizeKeyboard* instance();

    void setMode(int mode) override;
    void insertKey(const QChar& c) override;
    void showKeyboardFor(const QString& text, const QString& hint) override;
    void retranslateUi() override;

    QPushButton leftButton;
    QPushButton rightButton;
    QPushButton capsButton;
    QPushButton shiftButton;
    QPushButton altButton;
    QPushButton languageButton;
    KeyboardButton spaceButton;

private slots:
    void shiftReleased();
    void altReleased();
    void capsReleased();
    void languageReleased();
    void leftPressed();
    void rightPressed();

private:
    FullsizeKeyboard();
};
