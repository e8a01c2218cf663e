#ifndef VELK_VELKCTL_EXCHANGEOUTPUT_H
#define VELK_VELKCTL_EXCHANGEOUTPUT_H

#include "ExchangeResult.h"
#include "ExchangeStatistics.h"
#include "HexBytes.h"
#include "ToolText.h"

#include <chrono>
#include <string>

// Milliseconds with three decimals: "12.345".
std::string msText(double ms);

// Local time with milliseconds and UTC offset, e.g. 2024-05-01T12:34:56.789+02:00.
std::string isoTimestamp(std::chrono::system_clock::time_point time);

// The text of a session error code.
std::string errorText(int code);

// One CSV field, quoted when it holds a comma, a quote or a line break.
std::string csvField(const std::string& text);

// The fields of a data block record: "code 3, index 1, ..., data 1 2 0 0" and
// as a JSON object (bytes as hexadecimal strings, flags as 0 or 1).
std::string dataFieldsText(const Velk21DataBlockKernel& kernel);
std::string dataFieldsJson(const Velk21DataBlockKernel& kernel);
void appendDataFieldsText(std::string& text, const Velk21DataBlockKernel& kernel);
void appendDataFieldsJson(std::string& json, const Velk21DataBlockKernel& kernel);

// What a report of one exchange adds to its result.
struct ExchangeLabel {
    unsigned sequence = 0; // from 1
    std::string port;
    int rxType = 0; // type of the typed value of the answer's data bytes; 0: none
};

std::string formatText(const ExchangeResult& result, const ExchangeLabel& label); // lines
std::string formatJson(const ExchangeResult& result, const ExchangeLabel& label); // one line
std::string csvHeader();                                                          // one line
std::string formatCsv(const ExchangeResult& result, const ExchangeLabel& label);  // one line

std::string formatSummaryText(const ExchangeStatistics& statistics);
std::string formatSummaryJson(const ExchangeStatistics& statistics, const std::string& port);

#endif
