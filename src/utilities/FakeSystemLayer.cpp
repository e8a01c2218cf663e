#include "FakeSystemLayer.h"

#include "WideText.h"

unsigned FakeSystemLayer::enableRestart() {
    calls.push_back("enable");
    return enableError;
}

void FakeSystemLayer::syncFileSystems() {
    calls.push_back("sync");
}

unsigned FakeSystemLayer::restart() {
    calls.push_back("restart");
    return restartError;
}

bool FakeSystemLayer::fileSystemName(const std::wstring& root, std::string& name) {
    const auto found = fileSystems.find(root);
    if (found == fileSystems.end())
        return false;
    name = found->second;
    return true;
}

bool FakeSystemLayer::readDriveCache(wchar_t letter, DriveCache& cache) {
    const auto found = drives.find(letter);
    if (found == drives.end())
        return false;
    cache = found->second;
    return true;
}

bool FakeSystemLayer::writeDriveCache(wchar_t letter, const DriveCache& cache) {
    calls.push_back("write-cache " + utf8FromWide(std::wstring(1, letter)) +
                    (cache.writeCacheEnabled ? " on " : " off ") +
                    std::to_string(cache.record.size()));
    if (!driveWriteSucceeds || drives.count(letter) == 0)
        return false;
    drives[letter] = cache;
    return true;
}

bool FakeSystemLayer::fileExists(const std::wstring& path) {
    return files.count(path) != 0;
}

ISystemLayer::ProcessOutcome FakeSystemLayer::runProcess(const std::wstring& program,
                                                         const std::vector<std::wstring>& arguments,
                                                         int timeoutMs) {
    std::string call = "run " + utf8FromWide(program);
    for (const std::wstring& argument : arguments)
        call += " " + utf8FromWide(argument);
    calls.push_back(call + " " + std::to_string(timeoutMs));
    return processOutcome;
}

bool FakeSystemLayer::clearConsole() {
    calls.push_back("clear");
    return console;
}

bool FakeSystemLayer::attachConsole() {
    calls.push_back("attach");
    return consoleAvailable;
}
