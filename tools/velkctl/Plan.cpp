#include "Plan.h"

#include "CommandLine.h"
#include "ExchangeOutput.h"
#include "PlanDocument.h"
#include "RegularFile.h"
#include "UserValue.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <memory>

namespace {

using Index = PlanDocument::Index;
using Kind = PlanDocument::Kind;
constexpr Index none = PlanDocument::none;

// The answer field of that name (of the fields a data block carries), or null.
const AnswerField* answerField(const std::string& name) {
    static const std::array<AnswerField, 14> fields = answerFields(Velk21DataBlockKernel());
    for (const AnswerField& f : fields) {
        if (name == f.name) {
            return &f;
        }
    }
    return nullptr;
}

// The answer fields a capture can name, "value:TYPE" aside.
bool isAnswerField(const std::string& field) {
    return answerField(field) != nullptr || field == "data" || field == "ext" ||
           field == "ext_count";
}

bool hasVariable(const std::string& text) {
    return text.find("${") != std::string::npos;
}

// Checks a document against the plan's shape and turns it into a Plan.
class PlanReader {
public:
    PlanReader(const std::string& name, const PlanDocument& doc, const PlanStop& stop)
        : name(name), doc(doc), stop(stop) {}

    bool read(Plan& plan, std::string& error);

private:
    struct Failure {};

    [[noreturn]] void fail(int line, const std::string& reason) {
        errorText = name + ":" + std::to_string(line) + ": " + reason;
        throw Failure();
    }
    [[noreturn]] void fail(Index at, const std::string& reason) { fail(doc.line(at), reason); }
    std::string keyOf(Index key) const { return std::string(doc.text(key)); }
    void object(Index v, const std::string& what, const std::string& note = "") {
        if (doc.kind(v) != Kind::Object) {
            fail(v, what + " must be an object" + note);
        }
    }
    void onlyFields(Index v, const std::string& what, std::initializer_list<const char*> known) {
        object(v, what);
        for (Index k = doc.first(v); k != none; k = doc.next(k)) {
            if (std::none_of(known.begin(), known.end(),
                             [&](const char* field) { return doc.text(k) == field; })) {
                fail(k, "unknown field '" + keyOf(k) + "' in " + what);
            }
        }
    }
    unsigned whole(Index v, const std::string& what, unsigned min, unsigned max) {
        long long n = 0;
        if (!doc.wholeNumber(v, n) || n < (long long)min || n > (long long)max) {
            fail(v, what + " must be a whole number from " + std::to_string(min) + " to " +
                        std::to_string(max));
        }
        return unsigned(n);
    }
    // A whole number the object may leave out; target keeps its value then.
    template <class T>
    void whole(Index in, const char* key, unsigned min, unsigned max, T& target) {
        if (const Index v = doc.find(in, key); v != none) {
            target = T(whole(v, key, min, max));
        }
    }
    // A number of 0 or more, and its text as written.
    std::string amount(Index v, const std::string& what, double& value) {
        if (!doc.number(v, value) || value < 0) {
            fail(v, what + " must be a number, 0 or more");
        }
        return std::string(doc.text(v));
    }
    std::string text(Index v, const std::string& what) {
        if (doc.kind(v) != Kind::String) {
            fail(v, what + " must be a string (hexadecimal fields are written as on the "
                           "command line, e.g. \"1F\")");
        }
        return std::string(doc.text(v));
    }
    bool flag(Index v, const std::string& what) {
        long long n = 0;
        if (doc.kind(v) == Kind::Boolean) {
            return doc.boolean(v);
        }
        if (doc.wholeNumber(v, n) && (n == 0 || n == 1)) {
            return n == 1;
        }
        fail(v, what + " must be true or false (or 1 or 0)");
    }
    // Names variables that no earlier step captured.
    void knownVariables(const std::string& value, Index at) {
        std::string ignored;
        std::string why;
        if (!substitutePlanVariables(value, captured, ignored, why)) {
            fail(at, why);
        }
    }
    void askStop() {
        if (stop && ++asked % 256 == 0 && stop()) {
            stopped = true;
            throw Failure();
        }
    }

