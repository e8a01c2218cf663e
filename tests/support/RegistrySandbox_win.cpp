// Every Windows test program gets its own HKEY_CURRENT_USER, as every Linux
// test gets its own XDG_CONFIG_HOME: before main, the process's view of the
// key is moved to an emptied key named after the program, so no test reads or
// writes the user's settings and tests running side by side never meet.

#include <windows.h>

#include <string>

namespace {

std::wstring programName() {
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring name(path, length);
    const std::wstring::size_type slash = name.find_last_of(L"\\/");
    return slash == std::wstring::npos ? name : name.substr(slash + 1);
}

struct RegistrySandbox {
    RegistrySandbox() {
        const std::wstring path = L"Software\\VelkTestSandbox\\" + programName();
        RegDeleteTreeW(HKEY_CURRENT_USER, path.c_str());
        HKEY key = nullptr;
        if (RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &key, nullptr) != ERROR_SUCCESS ||
            RegOverridePredefKey(HKEY_CURRENT_USER, key) != ERROR_SUCCESS) {
            // Better no test than one on the user's own settings.
            ExitProcess(70);
        }
    }
};

const RegistrySandbox sandbox;

} // namespace
