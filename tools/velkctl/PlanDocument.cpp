#include "PlanDocument.h"

#include <nlohmann/json.hpp>

#ifdef VELK_HAVE_YAML
#include <yaml.h>
#endif

#include <algorithm>
#include <cctype>
#include <charconv>
#include <iterator>
#include <memory>
#include <unordered_map>

namespace {

using Kind = PlanDocument::Kind;
using Index = PlanDocument::Index;
using Failure = PlanDocument::Failure;

// Values added between two questions to the stop function.
const unsigned stopEvery = 4096;

int lineAt(std::string_view text, std::size_t offset) {
    return 1 + int(std::count(text.begin(), text.begin() + std::ptrdiff_t(offset), '\n'));
}

// A number as written, in the C locale whatever the process's.
template <class Number> bool parseNumber(std::string_view text, Number& out) {
    text.remove_prefix(!text.empty() && text[0] == '+' ? 1 : 0);
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && end == text.data() + text.size();
}

// The offset of the first byte that breaks UTF-8 (overlong forms, surrogates
// and code points above U+10FFFF included), or npos.
std::size_t firstNonUtf8(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        const std::size_t more = c < 0x80               ? 0
                                 : c < 0xC2 || c > 0xF4 ? 4
                                 : c < 0xE0             ? 1
                                 : c < 0xF0             ? 2
                                                        : 3;
        // The range of the first continuation byte rules out what its lead cannot start.
        const unsigned char low = c == 0xE0 ? 0xA0 : c == 0xF0 ? 0x90 : 0x80;
        const unsigned char high = c == 0xED ? 0x9F : c == 0xF4 ? 0x8F : 0xBF;
        if (more > 3 || s.size() - i <= more) {
            return i;
        }
        for (std::size_t k = 1; k <= more; ++k) {
            const unsigned char next = static_cast<unsigned char>(s[i + k]);
            if (next < (k == 1 ? low : 0x80) || next > (k == 1 ? high : 0xBF)) {
                return i;
            }
        }
        i += more + 1;
    }
    return std::string_view::npos;
}

} // namespace

// Adds values to the document as a parser reports them, and refuses what a
// plan must not hold. Every refusal throws a Failure.
class PlanDocument::Builder {
public:
    Builder(PlanDocument& doc, const std::function<bool()>& stop) : doc(doc), stop(stop) {}

    // Inside an object, a member's name comes next.
    bool wantsKey() const {
        return !levels.empty() && levels.back().object && levels.back().keyNext;
    }

    // A scalar; where a key is due, it is the key.
    void scalar(Kind kind, int line, std::string_view text, bool flag = false,
                std::size_t anchor = 0) {
        const std::uint8_t k = wantsKey() ? std::uint8_t(keyKind) : std::uint8_t(kind);
        const Index i = add(k, line, store(text),
                            k == std::uint8_t(Kind::Boolean) ? flag : std::uint32_t(text.size()));
        if (!levels.empty()) {
            ++levels.back().values;
        }
        setAnchor(anchor, i, 1);
    }

    void open(Kind kind, int line, std::size_t anchor = 0) {
        if (wantsKey()) {
            throw Failure{line, "a field name must be text"};
        }
        if (levels.size() >= maxDepth) {
            throw Failure{line,
                          "nested too deeply (more than " + std::to_string(maxDepth) + " levels)"};
        }
        const Index i = add(std::uint8_t(kind), line, none, 0);
        levels.push_back({i, none, 1, anchor, kind == Kind::Object, true});
        setAnchor(anchor, i, 0);
    }

    void close() {
        const Level level = levels.back();
        levels.pop_back();
        if (level.object) {
            refuseDuplicates(level.node);
        }
        if (level.anchor != 0) {
            anchors[level.anchor].values = level.values;
            anchors[level.anchor].open = false;
        }
        if (!levels.empty()) {
            levels.back().values += level.values;
        }
    }

