#include "VelkTestUi.h"

#include "ExchangeResult.h"
#include "FullsizeKeyboard.h"
#include "HexBytes.h"
#include "IKeyboard.h"
#include "IntegerConversion.h"
#include "ParameterNames.h"
#include "ParameterValue.h"
#include "QLineEditEmbedded.h"
#include "Velk21Session.h"
#include "Velk21SessionErrors.h"
#include "Windows1251.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QEvent>
#include <QIcon>
#include <QKeyEvent>
#include <QPixmap>
#include <QSignalBlocker>
#include <QTableWidgetItem>

#include <algorithm>
#include <chrono>

namespace {

constexpr unsigned threadTimeoutMs = 30000;
// How long close, port and baud changes wait for the passes once their
// exchange has been ended; the window must answer within half a second.
constexpr unsigned releaseGraceMs = 250;
// How long they let a pass on a session handed in by the creator end by
// itself before its exchange is ended.
constexpr unsigned externalGraceMs = 50;
// How often a step past the pause limit is ended again until it has.
constexpr unsigned abortRetryMs = 100;
constexpr unsigned byteTimeoutMs = 150;

// Bytes are shown as everywhere: upper-case hexadecimal without prefix or
// leading zeros.
QString hexText(unsigned byte) {
    return QString::fromStdString(hexByte(static_cast<unsigned char>(byte)));
}

// The low byte of a hexadecimal field; empty or invalid text counts as 0.
unsigned char hexField(const QString& text) {
    bool ok = false;
    const unsigned value = text.toUInt(&ok, 16);
    return ok ? static_cast<unsigned char>(value & 0xFFu) : 0;
}

bool isHexNumber(const QString& text) {
    bool ok = false;
    text.toUInt(&ok, 16);
    return ok;
}

// Each byte followed by a blank.
QString packetText(const QString& prefix, const DataBlock<unsigned char>& packet) {
    return prefix + QString::fromStdString(hexBytes(packet)) +
           (packet.size() != 0 ? QStringLiteral(" ") : QString());
}

unsigned msUntil(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return left.count() > 0 ? unsigned(left.count()) : 0;
}

QTableWidgetItem* centredItem(const QString& text) {
    auto* item = new QTableWidgetItem(text);
    item->setTextAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    return item;
}

// Appends a row with its number as the header and the given cells.
void appendRow(QTableWidget* table, const QStringList& cells) {
    const int row = table->rowCount();
    table->setRowCount(row + 1);
    table->setVerticalHeaderItem(row, centredItem(QString::number(row)));
    for (int column = 0; column < cells.size(); ++column) {
        table->setItem(row, column, centredItem(cells.at(column)));
    }
}

} // namespace

// Outside any namespace: the macro declares the functions rcc generated.
static void initResources() {
    Q_INIT_RESOURCE(circle);
    Q_INIT_RESOURCE(clear);
    Q_INIT_RESOURCE(close);
    Q_INIT_RESOURCE(misc);
}

