#ifndef VELK_VELKCTL_SCANCOMMAND_H
#define VELK_VELKCTL_SCANCOMMAND_H

#include "CommandLine.h"

#include <ostream>
#include <string>

class StopSignals;

// Runs the scan and reports on out; progress goes to out only when
// progress is true (a terminal). Returns the exit status: 0 when a slave
// answered, 1 when none did, 74 when the port cannot be used, 128 + the
// signal that stopped it.
int runScan(const ScanOptions& options, std::ostream& out, std::ostream& err, StopSignals& stop,
            bool progress);

#endif
