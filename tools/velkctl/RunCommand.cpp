#include "RunCommand.h"

#include "ExchangeOutput.h"
#include "StopSignals.h"
#include "UserValue.h"
#include "Velk21Session.h"
#include "Velkctl.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string_view>

namespace {

bool sameBytes(const std::string& expected, const std::string& got) {
    std::vector<unsigned char> a;
    std::vector<unsigned char> b;
    const bool aOk = expected.empty() || parseHexList(expected, 0xFF, a);
    const bool bOk = got.empty() || parseHexList(got, 0xFF, b);
    return aOk && bOk && a == b;
}

// The request of a step with the variables filled in, converted by the
// command line's own definitions; false with the reason when it is invalid.
bool stepRequest(const Plan& plan, const PlanStep& step, const PlanVariables& variables,
                 ExchangeRequest& request, std::string& error) {
    RequestOptions options;
    for (const PlanRequestOption& option : step.request) {
        std::string value;
        if (!substitutePlanVariables(option.value, variables, value, error) ||
            !applyRequestOption(options, option.name, value, error)) {
            return false;
        }
    }
    if (!finishRequest(options, error)) {
        return false;
    }
    request = exchangeRequest(
        options, step.timeoutMs >= 0 ? unsigned(step.timeoutMs) : plan.timeoutMs, plan.restarts);
    return true;
}

// "field: expected X, got Y; ..."
std::string failuresText(const StepResult& r) {
    std::string text;
    for (const StepFailure& f : r.failures) {
        text += (text.empty() ? "" : "; ") + f.text();
    }
    return text;
}

const char* resultName(const StepResult& r) {
    return !r.run ? "not run" : (r.passed ? "pass" : "fail");
}

std::string formatStepText(const StepResult& r) {
    std::string text = std::string(!r.run ? "SKIP" : (r.passed ? "PASS" : "FAIL")) + "  " +
                       std::to_string(r.number) + " " + r.name;
    if (!r.run) {
        return text + ": not run";
    }
    text += " (" + std::to_string(r.repeats) + (r.repeats == 1 ? " exchange" : " exchanges") +
            ", max " + msText(r.maxMs) + " ms)";
    return r.failures.empty() ? text : text + ": " + failuresText(r);
}

std::string formatStepJson(const StepResult& r) {
    std::string json = "{\"type\":\"step\",\"step\":" + std::to_string(r.number) +
                       ",\"name\":" + jsonString(r.name) + ",\"result\":\"" + resultName(r) +
                       "\",\"exchanges\":" + std::to_string(r.repeats) +
                       ",\"max_ms\":" + msText(r.maxMs) + ",\"failures\":[";
    for (const StepFailure& f : r.failures) {
        json += std::string(json.back() == '[' ? "" : ",") + "{\"field\":" + jsonString(f.field) +
                ",\"expected\":" + jsonString(f.expected) + ",\"got\":" + jsonString(f.got) + "}";
    }
    return json + "]}";
}

std::string formatStepCsv(const StepResult& r) {
    return std::to_string(r.number) + "," + csvField(r.name) + "," + resultName(r) + "," +
           std::to_string(r.repeats) + "," + msText(r.maxMs) + "," + csvField(failuresText(r));
}

// Text for XML character data and attribute values.
std::string xmlEscape(const std::string& text) {
    const char* const entities[] = {"&amp;", "&lt;", "&gt;", "&quot;", "&apos;"};
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        const std::size_t entity = std::string_view("&<>\"'").find(c);
        if (entity != std::string_view::npos) {
            out += entities[entity];
        } else if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r') {
            out += "\xEF\xBF\xBD"; // U+FFFD: XML 1.0 has no place for other control characters
        } else {
            out += c;
        }
    }
    return out;
}

// Steps that passed, failed, and were not run.
struct Tally {
    unsigned passed = 0;
    unsigned failed = 0;
    unsigned notRun = 0;
};

Tally tally(const std::vector<StepResult>& results) {
    Tally t;
    for (const StepResult& r : results) {
        ++(r.passed ? t.passed : (r.run ? t.failed : t.notRun));
    }
    return t;
}

// Whether the report can be written, without touching one that is there.
bool reportWritable(const std::string& path) {
    std::ifstream existing(path);
    std::ofstream file(path, existing ? std::ios::app : std::ios::out);
    const bool writable = file.is_open();
    file.close();
    if (!existing && writable) {
        std::remove(path.c_str()); // made only to try
    }
    return writable;
}

} // namespace

std::string StepFailure::text() const {
    return field + ": expected " + expected + ", got " + got;
}