VelkTestUi::VelkTestUi(Velk21Session* session, QWidget* parent, const PortRoots& portRoots)
    : QDialog(parent), cyclicSendThread(), singleSendThread(), ui(), ownSession(nullptr),
      externalSession(session), sessionErrorTexts(), settings("ORBEK", "VelkTest"),
      cyclicSendPeriod(100), cyclicStopEvent("VelkTestUiCyclicStopEvent", false), pauseLimitTimer(),
      portShownOpen(false), lastRxKernel(), lastRxExtendedData(), lastRxErrorCode(0),
      requestMutex(), request(), passSession(), portRoots(portRoots), savedPortName() {
    initResources();
    qRegisterMetaType<Velk21DataBlockKernel>("Velk21DataBlockKernel");
    qRegisterMetaType<DataBlock<unsigned char>>("DataBlock<unsigned char>");

    setModal(true);
    setWindowTitle(tr("VELK Test Utility"));
    setFixedSize(800, 600);

    ui.setupUi(this);

    ui.closeButton->hide();
    ui.mainFrame->setLineWidth(3);
    ui.mainFrame->setStyleSheet("QFrame#mainFrame { color: SaddleBrown }");
    ui.exBlockList->setColumnCount(1);
    ui.exBlockRxList->setColumnCount(2);
    ui.textBrowser->setStyleSheet("QTextBrowser { color: black; }");
    ui.rxBlockErrorLabel->hide();
    ui.rxBlockOkLabel->hide();

    // Before any of the dialog's own connections exist, so that restoring the
    // fields runs none of their slots.
    loadUiSettings();

    const QList<QWidget*> widgets = findChildren<QWidget*>();
    for (QWidget* widget : widgets) {
        widget->setFont(font());
        if (auto* combo = qobject_cast<QComboBox*>(widget)) {
            // A transparent icon as tall as the box makes every row of the
            // drop-down list as tall as the box: easier to hit with a finger.
            const QSize size(1, combo->height());
            combo->setIconSize(size);
            QPixmap pixmap(size);
            pixmap.fill(Qt::transparent);
            const QIcon icon(pixmap);
            for (int i = 0; i < combo->count(); ++i) {
                combo->setItemIcon(i, icon);
            }
        } else if (auto* box = qobject_cast<QCheckBox*>(widget)) {
            box->setStyleSheet("QCheckBox { color: black; }");
        } else if (auto* field = qobject_cast<QLineEditEmbedded*>(widget)) {
            if (field->accessibleDescription() == "Decimal") {
                field->setKeyboardType(IKeyboard::NUMERIC_KBD);
            } else {
                field->setKeyboardType(IKeyboard::FULLSIZE_KBD);
                connect(field, &QLineEditEmbedded::dataEnteredSignal, this,
                        &VelkTestUi::lineEditEmbeddedSetText);
            }
            connect(field, &QLineEditEmbedded::mouseReleasedSignal, field,
                    &QLineEditEmbedded::showKeyboard);
        }
    }

    connect(ui.exBlockList, &QTableWidget::itemClicked, this, &VelkTestUi::exBlockListItemClicked);
    connect(ui.sendButton, &QPushButton::released, this, &VelkTestUi::sendButtonReleased);
    connect(ui.cyclicSendGroupBox, &QGroupBox::clicked, this, &VelkTestUi::cyclicSendStop);
    connect(ui.stopCyclicSendButton, &QPushButton::released, this, &VelkTestUi::cyclicSendStop);
    connect(ui.cyclicSendTimeout, &QLineEditEmbedded::dataEnteredSignal, this,
            &VelkTestUi::cyclicSendTimeoutEntered);
    connect(ui.userData, &QLineEditEmbedded::dataEnteredSignal, this, &VelkTestUi::userDataEntered);
    connect(ui.dataType, &QComboBox::currentIndexChanged, this, &VelkTestUi::splitUserData);
    connect(ui.dataRxType, &QComboBox::currentIndexChanged, this, &VelkTestUi::mergeUserDataRx);
    connect(ui.exDataRxOffset, &QLineEditEmbedded::dataEnteredSignal, this,
            &VelkTestUi::exDataRxOffsetEntered);
    connect(ui.exDataRxType, &QComboBox::currentIndexChanged, this,
            &VelkTestUi::exDataRxTypeChanged);
    connect(ui.exDataRxTypeBitSize, &QComboBox::currentIndexChanged, this,
            &VelkTestUi::mergeExDataRx);
    connect(ui.exData, &QLineEditEmbedded::dataEnteredSignal, this,
            qOverload<QString>(&VelkTestUi::exDataEntered));
    connect(ui.addExDataButton, &QPushButton::released, this,
            qOverload<>(&VelkTestUi::exDataEntered));
    connect(ui.clearAllExDataButton, &QPushButton::released, this, &VelkTestUi::clearAllExData);
    connect(ui.subLBit, &QCheckBox::clicked, this, &VelkTestUi::subLBitClicked);
    connect(ui.efBit, &QCheckBox::clicked, this, &VelkTestUi::efBitClicked);
    connect(this, &VelkTestUi::sessionComplete, this, &VelkTestUi::sessionResultProcess);
    connect(&pauseLimitTimer, &QTimer::timeout, this, &VelkTestUi::cyclicStepOutlasted);

    if (externalSession != nullptr) {
        ui.portName->addItem(QString::fromStdString(externalSession->portName()));
        ui.baudRate->setCurrentIndex(
            ui.baudRate->findText(QString::number(externalSession->baudRate()),
                                  Qt::MatchExactly | Qt::MatchCaseSensitive));
        ui.rs232GroupBox->setEnabled(false);
        {
            // Not ours: nothing is deleted when the last pass lets it go.
            std::lock_guard<std::mutex> lock(requestMutex);
            passSession = std::shared_ptr<Velk21Session>(externalSession, [](Velk21Session*) {});
        }
        showPortState(externalSession);
    } else {
        listPorts();
        // The saved port when it is listed, else the first.
        if (ui.portName->count() > 0) {
            ui.portName->setCurrentIndex(0);
        }
        selectSavedPort();
        // Adapters come and go while the dialog runs.
        connect(ui.portName, &PortComboBox::popupAboutToShow, this, &VelkTestUi::listPorts);
        connect(ui.portName, &QComboBox::currentIndexChanged, this, &VelkTestUi::sessionInit);
        connect(ui.baudRate, &QComboBox::currentIndexChanged, this, &VelkTestUi::sessionInit);
        sessionInit();
    }

    retranslateSessionErrors();

    trackRequestFields();
    refreshRequest();
}

VelkTestUi::~VelkTestUi() {
    // A dialog destroyed without its window being closed still owns a session
    // with an open port, maybe in the middle of an exchange.
    releaseSession();
    pauseLimitTimer.stop();
    cyclicSendThread.stop(threadTimeoutMs);
    singleSendThread.stop(threadTimeoutMs);
    {
        std::lock_guard<std::mutex> lock(requestMutex);
        passSession.reset();
    }
    // The children outlive this part of the object: their last signals (the
    // list's model empties itself) must not reach it.
    for (QObject* child : findChildren<QObject*>()) {
        disconnect(child, nullptr, this, nullptr);
    }
}

void VelkTestUi::keyPressEvent(QKeyEvent* e) {
    switch (e->key()) {
    case Qt::Key_Escape:
        // Never closes the dialog.
        cyclicSendStop();
        break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        sendButtonReleased();
        break;
    default:
        QDialog::keyPressEvent(e);
        break;
    }
}

