#include "CommandLine.h"
#include "MonitorCommand.h"
#include "RunCommand.h"
#include "ScanCommand.h"
#include "StopSignals.h"
#include "Velkctl.h"

#include <iostream>
#include <unistd.h>

#ifndef VELKCTL_VERSION
#define VELKCTL_VERSION "unknown"
#endif

int main(int argc, char* argv[]) {
    Invocation in;
    std::string error;
    const char* const names[] = {"", "scan ", "monitor ", "run "};
    switch (parseVelkctl(argc, argv, in, error)) {
    case ParseResult::Help:
        // The whole help, every command included: the manual page is made from it.
        std::cout << velkctlHelp(in.command);
        if (in.command == Command::Single) {
            for (Command c : {Command::Scan, Command::Monitor, Command::Run}) {
                std::cout << "\n" << velkctlHelp(c);
            }
        }
        return 0;
    case ParseResult::Version:
        std::cout << "velkctl " VELKCTL_VERSION "\n";
        return 0;
    case ParseResult::UsageError:
        std::cerr << "velkctl: " << error << "\nTry 'velkctl " << names[int(in.command)]
                  << "--help'.\n";
        return velkctlExitUsage;
    case ParseResult::Run:
        break;
    }
    // Before the session starts the port's threads, so that they inherit the mask.
    StopSignals stop;
    switch (in.command) {
    case Command::Scan:
        return runScan(in.scan, std::cout, std::cerr, stop, isatty(STDOUT_FILENO) == 1);
    case Command::Monitor:
        return in.monitor.replayFile.empty()
                   ? runMonitor(in.monitor, std::cout, std::cerr, stop)
                   : replayCapture(in.monitor, std::cout, std::cerr, stop);
    case Command::Run:
        return runPlan(in.run, std::cout, std::cerr, stop);
    case Command::Single:
        break;
    }
    return runVelkctl(in.single, std::cout, std::cerr, stop);
}