    // A YAML alias: a reference to the anchored value, its values counted.
    void alias(int line, std::size_t anchor) {
        if (anchor >= anchors.size() || anchors[anchor].node == none) {
            throw Failure{line, "alias of an unknown anchor"};
        }
        const Anchor& a = anchors[anchor];
        if (a.open) {
            throw Failure{line, "an alias inside the value it names"};
        }
        aliasValues += a.values;
        if (aliasValues > maxAliasValues) {
            throw Failure{line, "aliases stand for more than " + std::to_string(maxAliasValues) +
                                    " values in all"};
        }
        if (wantsKey()) {
            const Kind target = doc.kind(a.node);
            if (target == Kind::Object || target == Kind::Array) {
                throw Failure{line, "a field name must be text"};
            }
            const std::string_view name = doc.text(a.node);
            add(keyKind, line, store(name), std::uint32_t(name.size()));
            return;
        }
        add(aliasKind, line, a.node, 0);
        if (!levels.empty()) {
            levels.back().values += a.values;
        }
    }

private:
    struct Level {
        Index node;
        Index last;
        std::uint64_t values; // in this value, those that aliases stand for included
        std::size_t anchor;
        bool object;
        bool keyNext;
    };
    struct Anchor {
        Index node = none;
        std::uint64_t values = 0;
        bool open = false;
    };

    std::uint32_t store(std::string_view text) {
        const std::uint32_t offset = std::uint32_t(doc.texts.size());
        doc.texts.append(text);
        return offset;
    }

    Index add(std::uint8_t kind, int line, std::uint32_t a, std::uint32_t b) {
        if (++added % stopEvery == 0 && stop && stop()) {
            throw Failure{0, "", true};
        }
        const Index i = Index(doc.nodes.size());
        doc.nodes.push_back({kind, std::uint32_t(std::min(line, (1 << 29) - 1)), a, b, none});
        if (levels.empty()) {
            doc.rootIndex = i;
            return i;
        }
        Level& level = levels.back();
        (level.last == none ? doc.nodes[level.node].a : doc.nodes[level.last].next) = i;
        level.last = i;
        doc.nodes[level.node].b += kind == keyKind ? 0 : 1;
        level.keyNext = kind != keyKind;
        return i;
    }

    void setAnchor(std::size_t anchor, Index node, std::uint64_t values) {
        if (anchor != 0) {
            anchors.resize(std::max(anchors.size(), anchor + 1));
            anchors[anchor] = {node, values, values == 0};
        }
    }

    // The first key, in the document's order, that repeats an earlier one.
    void refuseDuplicates(Index object) {
        std::vector<Index> keys;
        keys.reserve(doc.nodes[object].b);
        for (Index k = doc.first(object); k != none; k = doc.next(k)) {
            keys.push_back(k);
        }
        std::stable_sort(keys.begin(), keys.end(),
                         [&](Index x, Index y) { return doc.text(x) < doc.text(y); });
        Index repeat = none;
        for (std::size_t i = 1; i < keys.size(); ++i) {
            if (doc.text(keys[i]) == doc.text(keys[i - 1])) {
                repeat = std::min(repeat, keys[i]);
            }
        }
        if (repeat != none) {
            throw Failure{doc.line(repeat),
                          "field '" + std::string(doc.text(repeat)) + "' given twice"};
        }
    }

    PlanDocument& doc;
    const std::function<bool()>& stop;
    std::vector<Level> levels;
    std::vector<Anchor> anchors;
    std::uint64_t aliasValues = 0;
    std::uint64_t added = 0;
};

namespace {

// Counts lines as nlohmann's lexer reads the text, and keeps the line of the
// last character that is not white space: where the token just read is.
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

class JsonEvents : public nlohmann::json::json_sax_t {
public:
    explicit JsonEvents(PlanDocument::Builder& builder) : b(builder) {}