void VelkTestUi::closeEvent(QCloseEvent* e) {
    saveUiSettings();
    // The slave is not waited for: the exchange running now ends at once.
    if (releaseSession()) {
        cyclicSendingEnded();
    } else {
        awaitCyclicStep(abortRetryMs);
    }
    e->accept();
    accept();
}

void VelkTestUi::changeEvent(QEvent* e) {
    QDialog::changeEvent(e);
    if (e != nullptr && e->type() == QEvent::LanguageChange) {
        ui.retranslateUi(this);
        retranslateSessionErrors();
    }
}

// ---------------------------------------------------------------------------
// Port and session

Velk21Session* VelkTestUi::session() const {
    return externalSession != nullptr ? externalSession : ownSession.get();
}

void VelkTestUi::showPortState(Velk21Session* s) {
    const bool open = s != nullptr && s->isOpen();
    portShownOpen = open;
    if (open) {
        ui.rs232GroupBox->setStyleSheet("QGroupBox { color: black; }");
        ui.rs232GroupBox->setTitle(tr("Порт открыт"));
        ui.rs232GroupBox->setToolTip(QString());
    } else {
        ui.rs232GroupBox->setStyleSheet("QGroupBox { color: red; }");
        ui.rs232GroupBox->setTitle(tr("Ошибка открытия"));
        ui.rs232GroupBox->setToolTip(
            openFailureToolTip(s != nullptr ? s->openFailureDetail() : OpenFailure::NoSuchDevice));
    }
}

QString VelkTestUi::openFailureToolTip(const OpenFailureDetail& why) const {
    switch (why.reason) {
    case OpenFailure::None:
        break;
    case OpenFailure::NoSuchDevice:
        return tr("Устройство не найдено.");
    case OpenFailure::Busy:
        return tr("Порт занят другой программой.");
    case OpenFailure::PermissionDenied:
        return tr("Нет прав на порт: добавьте пользователя в группу dialout и войдите в систему "
                  "заново.");
    case OpenFailure::NotATerminal:
        return tr("Устройство не является последовательным портом.");
    case OpenFailure::BaudRate:
        return why.setBaudRate != 0
                   ? tr("Порт не работает на скорости %1 бод: драйвер установил %2.")
                         .arg(why.askedBaudRate)
                         .arg(why.setBaudRate)
                   : tr("Порт не работает на скорости %1 бод.").arg(why.askedBaudRate);
    case OpenFailure::Other:
        break;
    }
    return tr("Порт не удалось открыть или настроить.");
}

