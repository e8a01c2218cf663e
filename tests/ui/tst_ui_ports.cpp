// The port list follows adapters plugged in and out while the dialog runs:
// it is scanned again each time it is opened.

#include "UiTestSupport.h"

#include <QComboBox>
#include <QSignalSpy>
#include <QtTest>

#include <map>
#include <memory>

using namespace uitest;

using PortNumbers = QList<int>;

class TestUiPorts : public QObject {
    Q_OBJECT

private:
    std::map<int, std::unique_ptr<PtyPort>> ports;

    // Makes exactly these COM ports exist.
    void plug(const PortNumbers& numbers) {
        for (auto it = ports.begin(); it != ports.end();) {
            it = numbers.contains(it->first) ? std::next(it) : ports.erase(it);
        }
        for (int n : numbers) {
            if (ports.count(n) == 0) {
                ports[n] = std::make_unique<PtyPort>(n);
            }
        }
    }

    static QStringList items(const QComboBox* combo) {
        QStringList names;
        for (int i = 0; i < combo->count(); ++i) {
            names << combo->itemText(i);
        }
        return names;
    }

private slots:
    void init() { clearSettings(); }
    void cleanup() { ports.clear(); }

    void openingTheListScansAgain_data() {
        QTest::addColumn<PortNumbers>("atStart");
        QTest::addColumn<QString>("selected");
        QTest::addColumn<PortNumbers>("whenOpened");
        QTest::addColumn<QStringList>("listed");

        QTest::newRow("ports plugged in around the selected one")
            << PortNumbers{3} << "COM3" << PortNumbers{1, 3, 40}
            << QStringList{"COM1", "COM3", "COM40"};
        QTest::newRow("another port unplugged")
            << PortNumbers{2, 3, 7} << "COM3" << PortNumbers{3} << QStringList{"COM3"};
        // Dropping it would switch the session to another port behind the
        // user's back; it stays until the user picks another.
        QTest::newRow("the selected port unplugged stays listed")
            << PortNumbers{2, 3, 7} << "COM3" << PortNumbers{2, 7}
            << QStringList{"COM2", "COM3", "COM7"};
        QTest::newRow("nothing there at start, nothing selected after")
            << PortNumbers{} << "" << PortNumbers{4, 9} << QStringList{"COM4", "COM9"};
        QTest::newRow("unchanged")
            << PortNumbers{1, 5} << "COM5" << PortNumbers{1, 5} << QStringList{"COM1", "COM5"};
    }
    void openingTheListScansAgain() {
        QFETCH(PortNumbers, atStart);
        QFETCH(QString, selected);
        QFETCH(PortNumbers, whenOpened);
        QFETCH(QStringList, listed);

        plug(atStart);
        VelkTestUi dialog(nullptr, nullptr, testRoots());
        auto* combo = widget<QComboBox>(&dialog, "portName");
        combo->setCurrentIndex(combo->findText(selected));
        QCOMPARE(combo->currentText(), selected);
        const QString groupTitle = widget<QGroupBox>(&dialog, "rs232GroupBox")->title();

        plug(whenOpened);
        // The selection stands, so the session is not made again.
        QSignalSpy indexChanges(combo, &QComboBox::currentIndexChanged);
        dialog.show();
        combo->showPopup();
        QCOMPARE(items(combo), listed);
        QCOMPARE(combo->currentText(), selected);
        QCOMPARE(indexChanges.count(), 0);
        QCOMPARE(widget<QGroupBox>(&dialog, "rs232GroupBox")->title(), groupTitle);
        for (int i = 0; i < combo->count(); ++i) {
            const int n = combo->itemText(i).mid(3).toInt();
            if (ports.count(n) != 0) {
                QCOMPARE(combo->itemData(i, Qt::ToolTipRole).toString(), ports[n]->device);
            }
        }
        combo->hidePopup();

        // Picking a port that came later opens it as any other.
        if (combo->currentText() != listed.last()) {
            combo->setCurrentIndex(combo->count() - 1);
            QCOMPARE(widget<QGroupBox>(&dialog, "rs232GroupBox")->title(), QString("Порт открыт"));
        }
    }

    // A port the scan drops is gone from the list once another is chosen.
    void anUnpluggedPortGoesOnceLeft() {
        plug({2, 3});
        VelkTestUi dialog(nullptr, nullptr, testRoots());
        auto* combo = widget<QComboBox>(&dialog, "portName");
        combo->setCurrentIndex(combo->findText("COM3"));
        plug({2});
        dialog.show();
        combo->showPopup();
        combo->hidePopup();
        combo->setCurrentIndex(combo->findText("COM2"));
        combo->showPopup();
        QCOMPARE(items(combo), QStringList{"COM2"});
        QCOMPARE(combo->currentText(), QString("COM2"));
        combo->hidePopup();
    }
};

QTEST_MAIN(TestUiPorts)
#include "tst_ui_ports.moc"
