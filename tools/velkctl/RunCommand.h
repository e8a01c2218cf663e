#ifndef VELK_VELKCTL_RUNCOMMAND_H
#define VELK_VELKCTL_RUNCOMMAND_H

#include "CommandLine.h"
#include "DataBlock.h"
#include "Plan.h"
#include "Velk21DataBlockKernel.h"

#include <ostream>
#include <string>
#include <utility>
#include <vector>

class StopSignals;

// velkctl run PLAN: test plans for device CI.
struct RunOptions {
    std::string planFile;
    std::string port; // overrides the plan's
    unsigned baudRate = 0;
    std::string junitFile;
    OutputMode mode = OutputMode::Text;
    bool quiet = false;
};

ParseResult parseRunCommandLine(int argc, char* argv[], RunOptions& out, std::string& error);
const char* runUsage();

using PlanVariables = std::vector<std::pair<std::string, std::string>>;

// What one exchange of a step brought back.
struct StepAnswer {
    int errorCode = 0;
    bool decoded = false; // codes 0, 7 and 8
    Velk21DataBlockKernel data;
    DataBlock<unsigned char> extended;
    double responseMs = 0;
};

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
std::string stepAnswerField(const StepAnswer& answer, const std::string& field);

// Checks the step's expectations against one answer; failures are added.
void checkStep(const PlanStep& step, const PlanVariables& variables, const StepAnswer& answer,
               std::vector<StepFailure>& failures);

std::string formatStepText(const StepResult& result);
std::string formatStepJson(const StepResult& result);

// A JUnit XML report: one testsuite for the plan, one testcase per step.
std::string junitReport(const Plan& plan, const std::vector<StepResult>& results, double seconds,
                        const std::string& timestamp);
// Text for XML character data and attribute values.
std::string xmlEscape(const std::string& text);

// Loads, checks and runs the plan. Returns the exit status: 0 every step
// passed, 1 a step failed (or the run was stopped), 64 invalid plan, 74 the
// port or the report cannot be opened.
int runPlan(const RunOptions& options, std::ostream& out, std::ostream& err, StopSignals& stop);

#endif
