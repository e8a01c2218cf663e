#ifndef VELK_VELKCTL_RUNCOMMAND_H
#define VELK_VELKCTL_RUNCOMMAND_H

#include "CommandLine.h"
#include "ExchangeResult.h"
#include "Plan.h"

#include <ostream>
#include <string>
#include <utility>
#include <vector>

class StopSignals;

struct StepFailure {
    std::string field;
    std::string expected;
    std::string got;
    std::string text() const; // "field: expected X, got Y"
};

struct StepResult {
    unsigned number = 0; // from 1
    std::string name;
    bool run = false;
    bool passed = false;
    unsigned repeats = 0; // exchanges made
    double maxMs = 0;     // slowest response
    double seconds = 0;   // the whole step, delays included
    std::vector<StepFailure> failures;
};

// The answer field a capture or a check names, as text: bytes in hexadecimal
// without leading zeros, flags 0 or 1, data and ext as comma-separated bytes,
// "value:TYPE" as the typed value.
std::string stepAnswerField(const ExchangeResult& answer, const std::string& field);

// Checks the step's expectations against one answer; failures are added.
void checkStep(const PlanStep& step, const PlanVariables& variables, const ExchangeResult& answer,
               std::vector<StepFailure>& failures);

// A JUnit XML report: one testsuite for the plan, one testcase per step.
std::string junitReport(const Plan& plan, const std::vector<StepResult>& results, double seconds,
                        const std::string& timestamp);

// Loads, checks and runs the plan. Returns the exit status: 0 every step
// passed, 1 a step failed, 64 invalid plan, 74 the port or the report cannot
// be opened, 128 + the signal that stopped it. The report is written (an
// older one replaced) only once the plan has run.
int runPlan(const RunOptions& options, std::ostream& out, std::ostream& err, StopSignals& stop);

#endif
