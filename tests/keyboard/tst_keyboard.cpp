#include "FullsizeKeyboard.h"
#include "KeyboardButton.h"
#include "NumericKeyboard.h"

#include <QMetaEnum>
#include <QSignalSpy>
#include <QTest>
#include <QTranslator>

#include <functional>

namespace {

// The full-size keyboard as the user sees it: top-left corner of every key and
// the character it types in modes EN, EN_SHIFT, EN_CAPS, EN_CAPS_SHIFT, EN_ALT,
// LC, LC_SHIFT, LC_CAPS, LC_CAPS_SHIFT, LC_ALT (separated by blanks).
struct KeyRow {
    int key;
    int x;
    int y;
    const char* chars;
};
const KeyRow FullsizeTable[] = {
    {0, 3, 55, "` ~ ` ~ ` ё Ё Ё ё ё"},       {1, 55, 55, "1 ! 1 ! 1 1 ! 1 ! 1"},
    {2, 107, 55, "2 @ 2 @ 2 2 \" 2 \" 2"},   {3, 159, 55, "3 # 3 # 3 3 № 3 № 3"},
    {4, 211, 55, "4 $ 4 $ 4 4 ; 4 ; 4"},     {5, 263, 55, "5 % 5 % 5 5 % 5 % 5"},
    {6, 315, 55, "6 ^ 6 ^ 6 6 : 6 : 6"},     {7, 367, 55, "7 7 7 7 7 7 ? 7 ? 7"},
    {8, 419, 55, "8 * 8 * 8 8 * 8 * 8"},     {9, 471, 55, "9 ( 9 ( 9 9 ( 9 ( 9"},
    {10, 523, 55, "0 ) 0 ) 0 0 ) 0 ) 0"},    {11, 575, 55, "- _ - _ - - _ - _ -"},
    {12, 627, 55, "= + = + = = + = + ="},    {13, 679, 55, "\\ | \\ | \\ \\ / \\ / \\"},
    {14, 81, 107, "q Q Q q q й Й Й й й"},    {15, 133, 107, "w W W w w ц Ц Ц ц ц"},
    {16, 185, 107, "e E E e e у У У у у"},   {17, 237, 107, "r R R r r к К К к к"},
    {18, 289, 107, "t T T t t е Е Е е е"},   {19, 341, 107, "y Y Y y y н Н Н н н"},
    {20, 393, 107, "u U U u u г Г Г г г"},   {21, 445, 107, "i I I i i ш Ш Ш ш ш"},
    {22, 497, 107, "o O O o o щ Щ Щ щ щ"},   {23, 549, 107, "p P P p p з З З з з"},
    {24, 601, 107, "[ { [ { [ х Х Х х х"},   {25, 653, 107, "] } ] } ] ъ Ъ Ъ ъ ъ"},
    {26, 133, 159, "a A A a a ф Ф Ф ф ф"},   {27, 185, 159, "s S S s s ы Ы Ы ы ы"},
    {28, 237, 159, "d D D d d в В В в в"},   {29, 289, 159, "f F F f f а А А а а"},
    {30, 341, 159, "g G G g g п П П п п"},   {31, 393, 159, "h H H h h р Р Р р р"},
    {32, 445, 159, "j J J j j о О О о о"},   {33, 497, 159, "k K K k k л Л Л л л"},
    {34, 549, 159, "l L L l l д Д Д д д"},   {35, 601, 159, "; : ; : ; ж Ж Ж ж ж"},
    {36, 653, 159, "' \" ' \" ' э Э Э э э"}, {37, 185, 211, "z Z Z z z я Я Я я я"},
    {38, 237, 211, "x X X x x ч Ч Ч ч ч"},   {39, 289, 211, "c C C c c с С С с с"},
    {40, 341, 211, "v V V v v м М М м м"},   {41, 393, 211, "b B B b b и И И и и"},
    {42, 445, 211, "n N N n n т Т Т т т"},   {43, 497, 211, "m M M m m ь Ь Ь ь ь"},
    {44, 549, 211, ", < , < , б Б Б б б"},   {45, 601, 211, ". > . > . ю Ю Ю ю ю"},
    {46, 653, 211, "/ ? / ? / . , . , ."},
};
const int FullsizeModes[] = {0, 1, 2, 3, 4, 8, 9, 10, 11, 12};

// Numeric keys in creation order: character and geometry.
struct NumericRow {
    const char* chars;
    QRect rect;
};
const NumericRow NumericTable[] = {
    {"7", {419, 55, 52, 52}},   {"8", {471, 55, 52, 52}},  {"9", {523, 55, 52, 52}},
    {"4", {419, 107, 52, 52}},  {"5", {471, 107, 52, 52}}, {"6", {523, 107, 52, 52}},
    {"1", {419, 159, 52, 52}},  {"2", {471, 159, 52, 52}}, {"3", {523, 159, 52, 52}},
    {"0", {419, 211, 104, 52}}, {".", {523, 211, 52, 52}},
};

QStringList cellsOf(const KeyRow& row) {
    return QString::fromUtf8(row.chars).split(QLatin1Char(' '));
}

void press(QWidget* w, Qt::MouseButton button = Qt::LeftButton) {
    QTest::mousePress(w, button);
    QTest::mouseRelease(w, button);
}

// Index of the full-size key that types `c` in English without Shift.
int fullsizeKeyFor(QChar c) {
    for (const KeyRow& row : FullsizeTable) {
        if (cellsOf(row).at(0) == QString(c)) {
            return row.key;
        }
    }
    return -1;
}

// Index of the numeric key that types `c`.
int numericKeyFor(QChar c) {
    for (int i = 0; i < int(std::size(NumericTable)); ++i) {
        if (QString::fromLatin1(NumericTable[i].chars) == QString(c)) {
            return i;
        }
    }
    return -1;
}

// Translates the key table and the texts of the full-size keyboard.
class TableTranslator : public QTranslator {
public:
    std::function<QString(const QString&)> rows;
    QString translate(const char* context, const char* source, const char*, int) const override {
        const QString text = QString::fromUtf8(source);
        if (qstrcmp(context, "FullsizeKeyboard") != 0) {
            return QString();
        }
        if (text == QLatin1String("EN/RU")) {
            return QStringLiteral("LANG");
        }
        return rows(text);
    }
    bool isEmpty() const override { return false; }
};

} // namespace