    void readRequest(Index request, PlanStep& step);
    void readExpect(Index expect, PlanStep& step);
    void readCaptures(Index capture, PlanStep& step);

    std::string name;
    const PlanDocument& doc;
    const PlanStop& stop;
    unsigned asked = 0;
    std::string errorText;
    PlanVariables captured; // by earlier steps, without values

public:
    bool stopped = false;
};

void PlanReader::readRequest(Index request, PlanStep& step) {
    object(request, "request");
    bool variables = false;
    for (Index k = doc.first(request); k != none; k = doc.next(k)) {
        const std::string key = keyOf(k);
        const Index v = doc.value(k);
        bool isFlag = false;
        if (!isRequestOption(key, &isFlag)) {
            fail(k, "unknown field '" + key + "' in request");
        }
        if (isFlag) {
            if (flag(v, "request " + key)) {
                step.request.push_back({key, "", doc.line(v)});
            }
            continue;
        }
        // A number as written in the plan: its decimals are the value's.
        const std::string value = key == "value" && doc.kind(v) == Kind::Number
                                      ? std::string(doc.text(v))
                                      : text(v, "request " + key);
        if (hasVariable(value)) {
            knownVariables(value, v);
            variables = true;
        }
        step.request.push_back({key, value, doc.line(v)});
    }
    if (variables) {
        return; // checked when the step runs, with the values captured by then
    }
    // The command line's own definitions, so that a plan and a command line
    // refuse alike; a refused option is named on its own line. The options'
    // names are the plan's field names without the dashes.
    RequestOptions options;
    std::string error;
    auto refuse = [this](int line, std::string why) {
        for (std::string::size_type p; (p = why.find("--")) != std::string::npos;) {
            why.erase(p, 2);
        }
        fail(line, "request: " + why);
    };
    for (const PlanRequestOption& option : step.request) {
        if (!applyRequestOption(options, option.name, option.value, error)) {
            refuse(option.line, error);
        }
    }
    if (!options.addressGiven) {
        refuse(step.requestLine, "missing --address");
    }
    if (!finishRequest(options, error)) {
        refuse(step.requestLine, error);
    }
}

void PlanReader::readExpect(Index expect, PlanStep& step) {
    object(expect, "expect");
    for (Index k = doc.first(expect); k != none; k = doc.next(k)) {
        const std::string key = keyOf(k);
        const Index v = doc.value(k);
        const AnswerField* field = answerField(key);
        PlanExpectation e;
        e.field = key;
        e.line = doc.line(v);
        if (key == "error" || key == "ext_count") {
            e.expected = std::to_string(whole(v, "expect " + key, 0, key == "error" ? 8 : 65535));
        } else if (key == "max_ms") {
            e.expected = amount(v, "expect max_ms must be a number of milliseconds, 0 or more; it",
                                e.tolerance);
        } else if (field != nullptr && field->flag) {
            e.expected = flag(v, "expect " + key) ? "1" : "0";
        } else if (field != nullptr || key == "data" || key == "ext") {
            e.expected = text(v, "expect " + key);
            const bool narrow = key == "ao" || key == "ntxt";
            std::vector<unsigned char> bytes;
            unsigned n = 0;
            if (hasVariable(e.expected)) {
                knownVariables(e.expected, v);
            } else if (key == "data" ? !parseHexList(e.expected, 0xFF, bytes) || bytes.size() != 4
                       : key == "ext"
                           ? !e.expected.empty() && !parseHexList(e.expected, 0xFF, bytes)
                           : !parseHexNumber(e.expected, narrow ? 0x7F : 0xFF, n)) {
                fail(v, "expect " + key + " '" + e.expected + "': expected " +
                            (key == "data"  ? "four hexadecimal bytes 0..FF"
                             : key == "ext" ? "hexadecimal bytes 0..FF"
                             : narrow       ? "a hexadecimal number 0..7F"
                                            : "a hexadecimal number 0..FF"));
            }
        } else if (key == "value") {
            onlyFields(v, "expect value", {"type", "equals", "tolerance"});
            const Index type = doc.find(v, "type");
            const Index equals = doc.find(v, "equals");
            if (type == none || equals == none) {
                fail(v, "expect value needs type and equals");
            }
            const std::string typeName = text(type, "expect value type");
            e.type = parameterTypeCode(typeName);
            if (e.type <= 0) {
                fail(type, "unknown type '" + typeName +
                               "': expected BOOLEAN, INTEGER, UNSIGNED, REAL32FIX or REAL32");
            }
            double ignored = 0;
            if (!doc.number(equals, ignored)) {
                fail(equals, "expect value equals must be a number");
            }
            e.expected = std::string(doc.text(equals)); // as written
            const Index tolerance = doc.find(v, "tolerance");
            if (tolerance != none) {
                amount(tolerance, "expect value tolerance", e.tolerance);
            }
        } else {
            fail(k, "unknown field '" + key + "' in expect");
        }
        step.expectations.push_back(e);
    }
}

void PlanReader::readCaptures(Index capture, PlanStep& step) {
    object(capture, "capture", ": variable name -> answer field");
    for (Index k = doc.first(capture); k != none; k = doc.next(k)) {
        const std::string variable = keyOf(k);
        if (variable.empty() || std::isdigit(static_cast<unsigned char>(variable[0])) ||
            !std::all_of(variable.begin(), variable.end(),
                         [](unsigned char c) { return std::isalnum(c) || c == '_'; })) {
            fail(k, "variable name '" + variable + "': letters, digits and _ only");
        }
        const Index v = doc.value(k);
        const std::string field = text(v, "capture " + variable);
        const bool typed =
            field.compare(0, 6, "value:") == 0 && parameterTypeCode(field.substr(6)) > 0;
        if (!typed && !isAnswerField(field)) {
            fail(v, "capture " + variable + ": unknown answer field '" + field +
                        "' (a field such as code or data_0, data, ext, ext_count or value:TYPE)");
        }
        step.captures.emplace_back(variable, field);
    }
}

bool PlanReader::read(Plan& plan, std::string& error) {
    const Index root = doc.root();
    try {
        if (root == none) {
            fail(1, "the plan must be an object");
        }
        onlyFields(root, "the plan", {"comment", "port", "baud", "timeout", "restarts", "steps"});
        plan.file = name;
        if (const Index v = doc.find(root, "port"); v != none) {
            plan.port = text(v, "port");
        }
        whole(root, "baud", 1, 4000000, plan.baudRate);
        whole(root, "timeout", 0, 3600000, plan.timeoutMs);
        whole(root, "restarts", 0, 1000000, plan.restarts);
        const Index steps = doc.find(root, "steps");
        if (steps == none || doc.kind(steps) != Kind::Array || doc.size(steps) == 0) {
            fail(steps != none ? steps : root, "the plan needs steps: a list of steps");
        }
        plan.steps.reserve(doc.size(steps));
        for (Index s = doc.first(steps); s != none; s = doc.next(s)) {
            askStop();
            onlyFields(s, "a step",
                       {"name", "comment", "request", "expect", "capture", "repeat", "delay_ms",
                        "timeout"});
            PlanStep step;
            step.line = doc.line(s);
            const Index stepName = doc.find(s, "name");
            step.name = stepName != none ? text(stepName, "name")
                                         : "step " + std::to_string(plan.steps.size() + 1);
            whole(s, "repeat", 1, 1000000, step.repeat);
            whole(s, "delay_ms", 0, 3600000, step.delayMs);
            whole(s, "timeout", 0, 3600000, step.timeoutMs);
            const Index request = doc.find(s, "request");
            if (request == none) {
                fail(s, "step '" + step.name + "' has no request");
            }
            step.requestLine = doc.line(request);
            readRequest(request, step);
            if (const Index v = doc.find(s, "expect"); v != none) {
                readExpect(v, step);
            }
            if (const Index v = doc.find(s, "capture"); v != none) {
                readCaptures(v, step);
            }
            // Variables serve the steps after the one that captures them.
            for (const auto& c : step.captures) {
                captured[c.first];
            }
            plan.steps.push_back(std::move(step));
        }
    } catch (const Failure&) {
        error = stopped ? name + ": stopped while loading" : errorText;
        return false;
    }
    return true;
}

bool endsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// Parses and checks text, which goes once the document holds what it says.
bool readPlan(std::string&& text, const std::string& name, bool yaml, Plan& plan,
              std::string& error, const PlanStop& stop) {
    PlanDocument doc;
    PlanDocument::Failure failure;
    const bool parsed = doc.parse(text, yaml, stop, failure);
    std::string().swap(text);
    if (!parsed) {
        error = failure.stopped ? name + ": stopped while loading"
                : failure.line > 0
                    ? name + ":" + std::to_string(failure.line) + ": " + failure.reason
                    : name + ": " + failure.reason;
        return false;
    }
    Plan result;
    PlanReader reader(name, doc, stop);
    if (!reader.read(result, error)) {
        return false;
    }
    plan = std::move(result);
    return true;
}

bool readPlanFile(const std::string& path, Plan& plan, std::string& error, const PlanStop& stop) {
    std::uint64_t size = 0;
    std::string reason;
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(openRegularFile(path, size, reason),
                                                               &std::fclose);
    if (!file) {
        error = path + ": " + (reason.empty() ? "cannot read the plan" : reason);
        return false;
    }
    if (size > maxPlanBytes) {
        error = path + ": larger than 16 MiB, more than a plan may be";
        return false;
    }
    std::string text(std::size_t(size), '\0');
    const std::size_t got = std::fread(&text[0], 1, text.size(), file.get());
    if (std::ferror(file.get())) {
        error = path + ": cannot read the plan";
        return false;
    }
    if (got != text.size() || std::fgetc(file.get()) != EOF) {
        error = path + ": the plan changed while it was read";
        return false;
    }
    return readPlan(std::move(text), path, endsWith(path, ".yaml") || endsWith(path, ".yml"), plan,
                    error, stop);
}

// The message on one line: control characters that a plan's texts may hold
// (a field name with a line break in it) are shown escaped.
bool oneLine(bool ok, std::string& error) {
    error = ok ? error : printableText(error);
    return ok;
}

} // namespace

