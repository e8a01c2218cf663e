#include "PortNames.h"

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
struct TableRange {
    unsigned first;
    unsigned last;
    const char* device;
};

const TableRange table[] = {
    {1, 32, "ttyS"},      {33, 96, "ttyUSB"},   {97, 160, "ttyACM"},
    {161, 192, "ttyAMA"}, {193, 224, "ttymxc"},
};

enum class LinkState { None, Device, Dangling };

// The entry COMn of the ports folder: a link or a device node; anything else
// there is not ours and is ignored.
LinkState portsFolderEntry(const PortRoots& roots, unsigned n, std::string& device) {
    if (roots.portsFolder.empty()) {
        return LinkState::None;
    }
    const std::string entry = roots.portsFolder + "/" + comPortName(n);
    struct stat info {};
    if (lstat(entry.c_str(), &info) != 0) {
        return LinkState::None;
    }
    if (S_ISCHR(info.st_mode)) {
        device = entry;
        return LinkState::Device;
    }
    if (!S_ISLNK(info.st_mode)) {
        return LinkState::None;
    }
    char resolved[PATH_MAX];
    if (realpath(entry.c_str(), resolved) != nullptr) {
        device = resolved;
        return LinkState::Device;
    }
    // Dangling: the link still names the port, the device is just absent.
    std::string target(PATH_MAX, '\0');
    const ssize_t length = readlink(entry.c_str(), &target[0], target.size());
    target.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
    device = (!target.empty() && target[0] == '/') ? target : roots.portsFolder + "/" + target;
    return LinkState::Dangling;
}

// ttyS nodes exist for every possible legacy port; sysfs tells whether a
// UART is behind one (type 0 = none).
bool uartPresent(const PortRoots& roots, unsigned index) {
    std::ifstream file(roots.sysRoot + "/class/tty/ttyS" + std::to_string(index) + "/type");
    int type = 0;
    return static_cast<bool>(file >> type) && type != 0;
}

std::string tableDevice(const PortRoots& roots, unsigned n) {
    for (const TableRange& range : table) {
        if (n >= range.first && n <= range.last) {
            const unsigned index = n - range.first;
            if (range.first == 1 && !uartPresent(roots, index)) {
                return std::string();
            }
            return roots.devRoot + "/" + range.device + std::to_string(index);
        }
    }
    return std::string();
}

std::string homeFolder() {
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] != '\0') {
        return home;
    }
    const passwd* user = getpwuid(getuid());
    return user != nullptr && user->pw_dir != nullptr ? user->pw_dir : std::string();
}
} // namespace

PortRoots PortRoots::system() {
    PortRoots roots;
    roots.portsFolder = defaultPortsFolder();
    return roots;
}

PortRoots PortRoots::linksOnly(const std::string& configHome) {
    PortRoots roots;
    roots.devRoot = configHome + "/fake-dev";
    roots.sysRoot = configHome + "/fake-sys";
    roots.portsFolder = configHome + "/ORBEK/ports";
    std::error_code ignored;
    for (const std::string& folder : {roots.devRoot, roots.sysRoot, roots.portsFolder}) {
        std::filesystem::create_directories(folder, ignored);
    }
    return roots;
}

std::string defaultPortsFolder() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    // Relative values are invalid by the XDG rules and are ignored.
    const std::string base =
        (config != nullptr && config[0] == '/') ? std::string(config) : homeFolder() + "/.config";
    return base + "/ORBEK/ports";
}

std::string resolvePortName(const std::string& name, const PortRoots& roots) {
    if (!name.empty() && name[0] == '/') {
        return name;
    }
    const unsigned n = portNumber(name);
    if (n == 0) {
        return std::string();
    }
    std::string device;
    if (portsFolderEntry(roots, n, device) != LinkState::None) {
        return device;
    }
    return tableDevice(roots, n);
}

std::vector<PortInfo> scanPorts(const PortRoots& roots) {
    std::vector<PortInfo> ports;
    for (unsigned n = 1; n <= lastComPort; ++n) {
        std::string device;
        const LinkState link = portsFolderEntry(roots, n, device);
        if (link == LinkState::Dangling) {
            continue;
        }
        if (link == LinkState::None) {
            device = tableDevice(roots, n);
            struct stat info {};
            if (device.empty() || stat(device.c_str(), &info) != 0) {
                continue;
            }
        }
        ports.push_back(PortInfo{comPortName(n), device});
    }
    return ports;
}
