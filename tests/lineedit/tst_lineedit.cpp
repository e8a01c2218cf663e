#include "FullsizeKeyboard.h"
#include "KeyboardButton.h"
#include "NumericKeyboard.h"
#include "QLineEditEmbedded.h"

#include <QMetaProperty>
#include <QSignalSpy>
#include <QTest>

#include <memory>

namespace {

// A field wired the way its owner wires it: a release opens the keyboard.
std::unique_ptr<QLineEditEmbedded> makeField(const QString& text, int type = IKeyboard::NUMERIC_KBD,
                                             const QString& hint = QString()) {
    auto field = std::make_unique<QLineEditEmbedded>(nullptr);
    field->setText(text);
    field->setKeyboardType(type);
    field->setHintText(hint);
    QObject::connect(field.get(), &QLineEditEmbedded::mouseReleasedSignal, field.get(),
                     &QLineEditEmbedded::showKeyboard);
    field->resize(100, 30);
    field->show();
    return field;
}

void tap(QWidget* w, Qt::MouseButton button = Qt::LeftButton) {
    QTest::mouseClick(w, button);
}

// Presses the numeric key that types `c`.
void typeNumeric(QChar c) {
    for (KeyboardButton* key : NumericKeyboard::instance()->keys) {
        if (key->text() == QString(c)) {
            QTest::mousePress(key, Qt::LeftButton);
            QTest::mouseRelease(key, Qt::LeftButton);
            return;
        }
    }
    QFAIL("no such key");
}

} // namespace

class TestLineEdit : public QObject {
    Q_OBJECT

private slots:
    void cleanup();

    void defaults();
    void metaObject();
    void properties();
    void releaseOpensKeyboard_data();
    void releaseOpensKeyboard();
    void onlyLastOpenerReceives();
    void confirmUnchangedText();
    void cancelEmitsNothing_data();
    void cancelEmitsNothing();
    void inaccessibleFieldIgnoresTaps();
    void echoModeReachesKeyboard();
    void destroyedFieldIsForgotten();
    void styleFollowsCurrentLevel();
    void physicalKeysDoNotEdit();
};

void TestLineEdit::cleanup() {
    NumericKeyboard::instance()->hide();
    FullsizeKeyboard::instance()->hide();
}

void TestLineEdit::defaults() {
    QLineEditEmbedded field(nullptr);
    QVERIFY(field.isReadOnly());
    QCOMPARE(field.focusPolicy(), Qt::NoFocus);
    QCOMPARE(field.alignment(), Qt::AlignHCenter | Qt::AlignVCenter);
    QCOMPARE(field.styleSheet(), QStringLiteral("color: black;"));
    QCOMPARE(field.keyboardType(), IKeyboard::NUMERIC_KBD);
    QVERIFY(field.hintText().isEmpty());
    QCOMPARE(field.accessLevel(), AccessLevel::OPERATOR);
    QVERIFY(field.isAccessible());
}

void TestLineEdit::metaObject() {
    const QMetaObject& mo = QLineEditEmbedded::staticMetaObject;
    QCOMPARE(mo.className(), "QLineEditEmbedded");
    const char* methods[] = {"dataEnteredSignal(QString)", "mouseReleasedSignal()",
                             "showKeyboard()"};
    QCOMPARE(mo.methodCount() - mo.methodOffset(), 3);
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(mo.method(mo.methodOffset() + i).methodSignature(), QByteArray(methods[i]));
    }
    const struct {
        const char* name;
        QMetaType type;
    } props[] = {
        {"accessLevel", QMetaType::fromType<AccessLevel::Types>()},
        {"keyboardType", QMetaType::fromType<IKeyboard::KeyboardTypes>()},
        {"hintText", QMetaType::fromType<QString>()},
    };
    QCOMPARE(mo.propertyCount() - mo.propertyOffset(), 3);
    for (int i = 0; i < 3; ++i) {
        const QMetaProperty p = mo.property(mo.propertyOffset() + i);
        QCOMPARE(p.name(), props[i].name);
        QCOMPARE(p.metaType(), props[i].type);
        QVERIFY(p.isReadable() && p.isWritable() && p.isDesignable() && p.isStored());
        QVERIFY(!p.hasNotifySignal());
    }

    QLineEditEmbedded field(nullptr);
    QCOMPARE(field.qt_metacast("Accessable"), static_cast<void*>(static_cast<Accessable*>(&field)));
    QCOMPARE(field.qt_metacast("QLineEditEmbedded"), static_cast<void*>(&field));
    QCOMPARE(field.qt_metacast("QLineEdit"), static_cast<void*>(static_cast<QLineEdit*>(&field)));
    QVERIFY(!field.qt_metacast("NoSuchClass"));
}