void VelkTestUi::selectSavedPort() {
    const int index =
        ui.portName->findText(savedPortName, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (index >= 0) {
        ui.portName->setCurrentIndex(index);
    }
}

// Lists the ports that exist now, in ascending number, keeping the selection
// as it is: the selected port stays listed even when its device has gone, so
// that the session is never switched to another port unasked.
void VelkTestUi::listPorts() {
    const QString selected = ui.portName->currentText();
    std::vector<PortInfo> ports = scanPorts(portRoots);
    const unsigned selectedNumber = portNumber(selected.toStdString());
    const auto place = std::find_if(ports.begin(), ports.end(), [&](const PortInfo& port) {
        return portNumber(port.name) >= selectedNumber;
    });
    if (selectedNumber != 0 && (place == ports.end() || place->name != selected.toStdString())) {
        ports.insert(place,
                     PortInfo{selected.toStdString(),
                              ui.portName->currentData(Qt::ToolTipRole).toString().toStdString()});
    }

    const QSignalBlocker blocker(ui.portName);
    ui.portName->clear();
    for (const PortInfo& port : ports) {
        ui.portName->addItem(QString::fromStdString(port.name));
        ui.portName->setItemData(ui.portName->count() - 1, QString::fromStdString(port.device),
                                 Qt::ToolTipRole);
    }
    ui.portName->setCurrentIndex(
        ui.portName->findText(selected, Qt::MatchExactly | Qt::MatchCaseSensitive));
}

void VelkTestUi::notePortState(Velk21Session& s) {
    if (s.isOpen() == portShownOpen) {
        return;
    }
    QMetaObject::invokeMethod(
        this, [this] { showPortState(session()); }, Qt::QueuedConnection);
}

bool VelkTestUi::releaseSession() {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(releaseGraceMs);
    // Goes at the end of this function, or with the pass that still holds it.
    const std::shared_ptr<Velk21Session> own = std::move(ownSession);
    if (own) {
        {
            std::lock_guard<std::mutex> lock(requestMutex);
            passSession.reset();
        }
        // Its exchange running now, and any still to come, ends at once.
        own->close();
    }
    endCyclicSending(0);
    if (externalSession != nullptr) {
        // A step in the wait between steps ends by itself; an exchange of a
        // session that is not ours to close for good is ended, and the
        // creator's next exchange opens the port again.
        const auto settled =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(externalGraceMs);
        if (!(waitForPass(CyclicPass, msUntil(settled)) &&
              waitForPass(SinglePass, msUntil(settled)))) {
            externalSession->abortExchange();
        }
    }
    const bool cyclicEnded = waitForPass(CyclicPass, msUntil(deadline));
    waitForPass(SinglePass, msUntil(deadline));
    if (cyclicEnded) {
        cyclicStepAborted = false;
    }
    return cyclicEnded;
}

void VelkTestUi::sessionInit() {
    // Another port or baud rate: the exchange running on the old one ends
    // at once, the slave is not waited for.
    if (releaseSession()) {
        cyclicSendingEnded();
    } else {
        awaitCyclicStep(abortRetryMs);
    }
    ownSession = std::make_shared<Velk21Session>(ui.portName->currentText().toStdString(),
                                                 ui.baudRate->currentText().toUInt());
    {
        std::lock_guard<std::mutex> lock(requestMutex);
        passSession = ownSession;
    }
    showPortState(ownSession.get());
}

// ---------------------------------------------------------------------------
// Request composition

void VelkTestUi::lineEditEmbeddedSetText(const QString& text) {
    auto* field = qobject_cast<QLineEditEmbedded*>(sender());
    if (field == nullptr) {
        return;
    }
    bool ok = false;
    text.toUInt(&ok, 16);
    if (ok) {
        field->setText(text.toUpper());
    } else {
        field->clear();
    }
}

void VelkTestUi::userDataEntered(QString text) {
    ui.userData->setText(text);
    splitUserData();
}

void VelkTestUi::splitUserData() {
    const QString text = ui.userData->text();
    const int decimals = userValueDecimals(text.toStdString());
    const double value = text.toDouble();
    unsigned char bytes[4] = {0, 0, 0, 0};
    ParameterValue(value, decimals)
        .toBytes(bytes, 4, typeNames.indexOf(ui.dataType->currentText()));
    ui.data_0->setText(hexText(bytes[0]));
    ui.data_1->setText(hexText(bytes[1]));
    ui.data_2->setText(hexText(bytes[2]));
    ui.data_3->setText(hexText(bytes[3]));
}

void VelkTestUi::subLBitClicked(bool checked) {
    ui.subLAddressFrame->setEnabled(checked);
}

void VelkTestUi::efBitClicked(bool checked) {
    ui.data_0->setEnabled(!checked);
    ui.data_1->setEnabled(!checked);
    ui.exBlockGroupBox->setEnabled(checked);
    if (ui.exBlockList->rowCount() > 0) {
        showExDataLength();
    } else {
        ui.data_0->clear();
        ui.data_1->clear();
    }
    ui.data_2->clear();
    ui.data_3->clear();
    ui.userDataFrame->setEnabled(!checked);
    ui.userData->clear();
}

// Up to 65,535 saved bytes: the rows are made at once and filled while the
// list neither draws nor reports, and the columns are fitted once. Row by row,
// with a fit after each, a start took minutes.
void VelkTestUi::loadExDataRows(const QStringList& bytes) {
    QStringList rows;
    rows.reserve(bytes.size());
    for (const QString& byte : bytes) {
        if (isHexNumber(byte)) {
            rows << byte.toUpper();
        }
    }
    if (rows.isEmpty()) {
        return;
    }
    QTableWidget* list = ui.exBlockList;
    QAbstractItemModel* model = list->model();
    const int first = list->rowCount();
    const int last = first + int(rows.size()) - 1;
    list->setUpdatesEnabled(false);
    list->setRowCount(last + 1);
    {
        // One report for all the cells below instead of two for each.
        const QSignalBlocker blocker(model);
        for (int i = 0; i < rows.size(); ++i) {
            list->setVerticalHeaderItem(first + i, centredItem(QString::number(first + i)));
            list->setItem(first + i, 0, centredItem(rows.at(i)));
        }
    }
    emit model->headerDataChanged(Qt::Vertical, first, last);
    emit model->dataChanged(model->index(first, 0), model->index(last, 0));
    list->resizeColumnsToContents();
    list->setUpdatesEnabled(true);
}

void VelkTestUi::appendExDataByte(const QString& text) {
    if (!isHexNumber(text)) {
        return;
    }
    appendRow(ui.exBlockList, {text.toUpper()});
    ui.exBlockList->resizeColumnsToContents();
    ui.exBlockList->setCurrentCell(ui.exBlockList->rowCount() - 1, 0);
}

void VelkTestUi::showExDataLength() {
    const int n = ui.exBlockList->rowCount();
    ui.data_0->setText(hexText(n & 0xFF));
    ui.data_1->setText(hexText((n >> 8) & 0xFF));
}

void VelkTestUi::exDataEntered(QString text) {
    appendExDataByte(text);
    showExDataLength();
}

void VelkTestUi::exDataEntered() {
    appendExDataByte(ui.exData->text());
    showExDataLength();
}

void VelkTestUi::clearAllExData() {
    ui.exBlockList->clear();
    ui.exBlockList->setRowCount(0);
    ui.data_0->clear();
    ui.data_1->clear();
}

void VelkTestUi::exBlockListItemClicked(QTableWidgetItem* item) {
    if (item == nullptr) {
        return;
    }
    FullsizeKeyboard* keyboard = FullsizeKeyboard::instance();
    disconnect(keyboard, &IKeyboard::dataEnteredSignal, nullptr, nullptr);
    connect(keyboard, &IKeyboard::dataEnteredSignal, this, &VelkTestUi::exBlockListChangeItemData);
    keyboard->showKeyboardFor(item->text(), QString());
}

void VelkTestUi::exBlockListChangeItemData(const QString& text) {
    QTableWidgetItem* item = ui.exBlockList->currentItem();
    if (item == nullptr) {
        return;
    }
    bool ok = false;
    text.toUInt(&ok, 16);
    item->setText(ok ? text.toUpper() : QString());
}

// ---------------------------------------------------------------------------
// Sending

void VelkTestUi::sendButtonReleased() {
    if (cyclicWindingDown) {
        return; // the step that ran at Stop has not ended yet
    }
    if (ui.cyclicSendGroupBox->isChecked()) {
        ui.stopCyclicSendButton->setEnabled(true);
        ui.sendButton->setEnabled(false);
        {
            std::lock_guard<std::mutex> lock(passMutex);
            cyclicStopping = false;
        }
        cyclicStopEvent.reset();
        cyclicSendThread.start(this, &VelkTestUi::cyclicSendStep, 0);
    } else {
        singleSendThread.start(this, &VelkTestUi::singleSendStep, 0);
    }
}

// The window does not wait for the step: an exchange in flight finishes in
// the background and is shown as usual; sending stays off until it has.
void VelkTestUi::cyclicSendStop() {
    if (cyclicWindingDown) {
        return; // under way: a second Stop must not put the pause limit off
    }
    if (endCyclicSending(0)) {
        cyclicSendingEnded();
    } else {
        awaitCyclicStep(threadTimeoutMs);
    }
}

bool VelkTestUi::endCyclicSending(unsigned graceMs) {
    {
        std::lock_guard<std::mutex> lock(passMutex);
        cyclicStopping = true;
    }
    cyclicStopEvent.set();
    cyclicSendThread.pause(0);
    return waitForPass(CyclicPass, graceMs);
}

void VelkTestUi::awaitCyclicStep(unsigned limitMs) {
    cyclicWindingDown = true;
    ui.stopCyclicSendButton->setEnabled(false);
    ui.sendButton->setEnabled(false);
    pauseLimitTimer.start(int(limitMs));
}

void VelkTestUi::cyclicSendingEnded() {
    pauseLimitTimer.stop();
    cyclicWindingDown = false;
    if (cyclicStepAborted) {
        cyclicStepAborted = false;
        // Closed to end the step: open again for the next send.
        if (Velk21Session* s = session()) {
            s->reopen();
            showPortState(s);
        }
    }
    ui.stopCyclicSendButton->setEnabled(false);
    ui.sendButton->setEnabled(true);
}

void VelkTestUi::cyclicStepOutlasted() {
    if (waitForPass(CyclicPass, 0)) {
        cyclicSendingEnded();
        return;
    }
    // Closing the port ends the exchange. Again until the step has ended: an
    // exchange that waited for the session behind another opens it anew.
    cyclicStepAborted = true;
    if (Velk21Session* s = session()) {
        s->abortExchange();
    }
    pauseLimitTimer.start(int(abortRetryMs));
}

void VelkTestUi::cyclicSendTimeoutEntered(QString text) {
    unsigned period = text.toUInt(nullptr, 10);
    if (period == 0) {
        period = 1;
    }
    cyclicSendPeriod = period;
    ui.cyclicSendTimeout->setText(QString::number(period));
}

int VelkTestUi::cyclicSendStep() {
    {
        std::lock_guard<std::mutex> lock(passMutex);
        if (cyclicStopping) {
            return 1; // let through just before Stop closed the gate
        }
        passRunning[CyclicPass] = true;
    }
    // Stop ends the wait, and no request follows it.
    if (!cyclicStopEvent.waitFor(cyclicSendPeriod)) {
        sendRequest();
    }
    passEnded(CyclicPass);
    return 1;
}

int VelkTestUi::singleSendStep() {
    {
        std::lock_guard<std::mutex> lock(passMutex);
        passRunning[SinglePass] = true;
    }
    sendRequest();
    passEnded(SinglePass);
    return 0;
}

void VelkTestUi::passEnded(Pass pass) {
    bool stopping = false;
    {
        std::lock_guard<std::mutex> lock(passMutex);
        passRunning[pass] = false;
        stopping = cyclicStopping;
    }
    passDone.notify_all();
    if (pass == CyclicPass && stopping) {
        // Stop may be waiting for this step to re-enable sending.
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (cyclicWindingDown && waitForPass(CyclicPass, 0)) {
                    cyclicSendingEnded();
                }
            },
            Qt::QueuedConnection);
    }
}

