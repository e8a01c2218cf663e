// Why a COM device does not open on Windows. Only names that stand for no
// serial hardware are opened: a COM number no prefix maps, a file of the test.

#include "WinSerialDevice.h"

#include <doctest/doctest.h>
#include <windows.h>

#include <string>

namespace {
// A file of its own in the temporary folder, removed when the test ends.
struct TempFile {
    std::wstring path;
    TempFile() {
        wchar_t folder[MAX_PATH + 1] = {};
        wchar_t name[MAX_PATH + 1] = {};
        GetTempPathW(MAX_PATH, folder);
        GetTempFileNameW(folder, L"vlk", 0, name);
        path = name;
    }
    ~TempFile() { DeleteFileW(path.c_str()); }
    std::string utf8() const {
        const int n =
            WideCharToMultiByte(CP_UTF8, 0, path.c_str(), -1, nullptr, 0, nullptr, nullptr);
        std::string text(static_cast<std::size_t>(n > 0 ? n : 1), '\0');
        WideCharToMultiByte(CP_UTF8, 0, path.c_str(), -1, &text[0], n, nullptr, nullptr);
        text.resize(text.size() - 1);
        return text;
    }
};

std::string reason(OpenFailure failure) {
    return openFailureText(failure);
}
} // namespace

TEST_CASE("missingPortIsNoSuchDevice") {
    WinSerialDevice device;
    CHECK(!device.open("\\\\.\\COM231"));
    CHECK(!device.isOpen());
    CHECK_EQ(reason(device.openFailure()), reason(OpenFailure::NoSuchDevice));
    CHECK(!device.open("C:\\no-such-folder-velk\\port"));
    CHECK_EQ(reason(device.openFailure()), reason(OpenFailure::NoSuchDevice));
}

TEST_CASE("regularFileIsNotATerminal") {
    TempFile file;
    WinSerialDevice device;
    CHECK(!device.open(file.utf8()));
    CHECK(!device.isOpen());
    CHECK_EQ(reason(device.openFailure()), reason(OpenFailure::NotATerminal));
}

TEST_CASE("deviceHeldByAnotherIsBusy") {
    TempFile file;
    // Held without sharing, as another program holds a COM port it has open.
    HANDLE holder = CreateFileW(file.path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    CHECK(holder != INVALID_HANDLE_VALUE);
    WinSerialDevice device;
    CHECK(!device.open(file.utf8()));
    CHECK_EQ(reason(device.openFailure()), reason(OpenFailure::Busy));
    CloseHandle(holder);
    // Released, the same file is simply no serial device.
    CHECK(!device.open(file.utf8()));
    CHECK_EQ(reason(device.openFailure()), reason(OpenFailure::NotATerminal));
}

TEST_CASE("mappingOfSystemErrors") {
    CHECK_EQ(reason(openFailureOfWinError(ERROR_FILE_NOT_FOUND)),
             reason(OpenFailure::NoSuchDevice));
    CHECK_EQ(reason(openFailureOfWinError(ERROR_PATH_NOT_FOUND)),
             reason(OpenFailure::NoSuchDevice));
    CHECK_EQ(reason(openFailureOfWinError(ERROR_INVALID_NAME)), reason(OpenFailure::NoSuchDevice));
    CHECK_EQ(reason(openFailureOfWinError(ERROR_ACCESS_DENIED)), reason(OpenFailure::Busy));
    CHECK_EQ(reason(openFailureOfWinError(ERROR_SHARING_VIOLATION)), reason(OpenFailure::Busy));
    CHECK_EQ(reason(openFailureOfWinError(ERROR_NOT_ENOUGH_MEMORY)), reason(OpenFailure::Other));
}
