#ifndef VELK_VELKTESTUI_H
#define VELK_VELKTESTUI_H

#include "DataBlock.h"
#include "ManualResetEvent.h"
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
#include <QTimer>

#include <atomic>
#include <condition_variable>
#include <memory>
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

    // The two worker threads' passes, as the GUI thread sees them.
    enum Pass { CyclicPass, SinglePass };

    void sendRequest();
    int cyclicSendStep();
    int singleSendStep();
    void passEnded(Pass pass);
    // Waits at most timeoutMs for the pass to end; true when none runs.
    bool waitForPass(Pass pass, unsigned timeoutMs);
    // Adds the hexadecimal ones among bytes as rows, all at once.
    void loadExDataRows(const QStringList& bytes);
    void appendExDataByte(const QString& text);
    void showExDataLength();
    void retranslateSessionErrors();

    Velk21Session* session() const;
    void showPortState(Velk21Session* s);
    // Why the port did not open, for the port title's tool tip.
    QString openFailureToolTip(const OpenFailureDetail& why) const;
    void selectSavedPort();
    void listPorts();
    // Asks the cyclic thread to stop after its step (the wait between steps
    // ends at once) and waits at most graceMs for it: true when no step runs.
    bool endCyclicSending(unsigned graceMs);
    // Stop or a new session once the step has ended: the user may send again.
    void cyclicSendingEnded();
    // The step did not end at once: sending stays off until it has, and at
    // limitMs its exchange is ended.
    void awaitCyclicStep(unsigned limitMs);
    // The step ran past the pause limit: its exchange is ended.
    void cyclicStepOutlasted();
    // Ends every exchange of the session in use at once and stops the
    // worker threads' passes (waiting a short while for them); then drops
    // the own session. True when the cyclic step has ended.
    bool releaseSession();
    // Called by a worker after an exchange: the port may have been lost or
    // opened again since the title was drawn.
    void notePortState(Velk21Session& s);
    void refreshRequest();
    void trackRequestFields();

    SimpleThread<VelkTestUi> cyclicSendThread;
    SimpleThread<VelkTestUi> singleSendThread;
    Ui::VelkTest ui;
    // Shared with the pass that uses it: a session dropped while a pass
    // still runs goes when that pass ends, never under it.
    std::shared_ptr<Velk21Session> ownSession;
    Velk21Session* externalSession;
    QStringList sessionErrorTexts;
    QSettings settings;
    std::atomic<unsigned> cyclicSendPeriod;
    // Ends the wait between two cyclic steps; set by Stop.
    ManualResetEvent cyclicStopEvent;
    // Guards the two below; passDone tells of a pass that ended.
    std::mutex passMutex;
    std::condition_variable passDone;
    bool passRunning[2] = {false, false};
    bool cyclicStopping = false; // no further step sends
    // GUI thread only. Stop was pressed while a step ran: sending stays off
    // until it ends; its exchange was ended by closing the port.
    bool cyclicWindingDown = false;
    bool cyclicStepAborted = false;
    // Runs from Stop while the step still runs: at the pause limit its
    // exchange is ended, then again until the step has ended.
    QTimer pauseLimitTimer;
    // What the port title shows.
    std::atomic<bool> portShownOpen;
    Velk21DataBlockKernel lastRxKernel;
    DataBlock<unsigned char> lastRxExtendedData;
    // The code of the result last reported: an exchange that fails after one
    // that succeeded may leave the same record behind, and must still show.
    int lastRxErrorCode;
    std::mutex lastRxMutex;

    std::mutex requestMutex;
    Request request;
    // The session the next pass takes, with the request.
    std::shared_ptr<Velk21Session> passSession;

    PortRoots portRoots;
    QString savedPortName;
};

#endif
