#include "CommandLine.h"
#include "StopSignals.h"
#include "Velkctl.h"

#include <iostream>

#ifndef VELKCTL_VERSION
#define VELKCTL_VERSION "unknown"
#endif

int main(int argc, char* argv[]) {
    CommandLine commandLine;
    std::string error;
    switch (parseCommandLine(argc, argv, commandLine, error)) {
    case ParseResult::Help:
        std::cout << velkctlUsage();
        return 0;
    case ParseResult::Version:
        std::cout << "velkctl " VELKCTL_VERSION "\n";
        return 0;
    case ParseResult::UsageError:
        std::cerr << "velkctl: " << error << "\nTry 'velkctl --help'.\n";
        return velkctlExitUsage;
    case ParseResult::Run:
        break;
    }
    // Before the session starts the port's threads, so that they inherit the mask.
    StopSignals stop;
    return runVelkctl(commandLine, std::cout, std::cerr, stop);
}
