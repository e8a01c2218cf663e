#pragma once

#include "IKeyboard.h"

#include <QTextBrowser>

// Keyboard for decimal values: digits and one decimal point, with the field's
// hint shown as rich text on the left. Its mode never changes.
class NumericKeyboard : public IKeyboard {
    Q_OBJECT

public:
    // The process-wide numeric keyboard, created on first use.
    static NumericKeyboard* instance();

    void insertKey(const QChar& c) override;
    void showKeyboardFor(const QString& text, const QString& hint) override;

    QTextBrowser hintView;

private:
    NumericKeyboard();
};
