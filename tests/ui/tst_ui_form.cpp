// The dialog as built: the form's contract that the other parts rely on.

#include "FakeSerialDevice.h"
#include "SessionRig.h"
#include "UiTestSupport.h"
#include "Velk21Session.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QTableWidget>
#include <QTextBrowser>
#include <QtTest>

#include <memory>

#ifndef Q_OS_WIN
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

using namespace uitest;

class TestUiForm : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<VelkTestUi> dialog;

private slots:
    void init() {
        clearSettings();
        dialog = std::make_unique<VelkTestUi>(nullptr, nullptr, testRoots());
    }
    void cleanup() { dialog.reset(); }

    void comboItemsKeepTheirIndices_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("items");
        const QStringList types{"BOOLEAN", "INTEGER", "UNSIGNED", "REAL32FIX", "REAL32"};
        QTest::newRow("dataType") << "dataType" << types;
        QTest::newRow("dataRxType") << "dataRxType" << types;
        QTest::newRow("exDataRxType") << "exDataRxType" << types;
        QTest::newRow("bit size") << "exDataRxTypeBitSize" << QStringList{"8", "16", "24", "32"};
        QTest::newRow("baudRate") << "baudRate" << QStringList{"115200", "500000", "1000000"};
    }
    void comboItemsKeepTheirIndices() {
        QFETCH(QString, name);
        QFETCH(QStringList, items);
        auto* combo = widget<QComboBox>(dialog.get(), qPrintable(name));
        QStringList actual;
        for (int i = 0; i < combo->count(); ++i) {
            actual << combo->itemText(i);
            // Transparent icons as tall as the box make the list rows tall.
            QVERIFY(!combo->itemIcon(i).isNull());
        }
        QCOMPARE(actual, items);
        QCOMPARE(combo->iconSize().width(), 1);
    }

    void nothingTakesKeyboardFocus() {
        const QList<QWidget*> widgets = dialog->findChildren<QWidget*>();
        int checked = 0;
        for (QWidget* w : widgets) {
            if (w->objectName().isEmpty() || w->objectName().startsWith("qt_")) {
                continue; // parts of Qt's own widgets
            }
            if (qobject_cast<QAbstractButton*>(w) || qobject_cast<QComboBox*>(w) ||
                qobject_cast<QTableWidget*>(w) || qobject_cast<QTextBrowser*>(w) ||
                qobject_cast<QLineEditEmbedded*>(w)) {
                QVERIFY2(w->focusPolicy() == Qt::NoFocus, qPrintable(w->objectName()));
                ++checked;
            }
        }
        // 10 check boxes, 5 push buttons, 6 combo boxes, 2 tables, the log, 29 fields.
        QCOMPARE(checked, 10 + 5 + 6 + 2 + 1 + 29);
    }

    void keyboardFollowsTheDescription() {
        const QList<QLineEditEmbedded*> fields = dialog->findChildren<QLineEditEmbedded*>();
        QStringList decimal;
        for (QLineEditEmbedded* f : fields) {
            if (f->keyboardType() == IKeyboard::NUMERIC_KBD) {
                decimal << f->objectName();
            } else {
                QCOMPARE(f->keyboardType(), IKeyboard::FULLSIZE_KBD);
            }
        }
        decimal.sort();
        QCOMPARE(decimal, (QStringList{"cyclicSendTimeout", "exDataRxOffset", "userData"}));
    }

    void addressTextsEndInLatinC_data() {
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("fieldName");
        QTest::newRow("1") << "label_3"
                           << "address_1";
        QTest::newRow("2") << "label_4"
                           << "address_2";
        QTest::newRow("3") << "label_5"
                           << "address_3";
        QTest::newRow("4") << "label_6"
                           << "address_4";
    }
    void addressTextsEndInLatinC() {
        QFETCH(QString, label);
        QFETCH(QString, fieldName);
        const QString text = widget<QLabel>(dialog.get(), qPrintable(label))->text();
        QCOMPARE(text.left(5), QString::fromUtf8("Адре") + QLatin1Char('c'));
        QVERIFY(field(dialog.get(), qPrintable(fieldName))
                    ->hintText()
                    .startsWith("<b>" + text + ":</b>"));
    }

    void dialogIsSetUp() {
        QCOMPARE(dialog->objectName(), QString("VelkTest"));
        QCOMPARE(dialog->windowTitle(), QString("VELK Test Utility"));
        QVERIFY(dialog->isModal());
        QCOMPARE(dialog->minimumSize(), QSize(800, 600));
        QCOMPARE(dialog->maximumSize(), QSize(800, 600));
        QVERIFY(dialog->font().bold());
        QCOMPARE(dialog->font().pointSize(), 11);
        QVERIFY(!dialog->windowIcon().isNull());
        QVERIFY(widget<QWidget>(dialog.get(), "closeButton")->isHidden());
        QVERIFY(widget<QWidget>(dialog.get(), "rxBlockOkLabel")->isHidden());
        QVERIFY(widget<QWidget>(dialog.get(), "rxBlockErrorLabel")->isHidden());
        QVERIFY(!widget<QLabel>(dialog.get(), "rxBlockOkLabel")->pixmap().isNull());
        QVERIFY(!widget<QLabel>(dialog.get(), "rxBlockErrorLabel")->pixmap().isNull());
        QCOMPARE(widget<QTableWidget>(dialog.get(), "exBlockList")->columnCount(), 1);
        QCOMPARE(widget<QTableWidget>(dialog.get(), "exBlockRxList")->columnCount(), 2);
        QVERIFY(!widget<QWidget>(dialog.get(), "stopCyclicSendButton")->isEnabled());
        QVERIFY(!widget<QWidget>(dialog.get(), "exBlockGroupBox")->isEnabled());
        // The data block's group comes before the address group.
        const QObjectList children = widget<QWidget>(dialog.get(), "mainFrame")->children();
        QVERIFY(children.indexOf(widget<QWidget>(dialog.get(), "dataGroupBox")) <
                children.indexOf(widget<QWidget>(dialog.get(), "addressGroupBox")));
        for (QGroupBox* box : dialog->findChildren<QGroupBox*>()) {
            QCOMPARE(box->alignment(), Qt::AlignHCenter | Qt::AlignVCenter);
        }
        QVERIFY(QMetaType::fromName("Velk21DataBlockKernel").isValid());
        QVERIFY(QMetaType::fromName("DataBlock<unsigned char>").isValid());
    }

    void noPortMeansFailedOpen() {
        auto* box = widget<QGroupBox>(dialog.get(), "rs232GroupBox");
        QCOMPARE(widget<QComboBox>(dialog.get(), "portName")->count(), 0);
        QCOMPARE(box->title(), QString::fromUtf8("Ошибка открытия"));
        QVERIFY(box->styleSheet().contains("red"));
        QCOMPARE(box->toolTip(), QString::fromUtf8("Устройство не найдено."));
    }