bool VelkTestUi::waitForPass(Pass pass, unsigned timeoutMs) {
    std::unique_lock<std::mutex> lock(passMutex);
    return passDone.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [&] { return !passRunning[pass]; });
}

void VelkTestUi::trackRequestFields() {
    const QLineEdit* fields[] = {ui.address_1, ui.address_2, ui.address_3, ui.address_4, ui.ao,
                                 ui.ntxt,      ui.code,      ui.index,     ui.status,    ui.data_0,
                                 ui.data_1,    ui.data_2,    ui.data_3};
    for (const QLineEdit* field : fields) {
        connect(field, &QLineEdit::textChanged, this, &VelkTestUi::refreshRequest);
    }
    const QCheckBox* flags[] = {ui.subLBit, ui.timeBit, ui.wtsBit, ui.dataBlockSubLBit, ui.efBit};
    for (const QCheckBox* flag : flags) {
        connect(flag, &QCheckBox::toggled, this, &VelkTestUi::refreshRequest);
    }
    const QAbstractItemModel* rows = ui.exBlockList->model();
    connect(rows, &QAbstractItemModel::rowsInserted, this, &VelkTestUi::refreshRequest);
    connect(rows, &QAbstractItemModel::rowsRemoved, this, &VelkTestUi::refreshRequest);
    connect(rows, &QAbstractItemModel::dataChanged, this, &VelkTestUi::refreshRequest);
    connect(rows, &QAbstractItemModel::modelReset, this, &VelkTestUi::refreshRequest);
    connect(rows, &QAbstractItemModel::layoutChanged, this, &VelkTestUi::refreshRequest);
}

