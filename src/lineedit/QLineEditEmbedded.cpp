#include "QLineEditEmbedded.h"

#include "FullsizeKeyboard.h"
#include "NumericKeyboard.h"

#include <QMouseEvent>

namespace {
const char* const EditableStyle = "color: black;";
const char* const ReadOnlyStyle =
    "QLineEdit { color: black; background-color: transparent; border-style: none; }";
} // namespace

QLineEditEmbedded::QLineEditEmbedded(QWidget* parent) : QLineEdit(parent) {
    setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    setFocusPolicy(Qt::NoFocus);
    setReadOnly(true);
    setStyleSheet(QLatin1String(EditableStyle));
}

void QLineEditEmbedded::mouseReleaseEvent(QMouseEvent* e) {
    if (!e) {
        return;
    }
    QLineEdit::mouseReleaseEvent(e);
    if (e->button() == Qt::LeftButton) {
        emit mouseReleasedSignal();
    }
}

void QLineEditEmbedded::showKeyboard() {
    if (!isAccessible()) {
        return;
    }
    IKeyboard* keyboard = nullptr;
    switch (kbdType) {
    case IKeyboard::NUMERIC_KBD:
        keyboard = NumericKeyboard::instance();
        break;
    case IKeyboard::FULLSIZE_KBD:
        keyboard = FullsizeKeyboard::instance();
        break;
    default:
        return;
    }
    if (!keyboard) {
        return;
    }
    // The keyboard is shared: only the field that opened it last gets the text.
    disconnect(keyboard, &IKeyboard::dataEnteredSignal, nullptr, nullptr);
    connect(keyboard, &IKeyboard::dataEnteredSignal, this, &QLineEditEmbedded::dataEnteredSignal);
    keyboard->editor.setEchoMode(echoMode());
    keyboard->showKeyboardFor(text(), hint);
}

void QLineEditEmbedded::accessLevelChanged(const AccessLevel::Types&, const AccessLevel::Types&) {
    setStyleSheet(QLatin1String(isAccessible() ? EditableStyle : ReadOnlyStyle));
}