class TestKeyboard : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void fullsizeKeys_data();
    void fullsizeKeys();
    void numericKeys_data();
    void numericKeys();
    void geometry_data();
    void geometry();
    void dialogTakesFrameSize();

    void modeTransitions_data();
    void modeTransitions();
    void fullsizeEditing_data();
    void fullsizeEditing();
    void numericEditing_data();
    void numericEditing();

    void confirmAndCancel_data();
    void confirmAndCancel();
    void enterActsOnRelease();
    void otherButtonsInsertNothing_data();
    void otherButtonsInsertNothing();
    void keyWithoutKeyboardInsertsNothing();
    void unusedModesShowNothing();
    void numericHint();
    void languageChange();
    void metaObjects();
};

void TestKeyboard::init() {
    FullsizeKeyboard::instance()->setMode(IKeyboard::LC);
}

void TestKeyboard::cleanup() {
    FullsizeKeyboard::instance()->hide();
    NumericKeyboard::instance()->hide();
    NumericKeyboard::instance()->setMode(IKeyboard::LC);
}

void TestKeyboard::fullsizeKeys_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("expected");
    for (const KeyRow& row : FullsizeTable) {
        const QStringList cells = cellsOf(row);
        QVERIFY(cells.size() == 10);
        for (int m = 0; m < 10; ++m) {
            QTest::addRow("key %d mode %d", row.key, FullsizeModes[m])
                << row.key << FullsizeModes[m] << cells.at(m);
        }
    }
}