std::string stepAnswerField(const ExchangeResult& a, const std::string& field) {
    std::string text;
    for (const AnswerField& f : answerFields(a.answer)) {
        if (field == f.name) {
            appendAnswerField(text, f);
        }
    }
    if (field == "data") {
        return hexBytes(a.answer.data, 4, ',');
    }
    if (field == "ext") {
        return hexBytes(a.extendedData, ',');
    }
    if (field == "ext_count") {
        return std::to_string(a.extendedData.size());
    }
    if (field.compare(0, 6, "value:") == 0) {
        return typedValueText(a.answer.data, parameterTypeCode(field.substr(6)));
    }
    return text;
}

void checkStep(const PlanStep& step, const PlanVariables& variables, const ExchangeResult& answer,
               std::vector<StepFailure>& failures) {
    const std::string code = std::to_string(answer.code()) + " (" + errorText(answer.code()) + ")";
    const bool errorChecked =
        std::any_of(step.expectations.begin(), step.expectations.end(),
                    [](const PlanExpectation& e) { return e.field == "error"; });
    if (!errorChecked && answer.code() != 0) {
        failures.push_back({"error", "0", code});
    }
    for (const PlanExpectation& e : step.expectations) {
        std::string expected;
        std::string why;
        if (!substitutePlanVariables(e.expected, variables, expected, why)) {
            failures.push_back({e.field, e.expected, why});
            continue;
        }
        if (e.field == "error") {
            if (expected != std::to_string(answer.code())) {
                failures.push_back({"error", expected, code});
            }
        } else if (e.field == "max_ms") {
            if (answer.responseMs > e.tolerance) {
                failures.push_back(
                    {"max_ms", "at most " + expected + " ms", msText(answer.responseMs) + " ms"});
            }
        } else if (!answer.answerDecoded()) {
            failures.push_back({e.field, expected, "no answer, code " + code});
        } else if (e.field == "value") {
            const std::string got = typedValueText(answer.answer.data, e.type);
            const double value = std::strtod(got.c_str(), nullptr);
            const double wanted = std::strtod(expected.c_str(), nullptr);
            if (!(std::fabs(value - wanted) <= e.tolerance)) {
                failures.push_back({"value",
                                    expected + " +/- " + std::to_string(e.tolerance) + " (" +
                                        parameterTypeName(e.type) + ")",
                                    got});
            }
        } else {
            const std::string got = stepAnswerField(answer, e.field);
            unsigned want = 0;
            unsigned have = 0;
            const bool same = e.field == "data" || e.field == "ext" ? sameBytes(expected, got)
                              : e.field == "ext_count"
                                  ? expected == got
                                  : parseHexNumber(expected, 0xFF, want) &&
                                        parseHexNumber(got, 0xFF, have) && want == have;
            if (!same) {
                failures.push_back({e.field, expected, got});
            }
        }
    }
}

std::string junitReport(const Plan& plan, const std::vector<StepResult>& results, double seconds,
                        const std::string& timestamp) {
    const Tally t = tally(results);
    const std::string counts = " tests=\"" + std::to_string(results.size()) + "\" failures=\"" +
                               std::to_string(t.failed) + "\" errors=\"0\" skipped=\"" +
                               std::to_string(t.notRun) + "\" time=\"" + msText(seconds) + "\"";
    const std::string name = xmlEscape(plan.file);
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites name=\"velkctl "
                      "run\"" +
                      counts + ">\n  <testsuite name=\"" + name + "\"" + counts + " timestamp=\"" +
                      xmlEscape(timestamp) + "\">\n";
    for (const StepResult& r : results) {
        xml += "    <testcase classname=\"" + name + "\" name=\"" +
               xmlEscape(std::to_string(r.number) + " " + r.name) + "\" time=\"" +
               msText(r.seconds) + "\"";
        if (r.run && r.passed) {
            xml += "/>\n";
            continue;
        }
        xml += ">\n";
        if (!r.run) {
            xml += "      <skipped message=\"not run\"/>\n";
        } else {
            std::string body;
            for (const StepFailure& f : r.failures) {
                body += "expected " + f.field + ": " + f.expected + "\ngot " + f.field + ": " +
                        f.got + "\n";
            }
            xml += "      <failure message=\"" + xmlEscape(failuresText(r)) +
                   "\" type=\"expectation\">" + xmlEscape(body) + "</failure>\n";
        }
        xml += "    </testcase>\n";
    }
    return xml + "  </testsuite>\n</testsuites>\n";
}

