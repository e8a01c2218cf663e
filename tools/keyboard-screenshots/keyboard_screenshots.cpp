// Renders both on-screen keyboards with the program's style, font and style
// sheet, and writes numeric-keyboard.png and fullsize-keyboard.png.
// Usage: keyboard-screenshots <output folder>
#include "ApplicationLook.h"
#include "FullsizeKeyboard.h"
#include "NumericKeyboard.h"

#include <QApplication>
#include <QDir>
#include <QFont>
#include <QTextStream>

namespace {

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
    // The program's look: Windows style, its bold 11-point font, its style sheet.
    useApplicationFontFamily();
    QFont font = QApplication::font();
    font.setPointSize(11);
    font.setBold(true);
    applyApplicationLook(font);

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
