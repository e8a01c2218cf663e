#pragma once

#include "SystemLayer.h"

#include <cstdint>
#include <string>

// The platform utilities without Qt. The timed wait and the file locator need the Qt event
// loop and file system: they are in PlatformUtilitiesQt.h.

// Bit access: bit numbers beyond the width change nothing and read as clear.
void setBit8(unsigned char& byte, unsigned n, bool on);
void setBit32(std::uint32_t& word, unsigned n, bool on);
bool testBit8(unsigned char value, unsigned n);
bool testBit32(std::uint32_t value, unsigned n);

// base to the exponent by repeated squaring, wrapping around in 32 bits; exponent 0 gives 1.
int power(int base, unsigned exponent);

// True when a and b differ by strictly less than epsilon.
bool isNearlyEqual(double a, double b, double epsilon);

// Gains the right to restart, flushes the file systems and restarts the machine at once.
// Returns the system's error code: that of gaining the right (nothing else happens then),
// else that of the restart request (0 when it was accepted).
unsigned rebootSystem(ISystemLayer& system = systemLayer());

// True when the file system holding root is NTFS.
bool isNtfsVolume(const std::wstring& root, ISystemLayer& system = systemLayer());

// The write-filter commit tool: "C:\Windows\System32\EWFMGR.EXE" on Windows. Linux ships
// none: a site whose root file system sits under a write filter installs the program that
// commits it as /usr/sbin/ewfmgr; without it the commit fails.
extern const wchar_t* const writeFilterTool;

// Runs the write-filter commit ("c: -commit"), waiting at most timeoutMs for it to start
// and again at most timeoutMs for it to end. True when it ended in time with exit code 0.
bool commitWriteFilter(int timeoutMs, ISystemLayer& system = systemLayer());

// Turns the write cache of the drive named by path ("C:", "c:\...") off when it is on. On
// Linux only the system drive C: has a counterpart: the disk holding "/".
void disableWriteCache(const std::wstring& path, ISystemLayer& system = systemLayer());

// Clears the console standard output shows on; false when it is none.
bool clearConsole(ISystemLayer& system = systemLayer());

// Gives the process a console (on Linux its controlling terminal), reopens the standard
// streams on it, unbuffered, and keeps the C++ streams synchronised with them. Returns the
// previous synchronisation setting, or false when there is no console.
bool openDebugConsole(ISystemLayer& system = systemLayer());
