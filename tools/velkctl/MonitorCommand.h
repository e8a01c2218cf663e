#ifndef VELK_VELKCTL_MONITORCOMMAND_H
#define VELK_VELKCTL_MONITORCOMMAND_H

#include "BusDecoder.h"
#include "CommandLine.h"

#include <ostream>
#include <string>

class StopSignals;

// One line per item (without the line break).
std::string formatBusItemText(const BusItem& item);
std::string formatBusItemJson(const BusItem& item);

// Decodes a capture file (--replay) and reports on out. Returns the exit
// status (128 + the signal when one stopped it).
int replayCapture(const MonitorOptions& options, std::ostream& out, std::ostream& err,
                  StopSignals& stop);

// Watches the port until stopped or the duration has passed, never writing
// to it and never raising RTS. Returns the exit status (128 + the signal
// when one stopped it).
int runMonitor(const MonitorOptions& options, std::ostream& out, std::ostream& err,
               StopSignals& stop);

#endif