    bool null() override { return scalar(Kind::Null, ""); }
    bool boolean(bool v) override {
        b.scalar(Kind::Boolean, count.tokenLine, "", v);
        return true;
    }
    bool number_integer(number_integer_t v) override {
        return scalar(Kind::Number, std::to_string(v));
    }
    bool number_unsigned(number_unsigned_t v) override {
        return scalar(Kind::Number, std::to_string(v));
    }
    // The number as written: its decimals are part of what it says.
    bool number_float(number_float_t, const string_t& text) override {
        return scalar(Kind::Number, text);
    }
    bool string(string_t& v) override { return scalar(Kind::String, v); }
    bool binary(binary_t&) override { return true; } // JSON text has none
    bool start_object(std::size_t) override { return open(Kind::Object); }
    bool key(string_t& k) override { return scalar(Kind::String, k); }
    bool end_object() override { return close(); }
    bool start_array(std::size_t) override { return open(Kind::Array); }
    bool end_array() override { return close(); }

    // "[json.exception.parse_error.101] parse error at line 3, column 5:
    // syntax error ..." -> "syntax error ...", our own line in front.
    bool parse_error(std::size_t, const std::string&, const nlohmann::json::exception& e) override {
        std::string reason = e.what();
        if (reason.compare(0, 1, "[") == 0 && reason.find("] ") != std::string::npos) {
            reason.erase(0, reason.find("] ") + 2);
        }
        if (reason.compare(0, 11, "parse error") == 0 && reason.find(": ") != std::string::npos) {
            reason.erase(0, reason.find(": ") + 2);
        }
        throw Failure{count.line, reason};
    }

    LineCount count;

private:
    bool scalar(Kind kind, std::string_view text) {
        b.scalar(kind, count.tokenLine, text);
        return true;
    }
    bool open(Kind kind) {
        b.open(kind, count.tokenLine);
        return true;
    }
    bool close() {
        b.close();
        return true;
    }

    PlanDocument::Builder& b;
};

#ifdef VELK_HAVE_YAML
// A plain (unquoted, untagged) YAML number: digits with an optional sign,
// point and exponent. Hexadecimal and other forms stay text.
bool looksNumeric(std::string_view s) {
    std::size_t i = s.empty() || (s[0] != '-' && s[0] != '+') ? 0 : 1;
    auto digits = [&] {
        const std::size_t from = i;
        while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) {
            ++i;
        }
        return i - from;
    };
    std::size_t mantissa = digits();
    if (i < s.size() && s[i] == '.') {
        ++i;
        mantissa += digits();
    }
    if (mantissa == 0) {
        return false;
    }
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        i += i + 1 < s.size() && (s[i + 1] == '-' || s[i + 1] == '+') ? 2 : 1;
        if (digits() == 0) {
            return false;
        }
    }
    return i == s.size();
}

// One of the words in YAML 1.1's spellings (LibYAML's version of the
// language): lower case, Capitalised or UPPER CASE.
bool spelledAs(std::string_view s, std::initializer_list<std::string_view> words) {
    const auto upper = [](unsigned char c) { return std::isupper(c) != 0; };
    const auto lower = [](unsigned char c) { return std::islower(c) != 0; };
    if (s.empty() ||
        (std::any_of(s.begin() + 1, s.end(), upper) && std::any_of(s.begin(), s.end(), lower))) {
        return false;
    }
    return std::any_of(words.begin(), words.end(), [&](std::string_view w) {
        return w.size() == s.size() &&
               std::equal(w.begin(), w.end(), s.begin(), [](char a, char b) {
                   return a == std::tolower(static_cast<unsigned char>(b));
               });
    });
}

