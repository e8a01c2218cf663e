#ifndef VELK_VELKCTL_VELKCTL_H
#define VELK_VELKCTL_VELKCTL_H

#include "CommandLine.h"
#include "DataBlock.h"
#include "OpenFailure.h"
#include "Velk21AddressBlockKernel.h"
#include "Velk21DataBlockKernel.h"

#include <ostream>
#include <string>

class StopSignals;

// The request the command line describes, built as the dialog builds it.
struct VelkctlRequest {
    Velk21AddressBlockKernel address;
    Velk21DataBlockKernel data;
    DataBlock<unsigned char> extendedData;
};

VelkctlRequest buildRequest(const CommandLine& commandLine);

// Why the port could not be opened, for the one-line error message; why is
// the open's own reason (Velk21Session::openFailure).
std::string portProblem(const std::string& port, OpenFailure why);

// Opens the session, runs one exchange or a cyclic run and reports on out
// (errors and the CSV summary on err). Returns the exit status.
int runVelkctl(const CommandLine& commandLine, std::ostream& out, std::ostream& err,
               StopSignals& stop);

#endif
