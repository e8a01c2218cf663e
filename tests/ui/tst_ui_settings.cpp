// The dialog's form, port and baud rate across runs.

#include "UiTestSupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QHeaderView>
#include <QSettings>
#include <QTableWidget>
#include <QtTest>

#include <memory>

using namespace uitest;

namespace {

bool checked(QWidget* dialog, const char* name) {
    return widget<QCheckBox>(dialog, name)->isChecked();
}
bool enabled(QWidget* dialog, const char* name) {
    return widget<QWidget>(dialog, name)->isEnabled();
}
int index(QWidget* dialog, const char* name) {
    return widget<QComboBox>(dialog, name)->currentIndex();
}
QStringList rows(QWidget* dialog) {
    auto* list = widget<QTableWidget>(dialog, "exBlockList");
    QStringList texts;
    for (int row = 0; row < list->rowCount(); ++row) {
        texts << list->item(row, 0)->text();
    }
    return texts;
}

} // namespace

class TestUiSettings : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<VelkTestUi> makeDialog() {
        return std::make_unique<VelkTestUi>(nullptr, nullptr, testRoots());
    }
    void store(const QString& key, const QVariant& value) {
        QSettings settings("ORBEK", "VelkTest");
        settings.setValue(key, value);
        settings.sync();
    }

