#include "Plan.h"

#include "CommandLine.h"
#include "UserValue.h"

#include <nlohmann/json.hpp>

#ifdef VELK_HAVE_YAML
#include <yaml-cpp/yaml.h>
#endif

#include <cctype>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>

using json = nlohmann::json;

namespace {

const std::size_t maxPlanDepth = 32;

// Where each value of the document was: JSON pointer -> line (from 1).
using LineMap = std::map<std::string, int>;

// Walks the text for the JSON lexer and notes the line of the last
// character that is not white space, which is where the token just read is.
struct LineCount {
    int line = 1;
    int tokenLine = 1;
};

class LineIterator {
public:
    using iterator_category = std::input_iterator_tag;
    using value_type = char;
    using difference_type = std::ptrdiff_t;
    using pointer = const char*;
    using reference = const char&;

    LineIterator(const char* p, LineCount* count) : p(p), count(count) {}
    reference operator*() const { return *p; }
    LineIterator& operator++() {
        if (*p == '\n') {
            ++count->line;
        } else if (!std::isspace(static_cast<unsigned char>(*p))) {
            count->tokenLine = count->line;
        }
        ++p;
        return *this;
    }
    bool operator==(const LineIterator& other) const { return p == other.p; }
    bool operator!=(const LineIterator& other) const { return p != other.p; }

private:
    const char* p;
    LineCount* count;
};

std::string pointerToken(const std::string& key) {
    std::string out;
    for (char c : key) {
        out += c == '~' ? "~0" : (c == '/' ? "~1" : std::string(1, c));
    }
    return out;
}

// Builds the document and the line of every value in it.
class LineSax : public nlohmann::json_sax<json> {
public:
    LineSax(LineCount& count, LineMap& lines) : count(count), lines(lines) {}

    json root;
    std::string error;
    int errorLine = 0;

    bool null() override { return add(json(nullptr)); }
    bool boolean(bool v) override { return add(json(v)); }
    bool number_integer(number_integer_t v) override { return add(json(v)); }
    bool number_unsigned(number_unsigned_t v) override { return add(json(v)); }
    bool number_float(number_float_t v, const string_t&) override { return add(json(v)); }
    bool string(string_t& v) override { return add(json(v)); }
    bool binary(binary_t&) override { return add(json()); }
    bool start_object(std::size_t) override { return open(json::object()); }
    bool end_object() override { return close(); }
    bool start_array(std::size_t) override { return open(json::array()); }
    bool end_array() override { return close(); }
    bool key(string_t& k) override {
        pendingKey = k;
        if (stack.back().value->contains(k)) {
            error = "field '" + k + "' given twice";
            errorLine = count.tokenLine;
            return false;
        }
        return true;
    }
    bool parse_error(std::size_t, const std::string&,
                     const nlohmann::detail::exception& e) override {
        error = e.what();
        // "[json.exception.parse_error.101] parse error at line 3, column 5: ..." -> the reason.
        const std::string::size_type colon = error.find(": ");
        if (colon != std::string::npos) {
            error = error.substr(colon + 2);
        }
        errorLine = count.line;
        return false;
    }

private:
    struct Level {
        json* value;
        std::string path;
    };

    // Places a value in its container; returns where it went.
    json* place(json&& v, std::string& path) {
        if (stack.empty()) {
            root = std::move(v);
            path = "";
            return &root;
        }
        Level& parent = stack.back();
        if (parent.value->is_object()) {
            path = parent.path + "/" + pointerToken(pendingKey);
            json& slot = (*parent.value)[pendingKey];
            slot = std::move(v);
            return &slot;
        }
        path = parent.path + "/" + std::to_string(parent.value->size());
        parent.value->push_back(std::move(v));
        return &parent.value->back();
    }
    bool add(json&& v) {
        std::string path;
        place(std::move(v), path);
        lines[path] = count.tokenLine;
        return true;
    }
    bool open(json&& v) {
        // Every value keeps its path in the line map, so depth costs its
        // square; no plan needs more than a handful of levels.
        if (stack.size() >= maxPlanDepth) {
            error = "nested too deeply (more than " + std::to_string(maxPlanDepth) + " levels)";
            errorLine = count.tokenLine;
            return false;
        }
        std::string path;
        json* slot = place(std::move(v), path);
        lines[path] = count.tokenLine;
        stack.push_back({slot, path});
        return true;
    }
    bool close() {
        stack.pop_back();
        return true;
    }

