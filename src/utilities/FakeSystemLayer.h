#pragma once

#include "SystemLayer.h"

#include <map>
#include <set>
#include <string>
#include <vector>

// A scriptable ISystemLayer for tests: answers come from its public fields, and every
// call that would change the system is only recorded in calls, in order.
class FakeSystemLayer : public ISystemLayer {
public:
    unsigned enableError = 1; // the right to restart is refused unless a test grants it
    unsigned restartError = 0;
    std::map<std::wstring, std::string> fileSystems; // root -> file-system name
    std::map<wchar_t, DriveCache> drives;            // drives whose cache can be read
    bool driveWriteSucceeds = true;
    std::set<std::wstring> files;
    ProcessOutcome processOutcome;
    bool console = false;
    bool consoleAvailable = false;

    // "enable", "sync", "restart", "write-cache <letter> <on|off> <record size>",
    // "run <program> <args> <timeout>", "clear", "attach" (UTF-8).
    std::vector<std::string> calls;

    unsigned enableRestart() override;
    void syncFileSystems() override;
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
