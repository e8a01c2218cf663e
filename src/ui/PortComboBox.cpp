#include "PortComboBox.h"

PortComboBox::PortComboBox(QWidget* parent) : QComboBox(parent) {}

void PortComboBox::showPopup() {
    // Before the base sizes the list to its items.
    emit popupAboutToShow();
    QComboBox::showPopup();
}
