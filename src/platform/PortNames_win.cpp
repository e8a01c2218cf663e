#include "PortNames.h"

#include <windows.h>

#include <algorithm>

namespace {
const char devicePrefix[] = "\\\\.\\";
const char userKeyPrefix[] = "HKCU\\";

std::wstring wide(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

std::string deviceOf(unsigned n) {
    return devicePrefix + comPortName(n);
}

// Reads one value's text; the SERIALCOMM values are short port names.
bool valueText(HKEY key, DWORD index, std::string& text) {
    wchar_t name[256];
    DWORD nameLength = 256;
    wchar_t data[64];
    DWORD dataBytes = sizeof data;
    DWORD type = 0;
    const LONG result = RegEnumValueW(key, index, name, &nameLength, nullptr, &type,
                                      reinterpret_cast<BYTE*>(data), &dataBytes);
    if (result == ERROR_MORE_DATA) {
        text.clear();
        return true;
    }
    if (result != ERROR_SUCCESS) {
        return false;
    }
    text.clear();
    if (type == REG_SZ) {
        for (DWORD i = 0; i < dataBytes / sizeof(wchar_t) && data[i] != L'\0'; ++i) {
            text.push_back(data[i] < 0x80 ? static_cast<char>(data[i]) : '?');
        }
    }
    return true;
}
} // namespace

PortRoots PortRoots::system() {
    return PortRoots();
}

PortRoots PortRoots::linksOnly(const std::string&) {
    PortRoots roots;
    roots.serialCommKey.clear();
    return roots;
}

std::string defaultPortsFolder() {
    return std::string();
}

std::string resolvePortName(const std::string& name, const PortRoots&) {
    if (name.compare(0, 2, "\\\\") == 0) {
        return name;
    }
    const unsigned n = portNumber(name);
    return n == 0 ? std::string() : deviceOf(n);
}

std::vector<PortInfo> scanPorts(const PortRoots& roots) {
    std::vector<PortInfo> ports;
    if (roots.serialCommKey.empty()) {
        return ports;
    }
    HKEY root = HKEY_LOCAL_MACHINE;
    std::string path = roots.serialCommKey;
    if (path.compare(0, sizeof userKeyPrefix - 1, userKeyPrefix) == 0) {
        root = HKEY_CURRENT_USER;
        path.erase(0, sizeof userKeyPrefix - 1);
    }
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, wide(path).c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
        return ports;
    }
    // The values are named after the drivers' devices; their data is the
    // port name, which is all we list.
    std::vector<unsigned> numbers;
    std::string text;
    for (DWORD index = 0; valueText(key, index, text); ++index) {
        const unsigned n = portNumber(text);
        if (n != 0) {
            numbers.push_back(n);
        }
    }
    RegCloseKey(key);
    std::sort(numbers.begin(), numbers.end());
    numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
    for (const unsigned n : numbers) {
        ports.push_back(PortInfo{comPortName(n), deviceOf(n)});
    }
    return ports;
}
