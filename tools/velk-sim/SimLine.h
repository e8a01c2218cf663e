#ifndef VELK_SIMLINE_H
#define VELK_SIMLINE_H

#include <string>

// The simulator's end of the line: the master side of a pseudo-terminal (with
// its COMn link) or a real tty.
class SimLine {
public:
    SimLine() = default;
    SimLine(const SimLine&) = delete;
    SimLine& operator=(const SimLine&) = delete;
    ~SimLine();

    bool openPty(std::string& error);
    bool openDevice(const std::string& path, unsigned baud, std::string& error);

    // Creates folder/COMn pointing at the pseudo-terminal. Refuses a link (or
    // node) that leads to a live device; replaces a dangling link, and a link
    // to a pseudo-terminal left by a simulator that was killed. While it
    // runs, the simulator holds a lock on folder/.COMn.velk-sim.lock: a lock
    // file that nobody holds is how a killed one is told from a live one.
    bool createLink(const std::string& folder, int com, std::string& error);
    // Removes the link if it still points at this simulator's device, and
    // the lock.
    void removeLink();

    int fd() const { return lineFd; }
    bool isPty() const { return pty; }
    const std::string& device() const { return devicePath; }

    // Watch on the terminal's other side, -1 when none: a program that opened
    // it in exclusive mode and closed it again leaves the mode behind (the
    // terminal lives on while we hold it), which would lock out the next
    // non-root program. onWatch() drops that mode whenever the other side closes.
    int watchFd() const { return notifyFd; }
    void onWatch();

private:
    int lineFd = -1;
    int slaveFd = -1; // keeps the slave side open, so a closing peer never hangs up the master
    int notifyFd = -1;
    bool pty = false;
    std::string devicePath;
    std::string linkPath;
    int lockFd = -1;
    std::string lockPath;

    // Takes the lock of a COM number; leftOver tells whether its file was
    // there already (left by a simulator that was killed).
    bool lock(const std::string& path, bool& leftOver, std::string& error);
};

#endif
