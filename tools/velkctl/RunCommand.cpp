#include "RunCommand.h"

#include "ExchangeOutput.h"
#include "StopSignals.h"
#include "SubcommandSupport.h"
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

enum RunOptionId {
    RunPort = 'p',
    RunBaud = 'b',
    RunQuiet = 'q',
    RunHelp = 'h',
    RunJunit = 256,
    RunJson,
    RunCsv,
};

const option runOptions[] = {
    {"port", required_argument, nullptr, RunPort},   {"baud", required_argument, nullptr, RunBaud},
    {"junit", required_argument, nullptr, RunJunit}, {"json", no_argument, nullptr, RunJson},
    {"csv", no_argument, nullptr, RunCsv},           {"quiet", no_argument, nullptr, RunQuiet},
    {"help", no_argument, nullptr, RunHelp},         {nullptr, 0, nullptr, 0},
};

std::string hexList(const unsigned char* bytes, unsigned count) {
    std::string text = hexBytes(bytes, count);
    for (char& c : text) {
        c = c == ' ' ? ',' : c;
    }
    return text;
}

std::string secondsText(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", seconds);
    return text;
}

std::string jsonText(const std::string& text) {
    return "\"" + jsonEscape(text) + "\"";
}

// The step's request as the command line it stands for, variables filled in.
bool stepCommandLine(const Plan& plan, const PlanStep& step, const PlanVariables& variables,
                     CommandLine& out, std::string& error) {
    std::vector<std::string> words{"velkctl", "--port", "-"};
    for (const PlanRequestOption& option : step.request) {
        words.push_back("--" + option.name);
        if (option.name == "time" || option.name == "wts" || option.name == "subl" ||
            option.name == "ef") {
            continue;
        }
        std::string value;
        if (!substitutePlanVariables(option.value, variables, value, error)) {
            return false;
        }
        words.push_back(value);
    }
    std::vector<char*> argv;
    for (std::string& w : words) {
        argv.push_back(&w[0]);
    }
    argv.push_back(nullptr);
    if (parseCommandLine(int(words.size()), argv.data(), out, error) != ParseResult::Run) {
        return false;
    }
    out.byteTimeoutMs = step.timeoutMs >= 0 ? unsigned(step.timeoutMs) : plan.timeoutMs;
    out.maxRestarts = plan.restarts;
    return true;
}

bool sameBytes(const std::string& expected, const std::string& got) {
    std::vector<unsigned char> a;
    std::vector<unsigned char> b;
    const bool aOk = expected.empty() || parseHexList(expected, 0xFF, a);
    const bool bOk = got.empty() || parseHexList(got, 0xFF, b);
    return aOk && bOk && a == b;
}

} // namespace

