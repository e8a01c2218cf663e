#ifndef VELK_VELKCTL_SCANCOMMAND_H
#define VELK_VELKCTL_SCANCOMMAND_H

#include "CommandLine.h"
#include "DataBlock.h"
#include "ExchangeResult.h"
#include "Velk21DataBlockKernel.h"

#include <ostream>
#include <string>

class StopSignals;

// How one address ended.
struct ScanEntry {
    enum class Result { Answered, Silent, Faulty };
    Result result = Result::Silent;
    unsigned char levels[2] = {0, 0};
    unsigned attempts = 0;
    std::string reason;  // Faulty: "bad CRC", "cut short", "noise before the answer", ...
    ExchangeResult last; // of the last attempt
};

// Why an exchange that got bytes back failed: for code 6 what came off the
// line (noise before the answer, or the data block's verdict), the extended
// block's trouble for 7 and 8.
std::string scanFaultReason(int errorCode, const DataBlock<unsigned char>& rxDataPacket);

std::string formatScanText(const ScanEntry& entry);
std::string formatScanJson(const ScanEntry& entry);
std::string scanCsvHeader();
std::string formatScanCsv(const ScanEntry& entry);

// Runs the scan and reports on out; progress goes to out only when
// progress is true (a terminal). Returns the exit status: 0 when a slave
// answered, 1 when none did, 74 when the port cannot be used, 128 + the
// signal that stopped it.
int runScan(const ScanOptions& options, std::ostream& out, std::ostream& err, StopSignals& stop,
            bool progress);

#endif
