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

namespace {

std::string secondsText(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", seconds);
    return text;
}

std::string jsonText(const std::string& text) {
    return "\"" + jsonEscape(text) + "\"";
}

bool sameBytes(const std::string& expected, const std::string& got) {
    std::vector<unsigned char> a;
    std::vector<unsigned char> b;
    const bool aOk = expected.empty() || parseHexList(expected, 0xFF, a);
    const bool bOk = got.empty() || parseHexList(got, 0xFF, b);
    return aOk && bOk && a == b;
}

} // namespace

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

std::string StepFailure::text() const {
    return field + ": expected " + expected + ", got " + got;
}

std::string stepAnswerField(const ExchangeResult& a, const std::string& field) {
    const Velk21DataBlockKernel& k = a.answer;
    const struct {
        const char* name;
        unsigned char value;
    } bytes[] = {{"code", k.id.code},   {"index", k.id.index}, {"ao", k.ao},
                 {"ntxt", k.ntxt},      {"status", k.status},  {"data_0", k.data[0]},
                 {"data_1", k.data[1]}, {"data_2", k.data[2]}, {"data_3", k.data[3]},
                 {"wtsBit", k.wtsBit},  {"csBit", k.csBit},    {"subLBit", k.subLBit},
                 {"efBit", k.efBit},    {"errBit", k.errBit}};
    for (const auto& b : bytes) {
        if (field == b.name) {
            return field.size() > 3 && field.compare(field.size() - 3, 3, "Bit") == 0
                       ? std::string(b.value != 0 ? "1" : "0")
                       : hexByte(b.value);
        }
    }
    if (field == "data") {
        return hexBytes(k.data, 4, ',');
    }
    if (field == "ext") {
        return hexBytes(a.extendedData, ',');
    }
    if (field == "ext_count") {
        return std::to_string(a.extendedData.size());
    }
    if (field.compare(0, 6, "value:") == 0) {
        return typedValueText(k.data, parameterTypeCode(field.substr(6)));
    }
    return "";
}

void checkStep(const PlanStep& step, const PlanVariables& variables, const ExchangeResult& answer,
               std::vector<StepFailure>& failures) {
    const std::string code = std::to_string(answer.code()) + " (" + errorText(answer.code()) + ")";
    bool errorChecked = false;
    for (const PlanExpectation& e : step.expectations) {
        errorChecked = errorChecked || e.field == "error";
    }
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
            const bool list = e.field == "data" || e.field == "ext";
            unsigned want = 0;
            unsigned have = 0;
            const bool same = list ? sameBytes(expected, got)
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

std::string formatStepText(const StepResult& r) {
    std::string text = std::string(!r.run ? "SKIP" : (r.passed ? "PASS" : "FAIL")) + "  " +
                       std::to_string(r.number) + " " + r.name;
    if (!r.run) {
        return text + ": not run";
    }
    text += " (" + std::to_string(r.repeats) + (r.repeats == 1 ? " exchange" : " exchanges") +
            ", max " + msText(r.maxMs) + " ms)";
    for (std::size_t i = 0; i < r.failures.size(); ++i) {
        text += (i == 0 ? ": " : "; ") + r.failures[i].text();
    }
    return text;
}

std::string formatStepJson(const StepResult& r) {
    std::string json = "{\"type\":\"step\",\"step\":" + std::to_string(r.number) +
                       ",\"name\":" + jsonText(r.name) + ",\"result\":\"" +
                       (!r.run ? "not run" : (r.passed ? "pass" : "fail")) +
                       "\",\"exchanges\":" + std::to_string(r.repeats) +
                       ",\"max_ms\":" + msText(r.maxMs) + ",\"failures\":[";
    for (std::size_t i = 0; i < r.failures.size(); ++i) {
        const StepFailure& f = r.failures[i];
        json += std::string(i == 0 ? "" : ",") + "{\"field\":" + jsonText(f.field) +
                ",\"expected\":" + jsonText(f.expected) + ",\"got\":" + jsonText(f.got) + "}";
    }
    return json + "]}";
}

std::string xmlEscape(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&apos;";
            break;
        default:
            // XML 1.0 has no place for other control characters, escaped or not.
            if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r') {
                out += "\xEF\xBF\xBD"; // U+FFFD
            } else {
                out += c;
            }
        }
    }
    return out;
}