// What a plain scalar says; NaN and infinities are refused.
Kind plainKind(std::string_view s, int line, bool& flag) {
    if (s.empty() || spelledAs(s, {"~", "null"})) { // as LibYAML's own resolver
        return Kind::Null;
    }
    flag = spelledAs(s, {"y", "yes", "true", "on"});
    if (flag || spelledAs(s, {"n", "no", "false", "off"})) {
        return Kind::Boolean;
    }
    if (spelledAs(s, {".nan", ".inf", "+.inf", "-.inf"})) {
        throw Failure{line, "'" + std::string(s) + "' is not a finite number"};
    }
    double number = 0;
    if (!looksNumeric(s)) {
        return Kind::String;
    }
    if (!parseNumber(s, number)) {
        throw Failure{line, "number '" + std::string(s) + "' out of range"};
    }
    return Kind::Number;
}

// LibYAML ends the last line of a text that does not end one, so an error
// at the end can name the line after it. Its line breaks: LF, CR, CR LF, and
// NEL, LS and PS in UTF-8.
int lastYamlLine(const std::string& text) {
    int line = 1;
    for (std::size_t i = 0; i < text.size(); ++i) {
        for (std::string_view lineBreak :
             {"\n", "\r", "\xC2\x85", "\xE2\x80\xA8", "\xE2\x80\xA9"}) {
            line +=
                text.compare(i, lineBreak.size(), lineBreak) == 0 && text.compare(i, 2, "\r\n") != 0
                    ? 1
                    : 0;
        }
    }
    return line;
}

[[noreturn]] void refuseYaml(const yaml_parser_t& parser, const std::string& text) {
    std::string reason = parser.problem != nullptr ? parser.problem : "not YAML";
    if (parser.context != nullptr) {
        reason += std::string(" ") + parser.context;
    }
    const int line = parser.error == YAML_READER_ERROR
                         ? lineAt(text, std::min(parser.problem_offset, text.size()))
                         : int(parser.problem_mark.line) + 1;
    throw Failure{std::min(line, lastYamlLine(text)), reason};
}

// The first document of the text; a plan is one. LibYAML's parser reads
// ahead a bounded stretch of the text (a possible key lasts one line and
// 1024 characters at most), so it holds little more than the document's tree.
void readYaml(const std::string& text, PlanDocument::Builder& b) {
    yaml_parser_t parser;
    if (yaml_parser_initialize(&parser) == 0) {
        throw Failure{0, "not enough memory to read YAML"};
    }
    const std::unique_ptr<yaml_parser_t, void (*)(yaml_parser_t*)> parserOwner(&parser,
                                                                               &yaml_parser_delete);
    yaml_parser_set_input_string(&parser, reinterpret_cast<const unsigned char*>(text.data()),
                                 text.size());
    yaml_parser_set_encoding(&parser, YAML_UTF8_ENCODING);
    const std::size_t maxAnchors = 10000;
    std::unordered_map<std::string, std::size_t> anchors;
    std::size_t defined = 0;
    // A new anchor (a name used again names the later value); 0 for none.
    const auto define = [&](const yaml_char_t* anchor, int line) -> std::size_t {
        if (anchor == nullptr) {
            return 0;
        }
        if (defined == maxAnchors) {
            throw Failure{line, "more than " + std::to_string(maxAnchors) + " anchors"};
        }
        return anchors[reinterpret_cast<const char*>(anchor)] = ++defined;
    };
    for (;;) {
        yaml_event_t e;
        if (yaml_parser_parse(&parser, &e) == 0) {
            refuseYaml(parser, text);
        }
        const std::unique_ptr<yaml_event_t, void (*)(yaml_event_t*)> eventOwner(&e,
                                                                                &yaml_event_delete);
        const int line = int(e.start_mark.line) + 1;
        switch (e.type) {
        case YAML_SCALAR_EVENT: {
            const auto& scalar = e.data.scalar;
            const std::string_view value(reinterpret_cast<const char*>(scalar.value),
                                         scalar.length);
            bool flag = false;
            const Kind kind = scalar.plain_implicit != 0 && !b.wantsKey()
                                  ? plainKind(value, line, flag)
                                  : Kind::String;
            b.scalar(kind, line, value, flag, define(scalar.anchor, line));
            break;
        }
        case YAML_ALIAS_EVENT: {
            const auto found = anchors.find(reinterpret_cast<const char*>(e.data.alias.anchor));
            b.alias(line, found != anchors.end() ? found->second : 0);
            break;
        }
        case YAML_SEQUENCE_START_EVENT:
            b.open(Kind::Array, line, define(e.data.sequence_start.anchor, line));
            break;
        case YAML_MAPPING_START_EVENT:
            b.open(Kind::Object, line, define(e.data.mapping_start.anchor, line));
            break;
        case YAML_SEQUENCE_END_EVENT:
        case YAML_MAPPING_END_EVENT:
            b.close();
            break;
        case YAML_DOCUMENT_END_EVENT:
        case YAML_STREAM_END_EVENT:
            return;
        default:
            break;
        }
    }
}
#endif

} // namespace