const char* runUsage() {
    return R"(Usage: velkctl run PLAN [OPTION]...
Run a test plan: a JSON file (comments allowed) or a YAML file (.yaml, .yml)
listing steps, each a request, checks on its answer, repeats, a delay and
variables captured for later steps. The whole plan is checked before anything
is sent. Prints one line per step (pass or fail, and why), then a summary.

      --junit FILE         also write a JUnit XML report (one testcase per step)
  -p, --port PORT          the port (overrides the plan's "port")
  -b, --baud RATE          the baud rate (overrides the plan's "baud")
      --json, --csv, -q, --quiet
                           as for a single request; --json gives one object per
                           step ("type": "step") and a summary ("type":
                           "plan_summary"); --csv puts the summary on standard
                           error
A plan: {"port": "COM9", "timeout": 150, "restarts": 0, "steps": [STEP, ...]}
A step: {"name": "...", "comment": "...",
         "request": {the single request's options without the dashes:
                     "address": "5,1", "code": "10", "wts": true, "value": "12.5",
                     "type": "REAL32FIX", "ef": true, "ext": "41,42", ...},
         "expect": {"error": 0, "code": "10", "errBit": false, "data": "1,2,3,4",
                    "ext": "41,42", "ext_count": 2, "max_ms": 50,
                    "value": {"type": "REAL32FIX", "equals": 12.5,
                              "tolerance": 0.001}},
         "capture": {"name": "data_0"}, "repeat": 1, "delay_ms": 0,
         "timeout": 150}
Hexadecimal fields are strings written as on the command line ("1F"); a
captured variable is used as ${name} in any later string. Without "error" a
step expects code 0. A field an answer may carry: code, index, ao, ntxt,
status, data_0..data_3, wtsBit, csBit, subLBit, efBit, errBit, data, ext,
ext_count; a capture may also take "value:TYPE".
Exit status: 0 every step passed, 1 a step failed or the run was stopped,
64 usage error or invalid plan (FILE:LINE: reason), 74 the port or the report
cannot be opened.
)";
}

ParseResult parseRunCommandLine(int argc, char* argv[], RunOptions& out, std::string& error) {
    RunOptions o;
    bool json = false;
    bool csv = false;
    optind = 0;
    opterr = 0;
    for (;;) {
        const int id = getopt_long(argc, argv, ":p:b:qh", runOptions, nullptr);
        if (id == -1) {
            break;
        }
        switch (id) {
        case RunHelp:
            return ParseResult::Help;
        case RunPort:
            o.port = optarg;
            break;
        case RunBaud:
            if (!parseDecimalNumber(optarg, 4000000, o.baudRate) || o.baudRate == 0) {
                error = std::string("invalid --baud '") + optarg +
                        "': expected a decimal number 1..4000000";
                return ParseResult::UsageError;
            }
            break;
        case RunJunit:
            o.junitFile = optarg;
            break;
        case RunJson:
            json = true;
            break;
        case RunCsv:
            csv = true;
            break;
        case RunQuiet:
            o.quiet = true;
            break;
        default:
            error = getoptFailure(id, runOptions, argv);
            return ParseResult::UsageError;
        }
    }
    if (optind >= argc) {
        error = "missing PLAN";
        return ParseResult::UsageError;
    }
    o.planFile = argv[optind];
    if (optind + 1 < argc) {
        error = std::string("unexpected argument '") + argv[optind + 1] + "'";
        return ParseResult::UsageError;
    }
    if (!outputModeOf(json, csv, o.mode, error)) {
        return ParseResult::UsageError;
    }
    out = o;
    return ParseResult::Run;
}

std::string StepFailure::text() const {
    return field + ": expected " + expected + ", got " + got;
}

std::string stepAnswerField(const StepAnswer& a, const std::string& field) {
    const Velk21DataBlockKernel& k = a.data;
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
                       : hexBytes(&b.value, 1);
        }
    }
    if (field == "data") {
        return hexList(k.data, 4);
    }
    if (field == "ext") {
        return hexList(a.extended.data(), a.extended.size());
    }
    if (field == "ext_count") {
        return std::to_string(a.extended.size());
    }
    if (field.compare(0, 6, "value:") == 0) {
        return typedValueText(k.data, parameterTypeCode(field.substr(6)));
    }
    return "";
}