void TestLineEdit::properties() {
    // The form sets these through the meta-object.
    QLineEditEmbedded field(nullptr);
    QVERIFY(field.setProperty("keyboardType", int(IKeyboard::FULLSIZE_KBD)));
    QCOMPARE(field.keyboardType(), IKeyboard::FULLSIZE_KBD);
    QVERIFY(field.setProperty("hintText", QStringLiteral("<b>hint</b>")));
    QCOMPARE(field.hintText(), QStringLiteral("<b>hint</b>"));
    QVERIFY(field.setProperty("accessLevel", QVariant::fromValue(AccessLevel::ADJUSTER)));
    QCOMPARE(field.property("accessLevel").value<AccessLevel::Types>(), AccessLevel::ADJUSTER);
    QVERIFY(!field.isAccessible());
}

void TestLineEdit::releaseOpensKeyboard_data() {
    QTest::addColumn<Qt::MouseButton>("button");
    QTest::addColumn<int>("type");
    QTest::addColumn<bool>("numericShown");
    QTest::addColumn<bool>("fullsizeShown");
    QTest::newRow("left, numeric") << Qt::LeftButton << 0 << true << false;
    QTest::newRow("left, full-size") << Qt::LeftButton << 1 << false << true;
    QTest::newRow("left, type 2") << Qt::LeftButton << 2 << false << false;
    QTest::newRow("left, type -1") << Qt::LeftButton << -1 << false << false;
    QTest::newRow("right") << Qt::RightButton << 0 << false << false;
    QTest::newRow("middle") << Qt::MiddleButton << 1 << false << false;
}

void TestLineEdit::releaseOpensKeyboard() {
    QFETCH(Qt::MouseButton, button);
    QFETCH(int, type);
    QFETCH(bool, numericShown);
    QFETCH(bool, fullsizeShown);
    auto field = makeField(QStringLiteral("1A"), type, QStringLiteral("the hint"));
    QSignalSpy released(field.get(), &QLineEditEmbedded::mouseReleasedSignal);
    tap(field.get(), button);
    QCOMPARE(released.count(), button == Qt::LeftButton ? 1 : 0);
    QCOMPARE(NumericKeyboard::instance()->isVisible(), numericShown);
    QCOMPARE(FullsizeKeyboard::instance()->isVisible(), fullsizeShown);
    if (numericShown || fullsizeShown) {
        IKeyboard* kb = numericShown ? static_cast<IKeyboard*>(NumericKeyboard::instance())
                                     : static_cast<IKeyboard*>(FullsizeKeyboard::instance());
        QCOMPARE(kb->editor.text(), QStringLiteral("1A"));
        QCOMPARE(kb->editor.selectedText(), QStringLiteral("1A"));
    }
    if (numericShown) {
        QCOMPARE(NumericKeyboard::instance()->hintView.toPlainText(), QStringLiteral("the hint"));
    }
}

void TestLineEdit::onlyLastOpenerReceives() {
    auto a = makeField(QStringLiteral("1"));
    auto b = makeField(QStringLiteral("2"));
    QSignalSpy spyA(a.get(), &QLineEditEmbedded::dataEnteredSignal);
    QSignalSpy spyB(b.get(), &QLineEditEmbedded::dataEnteredSignal);
    NumericKeyboard* kb = NumericKeyboard::instance();

    tap(a.get());
    QVERIFY(kb->isVisible());
    QTest::mouseClick(&kb->escButton, Qt::LeftButton);
    QVERIFY(!kb->isVisible());

    tap(b.get());
    QCOMPARE(kb->editor.text(), QStringLiteral("2"));
    typeNumeric(QLatin1Char('5'));
    QTest::mouseClick(&kb->enterButton, Qt::LeftButton);

    QCOMPARE(spyA.count(), 0);
    QCOMPARE(spyB.count(), 1);
    QCOMPARE(spyB.at(0).at(0).toString(), QStringLiteral("5"));
    // The owner writes the text back; the field itself does not.
    QCOMPARE(b->text(), QStringLiteral("2"));
    // Exactly one receiver, however often fields opened the keyboard.
    tap(a.get());
    tap(b.get());
    tap(a.get());
    QTest::mouseClick(&kb->enterButton, Qt::LeftButton);
    QCOMPARE(spyA.count(), 1);
    QCOMPARE(spyB.count(), 1);
}

