#pragma once

#include "SystemLayer.h"

// ISystemLayer on Windows: the Win32 calls themselves (advapi32 and user32 for the
// restart, kernel32 for volumes, disks, processes and the console).
class WinSystemLayer : public ISystemLayer {
public:
    unsigned enableRestart() override;
    // ExitWindowsEx flushes the file systems itself.
    void syncFileSystems() override {}
    unsigned restart() override;
    bool fileSystemName(const std::wstring& root, std::string& name) override;
    bool readDriveCache(wchar_t letter, DriveCache& cache) override;
    bool writeDriveCache(wchar_t letter, const DriveCache& cache) override;
    bool fileExists(const std::wstring& path) override;
    ProcessOutcome runProcess(const std::wstring& program,
                              const std::vector<std::wstring>& arguments, int timeoutMs) override;
    bool clearConsole() override;
    bool attachConsole() override;
};

// The command line that CreateProcess gets: program and arguments, each quoted when it
// holds a blank or a quote (or is empty), so that the program's argv holds them as given.
std::wstring commandLine(const std::wstring& program, const std::vector<std::wstring>& arguments);
