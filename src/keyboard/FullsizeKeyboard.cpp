#include "FullsizeKeyboard.h"

#include <QCoreApplication>
#include <QIcon>
#include <QPointer>

FullsizeKeyboard* FullsizeKeyboard::instance() {
    static QPointer<FullsizeKeyboard> keyboard;
    static const bool created = [] {
        keyboard = new FullsizeKeyboard;
        // A widget must go before the application object does.
        qAddPostRoutine([] { delete keyboard.data(); });
        return true;
    }();
    Q_UNUSED(created);
    return keyboard.data();
}

FullsizeKeyboard::FullsizeKeyboard()
    : IKeyboard(nullptr),
      spaceButton(nullptr, QLatin1Char(' '), QLatin1Char(' '), QLatin1Char(' '), QLatin1Char(' '),
                  QLatin1Char(' '), QLatin1Char(' '), QLatin1Char(' '), QLatin1Char(' '),
                  QLatin1Char(' '), QLatin1Char(' ')) {
    const int u = Unit, k = KeySide, g = Gap;
    const int a = k + 2, b = 2 * k + g + 2, c = 3 * k + 2 * g + 2;
    const int l = margin();

    spaceButton.attachTo(this);
    spaceButton.setGeometry(l, (5 * k + 5 * g) * u + l, (15 * k + 14 * g) * u, k * u);

    capsButton.setParent(this);
    capsButton.setText(QStringLiteral("Caps"));
    capsButton.setFocusPolicy(Qt::NoFocus);
    capsButton.setCheckable(true);
    capsButton.setGeometry(l, (3 * k + 3 * g) * u + l, (b - g) * u, k * u);
    connect(&capsButton, &QPushButton::released, this, &FullsizeKeyboard::capsReleased);

    shiftButton.setParent(this);
    shiftButton.setText(QStringLiteral("Shift"));
    shiftButton.setFocusPolicy(Qt::NoFocus);
    shiftButton.setCheckable(true);
    shiftButton.setGeometry(l, (4 * k + 4 * g) * u + l, (c + 2 - 2 * k - 2 * g) * u, k * u);
    connect(&shiftButton, &QPushButton::released, this, &FullsizeKeyboard::shiftReleased);

    altButton.setParent(this);
    altButton.setText(QStringLiteral("Alt"));
    altButton.setFocusPolicy(Qt::NoFocus);
    altButton.setCheckable(true);
    altButton.setGeometry((c + 2 - 2 * k - g) * u + l, (4 * k + 4 * g) * u + l,
                          (c - 2 * k - 2 * g) * u, k * u);
    connect(&altButton, &QPushButton::released, this, &FullsizeKeyboard::altReleased);

    languageButton.setParent(this);
    languageButton.setFocusPolicy(Qt::NoFocus);
    languageButton.setGeometry(l, (2 * k + 2 * g) * u + l, (a - g) * u, k * u);
    connect(&languageButton, &QPushButton::released, this, &FullsizeKeyboard::languageReleased);

    leftButton.setParent(this);
    leftButton.setFocusPolicy(Qt::NoFocus);
    leftButton.setIcon(QIcon(QStringLiteral(":/arrows/black_left.png")));
    leftButton.setIconSize(QSize(32, 32));
    leftButton.setGeometry((13 * k + 13 * g) * u + l, l, k * u, k * u);
    connect(&leftButton, &QPushButton::pressed, this, &FullsizeKeyboard::leftPressed);

    rightButton.setParent(this);
    rightButton.setFocusPolicy(Qt::NoFocus);
    rightButton.setIcon(QIcon(QStringLiteral(":/arrows/black_right.png")));
    rightButton.setIconSize(QSize(32, 32));
    rightButton.setGeometry((14 * k + 14 * g) * u + l, l, k * u, k * u);
    connect(&rightButton, &QPushButton::pressed, this, &FullsizeKeyboard::rightPressed);

    addKeyRow(0, k + g, k, k, g, u, 14);
    addKeyRow(a, 2 * k + 2 * g, k, k, g, u, 12);
    addKeyRow(b, 3 * k + 3 * g, k, k, g, u, 11);
    addKeyRow(c, 4 * k + 4 * g, k, k, g, u, 10);

    escButton.setGeometry(l, l, k * u, k * u);
    editor.setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    editor.setGeometry((k + g) * u + l, l, (12 * k + 11 * g) * u, k * u);
    backspaceButton.setGeometry((14 * k + 14 * g) * u + l, (k + g) * u + l, k * u, k * u);
    enterButton.setGeometry((12 * k + a + 12 * g) * u + l, (2 * k + 2 * g) * u + l,
                            (3 * k + 2 * g - a) * u, (3 * k + 2 * g) * u);

    keyboardFrame.resize(spaceButton.width() + 2 * l, editor.height() + backspaceButton.height() +
                                                          enterButton.height() +
                                                          spaceButton.height() + 2 * l);

    retranslateUi();
}