void VelkTestUi::refreshRequest() {
    Request next;
    next.addressGiven = !ui.address_1->text().isEmpty();
    Velk21Address& address = next.address.address;
    address.address_1 = hexField(ui.address_1->text());
    if (ui.subLBit->isChecked()) {
        address.address_2 = hexField(ui.address_2->text());
        address.address_3 = hexField(ui.address_3->text());
        address.address_4 = hexField(ui.address_4->text());
    }
    next.address.timeBit = ui.timeBit->isChecked() ? 1 : 0;

    Velk21DataBlockKernel& data = next.data;
    data.id.code = hexField(ui.code->text());
    data.id.index = hexField(ui.index->text());
    data.ao = hexField(ui.ao->text());
    data.ntxt = hexField(ui.ntxt->text());
    data.status = hexField(ui.status->text());
    data.wtsBit = ui.wtsBit->isChecked() ? 1 : 0;
    data.csBit = 0;
    data.subLBit = ui.dataBlockSubLBit->isChecked() ? 1 : 0;
    data.efBit = ui.efBit->isChecked() ? 1 : 0;
    data.errBit = 0;
    data.data[0] = hexField(ui.data_0->text());
    data.data[1] = hexField(ui.data_1->text());
    data.data[2] = hexField(ui.data_2->text());
    data.data[3] = hexField(ui.data_3->text());

    const int rows = ui.exBlockList->rowCount();
    next.extendedData.resize(static_cast<unsigned>(rows), 0);
    for (int row = 0; row < rows; ++row) {
        const QTableWidgetItem* item = ui.exBlockList->item(row, 0);
        next.extendedData[static_cast<unsigned>(row)] = item ? hexField(item->text()) : 0;
    }

    std::lock_guard<std::mutex> lock(requestMutex);
    request = next;
}

void VelkTestUi::sendRequest() {
    std::shared_ptr<Velk21Session> s;
    Request req;
    {
        std::lock_guard<std::mutex> lock(requestMutex);
        req = request;
        s = passSession;
    }
    if (!s || !req.addressGiven) {
        return;
    }

    // Framed here a second time for the log; the session frames its own copy.
    DataBlock<unsigned char> txAddressPacket;
    DataBlock<unsigned char> txDataPacket;
    frameRequest(req.address, req.data, txAddressPacket, txDataPacket);

    Velk21DataBlockKernel data = req.data;
    DataBlock<unsigned char> extendedData = req.extendedData;
    DataBlock<unsigned char> rxDataPacket;
    int error = 0;
    s->exchange(req.address, data, extendedData, 0, byteTimeoutMs, &error, &rxDataPacket);
    notePortState(*s);

    {
        std::lock_guard<std::mutex> lock(lastRxMutex);
        if (data == lastRxKernel && extendedData == lastRxExtendedData &&
            error == lastRxErrorCode) {
            return;
        }
        lastRxKernel = data;
        lastRxExtendedData = extendedData;
        lastRxErrorCode = error;
    }
    if (error != 0) {
        emit sessionComplete(error, Velk21DataBlockKernel(), DataBlock<unsigned char>(),
                             txAddressPacket, txDataPacket, DataBlock<unsigned char>());
    } else {
        // The answer's block as it came off the line, not the record packed
        // again: packing again would hide bits the record cannot hold.
        emit sessionComplete(0, data, extendedData, txAddressPacket, txDataPacket, rxDataPacket);
    }
}

// ---------------------------------------------------------------------------
// Answer display

void VelkTestUi::retranslateSessionErrors() {
    sessionErrorTexts.clear();
    for (const char* text : velk21SessionErrorTexts) {
        sessionErrorTexts << tr(text);
    }
}