void checkStep(const PlanStep& step, const PlanVariables& variables, const StepAnswer& answer,
               std::vector<StepFailure>& failures) {
    const std::string code =
        std::to_string(answer.errorCode) + " (" + errorText(answer.errorCode) + ")";
    bool errorChecked = false;
    for (const PlanExpectation& e : step.expectations) {
        errorChecked = errorChecked || e.field == "error";
    }
    if (!errorChecked && answer.errorCode != 0) {
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
            if (expected != std::to_string(answer.errorCode)) {
                failures.push_back({"error", expected, code});
            }
        } else if (e.field == "max_ms") {
            if (answer.responseMs > e.tolerance) {
                failures.push_back(
                    {"max_ms", "at most " + expected + " ms", msText(answer.responseMs) + " ms"});
            }
        } else if (!answer.decoded) {
            failures.push_back({e.field, expected, "no answer, code " + code});
        } else if (e.field == "value") {
            const std::string got = typedValueText(answer.data.data, e.type);
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

int runPlan(const RunOptions& o, std::ostream& out, std::ostream& err, StopSignals& stop) {
    Plan plan;
    std::string error;
    if (!loadPlan(o.planFile, plan, error)) {
        err << "velkctl: " << error << std::endl;
        return velkctlExitUsage;
    }
    const std::string port = o.port.empty() ? plan.port : o.port;
    if (port.empty()) {
        err << "velkctl: " << o.planFile << ": no port: give --port or \"port\" in the plan"
            << std::endl;
        return velkctlExitUsage;
    }
    const unsigned baud =
        o.baudRate != 0 ? o.baudRate : (plan.baudRate != 0 ? plan.baudRate : 115200);
    std::ofstream junit;
    if (!o.junitFile.empty()) {
        junit.open(o.junitFile, std::ios::binary | std::ios::trunc);
        if (!junit) {
            err << "velkctl: cannot write " << o.junitFile << std::endl;
            return velkctlExitPort;
        }
    }
    Velk21Session session(port, baud);
    if (!session.isOpen()) {
        err << "velkctl: " << portProblem(port, session.openFailureDetail()) << std::endl;
        return velkctlExitPort;
    }
    if (!o.quiet && o.mode == OutputMode::Csv) {
        out << "step,name,result,exchanges,max_ms,failures" << std::endl;
    }

    PortWatch portWatch(session, port, err);
    const std::string timestamp = isoTimestamp(std::chrono::system_clock::now());
    const auto planStart = std::chrono::steady_clock::now();
    PlanVariables variables;
    std::vector<StepResult> results;
    bool stopped = false;
    for (const PlanStep& step : plan.steps) {
        StepResult r;
        r.number = unsigned(results.size() + 1);
        r.name = step.name;
        const auto stepStart = std::chrono::steady_clock::now();
        for (unsigned i = 0; i < step.repeat && !stopped; ++i) {
            if (step.delayMs != 0 ? stop.wait(step.delayMs) : stop.pending()) {
                stopped = true;
                break;
            }
            r.run = true;
            CommandLine cl;
            if (!stepCommandLine(plan, step, variables, cl, error)) {
                r.failures.push_back({"request", "a valid request", error});
                break;
            }
            const VelkctlRequest request = buildRequest(cl);
            StepAnswer answer;
            answer.data = request.data;
            answer.extended = request.extendedData;
            const auto start = std::chrono::steady_clock::now();
            session.exchange(request.address, answer.data, answer.extended, cl.maxRestarts,
                             cl.byteTimeoutMs, &answer.errorCode);
            const std::chrono::duration<double, std::milli> elapsed =
                std::chrono::steady_clock::now() - start;
            answer.responseMs = elapsed.count();
            portWatch.afterExchange();
            answer.decoded =
                answer.errorCode == 0 || answer.errorCode == 7 || answer.errorCode == 8;
            ++r.repeats;
            r.maxMs = std::max(r.maxMs, answer.responseMs);
            checkStep(step, variables, answer, r.failures);
            if (!r.failures.empty()) {
                break; // a repeat that fails ends the step
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
        }
        if (stopped && r.repeats == 0) {
            r.run = false;
        }
        r.passed = r.run && r.failures.empty();
        const std::chrono::duration<double> taken = std::chrono::steady_clock::now() - stepStart;
        r.seconds = taken.count();
        results.push_back(r);
        if (o.quiet) {
            continue;
        }
        switch (o.mode) {
        case OutputMode::Text:
            out << formatStepText(r) << std::endl;
            break;
        case OutputMode::Json:
            out << formatStepJson(r) << std::endl;
            break;
        case OutputMode::Csv: {
            std::string reasons;
            for (const StepFailure& f : r.failures) {
                reasons += (reasons.empty() ? "" : "; ") + f.text();
            }
            out << r.number << "," << csvField(r.name) << ","
                << (!r.run ? "not run" : (r.passed ? "pass" : "fail")) << "," << r.repeats << ","
                << msText(r.maxMs) << "," << csvField(reasons) << std::endl;
            break;
        }
        }
    }

    const std::chrono::duration<double> total = std::chrono::steady_clock::now() - planStart;
    unsigned passed = 0;
    unsigned failed = 0;
    for (const StepResult& r : results) {
        passed += r.passed ? 1 : 0;
        failed += r.run && !r.passed ? 1 : 0;
    }
    const unsigned notRun = unsigned(results.size()) - passed - failed;
    if (o.mode == OutputMode::Json) {
        out << "{\"type\":\"plan_summary\",\"plan\":" << jsonText(plan.file)
            << ",\"steps\":" << results.size() << ",\"passed\":" << passed
            << ",\"failed\":" << failed << ",\"not_run\":" << notRun
            << ",\"seconds\":" << secondsText(total.count()) << "}" << std::endl;
    } else {
        (o.mode == OutputMode::Csv ? err : out)
            << "Plan: " << results.size() << " steps, " << passed << " passed, " << failed
            << " failed, " << notRun << " not run in " << secondsText(total.count()) << " s"
            << std::endl;
    }
    if (junit.is_open()) {
        junit << junitReport(plan, results, total.count(), timestamp);
        junit.close();
        if (!junit) {
            err << "velkctl: cannot write " << o.junitFile << std::endl;
            return velkctlExitPort;
        }
    }
    return failed == 0 && notRun == 0 && !stopped ? 0 : 1;
}