void TestKeyboard::fullsizeKeys() {
    QFETCH(int, key);
    QFETCH(int, mode);
    QFETCH(QString, expected);
    FullsizeKeyboard* kb = FullsizeKeyboard::instance();
    QCOMPARE(kb->keys.size(), int(std::size(FullsizeTable)));
    kb->showKeyboardFor(QString(), QString());
    kb->setMode(mode);
    QCOMPARE(kb->keys.at(key)->text(), expected);
    press(kb->keys.at(key));
    QCOMPARE(kb->editor.text(), expected);
}

void TestKeyboard::numericKeys_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("expected");
    for (int k = 0; k < int(std::size(NumericTable)); ++k) {
        for (int mode : FullsizeModes) {
            QTest::addRow("key %s mode %d", NumericTable[k].chars, mode)
                << k << mode << QString::fromLatin1(NumericTable[k].chars);
        }
    }
}

void TestKeyboard::numericKeys() {
    QFETCH(int, key);
    QFETCH(int, mode);
    QFETCH(QString, expected);
    NumericKeyboard* kb = NumericKeyboard::instance();
    QCOMPARE(kb->keys.size(), int(std::size(NumericTable)));
    kb->showKeyboardFor(QString(), QString());
    kb->setMode(mode);
    QCOMPARE(kb->keys.at(key)->text(), expected);
    press(kb->keys.at(key));
    QCOMPARE(kb->editor.text(), expected);
}

void TestKeyboard::geometry_data() {
    QTest::addColumn<QWidget*>("widget");
    QTest::addColumn<QRect>("expected");
    NumericKeyboard* n = NumericKeyboard::instance();
    QTest::newRow("numeric frame")
        << static_cast<QWidget*>(&n->keyboardFrame) << QRect(0, 0, 630, 266);
    QTest::newRow("numeric hint") << static_cast<QWidget*>(&n->hintView) << QRect(3, 3, 416, 260);
    QTest::newRow("numeric esc") << static_cast<QWidget*>(&n->escButton) << QRect(419, 3, 52, 52);
    QTest::newRow("numeric editor") << static_cast<QWidget*>(&n->editor) << QRect(471, 3, 156, 52);
    QTest::newRow("numeric backspace")
        << static_cast<QWidget*>(&n->backspaceButton) << QRect(575, 55, 52, 52);
    QTest::newRow("numeric enter")
        << static_cast<QWidget*>(&n->enterButton) << QRect(575, 107, 52, 156);
    for (int k = 0; k < int(std::size(NumericTable)); ++k) {
        QTest::addRow("numeric key %s", NumericTable[k].chars)
            << static_cast<QWidget*>(n->keys.value(k)) << NumericTable[k].rect;
    }

    FullsizeKeyboard* f = FullsizeKeyboard::instance();
    const struct {
        const char* name;
        QWidget* widget;
        QRect rect;
    } fixed[] = {
        {"frame", &f->keyboardFrame, {0, 0, 786, 318}},
        {"esc", &f->escButton, {3, 3, 52, 52}},
        {"editor", &f->editor, {55, 3, 624, 52}},
        {"left", &f->leftButton, {679, 3, 52, 52}},
        {"right", &f->rightButton, {731, 3, 52, 52}},
        {"backspace", &f->backspaceButton, {731, 55, 52, 52}},
        {"language", &f->languageButton, {3, 107, 78, 52}},
        {"enter", &f->enterButton, {705, 107, 78, 156}},
        {"caps", &f->capsButton, {3, 159, 130, 52}},
        {"shift", &f->shiftButton, {3, 211, 104, 52}},
        {"alt", &f->altButton, {107, 211, 78, 52}},
        {"space", &f->spaceButton, {3, 263, 780, 52}},
    };
    for (const auto& e : fixed) {
        QTest::addRow("fullsize %s", e.name) << e.widget << e.rect;
    }
    for (const KeyRow& row : FullsizeTable) {
        QTest::addRow("fullsize key %d", row.key)
            << static_cast<QWidget*>(f->keys.value(row.key)) << QRect(row.x, row.y, 52, 52);
    }
}