void VelkTestUi::sessionResultProcess(int session_error_code,
                                      const Velk21DataBlockKernel& velk21_data_block,
                                      const DataBlock<unsigned char>& extended_data_block,
                                      const DataBlock<unsigned char>& tx_address_block_packet,
                                      const DataBlock<unsigned char>& tx_data_block_packet,
                                      const DataBlock<unsigned char>& rx_data_block_packet) {
    const bool ok = session_error_code == 0;
    ui.rxBlockOkLabel->setVisible(ok);
    ui.rxBlockErrorLabel->setVisible(!ok);

    if (session_error_code >= 0 && session_error_code < sessionErrorTexts.size()) {
        ui.sessionErrorText->setText(sessionErrorTexts.at(session_error_code));
    }

    ui.textBrowser->clear();
    ui.textBrowser->append(packetText(tr("Адрес (Tx): "), tx_address_block_packet));
    ui.textBrowser->append(packetText(tr("Данные (Tx): "), tx_data_block_packet));
    if (rx_data_block_packet.size() != 0) {
        ui.textBrowser->append(packetText(tr("Данные (Rx): "), rx_data_block_packet));
    }

    const Velk21DataBlockKernel& k = velk21_data_block;
    ui.wtsBitRx->setChecked(k.wtsBit != 0);
    ui.efBitRx->setChecked(k.efBit != 0);
    ui.csBitRx->setChecked(k.csBit != 0);
    ui.errBitRx->setChecked(k.errBit != 0);
    ui.subLBitRx->setChecked(k.subLBit != 0);

    ui.aoRx->setText(hexText(k.ao));
    ui.ntxtRx->setText(hexText(k.ntxt));
    ui.statusRx->setText(hexText(k.status));
    ui.codeRx->setText(hexText(k.id.code));
    ui.indexRx->setText(hexText(k.id.index));
    ui.dataRx_0->setText(hexText(k.data[0]));
    ui.dataRx_1->setText(hexText(k.data[1]));
    ui.dataRx_2->setText(hexText(k.data[2]));
    ui.dataRx_3->setText(hexText(k.data[3]));

    ui.exBlockRxList->clear();
    ui.exBlockRxList->setRowCount(0);
    if (extended_data_block.size() != 0) {
        for (unsigned i = 0; i < extended_data_block.size(); ++i) {
            const unsigned char byte = extended_data_block[i];
            // Every character of the code page lies in the Basic Multilingual Plane.
            appendRow(ui.exBlockRxList,
                      {hexText(byte), QString(QChar(char16_t(windows1251ToUnicode(byte))))});
        }
        ui.exBlockRxList->resizeColumnsToContents();
    }

    mergeUserDataRx();
    mergeExDataRx();
}

void VelkTestUi::mergeUserDataRx() {
    const QLineEdit* fields[4] = {ui.dataRx_0, ui.dataRx_1, ui.dataRx_2, ui.dataRx_3};
    unsigned char bytes[4] = {0, 0, 0, 0};
    bool ok = false;
    for (int i = 0; i < 4; ++i) {
        bytes[i] = static_cast<unsigned char>(fields[i]->text().toUInt(&ok, 16));
    }
    if (!ok) { // the conversion of dataRx_3
        ui.userDataRx->clear();
        return;
    }
    const int type = typeNames.indexOf(ui.dataRxType->currentText());
    const int decimals = (type == REAL32 || type == REAL32FIX) ? 3 : 0;
    ParameterValue value(0, 0);
    value.fromBytes(bytes, 4, type, decimals);
    ui.userDataRx->setText(QString::number(value.value, 'f', int(value.decimals)));
}

void VelkTestUi::exDataRxTypeChanged() {
    const int type = typeNames.indexOf(ui.exDataRxType->currentText());
    const bool sized = type == INTEGER || type == UNSIGNED;
    ui.exDataRxTypeBitSize->setVisible(sized);
    ui.exDataRxTypeBitSizeLabel->setVisible(sized);
    mergeExDataRx();
}

void VelkTestUi::exDataRxOffsetEntered(QString text) {
    ui.exDataRxOffset->setText(text);
    mergeExDataRx();
}

void VelkTestUi::mergeExDataRx() {
    unsigned bits = ui.exDataRxTypeBitSize->currentText().toUInt();
    int decimals = 0;
    const int type = typeNames.indexOf(ui.exDataRxType->currentText());
    switch (type) {
    case NIL:
        bits = 0;
        break;
    case BOOLEAN:
        bits = 1;
        break;
    case REAL32:
    case REAL32FIX:
        bits = 32;
        decimals = 3;
        break;
    default:
        break;
    }
    const unsigned count = (bits + 7) / 8;
    const int offset = ui.exDataRxOffset->text().toInt();
    if (offset < 0 || qint64(ui.exBlockRxList->rowCount()) < qint64(offset) + count) {
        ui.userExDataRx->clear();
        return;
    }
    unsigned char bytes[4] = {0, 0, 0, 0};
    for (unsigned i = 0; i < count && i < 4; ++i) {
        const QTableWidgetItem* item = ui.exBlockRxList->item(offset + int(i), 0);
        bytes[i] = static_cast<unsigned char>(item ? item->text().toUInt(nullptr, 16) : 0);
    }
    ParameterValue value(0, 0);
    value.fromBytes(bytes, count, type, decimals);
    ui.userExDataRx->setText(QString::number(value.value, 'f', int(value.decimals)));

    // Negative values show as 64-bit two's complement: -1 is sixteen f digits.
    QString hex;
    if (type == UNSIGNED) {
        hex = QString::number(wrapToUint32(value.value), 16);
    } else {
        const qint32 whole = wrapToInt32(wrapToUint32(value.value));
        hex = QString::number(quint64(qint64(whole)), 16);
    }
    ui.userExDataRxHex->setText("0x" + hex);
}

// ---------------------------------------------------------------------------
// Settings

