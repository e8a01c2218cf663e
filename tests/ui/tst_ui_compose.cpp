// Composing a request on the dialog through its on-screen keyboards.

#include "UiTestSupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QPushButton>
#include <QTableWidget>
#include <QtTest>

#include <memory>

using namespace uitest;

class TestUiCompose : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<VelkTestUi> dialog;

    QStringList dataFields() {
        return fieldTexts(dialog.get(), {"data_0", "data_1", "data_2", "data_3"});
    }
    QTableWidget* exBlockList() { return widget<QTableWidget>(dialog.get(), "exBlockList"); }
    QStringList listRows() {
        QStringList rows;
        for (int row = 0; row < exBlockList()->rowCount(); ++row) {
            QTableWidgetItem* item = exBlockList()->item(row, 0);
            rows << (item ? item->text() : QString("<none>"));
        }
        return rows;
    }

private slots:
    void init() {
        clearSettings();
        dialog = std::make_unique<VelkTestUi>(nullptr, nullptr, testRoots());
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
    }
    void cleanup() {
        NumericKeyboard::instance()->hide();
        FullsizeKeyboard::instance()->hide();
        dialog.reset();
    }

    void userValueFillsDataBytes_data() {
        QTest::addColumn<int>("typeIndex");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("throughKeyboard");
        QTest::addColumn<QStringList>("bytes");
        // The numeric keyboard has neither a minus key nor a second point:
        // such values come in through the field's signal.
        QTest::newRow("REAL32FIX 12.5") << 3 << "12.5" << true << QStringList{"7D", "0", "0", "1"};
        QTest::newRow("INTEGER 12.5 rounds")
            << 1 << "12.5" << true << QStringList{"D", "0", "0", "0"};
        QTest::newRow("three parts") << 3 << "1.2.3" << false << QStringList{"0", "0", "0", "0"};
        QTest::newRow("BOOLEAN 0.0") << 0 << "0.0" << true << QStringList{"0", "0", "0", "0"};
        QTest::newRow("BOOLEAN -3") << 0 << "-3" << false << QStringList{"1", "0", "0", "0"};
        QTest::newRow("INTEGER -1") << 1 << "-1" << false << QStringList{"FF", "FF", "FF", "FF"};
        QTest::newRow("UNSIGNED 300") << 2 << "300" << true << QStringList{"2C", "1", "0", "0"};
        QTest::newRow("REAL32 1.5") << 4 << "1.5" << true << QStringList{"0", "0", "C0", "3F"};
        QTest::newRow("REAL32FIX capped")
            << 3 << "3.14159" << true << QStringList{"46", "C", "0", "3"};
        QTest::newRow("REAL32FIX -0.25")
            << 3 << "-0.25" << false << QStringList{"E7", "FF", "FF", "2"};
        QTest::newRow("REAL32FIX trailing point")
            << 3 << "7." << true << QStringList{"46", "0", "0", "1"};
    }
    void userValueFillsDataBytes() {
        QFETCH(int, typeIndex);
        QFETCH(QString, text);
        QFETCH(bool, throughKeyboard);
        QFETCH(QStringList, bytes);
        widget<QComboBox>(dialog.get(), "dataType")->setCurrentIndex(typeIndex);
        // Stale bytes must not survive the entry.
        for (const char* name : {"data_0", "data_1", "data_2", "data_3"}) {
            field(dialog.get(), name)->setText("55");
        }
        QLineEditEmbedded* userData = field(dialog.get(), "userData");
        if (throughKeyboard) {
            QVERIFY(enterThroughKeyboard(userData, text));
        } else {
            emit userData->dataEnteredSignal(text);
        }
        QCOMPARE(userData->text(), text);
        QCOMPARE(dataFields(), bytes);
    }

    void typeChangeSplitsAgain() {
        auto* dataType = widget<QComboBox>(dialog.get(), "dataType");
        dataType->setCurrentIndex(3);
        QVERIFY(enterThroughKeyboard(field(dialog.get(), "userData"), "12.5"));
        QCOMPARE(dataFields(), (QStringList{"7D", "0", "0", "1"}));
        dataType->setCurrentIndex(1);
        QCOMPARE(dataFields(), (QStringList{"D", "0", "0", "0"}));
        dataType->setCurrentIndex(0);
        QCOMPARE(dataFields(), (QStringList{"1", "0", "0", "0"}));
    }

    void hexEntryIsNormalised_data() {
        QTest::addColumn<QString>("fieldName");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("shown");
        QTest::newRow("lower case") << "code"
                                    << "7f"
                                    << "7F";
        QTest::newRow("no range check") << "ao"
                                        << "1ff"
                                        << "1FF";
        QTest::newRow("not hexadecimal") << "index"
                                         << "xyz"
                                         << "";
        QTest::newRow("empty") << "status"
                               << ""
                               << "";
        QTest::newRow("address") << "address_1"
                                 << "a"
                                 << "A";
    }
    void hexEntryIsNormalised() {
        QFETCH(QString, fieldName);
        QFETCH(QString, typed);
        QFETCH(QString, shown);
        QLineEditEmbedded* f = field(dialog.get(), qPrintable(fieldName));
        f->setText("5");
        QVERIFY(enterThroughKeyboard(f, typed));
        QCOMPARE(f->text(), shown);
    }

    void subLBitSwitchesAddressLevels() {
        auto* subLBit = widget<QCheckBox>(dialog.get(), "subLBit");
        QWidget* frame = widget<QWidget>(dialog.get(), "subLAddressFrame");
        QVERIFY(!frame->isEnabled());
        QTest::mouseClick(subLBit, Qt::LeftButton);
        QVERIFY(frame->isEnabled());
        QVERIFY(enterThroughKeyboard(field(dialog.get(), "address_2"), "1e"));
        QTest::mouseClick(subLBit, Qt::LeftButton);
        QVERIFY(!frame->isEnabled());
        QCOMPARE(field(dialog.get(), "address_2")->text(), QString("1E"));
    }

    void efBitShowsExtendedLength() {
        auto* efBit = widget<QCheckBox>(dialog.get(), "efBit");
        QLineEditEmbedded* data0 = field(dialog.get(), "data_0");
        QLineEditEmbedded* data1 = field(dialog.get(), "data_1");
        QWidget* group = widget<QWidget>(dialog.get(), "exBlockGroupBox");
        QWidget* userDataFrame = widget<QWidget>(dialog.get(), "userDataFrame");
        QVERIFY(enterThroughKeyboard(field(dialog.get(), "userData"), "7"));

        // No rows yet: the length fields are emptied.
        QTest::mouseClick(efBit, Qt::LeftButton);
        QVERIFY(group->isEnabled());
        QVERIFY(!data0->isEnabled() && !data1->isEnabled());
        QVERIFY(!userDataFrame->isEnabled());
        QCOMPARE(dataFields(), (QStringList{"", "", "", ""}));
        QCOMPARE(field(dialog.get(), "userData")->text(), QString());

        for (const char* byte : {"1", "2", "3"}) {
            QVERIFY(enterThroughKeyboard(field(dialog.get(), "exData"), byte));
        }
        QTest::mouseClick(efBit, Qt::LeftButton);
        QVERIFY(data0->isEnabled() && data1->isEnabled() && userDataFrame->isEnabled());
        QVERIFY(!group->isEnabled());
        QCOMPARE(dataFields(), (QStringList{"3", "0", "", ""}));

        QTest::mouseClick(efBit, Qt::LeftButton);
        QVERIFY(!data0->isEnabled() && !data1->isEnabled());
        QCOMPARE(dataFields(), (QStringList{"3", "0", "", ""}));
    }

    void extendedListGrowsThroughKeyboard() {
        QTest::mouseClick(widget<QCheckBox>(dialog.get(), "efBit"), Qt::LeftButton);
        QLineEditEmbedded* exData = field(dialog.get(), "exData");

        QVERIFY(enterThroughKeyboard(exData, "ff"));
        QCOMPARE(exData->text(), QString("FF"));
        QCOMPARE(listRows(), QStringList{"FF"});
        QCOMPARE(exBlockList()->verticalHeaderItem(0)->text(), QString("0"));
        QCOMPARE(exBlockList()->currentRow(), 0);

        QVERIFY(enterThroughKeyboard(exData, "xyz"));
        QCOMPARE(exData->text(), QString());
        QCOMPARE(listRows(), QStringList{"FF"});

        // "+" adds what the field holds; nothing while it is empty.
        auto* add = widget<QPushButton>(dialog.get(), "addExDataButton");
        QTest::mouseClick(add, Qt::LeftButton);
        QCOMPARE(listRows(), QStringList{"FF"});
        exData->setText("a");
        QTest::mouseClick(add, Qt::LeftButton);
        QCOMPARE(listRows(), (QStringList{"FF", "A"}));
        QCOMPARE(exBlockList()->verticalHeaderItem(1)->text(), QString("1"));
        QCOMPARE(exBlockList()->currentRow(), 1);
        QCOMPARE(dataFields().mid(0, 2), (QStringList{"2", "0"}));

        QTest::mouseClick(widget<QPushButton>(dialog.get(), "clearAllExDataButton"),
                          Qt::LeftButton);
        QCOMPARE(exBlockList()->rowCount(), 0);
        QCOMPARE(dataFields().mid(0, 2), (QStringList{"", ""}));
    }

    void extendedListItemsAreEdited() {
        QTest::mouseClick(widget<QCheckBox>(dialog.get(), "efBit"), Qt::LeftButton);
        for (const char* byte : {"ff", "10"}) {
            QVERIFY(enterThroughKeyboard(field(dialog.get(), "exData"), byte));
        }
        FullsizeKeyboard* keyboard = FullsizeKeyboard::instance();
        auto tapRow = [&](int row) {
            QTableWidget* list = exBlockList();
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                              list->visualItemRect(list->item(row, 0)).center());
        };

        tapRow(1);
        QVERIFY(keyboard->isVisible());
        QCOMPARE(keyboard->editor.text(), QString("10"));
        keyboard->editor.clear();
        QVERIFY(typeKeys(keyboard, "1b"));
        QTest::mouseClick(&keyboard->enterButton, Qt::LeftButton);
        QCOMPARE(listRows(), (QStringList{"FF", "1B"}));
        QCOMPARE(dataFields().mid(0, 2), (QStringList{"2", "0"}));

        tapRow(0);
        keyboard->editor.clear();
        QVERIFY(typeKeys(keyboard, "zz"));
        QTest::mouseClick(&keyboard->enterButton, Qt::LeftButton);
        QCOMPARE(listRows(), (QStringList{"", "1B"}));

        // The keyboard serves a field again afterwards, and only the field.
        QVERIFY(enterThroughKeyboard(field(dialog.get(), "code"), "5"));
        QCOMPARE(field(dialog.get(), "code")->text(), QString("5"));
        QCOMPARE(listRows(), (QStringList{"", "1B"}));
    }

    void cyclicPeriodIsAtLeastOne_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("throughKeyboard");
        QTest::addColumn<QString>("shown");
        QTest::newRow("zero") << "0" << true << "1";
        QTest::newRow("not a number") << "abc" << false << "1";
        QTest::newRow("leading zeros") << "0250" << true << "250";
        QTest::newRow("fraction") << "2.5" << true << "1";
    }
    void cyclicPeriodIsAtLeastOne() {
        QFETCH(QString, text);
        QFETCH(bool, throughKeyboard);
        QFETCH(QString, shown);
        QLineEditEmbedded* period = field(dialog.get(), "cyclicSendTimeout");
        QCOMPARE(period->text(), QString("100"));
        // The field is usable only while cyclic sending is ticked.
        QVERIFY(!period->isEnabled());
        widget<QGroupBox>(dialog.get(), "cyclicSendGroupBox")->setChecked(true);
        if (throughKeyboard) {
            QVERIFY(enterThroughKeyboard(period, text));
        } else {
            emit period->dataEnteredSignal(text);
        }
        QCOMPARE(period->text(), shown);
    }
};

QTEST_MAIN(TestUiCompose)
#include "tst_ui_compose.moc"