void TestKeyboard::geometry() {
    QFETCH(QWidget*, widget);
    QFETCH(QRect, expected);
    QVERIFY(widget);
    QCOMPARE(widget->geometry(), expected);
    QVERIFY(qobject_cast<IKeyboard*>(widget->parentWidget()));
}

void TestKeyboard::dialogTakesFrameSize() {
    const QList<IKeyboard*> keyboards = {NumericKeyboard::instance(), FullsizeKeyboard::instance()};
    for (IKeyboard* kb : keyboards) {
        kb->showKeyboardFor(QStringLiteral("1"), QString());
        QVERIFY(kb->isVisible());
        QVERIFY(kb->isModal());
        QCOMPARE(kb->windowTitle(), QStringLiteral(" "));
        QCOMPARE(kb->size(), kb->keyboardFrame.size());
        QVERIFY(kb->enterButton.icon().availableSizes().contains(QSize(48, 48)));
        QCOMPARE(kb->enterButton.iconSize(), QSize(48, 48));
    }
    // The images come with the keyboard library alone.
    FullsizeKeyboard* f = FullsizeKeyboard::instance();
    for (QPushButton* arrow : {&f->leftButton, &f->rightButton}) {
        QVERIFY(arrow->icon().availableSizes().contains(QSize(32, 32)));
        QCOMPARE(arrow->iconSize(), QSize(32, 32));
    }
}

void TestKeyboard::modeTransitions_data() {
    QTest::addColumn<int>("startMode");
    QTest::addColumn<QStringList>("actions");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("endMode");

    using K = IKeyboard;
    auto row = [](const char* name, int start, const QString& actions, const QString& typed,
                  int end) {
        QTest::newRow(name) << start << actions.split(QLatin1Char(' '), Qt::SkipEmptyParts) << typed
                            << end;
    };
    row("shift gives one capital", K::EN, "shift a a", "Aa", K::EN);
    row("shift twice cancels", K::EN, "shift shift a", "a", K::EN);
    row("caps holds", K::EN, "caps a s caps a", "ASa", K::EN);
    row("caps with shift gives one small letter", K::EN, "caps shift a a", "aA", K::EN_CAPS);
    row("caps with shift gives one shifted sign", K::EN_CAPS, "shift 1 1", "!1", K::EN_CAPS);
    row("alt clears caps and shift", K::EN_CAPS_SHIFT, "alt", "", K::EN_ALT);
    row("alt gives the base character once", K::EN, "alt 1 shift 1", "1!", K::EN);
    row("shift clears alt", K::EN_ALT, "shift", "", K::EN_SHIFT);
    row("caps clears alt", K::LC_ALT, "caps", "", K::LC_CAPS);
    row("alt twice cancels", K::LC, "alt alt a", "ф", K::LC);
    row("language keeps caps", K::EN_CAPS, "lang a", "Ф", K::LC_CAPS);
    row("language keeps shift", K::LC_SHIFT, "lang a a", "Aa", K::EN);
    row("language keeps alt off", K::EN, "lang lang a", "a", K::EN);
    row("space bar ends shift", K::EN, "shift space a", " a", K::EN);
    row("space bar ends alt", K::LC_ALT, "space", " ", K::LC);
}