bool PlanDocument::parse(const std::string& text, bool yaml, const std::function<bool()>& stop,
                         Failure& failure) {
    static_assert(sizeof(Node) == 16, "a value costs 16 bytes");
    nodes.clear();
    texts.clear();
    rootIndex = none;
    try {
        const std::size_t bad = firstNonUtf8(text);
        if (bad != std::string::npos) {
            throw Failure{lineAt(text, bad), "not UTF-8 text"};
        }
        texts.reserve(text.size());
        Builder builder(*this, stop);
        if (yaml) {
#ifdef VELK_HAVE_YAML
            readYaml(text, builder);
#else
            throw Failure{0, "this velkctl reads JSON plans only (built without LibYAML)"};
#endif
        } else {
            JsonEvents events(builder);
            const char* begin = text.data();
            nlohmann::json::sax_parse(LineIterator(begin, &events.count),
                                      LineIterator(begin + text.size(), &events.count), &events,
                                      nlohmann::json::input_format_t::json, true, true);
        }
        return true;
    } catch (Failure& f) {
        failure = std::move(f);
    }
    nodes.clear();
    rootIndex = none;
    return false;
}

const PlanDocument::Node& PlanDocument::resolved(Index value) const {
    const Node& node = nodes[value];
    return node.kind == aliasKind ? nodes[node.a] : node;
}

PlanDocument::Kind PlanDocument::kind(Index value) const {
    const std::uint8_t k = resolved(value).kind;
    return k == keyKind ? Kind::String : Kind(k);
}

int PlanDocument::line(Index value) const {
    return int(nodes[value].line);
}

std::string_view PlanDocument::text(Index value) const {
    const Kind k = kind(value);
    const Node& node = resolved(value);
    return k == Kind::Number || k == Kind::String ? std::string_view(texts).substr(node.a, node.b)
                                                  : std::string_view();
}

bool PlanDocument::boolean(Index value) const {
    return kind(value) == Kind::Boolean && resolved(value).b != 0;
}

bool PlanDocument::number(Index value, double& out) const {
    return kind(value) == Kind::Number && parseNumber(text(value), out);
}

bool PlanDocument::wholeNumber(Index value, long long& out) const {
    return kind(value) == Kind::Number && parseNumber(text(value), out);
}

PlanDocument::Index PlanDocument::first(Index container) const {
    const Kind k = kind(container);
    return k == Kind::Object || k == Kind::Array ? resolved(container).a : none;
}

PlanDocument::Index PlanDocument::next(Index item) const {
    const Node& node = nodes[item];
    return node.kind == keyKind ? nodes[node.next].next : node.next;
}

std::size_t PlanDocument::size(Index container) const {
    return first(container) != none ? resolved(container).b : 0;
}

PlanDocument::Index PlanDocument::find(Index object, std::string_view key) const {
    for (Index k = kind(object) == Kind::Object ? first(object) : none; k != none; k = next(k)) {
        if (text(k) == key) {
            return value(k);
        }
    }
    return none;
}
