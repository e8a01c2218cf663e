#ifndef VELK_VELKCTL_MONITORCOMMAND_H
#define VELK_VELKCTL_MONITORCOMMAND_H

#include "BusDecoder.h"
#include "CommandLine.h"

#include <ostream>
#include <string>

class StopSignals;

// velkctl monitor: decode what is on the line, live or from a capture.
struct MonitorOptions {
    std::string port;
    unsigned baudRate = 115200;
    std::string rawFile;    // --raw: also save the bytes
    std::string replayFile; // --replay: decode this capture instead of a port
    unsigned idleMs = 150;
    unsigned durationMs = 0; // 0: until stopped
    OutputMode mode = OutputMode::Text;
    bool quiet = false;
};

// Exit status for a capture that cannot be decoded.
constexpr int velkctlExitBadCapture = 65;

ParseResult parseMonitorCommandLine(int argc, char* argv[], MonitorOptions& out,
                                    std::string& error);
const char* monitorUsage();

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

// Decodes a capture file (--replay) and reports on out. Returns the exit status.
int replayCapture(const MonitorOptions& options, std::ostream& out, std::ostream& err);

// Watches the port until stopped or the duration has passed, never writing
// to it and never raising RTS. Returns the exit status.
int runMonitor(const MonitorOptions& options, std::ostream& out, std::ostream& err,
               StopSignals& stop);

#endif
