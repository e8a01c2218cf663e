// velkctl's plan reader on arbitrary text, as JSON (fuzz_plan_json) or YAML
// (fuzz_plan_yaml). Every input is refused or accepted, within libFuzzer's
// time and memory limits whatever its aliases or nesting, and:
// - a refusal is one line, "p.json:LINE: reason" with LINE within the text
//   or "p.json: reason", and leaves the caller's plan as it was;
// - an accepted plan has steps, each with its request, every line noted
//   within the text;
// - JSON: nothing that nlohmann's own parser refuses is accepted;
// - the same text gives the same result twice.
//
// Input: the plan's text.

#include "FuzzInput.h"
#include "Plan.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <string>

namespace {

#ifdef FUZZ_PLAN_YAML
const bool yaml = true;
const std::string name = "p.yaml";
#else
const bool yaml = false;
const std::string name = "p.json";
#endif

bool inText(int line, int lines) {
    return line >= 1 && line <= lines;
}

// Lines as the syntax counts them: JSON breaks at LF only; YAML (1.1, as
// LibYAML reads it) at LF, CR, CR LF, NEL, LS and PS.
int lineCount(const std::string& text) {
    int lines = 1;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (!yaml) {
            lines += text[i] == '\n' ? 1 : 0;
        } else if (text[i] == '\n' || (text[i] == '\r' && text.compare(i, 2, "\r\n") != 0) ||
                   text.compare(i, 2, "\xC2\x85") == 0 || text.compare(i, 3, "\xE2\x80\xA8") == 0 ||
                   text.compare(i, 3, "\xE2\x80\xA9") == 0) {
            ++lines;
        }
    }
    return lines;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const int lines = lineCount(text);
    Plan plan;
    plan.port = "untouched";
    std::string error;
    const bool accepted = parsePlan(text, name, yaml, plan, error);

    if (!accepted) {
        FUZZ_CHECK(plan.port == "untouched" && plan.steps.empty());
        FUZZ_CHECK(error.compare(0, name.size() + 1, name + ":") == 0);
        FUZZ_CHECK(error.find('\n') == std::string::npos);
        const std::size_t digits = error.find_first_not_of("0123456789", name.size() + 1);
        if (digits != name.size() + 1) {
            FUZZ_CHECK(digits != std::string::npos && error.compare(digits, 2, ": ") == 0);
            FUZZ_CHECK(inText(std::stoi(error.substr(name.size() + 1)), lines));
        }
    } else {
        FUZZ_CHECK(error.empty());
        FUZZ_CHECK(!plan.steps.empty());
        for (const PlanStep& step : plan.steps) {
            FUZZ_CHECK(inText(step.line, lines) && inText(step.requestLine, lines));
            FUZZ_CHECK(!step.request.empty() && step.repeat >= 1);
            for (const PlanRequestOption& option : step.request) {
                FUZZ_CHECK(inText(option.line, lines));
            }
            for (const PlanExpectation& e : step.expectations) {
                FUZZ_CHECK(inText(e.line, lines) && e.tolerance >= 0);
            }
        }
        if (!yaml) {
            FUZZ_CHECK(nlohmann::json::accept(text, true));
        }
    }

    Plan again;
    std::string againError;
    FUZZ_CHECK(parsePlan(text, name, yaml, again, againError) == accepted);
    FUZZ_CHECK(againError == error && again.steps.size() == plan.steps.size());
    return 0;
}
