// The dialog on a session its creator hands it, over the scriptable device:
// what goes on the wire and how each answer is shown. Needs no serial device
// of any kind, so it runs on Linux and on Windows alike.

#include "BlockBytes.h"
#include "SessionRig.h"
#include "UiTestSupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTextBrowser>
#include <QtTest>

#include <memory>

using namespace uitest;

namespace {

QString hexLine(const QString& prefix, const Bytes& bytes) {
    QString line = prefix;
    for (unsigned char b : bytes) {
        line += QString::number(b, 16).toUpper() + ' ';
    }
    return line;
}

// The answer's bytes: its data block, then one extended block per seven
// extended bytes (the data block announces how many).
Bytes answerBytes(Velk21DataBlockKernel data, const Bytes& extended) {
    if (!extended.empty()) {
        data.efBit = 1;
        data.data[0] = static_cast<unsigned char>(extended.size() & 0xFF);
        data.data[1] = static_cast<unsigned char>(extended.size() >> 8);
    }
    Bytes bytes = framed<Velk21DataBlockPacketPackager>(data);
    for (std::size_t first = 0; first < extended.size(); first += 7) {
        Velk21ExtendedBlockKernel block(0, 1, 0);
        for (std::size_t i = 0; i < 7 && first + i < extended.size(); ++i) {
            block.data[i] = extended[first + i];
        }
        const Bytes framedBlock = framed<Velk21ExtendedBlockPacketPackager>(block);
        bytes.insert(bytes.end(), framedBlock.begin(), framedBlock.end());
    }
    return bytes;
}

} // namespace

class TestUiAnswer : public QObject, protected DialogReader {
    Q_OBJECT

private:
    // Outlives nothing: cleanup() ends the dialog before its session.
    std::unique_ptr<SessionRig> rig;

    // One release of the send button, and the wait until its exchange is
    // over and shown (the button is enabled again then).
    void sendOnce() {
        auto* send = widget<QPushButton>(d(), "sendButton");
        const unsigned before = unsigned(rig->fake->written().size());
        QTest::mouseClick(send, Qt::LeftButton);
        QTRY_VERIFY(rig->fake->written().size() > before);
        QTRY_VERIFY(send->isEnabled());
        QTest::qWait(50); // the queued result reaches the display
    }

private slots:
    void init() {
        clearSettings();
        rig = std::make_unique<SessionRig>();
        dialog = std::make_unique<VelkTestUi>(rig->session.get(), nullptr, testRoots());
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(d()));
        field(d(), "address_1")->setText("5");
        field(d(), "code")->setText("10");
        field(d(), "index")->setText("1");
    }
    void cleanup() {
        dialog.reset();
        rig.reset();
    }

    // The creator's session serves the dialog; its port is not the dialog's
    // to change.
    void portControlsAreLocked() { QVERIFY(!widget<QGroupBox>(d(), "rs232GroupBox")->isEnabled()); }

    // What the dialog logs as sent is what reached the wire, and the answer
    // shows field by field, its extended bytes as hexadecimal and as
    // Windows-1251 characters.
    void answerWithExtendedBytes() {
        Velk21DataBlockKernel answer(Velk21ParameterId(0x10, 1), 5, 0x21, 0x42, 0, 1, 0, 0, 0);
        const Bytes extended{0x41, 0xC0, 0xFF, 0x98, 0x7F, 0x80, 0xB9, 0x30, 0x39};
        const Bytes reply = answerBytes(answer, extended);
        rig->fake->queueReply(reply, 2);
        sendOnce();

        QTRY_VERIFY(okShown());
        QVERIFY(!errorShown());
        QCOMPARE(errorText(), QString::fromUtf8("Ошибок нет."));
        const Bytes wire = rig->fake->written();
        QCOMPARE(wire.size(), std::size_t(18));
        const QStringList lines = log();
        QVERIFY(lines.size() >= 3);
        QCOMPARE(lines.at(0),
                 hexLine(QString::fromUtf8("Адрес (Tx): "), Bytes(wire.begin(), wire.begin() + 6)));
        QCOMPARE(lines.at(1),
                 hexLine(QString::fromUtf8("Данные (Tx): "), Bytes(wire.begin() + 6, wire.end())));
        QCOMPARE(lines.at(2), hexLine(QString::fromUtf8("Данные (Rx): "),
                                      Bytes(reply.begin(), reply.begin() + 12)));

        QCOMPARE(fieldTexts(d(), {"aoRx", "ntxtRx", "codeRx", "indexRx", "statusRx", "dataRx_0",
                                  "dataRx_1", "dataRx_2", "dataRx_3"}),
                 (QStringList{"5", "21", "10", "1", "42", "9", "0", "0", "0"}));
        QVERIFY(box("csBitRx") && box("efBitRx"));
        QVERIFY(!box("wtsBitRx") && !box("errBitRx") && !box("subLBitRx"));

        auto* list = widget<QTableWidget>(d(), "exBlockRxList");
        QCOMPARE(list->rowCount(), int(extended.size()));
        const QStringList hex{"41", "C0", "FF", "98", "7F", "80", "B9", "30", "39"};
        // 0x98 is the one byte the code page leaves undefined.
        const QList<char16_t> chars{u'A', 0x0410, 0x044F, 0xFFFD, 0x7F, 0x0402, 0x2116, u'0', u'9'};
        for (int row = 0; row < list->rowCount(); ++row) {
            QCOMPARE(list->item(row, 0)->text(), hex.at(row));
            QCOMPARE(list->item(row, 1)->text(), QString(QChar(chars.at(row))));
        }
    }

    // A slave that never answers: the time-out text, the red indicator, and
    // zeros where the answer would be.
    void silentSlave() {
        sendOnce();
        QTRY_VERIFY(errorShown());
        QVERIFY(!okShown());
        QCOMPARE(errorText(), QString::fromUtf8("Ошибка приёма блока данных (тайм-аут)."));
        QCOMPARE(log().size(), 2);
        QCOMPARE(fieldTexts(d(), {"aoRx", "codeRx", "indexRx", "dataRx_0"}), QStringList(4, "0"));
    }

    // A data block whose CRC does not hold is not shown as an answer.
    void corruptAnswer() {
        Bytes reply = answerBytes(
            Velk21DataBlockKernel(Velk21ParameterId(0x10, 1), 5, 0, 0, 0, 1, 0, 0, 0), {});
        reply[11] ^= 0x01;
        rig->fake->queueReply(reply, 2);
        sendOnce();
        QTRY_VERIFY(errorShown());
        QVERIFY(!okShown());
        QVERIFY(errorText() != QString::fromUtf8("Ошибок нет."));
        QCOMPARE(text("codeRx"), QString("0"));
    }
};

QTEST_MAIN(TestUiAnswer)
#include "tst_ui_answer.moc"
