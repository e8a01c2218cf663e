#include "ApplicationLook.h"
#include "VelkTestUi.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    chooseTextRendering();
    QApplication app(argc, argv);
    // Sources and tr() texts are UTF-8, so no 8-bit codec has to be installed.
    useApplicationFontFamily();

    // Builds the form, restores the settings, lists the ports and opens the
    // session before the look below is applied.
    VelkTestUi dialog;
    applyApplicationLook(dialog.font());

    dialog.show();
    return app.exec();
}