void TestKeyboard::modeTransitions() {
    QFETCH(int, startMode);
    QFETCH(QStringList, actions);
    QFETCH(QString, typed);
    QFETCH(int, endMode);
    FullsizeKeyboard* kb = FullsizeKeyboard::instance();
    kb->showKeyboardFor(QString(), QString());
    kb->setMode(startMode);
    for (const QString& action : actions) {
        if (action == QLatin1String("shift")) {
            QTest::mouseClick(&kb->shiftButton, Qt::LeftButton);
        } else if (action == QLatin1String("caps")) {
            QTest::mouseClick(&kb->capsButton, Qt::LeftButton);
        } else if (action == QLatin1String("alt")) {
            QTest::mouseClick(&kb->altButton, Qt::LeftButton);
        } else if (action == QLatin1String("lang")) {
            QTest::mouseClick(&kb->languageButton, Qt::LeftButton);
        } else if (action == QLatin1String("space")) {
            press(&kb->spaceButton);
        } else {
            const int key = fullsizeKeyFor(action.at(0));
            QVERIFY2(key >= 0, qPrintable(action));
            press(kb->keys.at(key));
        }
    }
    QCOMPARE(kb->editor.text(), typed);
    QCOMPARE(kb->mode(), endMode);
    // The toggles show the mode's groups.
    QCOMPARE(kb->shiftButton.isChecked(), (endMode & IKeyboard::SHIFT) != 0);
    QCOMPARE(kb->capsButton.isChecked(), (endMode & IKeyboard::CAPS) != 0);
    QCOMPARE(kb->altButton.isChecked(), (endMode & IKeyboard::ALT) != 0);
}

void TestKeyboard::fullsizeEditing_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("actions");
    QTest::addColumn<QString>("expected");
    // < and > are the cursor keys, B the backspace key.
    QTest::newRow("first key replaces the selection") << "abc"
                                                      << "x"
                                                      << "x";
    QTest::newRow("left ends the selection") << "abc"
                                             << "<x"
                                             << "abxc";
    QTest::newRow("left stops at the start") << "abc"
                                             << "<<<<<x"
                                             << "xabc";
    QTest::newRow("right ends the selection") << "abc"
                                              << ">x"
                                              << "abcx";
    QTest::newRow("left then right") << "abc"
                                     << "<<>x"
                                     << "abxc";
    QTest::newRow("backspace deletes the selection") << "abc"
                                                     << "B"
                                                     << "";
    QTest::newRow("backspace left of the cursor") << "abc"
                                                  << "<B"
                                                  << "ac";
}

void TestKeyboard::fullsizeEditing() {
    QFETCH(QString, text);
    QFETCH(QString, actions);
    QFETCH(QString, expected);
    FullsizeKeyboard* kb = FullsizeKeyboard::instance();
    kb->setMode(IKeyboard::EN);
    kb->showKeyboardFor(text, QStringLiteral("ignored"));
    QCOMPARE(kb->editor.selectedText(), text);
    for (QChar c : actions) {
        if (c == QLatin1Char('<')) {
            press(&kb->leftButton);
        } else if (c == QLatin1Char('>')) {
            press(&kb->rightButton);
        } else if (c == QLatin1Char('B')) {
            press(&kb->backspaceButton);
        } else {
            press(kb->keys.at(fullsizeKeyFor(c)));
        }
    }
    QCOMPARE(kb->editor.text(), expected);
}

void TestKeyboard::numericEditing_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("actions");
    QTest::addColumn<QString>("expected");
    // B is the backspace key.
    QTest::newRow("digit replaces the old value") << "12.5"
                                                  << "7"
                                                  << "7";
    QTest::newRow("second point ignored") << ""
                                          << "1..2."
                                          << "1.2";
    QTest::newRow("point ignored on a selected value with a point") << "3.5"
                                                                    << "."
                                                                    << "3.5";
    QTest::newRow("point replaces a selected value without one") << "35"
                                                                 << ".5"
                                                                 << ".5";
    QTest::newRow("point allowed again after deleting it") << ""
                                                           << "1.B.5"
                                                           << "1.5";
    QTest::newRow("backspace deletes the selection") << "123"
                                                     << "B"
                                                     << "";
    QTest::newRow("backspace deletes the last digit") << ""
                                                      << "123B4"
                                                      << "124";
    QTest::newRow("backspace on empty") << ""
                                        << "BB"
                                        << "";
}

