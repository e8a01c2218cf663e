#ifndef VELK_VELKTESTUI_H
#define VELK_VELKTESTUI_H

#include "DataBlock.h"
#include "OpenFailure.h"
#include "PortNames.h"
#include "SimpleThread.h"
#include "UiMetaTypes.h"
#include "Velk21AddressBlockKernel.h"
#include "Velk21DataBlockKernel.h"
#include "ui_VelkTest.h"

#include <QDialog>
#include <QSettings>
#include <QStringList>

#include <atomic>
#include <mutex>

class QCloseEvent;
class QEvent;
class QKeyEvent;
class QTableWidgetItem;
class Velk21Session;

// The program's only window: composes a request, sends it once or
// cyclically through a Velk21Session and shows the answer.
class VelkTestUi : public QDialog {
    Q_OBJECT

public:
    // With a session the dialog is a front end for a session its creator owns
    // and has opened: the port cannot be changed. Without one the dialog lists
    // the ports found under portRoots and opens its own session.
    explicit VelkTestUi(Velk21Session* session = nullptr, QWidget* parent = nullptr,
                        const PortRoots& portRoots = PortRoots::system());
    ~VelkTestUi() override;

signals:
    void sessionComplete(int session_error_code, const Velk21DataBlockKernel& velk21_data_block,
                         const DataBlock<unsigned char>& extended_data_block,
                         const DataBlock<unsigned char>& tx_address_block_packet,
                         const DataBlock<unsigned char>& tx_data_block_packet,
                         const DataBlock<unsigned char>& rx_data_block_packet);

protected:
    void keyPressEvent(QKeyEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void changeEvent(QEvent* e) override;

private slots:
    void lineEditEmbeddedSetText(const QString& text);
    void exBlockListItemClicked(QTableWidgetItem* item);
    void exBlockListChangeItemData(const QString& text);
    void sessionInit();
    void sendButtonReleased();
    void cyclicSendStop();
    void cyclicSendTimeoutEntered(QString text);
    void userDataEntered(QString text);
    void exDataRxOffsetEntered(QString text);
    void exDataRxTypeChanged();
    void splitUserData();
    void mergeUserDataRx();
    void mergeExDataRx();
    void exDataEntered(QString text);
    void exDataEntered();
    void clearAllExData();
    void subLBitClicked(bool checked);
    void efBitClicked(bool checked);
    void saveUiSettings();
    void loadUiSettings();
    void sessionResultProcess(int session_error_code,
                              const Velk21DataBlockKernel& velk21_data_block,
                              const DataBlock<unsigned char>& extended_data_block,
                              const DataBlock<unsigned char>& tx_address_block_packet,
                              const DataBlock<unsigned char>& tx_data_block_packet,
                              const DataBlock<unsigned char>& rx_data_block_packet);

private:
    // Everything sendRequest needs of the form, copied in the GUI thread
    // whenever a field changes, so that a worker never touches a widget.
    struct Request {
        bool addressGiven = false; // address_1 holds text
        Velk21AddressBlockKernel address;
        Velk21DataBlockKernel data;
        DataBlock<unsigned char> extendedData;
    };

    void sendRequest();
    int cyclicSendStep();
    int singleSendStep();
    // Adds the hexadecimal ones among bytes as rows, all at once.
    void loadExDataRows(const QStringList& bytes);
    void appendExDataByte(const QString& text);
    void showExDataLength();
    void retranslateSessionErrors();

    Velk21Session* session() const;
    void showPortState(Velk21Session* s);
    // Why the port did not open, for the port title's tool tip.
    QString openFailureToolTip(OpenFailure why) const;
    void selectSavedPort();
    void listPorts();
    void waitForSingleSend();
    void deleteOwnSession();
    void refreshRequest();
    void trackRequestFields();

    SimpleThread<VelkTestUi> cyclicSendThread;
    SimpleThread<VelkTestUi> singleSendThread;
    Ui::VelkTest ui;
    Velk21Session* ownSession;
    Velk21Session* externalSession;
    QStringList sessionErrorTexts;
    QSettings settings;
    std::atomic<unsigned> cyclicSendPeriod;
    Velk21DataBlockKernel lastRxKernel;
    DataBlock<unsigned char> lastRxExtendedData;
    // The code of the result last reported: an exchange that fails after one
    // that succeeded may leave the same record behind, and must still show.
    int lastRxErrorCode;
    std::mutex lastRxMutex;

    std::mutex requestMutex;
    Request request;

    PortRoots portRoots;
    QString savedPortName;
};

#endif