private slots:
    void init() { clearSettings(); }

    void firstRunDefaults() {
        TestPort com3(3);
        TestPort com1(1);
        auto dialog = makeDialog();
        QWidget* d = dialog.get();
        QVERIFY(checked(d, "timeBit"));
        QVERIFY(!checked(d, "subLBit") && !checked(d, "efBit") && !checked(d, "wtsBit"));
        QVERIFY(!checked(d, "dataBlockSubLBit"));
        QCOMPARE(field(d, "ao")->text(), QString("1F"));
        QCOMPARE(field(d, "exDataRxOffset")->text(), QString("0"));
        QCOMPARE(field(d, "cyclicSendTimeout")->text(), QString("100"));
        QVERIFY(enabled(d, "data_0") && enabled(d, "data_1") && enabled(d, "userDataFrame"));
        QVERIFY(!enabled(d, "subLAddressFrame") && !enabled(d, "exBlockGroupBox"));
        for (const char* name : {"dataType", "dataRxType", "exDataRxType", "exDataRxTypeBitSize"}) {
            QCOMPARE(index(d, name), 0);
        }
        QCOMPARE(widget<QComboBox>(d, "baudRate")->currentText(), QString("115200"));
        auto* ports = widget<QComboBox>(d, "portName");
        QCOMPARE(ports->count(), 2);
        QCOMPARE(ports->currentText(), QString("COM1"));
        QCOMPARE(ports->itemData(1, Qt::ToolTipRole).toString(), com3.device);
        QCOMPARE(widget<QGroupBox>(d, "rs232GroupBox")->title(), QString::fromUtf8("Порт открыт"));
        QCOMPARE(rows(d), QStringList());
    }

    void everyKeyIsSavedAndRestored() {
        TestPort com1(1);
        TestPort com3(3);
        {
            auto dialog = makeDialog();
            QWidget* d = dialog.get();
            widget<QCheckBox>(d, "subLBit")->click();
            widget<QCheckBox>(d, "timeBit")->click();
            widget<QCheckBox>(d, "dataBlockSubLBit")->click();
            widget<QCheckBox>(d, "wtsBit")->click();
            const std::pair<const char*, const char*> texts[] = {
                {"address_1", "a"},     {"address_2", "b"}, {"address_3", "c"}, {"address_4", "d"},
                {"ao", "1e"},           {"ntxt", "2"},      {"code", "10"},     {"index", "7f"},
                {"status", "3"},        {"data_2", "e"},    {"data_3", "f"},    {"userData", "1.5"},
                {"exDataRxOffset", "2"}};
            for (const auto& [name, text] : texts) {
                field(d, name)->setText(text);
            }
            widget<QComboBox>(d, "dataType")->setCurrentIndex(4);
            widget<QComboBox>(d, "dataRxType")->setCurrentIndex(3);
            widget<QComboBox>(d, "exDataRxTypeBitSize")->setCurrentIndex(2);
            widget<QComboBox>(d, "exDataRxType")->setCurrentIndex(1);
            widget<QCheckBox>(d, "efBit")->click();
            for (const char* byte : {"0a", "FF", "3"}) {
                field(d, "exData")->setText(byte);
                QMetaObject::invokeMethod(d, "exDataEntered");
            }
            emit field(d, "cyclicSendTimeout")->dataEnteredSignal("250");
            widget<QComboBox>(d, "baudRate")->setCurrentIndex(2);
            widget<QComboBox>(d, "portName")->setCurrentIndex(1);
            QVERIFY(dialog->close());
        }

        QSettings stored("ORBEK", "VelkTest");
        QCOMPARE(stored.fileName(), settingsFile());
        QCOMPARE(stored.allKeys().size(), 33);
        const QVariantMap expected{{"subLBit", true},
                                   {"timeBit", false},
                                   {"subLAddressFrame", true},
                                   {"address_1", "A"},
                                   {"address_2", "B"},
                                   {"address_3", "C"},
                                   {"address_4", "D"},
                                   {"dataBlockSubLBit", true},
                                   {"efBit", true},
                                   {"wtsBit", true},
                                   {"ao", "1E"},
                                   {"ntxt", "2"},
                                   {"code", "10"},
                                   {"index", "7F"},
                                   {"status", "3"},
                                   {"data_0_isEnabled", false},
                                   {"data_0", "3"},
                                   {"data_1_isEnabled", false},
                                   {"data_1", "0"},
                                   {"data_2", ""},
                                   {"data_3", ""},
                                   {"userDataFrame", false},
                                   {"dataType", 4},
                                   {"userData", ""},
                                   {"dataRxType", 3},
                                   {"exDataRxTypeBitSize", 2},
                                   {"exDataRxType", 1},
                                   {"exDataRxOffset", "2"},
                                   {"exBlockGroupBox", true},
                                   {"exBlockStr", "0A;FF;3;"},
                                   {"cyclicSendTimeout", "250"},
                                   {"portName", "COM3"},
                                   {"baudRate", "1000000"}};
        QCOMPARE(expected.size(), 33);
        for (auto it = expected.begin(); it != expected.end(); ++it) {
            QVERIFY2(stored.contains(it.key()), qPrintable(it.key()));
            QCOMPARE(stored.value(it.key()).toString(), it.value().toString());
        }

        auto dialog = makeDialog();
        QWidget* d = dialog.get();
        QVERIFY(checked(d, "subLBit") && !checked(d, "timeBit") && checked(d, "efBit"));
        QVERIFY(checked(d, "wtsBit") && checked(d, "dataBlockSubLBit"));
        QVERIFY(enabled(d, "subLAddressFrame") && enabled(d, "exBlockGroupBox"));
        QVERIFY(!enabled(d, "data_0") && !enabled(d, "data_1") && !enabled(d, "userDataFrame"));
        QCOMPARE(fieldTexts(d, {"address_1", "address_2", "address_3", "address_4", "ao", "ntxt",
                                "code", "index", "status", "data_0", "data_1", "data_2", "data_3",
                                "userData", "exDataRxOffset", "cyclicSendTimeout"}),
                 (QStringList{"A", "B", "C", "D", "1E", "2", "10", "7F", "3", "3", "0", "", "", "",
                              "2", "250"}));
        QCOMPARE(index(d, "dataType"), 4);
        QCOMPARE(index(d, "dataRxType"), 3);
        QCOMPARE(index(d, "exDataRxTypeBitSize"), 2);
        QCOMPARE(index(d, "exDataRxType"), 1);
        // The restored type steers the bit-size selector.
        QVERIFY(!widget<QWidget>(d, "exDataRxTypeBitSize")->isHidden());
        QCOMPARE(rows(d), (QStringList{"0A", "FF", "3"}));
        QCOMPARE(widget<QTableWidget>(d, "exBlockList")->currentRow(), 0);
        QCOMPARE(widget<QComboBox>(d, "portName")->currentText(), QString("COM3"));
        QCOMPARE(widget<QComboBox>(d, "baudRate")->currentText(), QString("1000000"));
    }

    void storedFieldsAreNotRecomputed() {
        // The stored bytes come back as stored, not split again from userData.
        store("userData", "12.5");
        store("dataType", 3);
        store("data_0", "99");
        store("exDataRxType", 4);
        auto dialog = makeDialog();
        QCOMPARE(field(dialog.get(), "data_0")->text(), QString("99"));
        QCOMPARE(field(dialog.get(), "userData")->text(), QString("12.5"));
        QVERIFY(widget<QWidget>(dialog.get(), "exDataRxTypeBitSize")->isHidden());
    }

    void badExtendedBytesAreDropped_data() {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QStringList>("restored");
        QTest::newRow("bad parts") << "0A;;zz;FF" << QStringList{"0A", "FF"};
        QTest::newRow("no trailing separator") << "1;2" << QStringList{"1", "2"};
        QTest::newRow("lower case") << "ab;" << QStringList{"AB"};
        QTest::newRow("only separators") << ";;;" << QStringList{};
    }
    void badExtendedBytesAreDropped() {
        QFETCH(QString, stored);
        QFETCH(QStringList, restored);
        store("exBlockStr", stored);
        auto dialog = makeDialog();
        QCOMPARE(rows(dialog.get()), restored);
        if (!restored.isEmpty()) {
            QCOMPARE(widget<QTableWidget>(dialog.get(), "exBlockList")->currentRow(), 0);
        }
    }

    // Thousands of saved bytes: the columns are fitted once, after loading,
    // and end up as wide as the contents need.
    void manySavedBytesLoadQuickly() {
        QStringList bytes;
        for (int i = 0; i < 20000; ++i) {
            bytes << QString::number((i * 37) % 256, 16).toUpper();
        }
        store("exBlockStr", bytes.join(';') + ';');
        QElapsedTimer clock;
        clock.start();
        auto dialog = makeDialog();
        const qint64 ms = clock.elapsed();
        qInfo("20,000 saved bytes loaded in %lld ms", ms);
        // Generous for a loaded machine; fitting after every row took minutes.
        QVERIFY2(ms < 15000, qPrintable(QString::number(ms)));
        auto* list = widget<QTableWidget>(dialog.get(), "exBlockList");
        QCOMPARE(list->rowCount(), 20000);
        QCOMPARE(list->item(19999, 0)->text(), bytes.last());
        // The rows are numbered from 0, and the view knows every one of them.
        QCOMPARE(list->verticalHeaderItem(19999)->text(), QString("19999"));
        QCOMPARE(list->verticalHeader()->count(), 20000);
        QCOMPARE(list->currentRow(), 0);
        const int width = list->columnWidth(0);
        list->resizeColumnsToContents();
        QCOMPARE(list->columnWidth(0), width);
    }

    void missingPortFallsBackToTheFirst() {
        TestPort com2(2);
        TestPort com7(7);
        store("portName", "COM9");
        auto dialog = makeDialog();
        auto* ports = widget<QComboBox>(dialog.get(), "portName");
        QCOMPARE(ports->currentText(), QString("COM2"));
        QCOMPARE(widget<QGroupBox>(dialog.get(), "rs232GroupBox")->title(),
                 QString::fromUtf8("Порт открыт"));
    }

    void outOfRangeIndicesLeaveNoCurrentItem() {
        TestPort com1(1);
        store("dataType", 7);
        store("exDataRxTypeBitSize", -2);
        store("baudRate", "9600");
        store("cyclicSendTimeout", "abc");
        auto dialog = makeDialog();
        QCOMPARE(index(dialog.get(), "dataType"), -1);
        QCOMPARE(index(dialog.get(), "exDataRxTypeBitSize"), -1);
        QCOMPARE(index(dialog.get(), "baudRate"), -1);
        QCOMPARE(field(dialog.get(), "cyclicSendTimeout")->text(), QString("abc"));
        // No baud rate, no open port.
        auto* box = widget<QGroupBox>(dialog.get(), "rs232GroupBox");
        QCOMPARE(box->title(), QString::fromUtf8("Ошибка открытия"));
        QVERIFY(box->styleSheet().contains("red"));
    }
};

QTEST_MAIN(TestUiSettings)
#include "tst_ui_settings.moc"
