// The Win32 system layer of the platform utilities, where it is harmless:
// queries of volumes and drives, files, this test program run as a child
// process, the console services with standard output on a file (and on a
// console of their own with --console, which tests/windows/e2e.sh runs on a
// terminal), and the shutdown right of this process's own token. Nothing
// restarts the machine, commits a write filter or changes a disk's cache.

#include "PlatformUtilities.h"
#include "WinSystemLayer.h"

#define DOCTEST_CONFIG_IMPLEMENT
#include <doctest/doctest.h>
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using Outcome = ISystemLayer::ProcessOutcome;

namespace {
const char* const trickyArgument = "two words \"quoted\" back\\slash\\";

std::wstring thisProgram() {
    wchar_t path[MAX_PATH + 1] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return path;
}

// A drive letter that names no drive here.
wchar_t absentDrive() {
    const DWORD drives = GetLogicalDrives();
    for (int i = 25; i >= 0; --i) {
        if ((drives & (1u << i)) == 0)
            return static_cast<wchar_t>(L'A' + i);
    }
    return 0;
}

std::wstring cellsAtHome(HANDLE console, DWORD count) {
    std::wstring cells(count, L'\0');
    DWORD read = 0;
    ReadConsoleOutputCharacterW(console, &cells[0], count, COORD{0, 0}, &read);
    cells.resize(read);
    return cells;
}

// Run on a console (tests/windows/e2e.sh runs it on a terminal that Wine makes one):
// clearConsole blanks it and puts the cursor home, openDebugConsole keeps this console,
// gives it 512 lines and sends stdout there. 0 when all holds, 2 without a console.
int consoleCheck() {
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!GetConsoleScreenBufferInfo(output, &info))
        return 2;
    DWORD written = 0;
    WriteConsoleW(output, L"velk", 4, &written, nullptr);
    if (cellsAtHome(output, 4) != L"velk")
        return 3;
    WinSystemLayer system;
    if (!clearConsole(system))
        return 4;
    if (!GetConsoleScreenBufferInfo(output, &info) || info.dwCursorPosition.X != 0 ||
        info.dwCursorPosition.Y != 0 || cellsAtHome(output, 4) != L"    ")
        return 5;
    // The C++ streams start synchronised, so the previous setting is true.
    if (!openDebugConsole(system))
        return 6;
    HANDLE console =
        CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (!GetConsoleScreenBufferInfo(console, &info) || info.dwSize.Y != 512)
        return 7;
    std::printf("debug"); // unbuffered: on the console at once
    const bool shown = cellsAtHome(console, 5) == L"debug";
    CloseHandle(console);
    return shown ? 0 : 8;
}

// The child's side of runProcessOfAChild: what the arguments ask for.
int childMain(int argc, char** argv) {
    const std::string mode = argv[1];
    if (mode == "--exit")
        return std::atoi(argv[2]);
    if (mode == "--expect")
        return argc == 3 && std::string(argv[2]) == trickyArgument ? 0 : 1;
    if (mode == "--sleep") {
        Sleep(10000);
        return 0;
    }
    if (mode == "--console")
        return consoleCheck();
    if (mode == "--fault") // ends as an unhandled access violation would
        TerminateProcess(GetCurrentProcess(), 0xC0000005u);
    return 99;
}
} // namespace

TEST_CASE("volumeQueries") {
    WinSystemLayer system;
    std::string name;
    CHECK(system.fileSystemName(L"C:\\", name));
    CHECK(!name.empty());
    const wchar_t absent = absentDrive();
    CHECK(absent != 0);
    const std::wstring root{absent, L':', L'\\'};
    CHECK(!system.fileSystemName(root, name));
    CHECK(!isNtfsVolume(root, system));
    ISystemLayer::DriveCache cache;
    CHECK(!system.readDriveCache(absent, cache));
    CHECK(cache.record.empty());
}

TEST_CASE("filesExist") {
    WinSystemLayer system;
    CHECK(system.fileExists(thisProgram()));
    CHECK(!system.fileExists(thisProgram() + L".missing"));
    CHECK(!system.fileExists(L""));
}

