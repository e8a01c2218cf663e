#ifndef VELK_PORTNAMES_H
#define VELK_PORTNAMES_H

#include <string>
#include <vector>

// COM port names (COM1 ... COM254) and the devices they stand for.
//
// Windows: a name stands for the device \\.\COMn, and the scan lists the
// ports of the registry's SERIALCOMM key.
//
// Linux: a name resolves, in this order, through
//  1. an entry COMn in the ports folder (a symbolic link to any tty, or a
//     device node), which wins whatever it points at;
//  2. the fixed table, so that a saved name always means the same device:
//     COM1-32 ttyS0-31 (only where sysfs shows a UART), COM33-96 ttyUSB0-63,
//     COM97-160 ttyACM0-63, COM161-192 ttyAMA0-31, COM193-224 ttymxc0-31,
//     COM225-254 links only.
// An absolute path (Windows: a path beginning with \\) names a device as it is.

struct PortInfo {
    std::string name;   // "COM5"
    std::string device; // "/dev/ttyUSB0"
};

// Where the look-up happens; tests point these at a fake tree or key.
struct PortRoots {
    // Linux.
    std::string devRoot = "/dev";
    std::string sysRoot = "/sys";
    std::string portsFolder;
    // Windows: the key whose values name the ports, under HKEY_LOCAL_MACHINE,
    // or under HKEY_CURRENT_USER when it begins with "HKCU\\". Empty: none.
    std::string serialCommKey = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
    // The real roots and defaultPortsFolder().
    static PortRoots system();
    // Empty /dev and /sys trees and the ports folder under configHome (all
    // created), so that only links in that ports folder are listed: for
    // tests, benchmarks and screenshots that must never see a real device.
    // Windows: no key, so nothing is listed.
    static PortRoots linksOnly(const std::string& configHome);
};

// $XDG_CONFIG_HOME/ORBEK/ports, or ~/.config/ORBEK/ports; empty on Windows.
std::string defaultPortsFolder();

constexpr unsigned lastComPort = 254;

// "COMn".
std::string comPortName(unsigned n);

// The number n of a name "COMn" (1 ... 254, "com" in any case), 0 otherwise.
unsigned portNumber(const std::string& name);

// The device path of a COM name, an absolute path unchanged, "" when the
// name stands for nothing.
std::string resolvePortName(const std::string& name, const PortRoots& roots = PortRoots::system());

// Every COM name whose device exists, in ascending number, with its device.
// Devices held by another program or not readable by this user are listed
// too. Looks at the file system (Windows: the registry) only: no device is
// opened, since opening a port raises its modem lines on a bus that someone
// else may be driving.
std::vector<PortInfo> scanPorts(const PortRoots& roots = PortRoots::system());

#endif
