#include "ToolText.h"

#include <cctype>
#include <cstdio>
#include <sstream>

namespace {

// Control characters as C and JSON write them; for JSON also the quote and
// the backslash, and \u00XX where C writes \xXX.
std::string escaped(const std::string& text, bool json) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '"':
            out += json ? "\\\"" : "\"";
            break;
        case '\\':
            out += json ? "\\\\" : "\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
                char code[8];
                std::snprintf(code, sizeof code, json ? "\\u%04x" : "\\x%02x", unsigned(c));
                out += code;
            } else {
                out += c;
            }
        }
    }
    return out;
}

bool parseNumber(const std::string& text, unsigned base, unsigned max, unsigned& out) {
    if (text.empty()) {
        return false;
    }
    unsigned long long n = 0;
    for (unsigned char c : text) {
        if (base == 16 ? !std::isxdigit(c) : !std::isdigit(c)) {
            return false;
        }
        n = n * base + (std::isdigit(c) ? unsigned(c - '0') : unsigned(std::toupper(c) - 'A' + 10));
        if (n > max) {
            return false;
        }
    }
    out = unsigned(n);
    return true;
}

} // namespace

std::string printableText(const std::string& text) {
    return escaped(text, false);
}

std::string jsonEscape(const std::string& text) {
    return escaped(text, true);
}

std::string jsonString(const std::string& text) {
    return "\"" + jsonEscape(text) + "\"";
}

bool parseHexNumber(const std::string& text, unsigned max, unsigned& out) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        return parseNumber(text.substr(2), 16, max, out);
    }
    return parseNumber(text, 16, max, out);
}

bool parseDecimalNumber(const std::string& text, unsigned max, unsigned& out) {
    return parseNumber(text, 10, max, out);
}

bool parseHexList(const std::string& text, unsigned max, std::vector<unsigned char>& out) {
    // Items are separated by commas; blanks separate items too. An empty item
    // (",,", a comma at either end, nothing at all) is an error.
    std::vector<unsigned char> bytes;
    std::string::size_type start = 0;
    while (true) {
        const std::string::size_type comma = text.find(',', start);
        std::istringstream tokens(text.substr(start, comma - start));
        std::string token;
        bool any = false;
        unsigned value = 0;
        while (tokens >> token) {
            if (!parseHexNumber(token, max, value)) {
                return false;
            }
            bytes.push_back(static_cast<unsigned char>(value));
            any = true;
        }
        if (!any) {
            return false;
        }
        if (comma == std::string::npos) {
            break;
        }
        start = comma + 1;
    }
    out = bytes;
    return true;
}