TEST_CASE("runProcessOfAChild") {
    WinSystemLayer system;
    const std::wstring self = thisProgram();
    Outcome outcome = system.runProcess(self, {L"--exit", L"0"}, 20000);
    CHECK_EQ(int(outcome.status), int(Outcome::Exited));
    CHECK_EQ(outcome.exitCode, 0);
    outcome = system.runProcess(self, {L"--exit", L"3"}, 20000);
    CHECK_EQ(int(outcome.status), int(Outcome::Exited));
    CHECK_EQ(outcome.exitCode, 3);
    // Blanks, quotes and backslashes reach the child as given.
    const std::string tricky = trickyArgument;
    outcome =
        system.runProcess(self, {L"--expect", std::wstring(tricky.begin(), tricky.end())}, 20000);
    CHECK_EQ(int(outcome.status), int(Outcome::Exited));
    CHECK_EQ(outcome.exitCode, 0);
    outcome = system.runProcess(self, {L"--fault"}, 20000);
    CHECK_EQ(int(outcome.status), int(Outcome::Crashed));
    outcome = system.runProcess(self + L".missing", {}, 1000);
    CHECK_EQ(int(outcome.status), int(Outcome::NotStarted));
}

TEST_CASE("childOutlastingItsTimeIsEnded") {
    WinSystemLayer system;
    const auto start = std::chrono::steady_clock::now();
    const Outcome outcome = system.runProcess(thisProgram(), {L"--sleep"}, 500);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - start)
                        .count();
    CHECK_EQ(int(outcome.status), int(Outcome::TimedOut));
    CHECK(ms >= 450);
    CHECK(ms < 8000); // the child sleeps 10 s unless it is ended
}

TEST_CASE("commandLineQuoting") {
    CHECK(commandLine(L"C:\\Windows\\System32\\EWFMGR.EXE", {L"c:", L"-commit"}) ==
          L"C:\\Windows\\System32\\EWFMGR.EXE c: -commit");
    CHECK(commandLine(L"C:\\Program Files\\t.exe", {L"", L"a\\b"}) ==
          L"\"C:\\Program Files\\t.exe\" \"\" a\\b");
}

TEST_CASE("consoleServicesNeedAConsole") {
    // Standard output on a file, as when the program's output is redirected.
    wchar_t folder[MAX_PATH + 1] = {};
    wchar_t name[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH, folder);
    GetTempFileNameW(folder, L"vlk", 0, name);
    HANDLE file = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    CHECK(file != INVALID_HANDLE_VALUE);
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    SetStdHandle(STD_OUTPUT_HANDLE, file);
    WinSystemLayer system;
    const bool cleared = system.clearConsole();
    SetStdHandle(STD_OUTPUT_HANDLE, output);
    CHECK(!cleared);
    CHECK_EQ(GetFileSize(file, nullptr), DWORD(0)); // nothing was written into it
    CloseHandle(file);
}

TEST_CASE("shutdownRightOfOwnToken") {
    WinSystemLayer system;
    const unsigned error = system.enableRestart();
    CHECK((error == 0 || error == ERROR_NOT_ALL_ASSIGNED));
    if (error != 0)
        return;
    // Granted: the token now holds the privilege enabled.
    HANDLE token = nullptr;
    CHECK(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
    LUID shutdown{};
    CHECK(LookupPrivilegeValueW(nullptr, L"SeShutdownPrivilege", &shutdown));
    PRIVILEGE_SET query{};
    query.PrivilegeCount = 1;
    query.Control = PRIVILEGE_SET_ALL_NECESSARY;
    query.Privilege[0].Luid = shutdown;
    BOOL enabled = FALSE;
    CHECK(PrivilegeCheck(token, &query, &enabled));
    CHECK(enabled);
    CloseHandle(token);
}

int main(int argc, char** argv) {
    // Started by runProcessOfAChild: plays the child.
    static const char* const childModes[] = {"--exit", "--expect", "--sleep", "--console",
                                             "--fault"};
    for (const char* mode : childModes) {
        if (argc >= 2 && std::strcmp(argv[1], mode) == 0)
            return childMain(argc, argv);
    }
    return doctest::Context(argc, argv).run();
}
