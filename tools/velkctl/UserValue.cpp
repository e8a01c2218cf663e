#include "UserValue.h"

#include "ParameterNames.h"
#include "ParameterValue.h"

#include <QString>
#include <QStringList>

#include <cfloat>
#include <cmath>

int parameterTypeCode(const std::string& name) {
    // The list answers 0 for an unknown name as well as for NIL.
    const QString text = QString::fromStdString(name);
    const int code = typeNames.indexOf(text);
    return text.compare(typeNames.nameOf(code), Qt::CaseInsensitive) == 0 ? code : -1;
}

std::string parameterTypeName(int type) {
    return typeNames.nameOf(type).toStdString();
}

int userValueDecimals(const std::string& text) {
    const QStringList parts = QString::fromStdString(text).split(QLatin1Char('.'));
    if (parts.size() != 2) {
        return 0;
    }
    const int decimals = int(parts[1].size());
    return decimals < 1 ? 1 : (decimals > 3 ? 3 : decimals);
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
    bool ok = false;
    const double value = QString::fromStdString(text).toDouble(&ok);
    if (!ok || !std::isfinite(value)) {
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
    return QString::number(value.value, 'f', int(value.decimals)).toStdString();
}