#ifndef Q_OS_WIN
    // The title stays as it is; its tool tip says why the port did not open.
    void openFailureSaysWhy() {
        dialog.reset();
        PtyPort port(5);
        const int holder = ::open(port.path.c_str(), O_RDWR | O_NOCTTY);
        QVERIFY(holder >= 0);
        QCOMPARE(flock(holder, LOCK_EX | LOCK_NB), 0);
        dialog = std::make_unique<VelkTestUi>(nullptr, nullptr, testRoots());
        auto* box = widget<QGroupBox>(dialog.get(), "rs232GroupBox");
        QCOMPARE(box->title(), QString::fromUtf8("Ошибка открытия"));
        QCOMPARE(box->toolTip(), QString::fromUtf8("Порт занят другой программой."));

        ::close(holder);
        widget<QComboBox>(dialog.get(), "baudRate")->setCurrentIndex(1);
        QCOMPARE(box->title(), QString::fromUtf8("Порт открыт"));
        QVERIFY(box->toolTip().isEmpty());
        dialog.reset();
    }
#endif

    // A driver that keeps another rate: the title's tool tip names both.
    void baudRateRefusalSaysWhich() {
        dialog.reset();
        auto device = std::make_unique<FakeSerialDevice>();
        device->limitBaudRate(115200, 9600);
        Velk21Session session(fakePort(), 1000000, std::move(device));
        QVERIFY(!session.isOpen());
        dialog = std::make_unique<VelkTestUi>(&session, nullptr, testRoots());
        auto* box = widget<QGroupBox>(dialog.get(), "rs232GroupBox");
        QCOMPARE(box->title(), QString::fromUtf8("Ошибка открытия"));
        QCOMPARE(box->toolTip(),
                 QString::fromUtf8("Порт не работает на скорости 1000000 бод: драйвер установил "
                                   "9600."));
        dialog.reset();
    }

    void languageChangeResetsPortTitle() {
        dialog.reset();
        TestPort port(4);
        dialog = std::make_unique<VelkTestUi>(nullptr, nullptr, testRoots());
        auto* box = widget<QGroupBox>(dialog.get(), "rs232GroupBox");
        auto* ports = widget<QComboBox>(dialog.get(), "portName");
        QCOMPARE(ports->count(), 1);
        QCOMPARE(ports->itemText(0), QString("COM4"));
        QCOMPARE(ports->itemData(0, Qt::ToolTipRole).toString(), port.device);
        QCOMPARE(box->title(), QString::fromUtf8("Порт открыт"));
        QEvent change(QEvent::LanguageChange);
        QCoreApplication::sendEvent(dialog.get(), &change);
        QCOMPARE(box->title(), QString::fromUtf8("Ошибка открытия"));
        dialog.reset();
    }

    void escapeNeverCloses() {
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
        QTest::keyClick(dialog.get(), Qt::Key_Escape);
        QVERIFY(dialog->isVisible());
    }
};

QTEST_MAIN(TestUiForm)
#include "tst_ui_form.moc"
