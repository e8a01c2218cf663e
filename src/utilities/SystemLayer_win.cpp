#include "PlatformUtilities.h"
#include "WideText.h"
#include "WinSystemLayer.h"

#include <windows.h>
#include <winioctl.h>

#include <clocale>
#include <cstdio>
#include <cstring>

const wchar_t* const writeFilterTool = L"C:\\Windows\\System32\\EWFMGR.EXE";

namespace {

// EWX_REBOOT | EWX_FORCE, and a planned restart for an operating-system upgrade.
constexpr UINT restartFlags = EWX_REBOOT | EWX_FORCE;
constexpr DWORD restartReason =
    SHTDN_REASON_FLAG_PLANNED | SHTDN_REASON_MAJOR_OPERATINGSYSTEM | SHTDN_REASON_MINOR_UPGRADE;
static_assert(restartFlags == 6 && restartReason == 0x80020003, "restart request");
static_assert(sizeof(DISK_CACHE_INFORMATION) == 24, "disk cache record");

// A process still running after its time-out gets this long to die once terminated.
constexpr DWORD killWaitMs = 5000;

// Opens the drive "\\.\X:" for its cache settings; INVALID_HANDLE_VALUE on failure.
HANDLE openDrive(wchar_t letter) {
    const wchar_t path[] = {L'\\', L'\\', L'.', L'\\', letter, L':', L'\0'};
    return CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_SYSTEM, nullptr);
}

bool needsQuotes(const std::wstring& word) {
    return word.empty() || word.find_first_of(L" \t\"") != std::wstring::npos;
}

// The quoting that the C runtime's argv parser undoes: backslashes count only before a quote.
void appendQuoted(std::wstring& line, const std::wstring& word) {
    if (!needsQuotes(word)) {
        line += word;
        return;
    }
    line += L'"';
    std::size_t backslashes = 0;
    for (const wchar_t c : word) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        if (c == L'"')
            line.append(backslashes * 2 + 1, L'\\');
        else
            line.append(backslashes, L'\\');
        backslashes = 0;
        line += c;
    }
    line.append(backslashes * 2, L'\\');
    line += L'"';
}

} // namespace

ISystemLayer& systemLayer() {
    static WinSystemLayer layer;
    return layer;
}

std::wstring commandLine(const std::wstring& program, const std::vector<std::wstring>& arguments) {
    std::wstring line;
    appendQuoted(line, program);
    for (const std::wstring& argument : arguments) {
        line += L' ';
        appendQuoted(line, argument);
    }
    return line;
}

unsigned WinSystemLayer::enableRestart() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
        return GetLastError();
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    DWORD error = 0;
    if (!LookupPrivilegeValueW(nullptr, L"SeShutdownPrivilege", &privileges.Privileges[0].Luid)) {
        error = GetLastError();
    } else {
        // Succeeds even when the privilege is not held; the last error tells
        // (ERROR_NOT_ALL_ASSIGNED).
        SetLastError(0);
        AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
        error = GetLastError();
    }
    CloseHandle(token);
    return error;
}

unsigned WinSystemLayer::restart() {
    SetLastError(0);
    ExitWindowsEx(restartFlags, restartReason);
    return GetLastError();
}

bool WinSystemLayer::fileSystemName(const std::wstring& root, std::string& name) {
    wchar_t fileSystem[MAX_PATH + 1] = {};
    if (!GetVolumeInformationW(root.c_str(), nullptr, 0, nullptr, nullptr, nullptr, fileSystem,
                               MAX_PATH + 1))
        return false;
    name = utf8FromWide(fileSystem);
    return true;
}

bool WinSystemLayer::readDriveCache(wchar_t letter, DriveCache& cache) {
    HANDLE drive = openDrive(letter);
    if (drive == INVALID_HANDLE_VALUE)
        return false;
    DISK_CACHE_INFORMATION information{};
    DWORD bytes = 0;
    const bool read = DeviceIoControl(drive, IOCTL_DISK_GET_CACHE_INFORMATION, nullptr, 0,
                                      &information, sizeof information, &bytes, nullptr) != 0 &&
                      bytes == sizeof information;
    CloseHandle(drive);
    if (!read)
        return false;
    cache.writeCacheEnabled = information.WriteCacheEnabled != 0;
    const unsigned char* raw = reinterpret_cast<const unsigned char*>(&information);
    cache.record.assign(raw, raw + sizeof information);
    return true;
}

