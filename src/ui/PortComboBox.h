#ifndef VELK_PORTCOMBOBOX_H
#define VELK_PORTCOMBOBOX_H

#include <QComboBox>

// The port list of the form: tells its owner just before the list opens, so
// that ports plugged in since the last look can be listed first.
class PortComboBox : public QComboBox {
    Q_OBJECT

public:
    explicit PortComboBox(QWidget* parent = nullptr);

    void showPopup() override;

signals:
    void popupAboutToShow();
};

#endif
