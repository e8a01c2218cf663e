#pragma once

#include <string>

// The decimals a typed user value gives (the dialog's user value, velkctl's
// --value): the number of characters after the only point, at least 1 and
// at most 3; 0 without exactly one point.
int userValueDecimals(const std::string& text);

// A number with the count of decimals it is shown with, and its little-endian byte
// field in a data block; the conversion is chosen by a ParameterType code.
struct ParameterValue {
    double value;
    unsigned decimals;

    ParameterValue(double value = 0, int decimals = 0);

    // Fills dst[0 .. len-1]: zeroed first, then encoded when the type accepts len
    // (BOOLEAN any; INTEGER and UNSIGNED up to 4; REAL32 and REAL32FIX exactly 4).
    // Integers are rounded half away from zero; out-of-range values keep their low
    // 32 bits (NaN and infinities give 0).
    void toBytes(unsigned char* dst, unsigned len, int type) const;
    // Sets value and decimals from src[0 .. len-1]; decimals is used for REAL32 only.
    // An unknown type or a length the type does not accept leaves both fields as they are.
    void fromBytes(const unsigned char* src, unsigned len, int type, int decimals);
};
