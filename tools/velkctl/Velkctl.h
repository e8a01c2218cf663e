#ifndef VELK_VELKCTL_VELKCTL_H
#define VELK_VELKCTL_VELKCTL_H

#include "CommandLine.h"
#include "ExchangeRunner.h"
#include "OpenFailure.h"

#include <ostream>
#include <string>

class StopSignals;
class Velk21Session;

// Why the port could not be opened, for the one-line error message; why is
// the open's own reason with its figures (Velk21Session::openFailureDetail).
std::string portProblem(const std::string& port, const OpenFailureDetail& why);

// Opens the session for a command; says why on err when it cannot.
bool openSession(Velk21Session& session, const std::string& port, std::ostream& err);

// Says on err when an exchange found the port lost or opened again.
void reportPort(const ExchangeResult& result, const Velk21Session& session, const std::string& port,
                std::ostream& err);

// The records of a command start with the header of a CSV table; the
// summary ends them (text with its line breaks, or one JSON line), on
// standard error after a CSV table, so that standard output stays one table.
void startRecords(const Output& output, std::ostream& out, const std::string& csvHeader);
void endRecords(const Output& output, std::ostream& out, std::ostream& err, const std::string& text,
                const std::string& json);

// A stop signal ends the run at once, the exchange in flight included, for
// as long as it lives.
class StopRun {
public:
    StopRun(StopSignals& signals, ExchangeRunner& runner);
    ~StopRun();
    StopRun(const StopRun&) = delete;
    StopRun& operator=(const StopRun&) = delete;
    // The exit status of a run stopped by a signal (128 + its number), or fallback.
    int status(int fallback) const;

private:
    StopSignals& signals;
};

// Opens the session, runs one exchange or a cyclic run and reports on out
// (errors and the CSV summary on err). Returns the exit status.
int runVelkctl(const CommandLine& commandLine, std::ostream& out, std::ostream& err,
               StopSignals& stop);

#endif
