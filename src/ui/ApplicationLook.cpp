#include "ApplicationLook.h"

#include <QApplication>
#include <QFont>
#include <QFontDatabase>
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

void chooseTextRendering() {
#ifdef Q_OS_WIN
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "windows:fontengine=freetype");
    }
#endif
}

static void loadBuiltInFonts() {
    Q_INIT_RESOURCE(fonts);
}

void useApplicationFontFamily() {
    // The form's fixed geometry was laid out for a narrow face: Liberation
    // Sans fits it with room to spare, where Debian's DejaVu Sans cuts the
    // group box titles at 11 pt bold and a bare Windows panel has neither.
    // The program carries the face, so every system draws the same form; the
    // condensed DejaVu (which just fits) stands in should loading ever fail.
    loadBuiltInFonts();
    for (const char* face :
         {":/fonts/LiberationSans-Regular.ttf", ":/fonts/LiberationSans-Bold.ttf"}) {
        QFontDatabase::addApplicationFont(QString::fromLatin1(face));
    }
    QFont font = QApplication::font();
    font.setFamilies({QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans Condensed")});
    QApplication::setFont(font);
}

void applyApplicationLook(const QFont& font) {
    QApplication::setOverrideCursor(Qt::CrossCursor);
    QApplication::setStyle(QStyleFactory::create("Windows"));
    QApplication::setFont(font);
    qApp->setStyleSheet(applicationStyleSheet());
}