    LineCount& count;
    LineMap& lines;
    std::vector<Level> stack;
    std::string pendingKey;
};

#ifdef VELK_HAVE_YAML
// A YAML document as the same tree, with the same line map. Plain scalars
// become booleans or numbers where they read as such; quoted ones stay text.
json fromYaml(const YAML::Node& node, const std::string& path, LineMap& lines, std::size_t depth,
              std::string& error) {
    lines[path] = node.Mark().line + 1;
    if (depth > maxPlanDepth && error.empty()) {
        error = std::to_string(node.Mark().line + 1) + ": nested too deeply (more than " +
                std::to_string(maxPlanDepth) + " levels)";
    }
    if (!error.empty()) {
        return json(nullptr);
    }
    switch (node.Type()) {
    case YAML::NodeType::Map: {
        json out = json::object();
        for (const auto& item : node) {
            const std::string key = item.first.as<std::string>();
            out[key] =
                fromYaml(item.second, path + "/" + pointerToken(key), lines, depth + 1, error);
        }
        return out;
    }
    case YAML::NodeType::Sequence: {
        json out = json::array();
        for (std::size_t i = 0; i < node.size(); ++i) {
            out.push_back(
                fromYaml(node[i], path + "/" + std::to_string(i), lines, depth + 1, error));
        }
        return out;
    }
    case YAML::NodeType::Scalar: {
        const std::string text = node.Scalar();
        if (node.Tag() != "!") {
            bool b = false;
            if (YAML::convert<bool>::decode(node, b)) {
                return json(b);
            }
            long long i = 0;
            if (YAML::convert<long long>::decode(node, i)) {
                return json(i);
            }
            double d = 0;
            if (YAML::convert<double>::decode(node, d)) {
                return json(d);
            }
        }
        return json(text);
    }
    default:
        return json(nullptr);
    }
}
#endif

// Checks a document against the plan's shape and turns it into a Plan.
class PlanReader {
public:
    PlanReader(const std::string& name, const LineMap& lines) : name(name), lines(lines) {}

    bool read(const json& doc, Plan& plan, std::string& error);

private:
    struct Failure {};

    int lineOf(const std::string& path) const {
        auto it = lines.find(path);
        return it != lines.end() ? it->second : 0;
    }
    [[noreturn]] void fail(const std::string& path, const std::string& reason) {
        errorText = name + ":" + std::to_string(lineOf(path)) + ": " + reason;
        throw Failure();
    }
    void onlyFields(const json& object, const std::string& path, const std::string& what,
                    std::initializer_list<const char*> known) {
        if (!object.is_object()) {
            fail(path, what + " must be an object");
        }
        for (auto it = object.begin(); it != object.end(); ++it) {
            bool ok = false;
            for (const char* k : known) {
                ok = ok || it.key() == k;
            }
            if (!ok) {
                fail(path + "/" + pointerToken(it.key()),
                     "unknown field '" + it.key() + "' in " + what);
            }
        }
    }
    unsigned whole(const json& v, const std::string& path, const std::string& what, unsigned min,
                   unsigned max) {
        if (!v.is_number_integer() || v.get<long long>() < (long long)min ||
            v.get<long long>() > (long long)max) {
            fail(path, what + " must be a whole number from " + std::to_string(min) + " to " +
                           std::to_string(max));
        }
        return unsigned(v.get<long long>());
    }
    std::string text(const json& v, const std::string& path, const std::string& what) {
        if (!v.is_string()) {
            fail(path, what + " must be a string (hexadecimal fields are written as on the "
                              "command line, e.g. \"1F\")");
        }
        return v.get<std::string>();
    }
    bool flag(const json& v, const std::string& path, const std::string& what) {
        if (v.is_boolean()) {
            return v.get<bool>();
        }
        if (v.is_number_integer() && (v.get<long long>() == 0 || v.get<long long>() == 1)) {
            return v.get<long long>() == 1;
        }
        fail(path, what + " must be true or false (or 1 or 0)");
    }
    // Names variables that no earlier step captured.
    void knownVariables(const std::string& value, const std::string& path) {
        std::string ignored;
        std::string why;
        std::vector<std::pair<std::string, std::string>> known;
        for (const std::string& v : captured) {
            known.emplace_back(v, "");
        }
        if (!substitutePlanVariables(value, known, ignored, why)) {
            fail(path, why);
        }
    }