bool planYamlSupported() {
#ifdef VELK_HAVE_YAML
    return true;
#else
    return false;
#endif
}

bool substitutePlanVariables(const std::string& text, const PlanVariables& variables,
                             std::string& out, std::string& error) {
    std::string result;
    std::string::size_type from = 0;
    for (;;) {
        const std::string::size_type open = text.find("${", from);
        if (open == std::string::npos) {
            result += text.substr(from);
            break;
        }
        const std::string::size_type close = text.find('}', open);
        if (close == std::string::npos) {
            error = "unclosed ${ in '" + text + "'";
            return false;
        }
        const std::string name = text.substr(open + 2, close - open - 2);
        const auto found = variables.find(name);
        if (found == variables.end()) {
            error = "variable '" + name + "' is not captured by an earlier step";
            return false;
        }
        result += text.substr(from, open - from) + found->second;
        from = close + 1;
    }
    out = result;
    return true;
}

bool parsePlan(const std::string& text, const std::string& name, bool yaml, Plan& plan,
               std::string& error, const PlanStop& stop) {
    return oneLine(readPlan(std::string(text), name, yaml, plan, error, stop), error);
}

bool loadPlan(const std::string& path, Plan& plan, std::string& error, const PlanStop& stop) {
    return oneLine(readPlanFile(path, plan, error, stop), error);
}
