#include "ApplicationLook.h"

#include <QApplication>
#include <QFont>
#include <QStyleFactory>

const char* applicationStyleSheet() {
    return "QScrollBar:vertical { border: 1px solid Grey; width: 40px; margin: 41px 0 41px 0px; } "
           "QScrollBar::handle:vertical { background: Gainsboro; min-height: 40px; } "
           "QScrollBar::add-line:vertical { border: none; background: Grey; height: 40px; "
           "subcontrol-position: bottom; subcontrol-origin: margin; } "
           "QScrollBar::sub-line:vertical { border: none; background: Grey; height: 40px; "
           "subcontrol-position: top; subcontrol-origin: margin; }"
           "QScrollBar::up-arrow:vertical, QScrollBar::down-arrow:vertical { border: 2px solid "
           "#198C19; width: 5px; height: 5px; background: White; } "
           "QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: White; } "
           "QTabBar::tab { width: 0; height: 0; border-style: none; } "
           "QTabWidget::pane { border-style: none; } ";
}

void applyApplicationLook(const QFont& font) {
    QApplication::setOverrideCursor(Qt::CrossCursor);
    QApplication::setStyle(QStyleFactory::create("Windows"));
    QApplication::setFont(font);
    qApp->setStyleSheet(applicationStyleSheet());
}
