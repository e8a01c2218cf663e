#include "NumericKeyboard.h"

#include "KeyboardButton.h"

#include <QCoreApplication>
#include <QPointer>

NumericKeyboard* NumericKeyboard::instance() {
    static QPointer<NumericKeyboard> keyboard;
    static const bool created = [] {
        keyboard = new NumericKeyboard;
        // A widget must go before the application object does.
        qAddPostRoutine([] { delete keyboard.data(); });
        return true;
    }();
    Q_UNUSED(created);
    return keyboard.data();
}

NumericKeyboard::NumericKeyboard() : IKeyboard(nullptr) {
    const int u = Unit, k = KeySide, g = Gap;
    const int w = 8 * k, h = 5 * k + 4 * g;
    const int l = margin();

    hintView.setParent(this);
    hintView.setFrameShape(QFrame::NoFrame);
    hintView.setFocusPolicy(Qt::NoFocus);
    hintView.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    hintView.setGeometry(l, l, w * u, h * u);

    addKeyRow(w, k + g, k, k, g, u, 3);
    addKeyRow(w, 2 * k + 2 * g, k, k, g, u, 3);
    addKeyRow(w, 3 * k + 3 * g, k, k, g, u, 3);
    addKeyRow(w, 4 * k + 4 * g, 2 * k + g, k, g, u, 1);
    addKeyRow(w + 2 * k + 2 * g, 4 * k + 4 * g, k, k, g, u, 1);

    escButton.setGeometry(w * u + l, l, k * u, k * u);
    editor.setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    editor.setGeometry((w + k + g) * u + l, l, (3 * k + 2 * g) * u, k * u);
    backspaceButton.setGeometry((w + 3 * k + 3 * g) * u + l, (k + g) * u + l, k * u, k * u);
    enterButton.setGeometry((w + 3 * k + 3 * g) * u + l, (2 * k + 2 * g) * u + l, k * u,
                            (3 * k + 2 * g) * u);

    keyboardFrame.resize(hintView.width() + escButton.width() + editor.width() + 2 * l,
                         hintView.height() + 2 * l);

    // Keys 7 8 9, 4 5 6, 1 2 3, 0 and the point; every mode gives the same character.
    applyKeyTable(QStringLiteral("77777   7777788888   8888899999   99999"
                                 "44444   4444455555   5555566666   66666"
                                 "11111   1111122222   2222233333   33333"
                                 "00000   00000"
                                 ".....   ....."));
    IKeyboard::setMode(mode());
}

void NumericKeyboard::insertKey(const QChar& c) {
    if (c == QLatin1Char('.') && editor.text().contains(QLatin1Char('.'))) {
        return;
    }
    editor.insert(QString(c));
}

void NumericKeyboard::showKeyboardFor(const QString& text, const QString& hint) {
    editor.setText(text);
    editor.selectAll();
    hintView.setHtml(hint);
    show();
}
