// Renders both on-screen keyboards with the program's style, font and style
// sheet, and writes numeric-keyboard.png and fullsize-keyboard.png.
// Usage: keyboard-screenshots <output folder>
#include "FullsizeKeyboard.h"
#include "NumericKeyboard.h"

#include <QApplication>
#include <QDir>
#include <QFont>
#include <QStyleFactory>
#include <QTextStream>

namespace {

// The application style sheet of the program.
const char* const AppStyleSheet =
    "QScrollBar:vertical { border: 1px solid Grey; width: 40px; margin: 41px 0 41px 0px; } "
    "QScrollBar::handle:vertical { background: Gainsboro; min-height: 40px; } "
    "QScrollBar::add-line:vertical { border: none; background: Grey; height: 40px; "
    "subcontrol-position: bottom; subcontrol-origin: margin; } QScrollBar::sub-line:vertical { "
    "border: none; background: Grey; height: 40px; subcontrol-position: top; subcontrol-origin: "
    "margin; }QScrollBar::up-arrow:vertical, QScrollBar::down-arrow:vertical { border: 2px solid "
    "#198C19; width: 5px; height: 5px; background: White; } QScrollBar::add-page:vertical, "
    "QScrollBar::sub-page:vertical { background: White; } QTabBar::tab { width: 0; height: 0; "
    "border-style: none; } QTabWidget::pane { border-style: none; } ";

bool grabTo(IKeyboard* keyboard, const QString& path) {
    keyboard->adjustSize();
    return keyboard->grab().save(path, "PNG");
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QTextStream err(stderr);
    if (argc != 2) {
        err << "usage: keyboard-screenshots <output folder>\n";
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    if (!QDir().mkpath(out.absolutePath())) {
        err << "keyboard-screenshots: cannot create " << out.absolutePath() << "\n";
        return 1;
    }
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Windows")));
    QFont font = QApplication::font();
    font.setPointSize(11);
    font.setBold(true);
    QApplication::setFont(font);
    app.setStyleSheet(QLatin1String(AppStyleSheet));

    NumericKeyboard* numeric = NumericKeyboard::instance();
    numeric->showKeyboardFor(QStringLiteral("12.5"),
                             QStringLiteral("<b>Период</b>, мс<br>от 0 до 10000"));
    FullsizeKeyboard* fullsize = FullsizeKeyboard::instance();
    fullsize->showKeyboardFor(QStringLiteral("Привет, VELK"), QString());

    const QString numericPath = out.filePath(QStringLiteral("numeric-keyboard.png"));
    const QString fullsizePath = out.filePath(QStringLiteral("fullsize-keyboard.png"));
    if (!grabTo(numeric, numericPath) || !grabTo(fullsize, fullsizePath)) {
        err << "keyboard-screenshots: cannot write the images\n";
        return 1;
    }
    return 0;
}