void TestKeyboard::numericEditing() {
    QFETCH(QString, text);
    QFETCH(QString, actions);
    QFETCH(QString, expected);
    NumericKeyboard* kb = NumericKeyboard::instance();
    kb->showKeyboardFor(text, QString());
    for (QChar c : actions) {
        if (c == QLatin1Char('B')) {
            // Backspace acts on the press already.
            const QString before = kb->editor.text();
            QTest::mousePress(&kb->backspaceButton, Qt::LeftButton);
            if (!before.isEmpty()) {
                QVERIFY(kb->editor.text() != before);
            }
            QTest::mouseRelease(&kb->backspaceButton, Qt::LeftButton);
        } else {
            press(kb->keys.at(numericKeyFor(c)));
        }
    }
    QCOMPARE(kb->editor.text(), expected);
}

void TestKeyboard::confirmAndCancel_data() {
    QTest::addColumn<bool>("numeric");
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("emits");
    for (bool numeric : {true, false}) {
        const char* kind = numeric ? "numeric" : "fullsize";
        QTest::addRow("%s enter key", kind) << numeric << "enter"
                                            << "42" << true;
        QTest::addRow("%s enter key, empty", kind) << numeric << "enter"
                                                   << "" << true;
        QTest::addRow("%s physical return", kind) << numeric << "return"
                                                  << "7" << true;
        QTest::addRow("%s physical enter", kind) << numeric << "keypad enter"
                                                 << "7" << true;
        QTest::addRow("%s esc key", kind) << numeric << "esc"
                                          << "7" << false;
        QTest::addRow("%s physical escape", kind) << numeric << "escape"
                                                  << "7" << false;
    }
}

void TestKeyboard::confirmAndCancel() {
    QFETCH(bool, numeric);
    QFETCH(QString, action);
    QFETCH(QString, text);
    QFETCH(bool, emits);
    IKeyboard* kb = numeric ? static_cast<IKeyboard*>(NumericKeyboard::instance())
                            : static_cast<IKeyboard*>(FullsizeKeyboard::instance());
    QSignalSpy spy(kb, &IKeyboard::dataEnteredSignal);
    bool visibleAtEmission = true;
    const auto c = connect(kb, &IKeyboard::dataEnteredSignal, this,
                           [&] { visibleAtEmission = kb->isVisible(); });
    kb->showKeyboardFor(text, QString());
    QVERIFY(kb->isVisible());
    if (action == QLatin1String("enter")) {
        QTest::mouseClick(&kb->enterButton, Qt::LeftButton);
    } else if (action == QLatin1String("return")) {
        QTest::keyClick(&kb->editor, Qt::Key_Return);
    } else if (action == QLatin1String("keypad enter")) {
        QTest::keyClick(&kb->editor, Qt::Key_Enter, Qt::KeypadModifier);
    } else if (action == QLatin1String("esc")) {
        QTest::mouseClick(&kb->escButton, Qt::LeftButton);
    } else {
        QTest::keyClick(&kb->editor, Qt::Key_Escape);
    }
    disconnect(c);
    QVERIFY(!kb->isVisible());
    QCOMPARE(kb->result(), int(emits ? QDialog::Accepted : QDialog::Rejected));
    QCOMPARE(spy.count(), emits ? 1 : 0);
    if (emits) {
        QCOMPARE(spy.at(0).at(0).toString(), text);
        QVERIFY(!visibleAtEmission);
    }
}

void TestKeyboard::enterActsOnRelease() {
    NumericKeyboard* kb = NumericKeyboard::instance();
    QSignalSpy spy(kb, &IKeyboard::dataEnteredSignal);
    kb->showKeyboardFor(QStringLiteral("5"), QString());
    QTest::mousePress(&kb->enterButton, Qt::LeftButton);
    QCOMPARE(spy.count(), 0);
    QVERIFY(kb->isVisible());
    QTest::mouseRelease(&kb->enterButton, Qt::LeftButton);
    QCOMPARE(spy.count(), 1);

    kb->showKeyboardFor(QStringLiteral("5"), QString());
    QTest::mousePress(&kb->escButton, Qt::LeftButton);
    QVERIFY(kb->isVisible());
    QTest::mouseRelease(&kb->escButton, Qt::LeftButton);
    QVERIFY(!kb->isVisible());
    QCOMPARE(spy.count(), 1);
}

