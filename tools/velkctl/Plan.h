#ifndef VELK_VELKCTL_PLAN_H
#define VELK_VELKCTL_PLAN_H

#include <cstddef>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

// A test plan for velkctl run, as read from a JSON (comments allowed) or
// YAML file and checked as a whole before anything is sent.

// One check on the answer of a step.
struct PlanExpectation {
    std::string field;    // "error", "code", ..., "data", "ext", "ext_count", "value", "max_ms"
    std::string expected; // text as in the plan; may name variables as ${name}
    int type = 0;         // value: parameter type code
    double tolerance = 0; // value: largest difference allowed
    int line = 0;
};

// One option of a step's request, as on the command line: the name without
// "--" and the argument ("" for a flag), with the line it stands on.
struct PlanRequestOption {
    std::string name;
    std::string value;
    int line = 0;
};

struct PlanStep {
    std::string name;
    int line = 0;
    std::vector<PlanRequestOption> request;
    int requestLine = 0;
    std::vector<PlanExpectation> expectations;
    // Variable name -> answer field ("code", "data", "ext", "value:REAL32", ...).
    std::vector<std::pair<std::string, std::string>> captures;
    unsigned repeat = 1;
    unsigned delayMs = 0; // before each exchange
    int timeoutMs = -1;   // byte time-out of this step; -1: the plan's
};

struct Plan {
    std::string file;
    std::string port;      // "" when the plan names none
    unsigned baudRate = 0; // 0: the plan names none
    unsigned timeoutMs = 150;
    unsigned restarts = 0;
    std::vector<PlanStep> steps;
};

// Variables captured from answers, by name.
using PlanVariables = std::map<std::string, std::string>;

// Asked now and then while a plan loads: true gives up the load.
using PlanStop = std::function<bool()>;

// A plan file larger than this is refused before it is read.
constexpr std::size_t maxPlanBytes = 16 * 1024 * 1024;

// Reads and checks a plan file: JSON, or YAML when the name ends in .yaml or
// .yml (where velkctl was built with YAML support). On failure, error reads
// "FILE:LINE: reason" (no line when the file cannot be read), or
// "FILE: stopped while loading" when stop said so; one line, the control
// characters of quoted plan text escaped.
bool loadPlan(const std::string& path, Plan& plan, std::string& error,
              const PlanStop& stop = nullptr);
// The same for plan text already in memory; name stands for the file.
bool parsePlan(const std::string& text, const std::string& name, bool yaml, Plan& plan,
               std::string& error, const PlanStop& stop = nullptr);

// Whether velkctl reads YAML plans.
bool planYamlSupported();

// Replaces each ${name} in text by the variable's value. False (with the
// reason) when a name has no value.
bool substitutePlanVariables(const std::string& text, const PlanVariables& variables,
                             std::string& out, std::string& error);

#endif
