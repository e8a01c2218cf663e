// COM names on Windows: the device path of a name, and the scan of a
// SERIALCOMM key (a key of the test's own under HKEY_CURRENT_USER).

#include "PortNames.h"

#include <doctest/doctest.h>
#include <windows.h>

#include <string>

namespace {
void setValue(HKEY key, const wchar_t* name, const wchar_t* data) {
    RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data),
                   static_cast<DWORD>((wcslen(data) + 1) * sizeof(wchar_t)));
}
} // namespace

TEST_CASE("namesStandForComDevices") {
    CHECK_EQ(resolvePortName("COM7"), std::string("\\\\.\\COM7"));
    CHECK_EQ(resolvePortName("com12"), std::string("\\\\.\\COM12"));
    CHECK_EQ(resolvePortName("\\\\.\\CNCA0"), std::string("\\\\.\\CNCA0"));
    CHECK_EQ(resolvePortName("COM0"), std::string());
    CHECK_EQ(defaultPortsFolder(), std::string());
}

TEST_CASE("scanListsTheSerialCommKeyInOrder") {
    const std::wstring path = L"Software\\VelkTestPlain\\" + std::to_wstring(GetCurrentProcessId());
    HKEY key = nullptr;
    CHECK(RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                          &key, nullptr) == ERROR_SUCCESS);
    setValue(key, L"\\Device\\Serial0", L"COM12");
    setValue(key, L"\\Device\\Serial1", L"COM3");
    setValue(key, L"\\Device\\Serial2", L"COM3"); // the same name twice is listed once
    setValue(key, L"\\Device\\Parallel0", L"LPT1");
    setValue(key, L"\\Device\\VCP0", L"COM300");
    RegCloseKey(key);

    PortRoots roots;
    roots.serialCommKey = "HKCU\\" + std::string(path.begin(), path.end());
    const std::vector<PortInfo> ports = scanPorts(roots);
    CHECK_EQ(ports.size(), std::size_t(2));
    if (ports.size() == 2) {
        CHECK_EQ(ports[0].name, std::string("COM3"));
        CHECK_EQ(ports[0].device, std::string("\\\\.\\COM3"));
        CHECK_EQ(ports[1].name, std::string("COM12"));
    }
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\VelkTestPlain");

    CHECK(scanPorts(roots).empty()); // the key is gone
    CHECK(scanPorts(PortRoots::linksOnly("ignored")).empty());
}
