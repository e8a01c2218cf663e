// Every text of the form fits the room its widget gives it at the form's
// fixed geometry, measured with the font the program uses: no title loses
// letters at the edge and no caption runs into the field beside it.

#include "ApplicationLook.h"
#include "UiTestSupport.h"
#include "Velk21SessionErrors.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionGroupBox>
#include <QtTest>

#include <memory>

using namespace uitest;

namespace {

// Free pixels required between a text and a neighbouring widget.
constexpr int minimumGap = 2;

QSize textSize(const QWidget* w, const QString& text) {
    const QFontMetrics metrics = w->fontMetrics();
    return QSize(metrics.horizontalAdvance(text), metrics.height());
}

// Where the widget draws the text, in its own coordinates.
QRect textRect(QWidget* w, const QString& text) {
    QStyle* style = w->style();
    if (auto* label = qobject_cast<QLabel*>(w)) {
        return QStyle::alignedRect(label->layoutDirection(), label->alignment(), textSize(w, text),
                                   label->contentsRect());
    }
    if (auto* box = qobject_cast<QCheckBox*>(w)) {
        QStyleOptionButton option;
        option.initFrom(box);
        option.text = text;
        const QRect contents = style->subElementRect(QStyle::SE_CheckBoxContents, &option, box);
        return QStyle::alignedRect(box->layoutDirection(), Qt::AlignLeft | Qt::AlignVCenter,
                                   textSize(w, text), contents);
    }
    if (auto* button = qobject_cast<QPushButton*>(w)) {
        QStyleOptionButton option;
        option.initFrom(button);
        option.text = text;
        const QRect contents =
            style->subElementRect(QStyle::SE_PushButtonContents, &option, button);
        return QStyle::alignedRect(button->layoutDirection(), Qt::AlignCenter, textSize(w, text),
                                   contents);
    }
    if (auto* group = qobject_cast<QGroupBox*>(w)) {
        QStyleOptionGroupBox option;
        option.initFrom(group);
        option.text = text;
        option.textAlignment = group->alignment();
        option.lineWidth = 1;
        option.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
        if (group->isCheckable()) {
            option.subControls |= QStyle::SC_GroupBoxCheckBox;
        }
        QRect title =
            style->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, group);
        if (group->isCheckable()) {
            title |= style->subControlRect(QStyle::CC_GroupBox, &option,
                                           QStyle::SC_GroupBoxCheckBox, group);
        }
        return title;
    }
    qFatal("no text measure for %s", qPrintable(w->objectName()));
}

bool inLayout(const QWidget* w) {
    const QLayout* layout = w->parentWidget()->layout();
    return layout != nullptr && layout->indexOf(w) >= 0;
}

// Whether a sibling of a text can be in its way: plain frames are lines or
// containers, and a hidden widget of a layout takes no room.
bool isNeighbour(const QWidget* sibling) {
    return sibling->metaObject() != &QFrame::staticMetaObject &&
           !(sibling->isHidden() && inLayout(sibling));
}

// The first widget beside w (same parent) that the text, with its gap,
// runs into; nullptr when there is none. A layout gives each widget the
// room it asks for, spaced as the form says, so only placed widgets count.
QWidget* neighbourHit(QWidget* w, const QRect& text) {
    if (inLayout(w)) {
        return nullptr;
    }
    const QRect onParent = text.translated(w->pos()).adjusted(-minimumGap, 0, minimumGap, 0);
    for (QWidget* sibling : w->parentWidget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (sibling != w && isNeighbour(sibling) && sibling->geometry().intersects(onParent)) {
            return sibling;
        }
    }
    return nullptr;
}

} // namespace

class TestUiFonts : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<VelkTestUi> dialog;

private slots:
    void initTestCase() {
        clearSettings();
        // As the program starts (main.cpp).
        useApplicationFontFamily();
        dialog = std::make_unique<VelkTestUi>(nullptr, nullptr, testRoots());
        applyApplicationLook(dialog->font());
        // A sized type shows the bit size and its caption too.
        widget<QComboBox>(dialog.get(), "exDataRxType")->setCurrentText("INTEGER");
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
    }
    void cleanupTestCase() { dialog.reset(); }

    void theFormKeepsElevenPointBold() {
        const QFont font = QApplication::font();
        QCOMPARE(font.pointSize(), 11);
        QVERIFY(font.bold());
        QCOMPARE(dialog->font(), font);
        qInfo("application font: %s", qPrintable(QFontInfo(font).family()));
    }

    // One row per caption of the form, and the port group box's title for an
    // open port (its form title is the one for a failed open).
    void textFitsItsWidget_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("text");
        int rows = 0;
        for (QWidget* w : dialog->findChildren<QWidget*>()) {
            QString text;
            if (auto* label = qobject_cast<QLabel*>(w); label != nullptr && !label->wordWrap()) {
                text = label->text();
            } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
                text = button->text();
            } else if (auto* group = qobject_cast<QGroupBox*>(w)) {
                text = group->title();
            }
            if (!text.isEmpty() && !w->objectName().startsWith("qt_")) {
                QTest::addRow("%s %s", qPrintable(w->objectName()), qPrintable(text))
                    << w->objectName() << text;
                ++rows;
            }
        }
        // 25 labels, 10 check boxes, 3 buttons with text, 7 group boxes.
        QCOMPARE(rows, 25 + 10 + 3 + 7);
        QTest::newRow("rs232GroupBox Порт открыт") << "rs232GroupBox" << QString("Порт открыт");
    }
    void textFitsItsWidget() {
        QFETCH(QString, name);
        QFETCH(QString, text);
        auto* w = widget<QWidget>(dialog.get(), qPrintable(name));
        const QRect drawn = textRect(w, text);
        const QString where = QString("%1: text %2..%3 in 0..%4")
                                  .arg(name)
                                  .arg(drawn.left())
                                  .arg(drawn.right())
                                  .arg(w->width() - 1);
        QVERIFY2(drawn.left() >= 0 && drawn.right() < w->width(), qPrintable(where));
        QWidget* hit = neighbourHit(w, drawn);
        QVERIFY2(hit == nullptr,
                 qPrintable(where + " touches " + (hit ? hit->objectName() : QString())));
    }

    // The failure texts wrap in the two lines the error panel has.
    void errorTextsFitThePanel() {
        auto* panel = widget<QLabel>(dialog.get(), "sessionErrorText");
        for (const char* text : velk21SessionErrorTexts) {
            panel->setText(QString::fromUtf8(text));
            QVERIFY2(panel->heightForWidth(panel->width()) <= panel->height(), text);
        }
        panel->clear();
    }
};

QTEST_MAIN(TestUiFonts)
#include "tst_ui_fonts.moc"