std::string junitReport(const Plan& plan, const std::vector<StepResult>& results, double seconds,
                        const std::string& timestamp) {
    unsigned failures = 0;
    unsigned skipped = 0;
    for (const StepResult& r : results) {
        failures += r.run && !r.passed ? 1 : 0;
        skipped += r.run ? 0 : 1;
    }
    const std::string counts = " tests=\"" + std::to_string(results.size()) + "\" failures=\"" +
                               std::to_string(failures) + "\" errors=\"0\" skipped=\"" +
                               std::to_string(skipped) + "\" time=\"" + secondsText(seconds) + "\"";
    const std::string name = xmlEscape(plan.file);
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites name=\"velkctl "
                      "run\"" +
                      counts + ">\n  <testsuite name=\"" + name + "\"" + counts + " timestamp=\"" +
                      xmlEscape(timestamp) + "\">\n";
    for (const StepResult& r : results) {
        xml += "    <testcase classname=\"" + name + "\" name=\"" +
               xmlEscape(std::to_string(r.number) + " " + r.name) + "\" time=\"" +
               secondsText(r.seconds) + "\"";
        if (r.run && r.passed) {
            xml += "/>\n";
            continue;
        }
        xml += ">\n";
        if (!r.run) {
            xml += "      <skipped message=\"not run\"/>\n";
        } else {
            std::string message;
            std::string body;
            for (const StepFailure& f : r.failures) {
                message += (message.empty() ? "" : "; ") + f.text();
                body += "expected " + f.field + ": " + f.expected + "\ngot " + f.field + ": " +
                        f.got + "\n";
            }
            xml += "      <failure message=\"" + xmlEscape(message) + "\" type=\"expectation\">" +
                   xmlEscape(body) + "</failure>\n";
        }
        xml += "    </testcase>\n";
    }
    return xml + "  </testsuite>\n</testsuites>\n";
}

namespace {

// The lines of a run as they come, and the report at the end.
class PlanReport {
public:
    PlanReport(const RunOptions& o, std::ostream& out) : o(o), out(out) {
        if (!o.output.quiet && o.output.mode == OutputMode::Csv) {
            out << "step,name,result,exchanges,max_ms,failures" << std::endl;
        }
    }

    void step(StepResult& r, std::chrono::steady_clock::time_point started) {
        r.passed = r.run && r.failures.empty();
        r.seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        results.push_back(r);
        if (o.output.quiet) {
            return;
        }
        std::string reasons;
        for (const StepFailure& f : r.failures) {
            reasons += (reasons.empty() ? "" : "; ") + f.text();
        }
        switch (o.output.mode) {
        case OutputMode::Text:
            out << formatStepText(r) << std::endl;
            break;
        case OutputMode::Json:
            out << formatStepJson(r) << std::endl;
            break;
        case OutputMode::Csv:
            out << r.number << "," << csvField(r.name) << ","
                << (!r.run ? "not run" : (r.passed ? "pass" : "fail")) << "," << r.repeats << ","
                << msText(r.maxMs) << "," << csvField(reasons) << std::endl;
            break;
        }
    }

    // The summary; true when every step passed.
    bool summary(const Plan& plan, double seconds, std::ostream& err) const {
        unsigned passed = 0;
        unsigned failed = 0;
        for (const StepResult& r : results) {
            passed += r.passed ? 1 : 0;
            failed += r.run && !r.passed ? 1 : 0;
        }
        const auto notRun = unsigned(results.size()) - passed - failed;
        if (o.output.mode == OutputMode::Json) {
            out << "{\"type\":\"plan_summary\",\"plan\":" << jsonText(plan.file)
                << ",\"steps\":" << results.size() << ",\"passed\":" << passed
                << ",\"failed\":" << failed << ",\"not_run\":" << notRun
                << ",\"seconds\":" << secondsText(seconds) << "}" << std::endl;
        } else {
            (o.output.mode == OutputMode::Csv ? err : out)
                << "Plan: " << results.size() << " steps, " << passed << " passed, " << failed
                << " failed, " << notRun << " not run in " << secondsText(seconds) << " s"
                << std::endl;
        }
        return passed == results.size();
    }

    std::vector<StepResult> results;

private:
    const RunOptions& o;
    std::ostream& out;
};

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

    PlanReport report(o, out);
    const std::string timestamp = isoTimestamp(std::chrono::system_clock::now());
    const auto planStart = std::chrono::steady_clock::now();
    auto stepStart = planStart;
    PlanVariables variables;
    StepResult r;
    std::size_t index = 0; // of the step r stands for
    auto endStep = [&] {
        report.step(r, stepStart);
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
                const std::string value = stepAnswerField(answer, capture.second);
                auto same = std::find_if(variables.begin(), variables.end(),
                                         [&](const auto& v) { return v.first == capture.first; });
                if (same != variables.end()) {
                    same->second = value;
                } else {
                    variables.emplace_back(capture.first, value);
                }
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

    const std::chrono::duration<double> total = std::chrono::steady_clock::now() - planStart;
    const bool passed = report.summary(plan, total.count(), err);
    if (!o.junitFile.empty()) {
        std::ofstream junit(o.junitFile, std::ios::binary | std::ios::trunc);
        junit << junitReport(plan, report.results, total.count(), timestamp);
        junit.close();
        if (!junit) {
            err << "velkctl: cannot write " << o.junitFile << std::endl;
            return velkctlExitPort;
        }
    }
    return stopRun.status(passed ? 0 : 1);
}