bool WinSystemLayer::writeDriveCache(wchar_t letter, const DriveCache& cache) {
    DISK_CACHE_INFORMATION information{};
    if (cache.record.size() != sizeof information)
        return false;
    std::memcpy(&information, cache.record.data(), sizeof information);
    information.WriteCacheEnabled = cache.writeCacheEnabled ? TRUE : FALSE;
    HANDLE drive = openDrive(letter);
    if (drive == INVALID_HANDLE_VALUE)
        return false;
    DWORD bytes = 0;
    const bool written = DeviceIoControl(drive, IOCTL_DISK_SET_CACHE_INFORMATION, &information,
                                         sizeof information, nullptr, 0, &bytes, nullptr) != 0;
    CloseHandle(drive);
    return written;
}

bool WinSystemLayer::fileExists(const std::wstring& path) {
    return !path.empty() && GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

ISystemLayer::ProcessOutcome WinSystemLayer::runProcess(const std::wstring& program,
                                                        const std::vector<std::wstring>& arguments,
                                                        int timeoutMs) {
    ProcessOutcome outcome;
    // Nothing is sent to the tool (a tool that reads its input sees the end at once) and
    // nothing it prints is kept.
    SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
    HANDLE nul =
        CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    &inherited, OPEN_EXISTING, 0, nullptr);
    if (nul == INVALID_HANDLE_VALUE)
        return outcome;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nul;
    startup.hStdOutput = nul;
    startup.hStdError = nul;
    PROCESS_INFORMATION process{};
    std::wstring line = commandLine(program, arguments);
    const BOOL started = CreateProcessW(program.c_str(), &line[0], nullptr, nullptr, TRUE,
                                        CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process);
    CloseHandle(nul);
    if (!started)
        return outcome;
    CloseHandle(process.hThread);

    const DWORD limit = timeoutMs > 0 ? static_cast<DWORD>(timeoutMs) : 0;
    if (WaitForSingleObject(process.hProcess, limit) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, killWaitMs);
        CloseHandle(process.hProcess);
        outcome.status = ProcessOutcome::TimedOut;
        return outcome;
    }
    DWORD exitCode = 0;
    const BOOL known = GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hProcess);
    // An exception that ended the process leaves its NTSTATUS error code as the exit code.
    if (!known || exitCode >= 0xC0000000u) {
        outcome.status = ProcessOutcome::Crashed;
        return outcome;
    }
    outcome.status = ProcessOutcome::Exited;
    outcome.exitCode = static_cast<int>(exitCode);
    return outcome;
}

bool WinSystemLayer::clearConsole() {
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!GetConsoleScreenBufferInfo(output, &info))
        return false;
    const DWORD cells = static_cast<DWORD>(info.dwSize.X) * static_cast<DWORD>(info.dwSize.Y);
    const COORD home{0, 0};
    DWORD written = 0;
    if (!FillConsoleOutputCharacterW(output, L' ', cells, home, &written))
        return false;
    if (!GetConsoleScreenBufferInfo(output, &info))
        return false;
    if (!FillConsoleOutputAttribute(output, info.wAttributes, cells, home, &written))
        return false;
    return SetConsoleCursorPosition(output, home) != 0;
}

bool WinSystemLayer::attachConsole() {
    std::setlocale(LC_ALL, "Russian");
    // A console program has its console already; that one is used.
    if (!AllocConsole() && GetConsoleWindow() == nullptr)
        return false;
    HANDLE output =
        CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (output != INVALID_HANDLE_VALUE) {
        CONSOLE_SCREEN_BUFFER_INFO info{};
        if (GetConsoleScreenBufferInfo(output, &info)) {
            const COORD size{info.dwSize.X, 512};
            SetConsoleScreenBufferSize(output, size);
        }
        CloseHandle(output);
    }
    if (std::freopen("CONOUT$", "w", stdout) == nullptr ||
        std::freopen("CONIN$", "r", stdin) == nullptr ||
        std::freopen("CONOUT$", "w", stderr) == nullptr)
        return false;
    return std::setvbuf(stdout, nullptr, _IONBF, 0) == 0 &&
           std::setvbuf(stdin, nullptr, _IONBF, 0) == 0 &&
           std::setvbuf(stderr, nullptr, _IONBF, 0) == 0;
}
