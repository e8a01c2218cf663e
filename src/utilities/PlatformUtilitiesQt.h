#pragma once

#include <QString>

// The platform utilities that work with the Qt event loop and file system.

// Waits at least ms milliseconds in steps of about 10 ms, handling the application's
// pending events after each step; returns the milliseconds waited (0 at once for 0).
unsigned waitMs(unsigned ms, bool excludeUserInput);

// Finds fileName in baseDir + subDir, or failing that in the application's directory +
// "/" + subDir: the file itself, else the only file named a letter, anything, fileName.
// Paths are joined as given. Empty when nothing or more than one candidate is found.
QString locateFile(const QString& baseDir, const QString& subDir, const QString& fileName);
