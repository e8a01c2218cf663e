#pragma once

#include <string>
#include <vector>

// The operating-system services behind the platform utilities. The utilities keep their
// logic (order of steps, values, results) and reach the system only through this
// interface, so tests can run them against a fake. One layer per system, chosen by the
// build: WinSystemLayer makes the Win32 calls themselves, PosixSystemLayer provides each
// service on Linux as tabled in PosixSystemLayer.h. Paths are wide strings, as Windows
// takes them; on Linux they are passed on as UTF-8.
class ISystemLayer {
public:
    struct ProcessOutcome {
        enum Status { NotStarted, TimedOut, Crashed, Exited };
        Status status = NotStarted;
        int exitCode = -1;
    };

    // The cache settings of a drive as the layer read them: record is the layer's own
    // copy, written back unchanged but for the write-cache flag.
    struct DriveCache {
        bool writeCacheEnabled = false;
        std::vector<unsigned char> record;
    };

    virtual ~ISystemLayer() = default;

    // Gains the right to restart the machine for this process: 0, or the system's error
    // code when it cannot be had.
    virtual unsigned enableRestart() = 0;
    virtual void syncFileSystems() = 0;
    // Asks for a forced restart at once: the system's error code (0: accepted).
    virtual unsigned restart() = 0;

    // The name of the file system holding root ("NTFS", "ntfs3", "ext4"); false when it
    // cannot be told.
    virtual bool fileSystemName(const std::wstring& root, std::string& name) = 0;

    // Reads the cache settings of the drive named by letter; false when the drive cannot
    // be opened or asked.
    virtual bool readDriveCache(wchar_t letter, DriveCache& cache) = 0;
    // Writes settings that readDriveCache gave back to the drive.
    virtual bool writeDriveCache(wchar_t letter, const DriveCache& cache) = 0;

    virtual bool fileExists(const std::wstring& path) = 0;
    // Starts program with no input and its output discarded, waits at most timeoutMs for
    // the start and then at most timeoutMs for its end; a process still running then is
    // killed.
    virtual ProcessOutcome runProcess(const std::wstring& program,
                                      const std::vector<std::wstring>& arguments,
                                      int timeoutMs) = 0;

    // Blanks the console (terminal) that standard output shows on and puts the cursor
    // home; false when standard output is none or a step fails.
    virtual bool clearConsole() = 0;
    // Sets the Russian locale, gives the process a console (its terminal) and reopens
    // stdout, stdin and stderr on it, unbuffered; false when there is none to be had or a
    // stream cannot be reopened.
    virtual bool attachConsole() = 0;
};

// The real system.
ISystemLayer& systemLayer();