void FullsizeKeyboard::retranslateUi() {
    languageButton.setText(tr("EN/RU"));
    spaceButton.setText(tr("Пробел"));
    // Per key: modes EN to EN_ALT, three unused places, modes LC to LC_ALT.
    // clang-format off
    const QString table =
        tr("`~`~`   ёЁЁёё1!1!1   1!1!12@2@2   2\"2\"23#3#3   3№3№34$4$4   4;4;4"
           "5%5%5   5%5%56^6^6   6:6:677777   7?7?78*8*8   8*8*89(9(9   9(9(9"
           "0)0)0   0)0)0-_-_-   -_-_-=+=+=   =+=+=\\|\\|\\   \\/\\/\\") +
        tr("qQQqq   йЙЙййwWWww   цЦЦццeEEee   уУУууrRRrr   кККккtTTtt   еЕЕее"
           "yYYyy   нННннuUUuu   гГГггiIIii   шШШшшoOOoo   щЩЩщщpPPpp   зЗЗзз"
           "[{[{[   хХХхх]}]}]   ъЪЪъъ") +
        tr("aAAaa   фФФффsSSss   ыЫЫыыdDDdd   вВВввfFFff   аААааgGGgg   пППпп"
           "hHHhh   рРРррjJJjj   оООооkKKkk   лЛЛллlLLll   дДДдд;:;:;   жЖЖжж"
           "'\"'\"'   эЭЭээ") +
        tr("zZZzz   яЯЯяяxXXxx   чЧЧччcCCcc   сССссvVVvv   мММммbBBbb   иИИии"
           "nNNnn   тТТттmMMmm   ьЬЬьь,<,<,   бББбб.>.>.   юЮЮюю/?/?/   .,.,.");
    // clang-format on
    applyKeyTable(table);
    setMode(mode());
}

void FullsizeKeyboard::setMode(int mode) {
    IKeyboard::setMode(mode);
    shiftButton.setChecked((mode & SHIFT) != 0);
    altButton.setChecked((mode & ALT) != 0);
    capsButton.setChecked((mode & CAPS) != 0);
}

void FullsizeKeyboard::shiftReleased() {
    setMode((mode() ^ SHIFT) & ~ALT);
}

void FullsizeKeyboard::capsReleased() {
    setMode((mode() ^ CAPS) & ~ALT);
}

void FullsizeKeyboard::altReleased() {
    setMode((mode() ^ ALT) & ~(CAPS | SHIFT));
}

void FullsizeKeyboard::languageReleased() {
    setMode(mode() ^ LC);
}

void FullsizeKeyboard::leftPressed() {
    editor.cursorBackward(false);
}

void FullsizeKeyboard::rightPressed() {
    editor.cursorForward(false);
}

void FullsizeKeyboard::insertKey(const QChar& c) {
    editor.insert(QString(c));
    // Shift and Alt hold for one character only.
    if (mode() & SHIFT) {
        shiftReleased();
    } else if (mode() & ALT) {
        altReleased();
    }
}

void FullsizeKeyboard::showKeyboardFor(const QString& text, const QString&) {
    editor.setText(text);
    editor.selectAll();
    show();
}
