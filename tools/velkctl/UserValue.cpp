#include "UserValue.h"

#include "ParameterTypes.h"
#include "ParameterValue.h"

#include <algorithm>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <string_view>
#include <vector>

namespace {

char upperAscii(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// A number as the dialog's QString::toDouble reads it: C notation, blanks around it
// allowed, an optional sign.
bool parseNumber(const std::string& text, double& value) {
    const char* const blanks = " \t\n\r\f\v";
    std::string_view s(text);
    s.remove_prefix(std::min(s.size(), s.find_first_not_of(blanks)));
    s.remove_suffix(s.size() - std::min(s.size(), s.find_last_not_of(blanks) + 1));
    s.remove_prefix(s.compare(0, 1, "+") == 0 && s.compare(0, 2, "+-") != 0 ? 1 : 0);
    const std::from_chars_result r = std::from_chars(s.data(), s.data() + s.size(), value);
    return !s.empty() && r.ec == std::errc() && r.ptr == s.data() + s.size();
}

// Fixed notation with half-way cases rounded away from zero, as the dialog's
// QString::number(v, 'f', n) shows them (to_chars rounds them to even). The exact
// decimal expansion of the double decides, so no tie is mistaken.
std::string fixedText(double value, int decimals) {
    // A double has at most 1074 fractional digits and 309 integral ones.
    std::vector<char> buffer(1500);
    char* const begin = buffer.data();
    const char* end =
        std::to_chars(begin, begin + buffer.size(), value, std::chars_format::fixed, 1100).ptr;
    const std::string_view exact(begin, std::size_t(end - begin));
    const std::size_t tie = exact.find('.') + 1 + std::size_t(decimals);
    if (exact.find('.') != std::string_view::npos && exact[tie] == '5' &&
        exact.find_first_not_of('0', tie + 1) == std::string_view::npos) {
        value = std::nextafter(value, value < 0 ? -HUGE_VAL : HUGE_VAL);
    }
    end =
        std::to_chars(begin, begin + buffer.size(), value, std::chars_format::fixed, decimals).ptr;
    // -0.0 shows as 0, while a small negative value rounded to zero keeps its sign.
    const char* const text = begin + (value == 0 && *begin == '-' ? 1 : 0);
    return std::string(text, end);
}

} // namespace

int parameterTypeCode(const std::string& name) {
    for (int code = 0; code < typeNameTexts.count; ++code) {
        const std::string_view type = typeNameTexts.names[code];
        if (std::equal(name.begin(), name.end(), type.begin(), type.end(),
                       [](char a, char b) { return upperAscii(a) == upperAscii(b); })) {
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

// Why the encoder cannot take the value, or null: it converts to fixed-size
// integers, where a value outside their range would be undefined, and
// silently wrapped in the best case.
const char* misfit(double value, int decimals, int type) {
    const double whole = roundHalfAway(value);
    const double mantissa = roundHalfAway(value * std::pow(10.0, decimals));
    if (type == INTEGER && (whole < -2147483648.0 || whole > 2147483647.0)) {
        return "does not fit INTEGER (-2147483648..2147483647)";
    }
    if (type == UNSIGNED && (value < 0 || std::trunc(value + 0.5) > 4294967295.0)) {
        return "does not fit UNSIGNED (0..4294967295)";
    }
    if (type == REAL32 && std::fabs(value) > double(FLT_MAX)) {
        return "does not fit REAL32";
    }
    if (type == REAL32FIX && (mantissa < -8388608.0 || mantissa > 8388607.0)) {
        return "does not fit REAL32FIX (mantissa -8388608..8388607 after the decimals)";
    }
    return nullptr;
}

} // namespace

bool splitUserValue(const std::string& text, int type, unsigned char bytes[4], std::string& error) {
    double value = 0;
    if (!parseNumber(text, value) || !std::isfinite(value)) {
        error = "is not a number";
        return false;
    }
    const int decimals = userValueDecimals(text);
    if (const char* why = misfit(value, decimals, type)) {
        error = why;
        return false;
    }
    std::fill(bytes, bytes + 4, 0);
    ParameterValue(value, decimals).toBytes(bytes, 4, type);
    return true;
}

std::string typedValueText(const unsigned char bytes[4], int type) {
    const int requested = (type == REAL32 || type == REAL32FIX) ? 3 : 0;
    ParameterValue value(0, 0);
    value.fromBytes(bytes, 4, type, requested);
    return fixedText(value.value, static_cast<int>(value.decimals));
}