void TestKeyboard::otherButtonsInsertNothing_data() {
    QTest::addColumn<Qt::MouseButton>("button");
    QTest::newRow("right") << Qt::RightButton;
    QTest::newRow("middle") << Qt::MiddleButton;
}

void TestKeyboard::otherButtonsInsertNothing() {
    QFETCH(Qt::MouseButton, button);
    FullsizeKeyboard* kb = FullsizeKeyboard::instance();
    kb->showKeyboardFor(QStringLiteral("ab"), QString());
    kb->editor.end(false);
    kb->setMode(IKeyboard::EN_SHIFT);
    press(kb->keys.at(26), button);
    press(&kb->spaceButton, button);
    QCOMPARE(kb->editor.text(), QStringLiteral("ab"));
    QCOMPARE(kb->mode(), int(IKeyboard::EN_SHIFT));
}

void TestKeyboard::keyWithoutKeyboardInsertsNothing() {
    NumericKeyboard* kb = NumericKeyboard::instance();
    kb->showKeyboardFor(QStringLiteral("1"), QString());
    kb->editor.end(false);
    const QChar z(QLatin1Char('9'));
    // A child of the keyboard that was never attached to it.
    KeyboardButton loose(kb, z, z, z, z, z, z, z, z, z, z);
    loose.setGeometry(0, 0, 52, 52);
    loose.show();
    press(&loose);
    QCOMPARE(kb->editor.text(), QStringLiteral("1"));
    loose.attachTo(kb);
    press(&loose);
    QCOMPARE(kb->editor.text(), QStringLiteral("19"));
}

void TestKeyboard::unusedModesShowNothing() {
    FullsizeKeyboard* kb = FullsizeKeyboard::instance();
    kb->showKeyboardFor(QString(), QString());
    for (int mode : {5, 6, 7}) {
        kb->setMode(mode);
        for (KeyboardButton* key : kb->keys) {
            QVERIFY(key->text().isEmpty());
        }
        press(kb->keys.at(26));
        QVERIFY(kb->editor.text().isEmpty());
    }
    kb->setMode(IKeyboard::EN);
    QCOMPARE(kb->keys.at(26)->text(), QStringLiteral("a"));
}

void TestKeyboard::numericHint() {
    NumericKeyboard* kb = NumericKeyboard::instance();
    kb->showKeyboardFor(QStringLiteral("1"), QStringLiteral("<b>Bold</b> &lt;plain&gt;"));
    QCOMPARE(kb->hintView.toPlainText(), QStringLiteral("Bold <plain>"));
    QVERIFY(kb->hintView.toHtml().contains(QLatin1String("font-weight")));
    kb->showKeyboardFor(QStringLiteral("1"), QString());
    QVERIFY(kb->hintView.toPlainText().isEmpty());
}