void VelkTestUi::saveUiSettings() {
    settings.setValue("subLBit", ui.subLBit->isChecked());
    settings.setValue("timeBit", ui.timeBit->isChecked());
    settings.setValue("subLAddressFrame", ui.subLAddressFrame->isEnabled());
    settings.setValue("address_1", ui.address_1->text().toUpper());
    settings.setValue("address_2", ui.address_2->text().toUpper());
    settings.setValue("address_3", ui.address_3->text().toUpper());
    settings.setValue("address_4", ui.address_4->text().toUpper());
    settings.setValue("dataBlockSubLBit", ui.dataBlockSubLBit->isChecked());
    settings.setValue("efBit", ui.efBit->isChecked());
    settings.setValue("wtsBit", ui.wtsBit->isChecked());
    settings.setValue("ao", ui.ao->text().toUpper());
    settings.setValue("ntxt", ui.ntxt->text().toUpper());
    settings.setValue("code", ui.code->text().toUpper());
    settings.setValue("index", ui.index->text().toUpper());
    settings.setValue("status", ui.status->text().toUpper());
    settings.setValue("data_0_isEnabled", ui.data_0->isEnabled());
    settings.setValue("data_0", ui.data_0->text().toUpper());
    settings.setValue("data_1_isEnabled", ui.data_1->isEnabled());
    settings.setValue("data_1", ui.data_1->text().toUpper());
    settings.setValue("data_2", ui.data_2->text().toUpper());
    settings.setValue("data_3", ui.data_3->text().toUpper());
    settings.setValue("userDataFrame", ui.userDataFrame->isEnabled());
    settings.setValue("dataType", ui.dataType->currentIndex());
    settings.setValue("userData", ui.userData->text().toUpper());
    settings.setValue("dataRxType", ui.dataRxType->currentIndex());
    settings.setValue("exDataRxTypeBitSize", ui.exDataRxTypeBitSize->currentIndex());
    settings.setValue("exDataRxType", ui.exDataRxType->currentIndex());
    settings.setValue("exDataRxOffset", ui.exDataRxOffset->text().toUpper());
    settings.setValue("exBlockGroupBox", ui.exBlockGroupBox->isEnabled());
    QString exBlockStr;
    for (int row = 0; row < ui.exBlockList->rowCount(); ++row) {
        if (const QTableWidgetItem* item = ui.exBlockList->item(row, 0)) {
            exBlockStr += item->text().toUpper() + ';';
        }
    }
    settings.setValue("exBlockStr", exBlockStr);
    settings.setValue("cyclicSendTimeout", ui.cyclicSendTimeout->text().toUpper());
    settings.setValue("portName", ui.portName->currentText());
    settings.setValue("baudRate", ui.baudRate->currentText());
    settings.sync();
}

void VelkTestUi::loadUiSettings() {
    ui.subLBit->setChecked(settings.value("subLBit", false).toBool());
    ui.timeBit->setChecked(settings.value("timeBit", true).toBool());
    ui.subLAddressFrame->setEnabled(settings.value("subLAddressFrame", false).toBool());
    ui.address_1->setText(settings.value("address_1", "").toString());
    ui.address_2->setText(settings.value("address_2", "").toString());
    ui.address_3->setText(settings.value("address_3", "").toString());
    ui.address_4->setText(settings.value("address_4", "").toString());
    ui.dataBlockSubLBit->setChecked(settings.value("dataBlockSubLBit", false).toBool());
    ui.efBit->setChecked(settings.value("efBit", false).toBool());
    ui.wtsBit->setChecked(settings.value("wtsBit", false).toBool());
    ui.ao->setText(settings.value("ao", "1F").toString());
    ui.ntxt->setText(settings.value("ntxt", "").toString());
    ui.code->setText(settings.value("code", "").toString());
    ui.index->setText(settings.value("index", "").toString());
    ui.status->setText(settings.value("status", "").toString());
    ui.data_0->setEnabled(settings.value("data_0_isEnabled", true).toBool());
    ui.data_0->setText(settings.value("data_0", "").toString());
    ui.data_1->setEnabled(settings.value("data_1_isEnabled", true).toBool());
    ui.data_1->setText(settings.value("data_1", "").toString());
    ui.data_2->setText(settings.value("data_2", "").toString());
    ui.data_3->setText(settings.value("data_3", "").toString());
    ui.userDataFrame->setEnabled(settings.value("userDataFrame", true).toBool());
    ui.userData->setText(settings.value("userData", "").toString());
    ui.dataType->setCurrentIndex(settings.value("dataType", 0).toInt());
    ui.dataRxType->setCurrentIndex(settings.value("dataRxType", 0).toInt());
    ui.exDataRxTypeBitSize->setCurrentIndex(settings.value("exDataRxTypeBitSize", 0).toInt());
    ui.exDataRxType->setCurrentIndex(settings.value("exDataRxType", 0).toInt());
    exDataRxTypeChanged();
    ui.exDataRxOffset->setText(settings.value("exDataRxOffset", "0").toString());
    ui.exBlockGroupBox->setEnabled(settings.value("exBlockGroupBox", false).toBool());
    loadExDataRows(settings.value("exBlockStr", "").toString().split(';', Qt::SkipEmptyParts));
    ui.exBlockList->setCurrentCell(0, 0);
    const QVariant period = settings.value("cyclicSendTimeout", 100);
    cyclicSendPeriod = period.toUInt();
    ui.cyclicSendTimeout->setText(period.toString());
    // Looked up once the port scan has filled the list.
    savedPortName = settings.value("portName", "COM1").toString();
    if (externalSession == nullptr && ui.portName->count() > 0) {
        selectSavedPort();
    }
    ui.baudRate->setCurrentIndex(ui.baudRate->findText(
        settings.value("baudRate", 115200).toString(), Qt::MatchExactly | Qt::MatchCaseSensitive));
}
