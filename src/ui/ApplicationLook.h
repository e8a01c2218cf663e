#ifndef VELK_APPLICATIONLOOK_H
#define VELK_APPLICATIONLOOK_H

class QFont;

// Call before the application object exists. On Windows, has the windows
// platform draw text with FreeType, as on Linux: the form's captions were
// measured with its metrics, and GDI under Wine draws the bold form regular.
// A platform chosen on the command line or in QT_QPA_PLATFORM stays.
void chooseTextRendering();

// Makes the application's default family one whose widths fit the form
// (laid out for a narrow Windows face); call before the dialog is built so
// that its font, and with it every widget's, takes that family.
void useApplicationFontFamily();

// The program-wide look set once the dialog exists: cross cursor, the Windows
// widget style, the dialog's font for every widget (the keyboards included)
// and the style sheet that makes vertical scroll bars finger-wide.
void applyApplicationLook(const QFont& font);

// The application style sheet, exactly as the program sets it.
const char* applicationStyleSheet();

#endif