int runPlan(const RunOptions& o, std::ostream& out, std::ostream& err, StopSignals& stop) {
    Plan plan;
    std::string error;
    if (!loadPlan(o.planFile, plan, error, [&stop] { return stop.pending(); })) {
        err << "velkctl: " << error << std::endl;
        // As a shell reports a program ended by the signal.
        return stop.signal() != 0 ? 128 + stop.signal() : velkctlExitUsage;
    }
    const std::string port = o.port.empty() ? plan.port : o.port;
    if (port.empty()) {
        err << "velkctl: " << o.planFile << ": no port: give --port or \"port\" in the plan"
            << std::endl;
        return velkctlExitUsage;
    }
    if (!o.junitFile.empty() && !reportWritable(o.junitFile)) {
        err << "velkctl: cannot write " << o.junitFile << std::endl;
        return velkctlExitPort;
    }
    const unsigned baud =
        o.baudRate != 0 ? o.baudRate : (plan.baudRate != 0 ? plan.baudRate : 115200);
    Velk21Session session(port, baud);
    if (!openSession(session, port, err)) {
        return velkctlExitPort;
    }
    ExchangeRunner runner(session);
    const StopRun stopRun(stop, runner);

    startRecords(o.output, out, "step,name,result,exchanges,max_ms,failures");
    const std::string timestamp = isoTimestamp(std::chrono::system_clock::now());
    const auto planStart = std::chrono::steady_clock::now();
    auto stepStart = planStart;
    PlanVariables variables;
    std::vector<StepResult> results;
    StepResult r;
    std::size_t index = 0; // of the step r stands for
    auto endStep = [&] {
        r.passed = r.run && r.failures.empty();
        r.seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - stepStart).count();
        results.push_back(r);
        const OutputMode mode = o.output.mode;
        if (!o.output.quiet) {
            out << (mode == OutputMode::Text   ? formatStepText(r)
                    : mode == OutputMode::Json ? formatStepJson(r)
                                               : formatStepCsv(r))
                << std::endl;
        }
        r = StepResult();
        ++index;
    };
    runner.run(
        [&](ExchangeRequest& request) {
            for (; index < plan.steps.size(); endStep()) {
                const PlanStep& step = plan.steps[index];
                if (r.number == 0) {
                    r.number = unsigned(index + 1);
                    r.name = step.name;
                    stepStart = std::chrono::steady_clock::now();
                }
                if (r.repeats == step.repeat || !r.failures.empty()) {
                    continue;
                }
                if (step.delayMs != 0 && !runner.pause(step.delayMs)) {
                    return false;
                }
                r.run = true;
                if (stepRequest(plan, step, variables, request, error)) {
                    return true;
                }
                r.failures.push_back({"request", "a valid request", error});
            }
            return false;
        },
        [&](const ExchangeResult& answer) {
            reportPort(answer, session, port, err);
            const PlanStep& step = plan.steps[index];
            ++r.repeats;
            r.maxMs = std::max(r.maxMs, answer.responseMs);
            checkStep(step, variables, answer, r.failures);
            if (!r.failures.empty()) {
                return true; // a repeat that fails ends the step
            }
            for (const auto& capture : step.captures) {
                variables[capture.first] = stepAnswerField(answer, capture.second);
            }
            return true;
        });
    // Stopped: the step under way counts as run when an exchange of it was,
    // the rest as not run.
    for (; index < plan.steps.size(); endStep()) {
        r.number = unsigned(index + 1);
        r.name = plan.steps[index].name;
        r.run = r.repeats != 0 || !r.failures.empty();
    }

    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - planStart).count();
    const Tally t = tally(results);
    endRecords(o.output, out, err,
               "Plan: " + std::to_string(results.size()) + " steps, " + std::to_string(t.passed) +
                   " passed, " + std::to_string(t.failed) + " failed, " + std::to_string(t.notRun) +
                   " not run in " + msText(seconds) + " s\n",
               "{\"type\":\"plan_summary\",\"plan\":" + jsonString(plan.file) + ",\"steps\":" +
                   std::to_string(results.size()) + ",\"passed\":" + std::to_string(t.passed) +
                   ",\"failed\":" + std::to_string(t.failed) + ",\"not_run\":" +
                   std::to_string(t.notRun) + ",\"seconds\":" + msText(seconds) + "}");
    if (!o.junitFile.empty()) {
        std::ofstream junit(o.junitFile, std::ios::binary | std::ios::trunc);
        junit << junitReport(plan, results, seconds, timestamp);
        junit.close();
        if (!junit) {
            err << "velkctl: cannot write " << o.junitFile << std::endl;
            return velkctlExitPort;
        }
    }
    return stopRun.status(t.passed == results.size() ? 0 : 1);
}
