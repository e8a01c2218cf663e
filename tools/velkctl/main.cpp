#include "CommandLine.h"
#include "MonitorCommand.h"
#include "RunCommand.h"
#include "ScanCommand.h"
#include "StopSignals.h"
#include "Velkctl.h"

#include <cstring>
#include <iostream>
#include <unistd.h>

#ifndef VELKCTL_VERSION
#define VELKCTL_VERSION "unknown"
#endif

namespace {

// The whole help, every command included: the manual page is made from it.
void printHelp() {
    std::cout << velkctlUsage() << "\n"
              << scanUsage() << "\n"
              << monitorUsage() << "\n"
              << runUsage();
}

int usageError(const char* command, const std::string& error) {
    std::cerr << "velkctl: " << error << "\nTry 'velkctl " << command << "--help'.\n";
    return velkctlExitUsage;
}

int scanMain(int argc, char* argv[]) {
    ScanOptions options;
    std::string error;
    switch (parseScanCommandLine(argc, argv, options, error)) {
    case ParseResult::Help:
        std::cout << scanUsage();
        return 0;
    case ParseResult::UsageError:
        return usageError("scan ", error);
    case ParseResult::Version:
    case ParseResult::Run:
        break;
    }
    StopSignals stop;
    return runScan(options, std::cout, std::cerr, stop, isatty(STDOUT_FILENO) == 1);
}

int monitorMain(int argc, char* argv[]) {
    MonitorOptions options;
    std::string error;
    switch (parseMonitorCommandLine(argc, argv, options, error)) {
    case ParseResult::Help:
        std::cout << monitorUsage();
        return 0;
    case ParseResult::UsageError:
        return usageError("monitor ", error);
    case ParseResult::Version:
    case ParseResult::Run:
        break;
    }
    if (!options.replayFile.empty()) {
        return replayCapture(options, std::cout, std::cerr);
    }
    StopSignals stop;
    return runMonitor(options, std::cout, std::cerr, stop);
}

int runMain(int argc, char* argv[]) {
    RunOptions options;
    std::string error;
    switch (parseRunCommandLine(argc, argv, options, error)) {
    case ParseResult::Help:
        std::cout << runUsage();
        return 0;
    case ParseResult::UsageError:
        return usageError("run ", error);
    case ParseResult::Version:
    case ParseResult::Run:
        break;
    }
    StopSignals stop;
    return runPlan(options, std::cout, std::cerr, stop);
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc > 1 && std::strcmp(argv[1], "scan") == 0) {
        return scanMain(argc - 1, argv + 1);
    }
    if (argc > 1 && std::strcmp(argv[1], "monitor") == 0) {
        return monitorMain(argc - 1, argv + 1);
    }
    if (argc > 1 && std::strcmp(argv[1], "run") == 0) {
        return runMain(argc - 1, argv + 1);
    }
    CommandLine commandLine;
    std::string error;
    switch (parseCommandLine(argc, argv, commandLine, error)) {
    case ParseResult::Help:
        printHelp();
        return 0;
    case ParseResult::Version:
        std::cout << "velkctl " VELKCTL_VERSION "\n";
        return 0;
    case ParseResult::UsageError:
        return usageError("", error);
    case ParseResult::Run:
        break;
    }
    // Before the session starts the port's threads, so that they inherit the mask.
    StopSignals stop;
    return runVelkctl(commandLine, std::cout, std::cerr, stop);
}