    void readRequest(const json& request, const std::string& path, const Plan& plan,
                     PlanStep& step);
    void readExpect(const json& expect, const std::string& path, PlanStep& step);
    void readCaptures(const json& capture, const std::string& path, PlanStep& step);

    std::string name;
    const LineMap& lines;
    std::string errorText;
    std::set<std::string> captured;
};

const char* const requestFlags[] = {"time", "wts", "subl", "ef"};
const char* const requestTexts[] = {"address", "address-1", "address-2", "address-3", "address-4",
                                    "code",    "index",     "ao",        "ntxt",      "status",
                                    "data",    "value",     "type",      "ext"};
const char* const byteFields[] = {"code",   "index",  "ao",     "ntxt",  "status",
                                  "data_0", "data_1", "data_2", "data_3"};
const char* const flagFields[] = {"wtsBit", "csBit", "subLBit", "efBit", "errBit"};

template <std::size_t N> bool among(const std::string& name, const char* const (&list)[N]) {
    for (const char* item : list) {
        if (name == item) {
            return true;
        }
    }
    return false;
}

bool hasVariable(const std::string& text) {
    return text.find("${") != std::string::npos;
}

void PlanReader::readRequest(const json& request, const std::string& path, const Plan&,
                             PlanStep& step) {
    if (!request.is_object()) {
        fail(path, "request must be an object");
    }
    bool variables = false;
    for (auto it = request.begin(); it != request.end(); ++it) {
        const std::string key = it.key();
        const std::string at = path + "/" + pointerToken(key);
        if (among(key, requestFlags)) {
            if (flag(*it, at, "request " + key)) {
                step.request.push_back({key, "", lineOf(at)});
            }
        } else if (among(key, requestTexts)) {
            std::string value;
            if (key == "value" && it->is_number()) {
                value = it->dump(); // a number, as written in the plan
            } else {
                value = text(*it, at, "request " + key);
            }
            if (hasVariable(value)) {
                knownVariables(value, at);
                variables = true;
            }
            step.request.push_back({key, value, lineOf(at)});
        } else {
            fail(at, "unknown field '" + key + "' in request");
        }
    }
    if (variables) {
        return; // checked when the step runs, with the values captured by then
    }
    // The command line's own definitions, so that a plan and a command line
    // refuse alike; a refused option is named on its own line. The options'
    // names are the plan's field names without the dashes.
    RequestOptions options;
    std::string error;
    auto refuse = [this](const std::string& at, std::string why) {
        for (std::string::size_type p; (p = why.find("--")) != std::string::npos;) {
            why.erase(p, 2);
        }
        fail(at, "request: " + why);
    };
    for (const PlanRequestOption& option : step.request) {
        if (!applyRequestOption(options, option.name, option.value, error)) {
            refuse(path + "/" + pointerToken(option.name), error);
        }
    }
    if (!options.addressGiven) {
        refuse(path, "missing --address");
    }
    if (!finishRequest(options, error)) {
        refuse(path, error);
    }
}

void PlanReader::readExpect(const json& expect, const std::string& path, PlanStep& step) {
    if (!expect.is_object()) {
        fail(path, "expect must be an object");
    }
    for (auto it = expect.begin(); it != expect.end(); ++it) {
        const std::string key = it.key();
        const std::string at = path + "/" + pointerToken(key);
        PlanExpectation e;
        e.field = key;
        e.line = lineOf(at);
        if (key == "error") {
            e.expected = std::to_string(whole(*it, at, "expect error", 0, 8));
        } else if (key == "max_ms") {
            if (!it->is_number() || it->get<double>() < 0) {
                fail(at, "expect max_ms must be a number of milliseconds, 0 or more");
            }
            e.expected = it->dump();
            e.tolerance = it->get<double>();
        } else if (key == "ext_count") {
            e.expected = std::to_string(whole(*it, at, "expect ext_count", 0, 65535));
        } else if (among(key, flagFields)) {
            e.expected = flag(*it, at, "expect " + key) ? "1" : "0";
        } else if (among(key, byteFields) || key == "data" || key == "ext") {
            e.expected = text(*it, at, "expect " + key);
            if (hasVariable(e.expected)) {
                knownVariables(e.expected, at);
            } else {
                const unsigned max = key == "ao" || key == "ntxt" ? 0x7F : 0xFF;
                std::vector<unsigned char> bytes;
                unsigned n = 0;
                const bool ok =
                    key == "data"  ? parseHexList(e.expected, 0xFF, bytes) && bytes.size() == 4
                    : key == "ext" ? e.expected.empty() || parseHexList(e.expected, 0xFF, bytes)
                                   : parseHexNumber(e.expected, max, n);
                if (!ok) {
                    char range[16];
                    std::snprintf(range, sizeof range, "0..%X", max);
                    fail(at, "expect " + key + " '" + e.expected + "': expected " +
                                 (key == "data"  ? std::string("four hexadecimal bytes 0..FF")
                                  : key == "ext" ? std::string("hexadecimal bytes 0..FF")
                                                 : "a hexadecimal number " + std::string(range)));
                }
            }
        } else if (key == "value") {
            onlyFields(*it, at, "expect value", {"type", "equals", "tolerance"});
            if (!it->contains("type") || !it->contains("equals")) {
                fail(at, "expect value needs type and equals");
            }
            const std::string typeName = text((*it)["type"], at + "/type", "expect value type");
            e.type = parameterTypeCode(typeName);
            if (e.type <= 0) {
                fail(at + "/type",
                     "unknown type '" + typeName +
                         "': expected BOOLEAN, INTEGER, UNSIGNED, REAL32FIX or REAL32");
            }
            const json& equals = (*it)["equals"];
            if (!equals.is_number()) {
                fail(at + "/equals", "expect value equals must be a number");
            }
            e.expected = equals.dump();
            if (it->contains("tolerance")) {
                const json& t = (*it)["tolerance"];
                if (!t.is_number() || t.get<double>() < 0) {
                    fail(at + "/tolerance", "expect value tolerance must be a number, 0 or more");
                }
                e.tolerance = t.get<double>();
            }
        } else {
            fail(at, "unknown field '" + key + "' in expect");
        }
        step.expectations.push_back(e);
    }
}

void PlanReader::readCaptures(const json& capture, const std::string& path, PlanStep& step) {
    if (!capture.is_object()) {
        fail(path, "capture must be an object: variable name -> answer field");
    }
    for (auto it = capture.begin(); it != capture.end(); ++it) {
        const std::string at = path + "/" + pointerToken(it.key());
        const std::string& variable = it.key();
        bool nameOk = !variable.empty() && !std::isdigit(static_cast<unsigned char>(variable[0]));
        for (char c : variable) {
            nameOk = nameOk && (std::isalnum(static_cast<unsigned char>(c)) || c == '_');
        }
        if (!nameOk) {
            fail(at, "variable name '" + variable + "': letters, digits and _ only");
        }
        const std::string field = text(*it, at, "capture " + variable);
        const bool typed =
            field.compare(0, 6, "value:") == 0 && parameterTypeCode(field.substr(6)) > 0;
        if (!typed && !isPlanAnswerField(field)) {
            fail(at, "capture " + variable + ": unknown answer field '" + field +
                         "' (a field such as code or data_0, data, ext, ext_count or value:TYPE)");
        }
        step.captures.emplace_back(variable, field);
    }
}

bool PlanReader::read(const json& doc, Plan& plan, std::string& error) {
    try {
        onlyFields(doc, "", "the plan",
                   {"comment", "port", "baud", "timeout", "restarts", "steps"});
        plan.file = name;
        if (doc.contains("port")) {
            plan.port = text(doc["port"], "/port", "port");
        }
        if (doc.contains("baud")) {
            plan.baudRate = whole(doc["baud"], "/baud", "baud", 1, 4000000);
        }
        if (doc.contains("timeout")) {
            plan.timeoutMs = whole(doc["timeout"], "/timeout", "timeout", 0, 3600000);
        }
        if (doc.contains("restarts")) {
            plan.restarts = whole(doc["restarts"], "/restarts", "restarts", 0, 1000000);
        }
        if (!doc.contains("steps") || !doc["steps"].is_array() || doc["steps"].empty()) {
            fail(doc.contains("steps") ? "/steps" : "", "the plan needs steps: a list of steps");
        }
        const json& steps = doc["steps"];
        for (std::size_t i = 0; i < steps.size(); ++i) {
            const std::string path = "/steps/" + std::to_string(i);
            const json& s = steps[i];
            onlyFields(s, path, "a step",
                       {"name", "comment", "request", "expect", "capture", "repeat", "delay_ms",
                        "timeout"});
            PlanStep step;
            step.line = lineOf(path);
            step.name = s.contains("name") ? text(s["name"], path + "/name", "name")
                                           : "step " + std::to_string(i + 1);
            if (s.contains("repeat")) {
                step.repeat = whole(s["repeat"], path + "/repeat", "repeat", 1, 1000000);
            }
            if (s.contains("delay_ms")) {
                step.delayMs = whole(s["delay_ms"], path + "/delay_ms", "delay_ms", 0, 3600000);
            }
            if (s.contains("timeout")) {
                step.timeoutMs = int(whole(s["timeout"], path + "/timeout", "timeout", 0, 3600000));
            }
            if (!s.contains("request")) {
                fail(path, "step '" + step.name + "' has no request");
            }
            step.requestLine = lineOf(path + "/request");
            readRequest(s["request"], path + "/request", plan, step);
            if (s.contains("expect")) {
                readExpect(s["expect"], path + "/expect", step);
            }
            if (s.contains("capture")) {
                readCaptures(s["capture"], path + "/capture", step);
            }
            // Variables serve the steps after the one that captures them.
            for (const auto& c : step.captures) {
                captured.insert(c.first);
            }
            plan.steps.push_back(step);
        }
    } catch (const Failure&) {
        error = errorText;
        return false;
    }
    return true;
}

} // namespace