void TestLineEdit::confirmUnchangedText() {
    auto field = makeField(QStringLiteral("hello"), IKeyboard::FULLSIZE_KBD);
    QSignalSpy spy(field.get(), &QLineEditEmbedded::dataEnteredSignal);
    tap(field.get());
    FullsizeKeyboard* kb = FullsizeKeyboard::instance();
    QTest::keyClick(&kb->editor, Qt::Key_Return);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toString(), QStringLiteral("hello"));
}

void TestLineEdit::cancelEmitsNothing_data() {
    QTest::addColumn<bool>("physical");
    QTest::newRow("esc key") << false;
    QTest::newRow("physical escape") << true;
}

void TestLineEdit::cancelEmitsNothing() {
    QFETCH(bool, physical);
    auto field = makeField(QStringLiteral("7"));
    QSignalSpy spy(field.get(), &QLineEditEmbedded::dataEnteredSignal);
    tap(field.get());
    NumericKeyboard* kb = NumericKeyboard::instance();
    typeNumeric(QLatin1Char('9'));
    if (physical) {
        QTest::keyClick(&kb->editor, Qt::Key_Escape);
    } else {
        QTest::mouseClick(&kb->escButton, Qt::LeftButton);
    }
    QVERIFY(!kb->isVisible());
    QCOMPARE(spy.count(), 0);
    QCOMPARE(field->text(), QStringLiteral("7"));
}

void TestLineEdit::inaccessibleFieldIgnoresTaps() {
    auto field = makeField(QStringLiteral("3"));
    field->setAccessLevel(AccessLevel::ENGINEER);
    tap(field.get());
    QVERIFY(!NumericKeyboard::instance()->isVisible());
    field->setCurrentLevel(AccessLevel::ENGINEER);
    tap(field.get());
    QVERIFY(NumericKeyboard::instance()->isVisible());
}

void TestLineEdit::echoModeReachesKeyboard() {
    auto secret = makeField(QStringLiteral("pw"), IKeyboard::FULLSIZE_KBD);
    secret->setEchoMode(QLineEdit::Password);
    auto plain = makeField(QStringLiteral("x"), IKeyboard::FULLSIZE_KBD);
    FullsizeKeyboard* kb = FullsizeKeyboard::instance();
    tap(secret.get());
    QCOMPARE(kb->editor.echoMode(), QLineEdit::Password);
    kb->hide();
    tap(plain.get());
    QCOMPARE(kb->editor.echoMode(), QLineEdit::Normal);
}

void TestLineEdit::destroyedFieldIsForgotten() {
    NumericKeyboard* kb = NumericKeyboard::instance();
    {
        auto field = makeField(QStringLiteral("1"));
        tap(field.get());
    }
    QVERIFY(kb->isVisible());
    QSignalSpy spy(kb, &IKeyboard::dataEnteredSignal);
    QTest::mouseClick(&kb->enterButton, Qt::LeftButton);
    QCOMPARE(spy.count(), 1);
}

void TestLineEdit::styleFollowsCurrentLevel() {
    const QString editable = QStringLiteral("color: black;");
    const QString plainText = QStringLiteral(
        "QLineEdit { color: black; background-color: transparent; border-style: none; }");
    QLineEditEmbedded field(nullptr);
    QVERIFY(field.setProperty("accessLevel", QVariant::fromValue(AccessLevel::ENGINEER)));
    QCOMPARE(field.styleSheet(), editable);
    field.setCurrentLevel(AccessLevel::OPERATOR);
    QCOMPARE(field.styleSheet(), plainText);
    field.setCurrentLevel(AccessLevel::ENGINEER);
    QCOMPARE(field.styleSheet(), editable);
    field.setAccessLevel(AccessLevel::OPERATOR);
    field.setCurrentLevel(AccessLevel::ADJUSTER);
    QCOMPARE(field.styleSheet(), editable);
}

void TestLineEdit::physicalKeysDoNotEdit() {
    auto field = makeField(QStringLiteral("12"));
    QTest::keyClicks(field.get(), QStringLiteral("abc"));
    QTest::keyClick(field.get(), Qt::Key_Backspace);
    QCOMPARE(field->text(), QStringLiteral("12"));
}

QTEST_MAIN(TestLineEdit)
#include "tst_lineedit.moc"
