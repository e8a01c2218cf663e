#include "IKeyboard.h"

#include "KeyboardButton.h"

#include <QEvent>
#include <QIcon>
#include <QKeyEvent>

// The Enter and arrow images live in collections of the resource library;
// referencing them keeps them linked in from a static archive.
static void initKeyboardResources() {
    Q_INIT_RESOURCE(misc);
    Q_INIT_RESOURCE(arrows);
}

IKeyboard::IKeyboard(QWidget* parent) : QDialog(parent) {
    initKeyboardResources();
    setModal(true);
    setWindowTitle(QStringLiteral(" "));

    keyboardFrame.setParent(this);
    keyboardFrame.setObjectName(QStringLiteral("keyboardFrame"));
    keyboardFrame.setStyleSheet(
        QStringLiteral("QFrame#keyboardFrame { color: SaddleBrown; background: SandyBrown; }"));
    keyboardFrame.setFrameStyle(QFrame::Box | QFrame::Plain);
    keyboardFrame.setLineWidth(3);

    enterButton.setParent(this);
    enterButton.setIcon(QIcon(QStringLiteral(":/misc/enter_button.png")));
    enterButton.setIconSize(QSize(48, 48));
    enterButton.setFocusPolicy(Qt::NoFocus);
    connect(&enterButton, &QPushButton::released, this, &IKeyboard::accept);

    backspaceButton.setParent(this);
    backspaceButton.setText(QStringLiteral("<-"));
    backspaceButton.setFocusPolicy(Qt::NoFocus);
    connect(&backspaceButton, &QPushButton::pressed, this, &IKeyboard::backspacePressed);

    escButton.setParent(this);
    escButton.setText(QStringLiteral("Esc"));
    escButton.setFocusPolicy(Qt::NoFocus);
    connect(&escButton, &QPushButton::released, this, &IKeyboard::reject);

    editor.setParent(this);
    editor.setFocusPolicy(Qt::StrongFocus);
    editor.setFrame(false);
}

IKeyboard::~IKeyboard() {
    qDeleteAll(keys);
    keys.clear();
}

void IKeyboard::setMode(int mode) {
    currentMode = mode;
    for (KeyboardButton* key : std::as_const(keys)) {
        key->showMode(mode);
    }
}

void IKeyboard::retranslateUi() {}

void IKeyboard::backspacePressed() {
    editor.backspace();
}

void IKeyboard::accept() {
    QDialog::accept();
    emit dataEnteredSignal(editor.text());
}

void IKeyboard::keyPressEvent(QKeyEvent* e) {
    QDialog::keyPressEvent(e);
    if (!e || e->type() != QEvent::KeyPress) {
        return;
    }
    switch (e->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        accept();
        break;
    case Qt::Key_Escape:
        reject();
        break;
    default:
        break;
    }
}

void IKeyboard::changeEvent(QEvent* e) {
    QDialog::changeEvent(e);
    if (e && e->type() == QEvent::LanguageChange) {
        retranslateUi();
    }
}

void IKeyboard::addKeyRow(int x0, int y, int w, int h, int gap, int unit, int count) {
    const int l = margin();
    const QChar space(QLatin1Char(' '));
    for (int i = 0; i < count; ++i) {
        auto* key = new KeyboardButton(this, space, space, space, space, space, space, space, space,
                                       space, space);
        key->attachTo(this);
        key->setGeometry((x0 + (w + gap) * i) * unit + l, y * unit + l, w * unit, h * unit);
        keys.append(key);
    }
}

bool IKeyboard::applyKeyTable(const QString& table) {
    if (table.size() / ModeCount != keys.size()) {
        return false;
    }
    for (int i = 0; i < keys.size(); ++i) {
        const QChar* c = table.constData() + ModeCount * i;
        keys[i]->setChars(c[0], c[1], c[2], c[3], c[4], c[8], c[9], c[10], c[11], c[12]);
    }
    return true;
}
