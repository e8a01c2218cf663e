#ifndef VELK_VELKCTL_VELKCTL_H
#define VELK_VELKCTL_VELKCTL_H

#include "CommandLine.h"
#include "DataBlock.h"
#include "OpenFailure.h"
#include "Velk21AddressBlockKernel.h"
#include "Velk21DataBlockKernel.h"

#include <chrono>
#include <ostream>
#include <string>

class StopSignals;
class Velk21Session;

// The request the command line describes, built as the dialog builds it.
struct VelkctlRequest {
    Velk21AddressBlockKernel address;
    Velk21DataBlockKernel data;
    DataBlock<unsigned char> extendedData;
};

VelkctlRequest buildRequest(const CommandLine& commandLine);

// Why the port could not be opened, for the one-line error message; why is
// the open's own reason with its figures (Velk21Session::openFailureDetail).
std::string portProblem(const std::string& port, const OpenFailureDetail& why);

// Follows a session's port from one exchange to the next and says on err
// when the device was lost and when its port opened again.
class PortWatch {
public:
    PortWatch(const Velk21Session& session, const std::string& port, std::ostream& err);
    // Call after each exchange.
    void afterExchange();
    bool reopened() const { return reopened_; } // opened again for the last exchange
    bool lost() const { return lost_; }         // lost during it
    // Lost for good: a pseudo-terminal named by its path never comes back.
    bool gone() const;

private:
    const Velk21Session& session;
    std::string shown;
    std::ostream& err;
    unsigned long openings;
    unsigned long losses;
    bool reopened_ = false;
    bool lost_ = false;
    std::chrono::steady_clock::time_point lostAt{};
};

// Opens the session, runs one exchange or a cyclic run and reports on out
// (errors and the CSV summary on err). Returns the exit status.
int runVelkctl(const CommandLine& commandLine, std::ostream& out, std::ostream& err,
               StopSignals& stop);

#endif