bool isPlanAnswerField(const std::string& field) {
    return among(field, byteFields) || among(field, flagFields) || field == "data" ||
           field == "ext" || field == "ext_count";
}

bool planYamlSupported() {
#ifdef VELK_HAVE_YAML
    return true;
#else
    return false;
#endif
}

bool substitutePlanVariables(const std::string& text,
                             const std::vector<std::pair<std::string, std::string>>& variables,
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
        const std::pair<std::string, std::string>* found = nullptr;
        for (const auto& v : variables) {
            found = v.first == name ? &v : found;
        }
        if (found == nullptr) {
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
               std::string& error) {
    LineMap lines;
    json doc;
    if (yaml) {
#ifdef VELK_HAVE_YAML
        try {
            std::string deep;
            doc = fromYaml(YAML::Load(text), "", lines, 0, deep);
            if (!deep.empty()) {
                error = name + ":" + deep;
                return false;
            }
        } catch (const YAML::Exception& e) {
            error = name + ":" + std::to_string(e.mark.line + 1) + ": " + e.msg;
            return false;
        }
#else
        error = name + ": this velkctl reads JSON plans only (built without yaml-cpp)";
        return false;
#endif
    } else {
        LineCount count;
        LineSax sax(count, lines);
        const char* begin = text.c_str();
        const bool ok =
            json::sax_parse(LineIterator(begin, &count), LineIterator(begin + text.size(), &count),
                            &sax, nlohmann::detail::input_format_t::json, true, true);
        if (!ok) {
            error = name + ":" + std::to_string(sax.errorLine) + ": " + sax.error;
            return false;
        }
        doc = std::move(sax.root);
    }
    Plan result;
    PlanReader reader(name, lines);
    if (!reader.read(doc, result, error)) {
        return false;
    }
    plan = result;
    return true;
}

bool loadPlan(const std::string& path, Plan& plan, std::string& error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = path + ": cannot read the plan";
        return false;
    }
    std::ostringstream text;
    text << file.rdbuf();
    auto endsWith = [&](const char* suffix) {
        const std::string s = suffix;
        return path.size() >= s.size() && path.compare(path.size() - s.size(), s.size(), s) == 0;
    };
    return parsePlan(text.str(), path, endsWith(".yaml") || endsWith(".yml"), plan, error);
}
