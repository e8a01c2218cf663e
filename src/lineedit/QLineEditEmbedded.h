#pragma once

#include "AccessLevel.h"
#include "Accessable.h"
#include "IKeyboard.h"

#include <QLineEdit>
#include <QString>

// Read-only touch field: a tap opens the shared numeric or full-size keyboard
// with the field's text, and the text confirmed there comes back as
// dataEnteredSignal. The field never changes its own text.
class QLineEditEmbedded : public QLineEdit, public Accessable {
    Q_OBJECT
    Q_PROPERTY(AccessLevel::Types accessLevel READ accessLevel WRITE setAccessLevel)
    Q_PROPERTY(IKeyboard::KeyboardTypes keyboardType READ keyboardType WRITE setKeyboardType)
    Q_PROPERTY(QString hintText READ hintText WRITE setHintText)

public:
    explicit QLineEditEmbedded(QWidget* parent = nullptr);

    IKeyboard::KeyboardTypes keyboardType() const { return IKeyboard::KeyboardTypes(kbdType); }
    void setKeyboardType(int type) { kbdType = type; }
    QString hintText() const { return hint; }
    void setHintText(const QString& text) { hint = text; }

signals:
    void dataEnteredSignal(QString text);
    void mouseReleasedSignal();

public slots:
    void showKeyboard();

protected:
    void mouseReleaseEvent(QMouseEvent* e) override;
    void accessLevelChanged(const AccessLevel::Types& oldLevel,
                            const AccessLevel::Types& newLevel) override;

private:
    int kbdType = IKeyboard::NUMERIC_KBD;
    QString hint;
};