void TestKeyboard::languageChange() {
    FullsizeKeyboard* kb = FullsizeKeyboard::instance();
    kb->setMode(IKeyboard::EN_CAPS);
    const QString firstRowStart = QStringLiteral("`~`~`");
    const QString lastRowStart = QStringLiteral("zZZzz");

    // A table of the right length replaces the characters and keeps the mode.
    TableTranslator good;
    good.rows = [&](const QString& row) {
        return row.startsWith(lastRowStart)
                   ? QString(row).replace(QLatin1Char('Z'), QLatin1Char('#'))
                   : QString();
    };
    QVERIFY(QCoreApplication::installTranslator(&good));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LanguageChange);
    QCOMPARE(kb->languageButton.text(), QStringLiteral("LANG"));
    QCOMPARE(kb->mode(), int(IKeyboard::EN_CAPS));
    QCOMPARE(kb->keys.at(37)->text(), QStringLiteral("#"));
    QCOMPARE(kb->keys.at(38)->text(), QStringLiteral("X"));
    QVERIFY(QCoreApplication::removeTranslator(&good));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LanguageChange);
    QCOMPARE(kb->keys.at(37)->text(), QStringLiteral("Z"));

    // A table of the wrong length is ignored; the texts are still applied.
    TableTranslator shortTable;
    shortTable.rows = [&](const QString& row) {
        return row.startsWith(firstRowStart) ? QStringLiteral("#####   #####") : QString();
    };
    kb->setMode(IKeyboard::LC);
    QVERIFY(QCoreApplication::installTranslator(&shortTable));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LanguageChange);
    QCOMPARE(kb->languageButton.text(), QStringLiteral("LANG"));
    QCOMPARE(kb->mode(), int(IKeyboard::LC));
    QCOMPARE(kb->keys.at(0)->text(), QStringLiteral("ё"));
    QCOMPARE(kb->keys.at(1)->text(), QStringLiteral("1"));
    QCOMPARE(kb->keys.at(37)->text(), QStringLiteral("я"));
    QVERIFY(QCoreApplication::removeTranslator(&shortTable));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LanguageChange);
    QCOMPARE(kb->languageButton.text(), QStringLiteral("EN/RU"));
    QCOMPARE(kb->spaceButton.text(), QStringLiteral("Пробел"));
}

void TestKeyboard::metaObjects() {
    const QMetaObject& mo = IKeyboard::staticMetaObject;
    QCOMPARE(mo.methodCount() - mo.methodOffset(), 3);
    const struct {
        const char* signature;
        QMetaMethod::MethodType type;
        QMetaMethod::Access access;
    } methods[] = {
        {"dataEnteredSignal(QString)", QMetaMethod::Signal, QMetaMethod::Public},
        {"backspacePressed()", QMetaMethod::Slot, QMetaMethod::Protected},
        {"accept()", QMetaMethod::Slot, QMetaMethod::Protected},
    };
    for (int i = 0; i < 3; ++i) {
        const QMetaMethod m = mo.method(mo.methodOffset() + i);
        QCOMPARE(m.methodSignature(), QByteArray(methods[i].signature));
        QCOMPARE(m.methodType(), methods[i].type);
        QCOMPARE(m.access(), methods[i].access);
    }
    QCOMPARE(mo.enumeratorCount() - mo.enumeratorOffset(), 3);
    const char* enums[] = {"KeyboardTypes", "KeyboardGroups", "KeyboardModes"};
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(mo.enumerator(mo.enumeratorOffset() + i).name(), enums[i]);
    }
    const QMetaEnum modes = QMetaEnum::fromType<IKeyboard::KeyboardModes>();
    QCOMPARE(modes.keyCount(), 13);
    for (int i = 0; i < 13; ++i) {
        QCOMPARE(modes.value(i), i);
    }
    QCOMPARE(modes.key(12), "LC_ALT");

    const QMetaObject& fm = FullsizeKeyboard::staticMetaObject;
    const char* slotNames[] = {"shiftReleased()",    "altReleased()", "capsReleased()",
                               "languageReleased()", "leftPressed()", "rightPressed()"};
    QCOMPARE(fm.methodCount() - fm.methodOffset(), 6);
    for (int i = 0; i < 6; ++i) {
        QCOMPARE(fm.method(fm.methodOffset() + i).methodSignature(), QByteArray(slotNames[i]));
    }
    QCOMPARE(NumericKeyboard::staticMetaObject.methodCount(), mo.methodCount());
    QCOMPARE(KeyboardButton::staticMetaObject.methodCount(),
             QPushButton::staticMetaObject.methodCount());
}

QTEST_MAIN(TestKeyboard)
#include "tst_keyboard.moc"
