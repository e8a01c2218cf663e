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
// The same, appended to text (no allocation per item once text has grown).
void appendBusItemText(std::string& text, const BusItem& item);
void appendBusItemJson(std::string& json, const BusItem& item);
std::string busItemCsvHeader();
std::string formatBusItemCsv(const BusItem& item);

// Counts for the summary at the end.
class MonitorStatistics {
public:
    void add(const BusItem& item);
    std::string text() const;
    std::string json() const;

private:
    unsigned blocks = 0;
    unsigned ok = 0;
    unsigned badCrc = 0;
    unsigned cutShort = 0;
    unsigned requests = 0; // address blocks
    unsigned answers = 0;  // answer data blocks
    unsigned noisePieces = 0;
    unsigned long long noiseBytes = 0;
};

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
