#include "UserValue.h"

#include "ParameterTypes.h"
#include "ParameterValue.h"

#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

char upperAscii(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool equalIgnoringAsciiCase(const std::string& a, const char* b) {
    const std::size_t n = std::strlen(b);
    if (a.size() != n) {
        return false;
    }
    for (std::size_t i = 0; i < n; ++i) {
        if (upperAscii(a[i]) != upperAscii(b[i])) {
            return false;
        }
    }
    return true;
}

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

// A number as the dialog's QString::toDouble reads it: C notation, blanks around it
// allowed, an optional sign.
bool parseNumber(const std::string& text, double& value) {
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && isSpace(text[first])) {
        ++first;
    }
    while (last > first && isSpace(text[last - 1])) {
        --last;
    }
    if (first < last && text[first] == '+' && (last - first < 2 || text[first + 1] != '-')) {
        ++first;
    }
    const char* begin = text.data() + first;
    const char* end = text.data() + last;
    if (begin == end) {
        return false;
    }
    const std::from_chars_result r = std::from_chars(begin, end, value);
    return r.ec == std::errc() && r.ptr == end;
}

// Fixed notation with half-way cases rounded away from zero, as the dialog's
// QString::number(v, 'f', n) shows them (printf would round them to even). The exact
// decimal expansion of the double decides, so no tie is mistaken.
std::string fixedText(double value, int decimals) {
    // A double has at most 1074 fractional digits and 309 integral ones.
    constexpr int exactDigits = 1100;
    std::vector<char> buffer(exactDigits + 400);
    const std::to_chars_result r = std::to_chars(buffer.data(), buffer.data() + buffer.size(),
                                                 value, std::chars_format::fixed, exactDigits);
    std::string exact(buffer.data(), r.ptr);
    const bool negative = !exact.empty() && exact[0] == '-';
    std::string digits = negative ? exact.substr(1) : exact;
    const std::size_t point = digits.find('.');
    const std::size_t keep = point + 1 + static_cast<std::size_t>(decimals);
    const bool roundUp = digits[keep] >= '5';
    digits.resize(decimals > 0 ? keep : point);
    if (roundUp) {
        std::size_t i = digits.size();
        for (;;) {
            if (i == 0) {
                digits.insert(digits.begin(), '1');
                break;
            }
            --i;
            if (digits[i] == '.') {
                continue;
            }
            if (digits[i] == '9') {
                digits[i] = '0';
                continue;
            }
            ++digits[i];
            break;
        }
    }
    // -0.0 shows as 0, while a small negative value rounded to zero keeps its sign.
    return (negative && value != 0) ? "-" + digits : digits;
}

} // namespace

int parameterTypeCode(const std::string& name) {
    for (int code = 0; code < typeNameTexts.count; ++code) {
        if (equalIgnoringAsciiCase(name, typeNameTexts.names[code])) {
            return code;
        }
    }
    return -1;
}

std::string parameterTypeName(int type) {
    return (type >= 0 && type < typeNameTexts.count) ? typeNameTexts.names[type] : "";
}

namespace {

double roundHalfAway(double v) {
    return std::trunc(v >= 0 ? v + 0.5 : v - 0.5);
}

// The encoder converts to fixed-size integers; a value outside their range
// would be undefined there, and silently wrapped in the best case.
bool fitsType(double value, int decimals, int type, std::string& error) {
    switch (type) {
    case INTEGER:
        if (roundHalfAway(value) < -2147483648.0 || roundHalfAway(value) > 2147483647.0) {
            error = "does not fit INTEGER (-2147483648..2147483647)";
            return false;
        }
        return true;
    case UNSIGNED:
        if (value < 0 || std::trunc(value + 0.5) > 4294967295.0) {
            error = "does not fit UNSIGNED (0..4294967295)";
            return false;
        }
        return true;
    case REAL32:
        if (std::fabs(value) > double(FLT_MAX)) {
            error = "does not fit REAL32";
            return false;
        }
        return true;
    case REAL32FIX: {
        const double mantissa = roundHalfAway(value * std::pow(10.0, decimals));
        if (mantissa < -8388608.0 || mantissa > 8388607.0) {
            error = "does not fit REAL32FIX (mantissa -8388608..8388607 after the decimals)";
            return false;
        }
        return true;
    }
    default:
        return true;
    }
}

} // namespace

bool splitUserValue(const std::string& text, int type, unsigned char bytes[4], std::string& error) {
    double value = 0;
    if (!parseNumber(text, value) || !std::isfinite(value)) {
        error = "is not a number";
        return false;
    }
    const int decimals = userValueDecimals(text);
    if (!fitsType(value, decimals, type, error)) {
        return false;
    }
    for (int i = 0; i < 4; ++i) {
        bytes[i] = 0;
    }
    ParameterValue(value, decimals).toBytes(bytes, 4, type);
    return true;
}

std::string typedValueText(const unsigned char bytes[4], int type) {
    const int requested = (type == REAL32 || type == REAL32FIX) ? 3 : 0;
    ParameterValue value(0, 0);
    value.fromBytes(bytes, 4, type, requested);
    return fixedText(value.value, static_cast<int>(value.decimals));
}
