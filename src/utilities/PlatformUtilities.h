#pragma once

#include "SystemLayer.h"

#include <QString>

#include <cstdint>

// Bit access: bit numbers beyond the width change nothing and read as clear.
void setBit8(unsigned char& byte, unsigned n, bool on);
void setBit32(std::uint32_t& word, unsigned n, bool on);
bool testBit8(unsigned char value, unsigned n);
bool testBit32(std::uint32_t value, unsigned n);

// base to the exponent by repeated squaring, wrapping around in 32 bits; exponent 0 gives 1.
int power(int base, unsigned exponent);

// True when a and b differ by strictly less than epsilon.
bool isNearlyEqual(double a, double b, double epsilon);

// Waits at least ms milliseconds in steps of about 10 ms, handling the application's
// pending events after each step; returns the milliseconds waited (0 at once for 0).
unsigned waitMs(unsigned ms, bool excludeUserInput);

// Finds fileName in baseDir + subDir, or failing that in the application's directory +
// "/" + subDir: the file itself, else the only file named a letter, anything, fileName.
// Paths are joined as given. Empty when nothing or more than one candidate is found.
QString locateFile(const QString& baseDir, const QString& subDir, const QString& fileName);

// Restarts the machine at once after flushing the file systems. Returns EPERM without the
// right to restart (nothing else happens then), else the error of the restart request.
unsigned rebootSystem(ISystemLayer& system = systemLayer());

// True when the file system holding root is NTFS.
bool isNtfsVolume(const QString& root, ISystemLayer& system = systemLayer());

// The write-filter commit tool. Linux ships none: a site whose root file system sits under a
// write filter installs the program that commits it here; without it the commit fails.
inline constexpr const char* writeFilterTool = "/usr/sbin/ewfmgr";
inline constexpr const char* writeFilterArguments[] = {"c:", "-commit"};

// Runs the write-filter commit, waiting at most timeoutMs for it to start and again at most
// timeoutMs for it to end. True when it ended in time with exit code 0.
bool commitWriteFilter(int timeoutMs, ISystemLayer& system = systemLayer());

// Turns the write cache of the drive named by path ("C:", "c:\...") off when it is on. Only
// the system drive C: has a counterpart on Linux: the disk holding "/".
void disableWriteCache(const QString& path, ISystemLayer& system = systemLayer());

// Clears the terminal that standard output shows on; false when it is not a terminal.
bool clearConsole(ISystemLayer& system = systemLayer());

// Attaches the standard streams to the controlling terminal, unbuffered, and keeps the C++
// streams synchronised with them. Returns the previous synchronisation setting, or false
// when there is no terminal.
bool openDebugConsole(ISystemLayer& system = systemLayer());
