#ifndef VELK_PARAMETERVALUECASES_H
#define VELK_PARAMETERVALUECASES_H

#include "ParameterTypes.h"

#include <cmath>
#include <limits>

// The typed parameter value's encoding and decoding cases, shared by the Qt
// test and the plain test that also runs on Windows. Bytes are hexadecimal.
namespace parametervaluecases {

inline const double inf_ = std::numeric_limits<double>::infinity();
inline const double nan_ = std::numeric_limits<double>::quiet_NaN();

struct Encode {
    const char* name;
    int type;
    double value;
    int decimals;
    unsigned len;
    const char* bytes;
};

// REAL32FIX rounds to single precision after every step (in double,
// 0.235/2 would give 17 and 0.0515/3 34); out-of-range values keep their low
// bits; a length the type does not accept leaves the field zero.
inline const Encode encode[] = {
    {"REAL32FIX 12.5/1 -> 7D 00 00 01", REAL32FIX, 12.5, 1, 4u, "7D000001"},
    {"REAL32FIX -0.25/2 -> E7 FF FF 02", REAL32FIX, -0.25, 2, 4u, "E7FFFF02"},
    {"REAL32FIX 3.14159/3 -> 46 0C 00 03", REAL32FIX, 3.14159, 3, 4u, "460C0003"},
    {"REAL32FIX 1.25/2 -> 7D 00 00 02", REAL32FIX, 1.25, 2, 4u, "7D000002"},
    {"REAL32FIX -1.5/1 -> F1 FF FF 01", REAL32FIX, -1.5, 1, 4u, "F1FFFF01"},
    {"REAL32FIX 1e7/0 -> 80 96 98 00", REAL32FIX, 1e7, 0, 4u, "80969800"},
    {"REAL32FIX 0.235/2 -> 18 00 00 02", REAL32FIX, 0.235, 2, 4u, "18000002"},
    {"REAL32FIX 0.0515/3 -> 33 00 00 03", REAL32FIX, 0.0515, 3, 4u, "33000003"},
    {"REAL32FIX 2^32+512 keeps low 24 bits -> 00 02 00 00", REAL32FIX, 4294967808.0, 0, 4u,
     "00020000"},
    {"REAL32FIX NaN -> 00 00 00 01", REAL32FIX, nan_, 1, 4u, "00000001"},
    {"REAL32FIX decimals 300 keep low byte -> 00 00 00 2C", REAL32FIX, 0.0, 300, 4u, "0000002C"},
    {"REAL32FIX huge decimals end in infinity -> 00 00 00 FF", REAL32FIX, 1.0, -1, 4u, "000000FF"},
    {"REAL32FIX length 3 -> 00 00 00", REAL32FIX, 12.5, 1, 3u, "000000"},
    {"INTEGER -1 -> FF FF FF FF", INTEGER, -1.0, 0, 4u, "FFFFFFFF"},
    {"INTEGER 2.5 -> 03 00 00 00", INTEGER, 2.5, 0, 4u, "03000000"},
    {"INTEGER -2.5 -> FD FF FF FF", INTEGER, -2.5, 0, 4u, "FDFFFFFF"},
    {"INTEGER 2.49 -> 02 00 00 00", INTEGER, 2.49, 0, 4u, "02000000"},
    {"INTEGER 12.5 -> 0D 00 00 00", INTEGER, 12.5, 0, 4u, "0D000000"},
    {"INTEGER -1 in 2 bytes -> FF FF", INTEGER, -1.0, 0, 2u, "FFFF"},
    {"INTEGER 0x123456 in 1 byte -> 56", INTEGER, double(0x123456), 0, 1u, "56"},
    {"INTEGER 2^32+1 wraps -> 01 00 00 00", INTEGER, 4294967297.0, 0, 4u, "01000000"},
    {"INTEGER 1e20 wraps -> 00 00 10 63", INTEGER, 1e20, 0, 4u, "00001063"},
    {"INTEGER -1e20 wraps -> 00 00 F0 9C", INTEGER, -1e20, 0, 4u, "0000F09C"},
    {"INTEGER infinity -> 00 00 00 00", INTEGER, inf_, 0, 4u, "00000000"},
    {"INTEGER NaN -> 00 00 00 00", INTEGER, nan_, 0, 4u, "00000000"},
    {"INTEGER length 5 -> 00 x5", INTEGER, 7.0, 0, 5u, "0000000000"},
    {"UNSIGNED 300 -> 2C 01 00 00", UNSIGNED, 300.0, 0, 4u, "2C010000"},
    {"UNSIGNED -7 -> 00 00 00 00", UNSIGNED, -7.0, 0, 4u, "00000000"},
    {"UNSIGNED -0.4 -> 00 00 00 00", UNSIGNED, -0.4, 0, 4u, "00000000"},
    {"UNSIGNED 4294967295 -> FF FF FF FF", UNSIGNED, 4294967295.0, 0, 4u, "FFFFFFFF"},
    {"UNSIGNED 2^32+5.5 wraps -> 06 00 00 00", UNSIGNED, 4294967301.5, 0, 4u, "06000000"},
    {"UNSIGNED 300 in 1 byte -> 2C", UNSIGNED, 300.0, 0, 1u, "2C"},
    {"UNSIGNED length 8 -> 00 x8", UNSIGNED, 300.0, 0, 8u, "0000000000000000"},
    {"REAL32 1.5 -> 00 00 C0 3F", REAL32, 1.5, 0, 4u, "0000C03F"},
    {"REAL32 -2 -> 00 00 00 C0", REAL32, -2.0, 3, 4u, "000000C0"},
    {"REAL32 length 2 -> 00 00", REAL32, 1.5, 0, 2u, "0000"},
    {"BOOLEAN 0.3 -> 01 00 00 00", BOOLEAN, 0.3, 0, 4u, "01000000"},
    {"BOOLEAN -5 -> 01", BOOLEAN, -5.0, 0, 1u, "01"},
    {"BOOLEAN 0 -> 00 00 00 00", BOOLEAN, 0.0, 0, 4u, "00000000"},
    {"BOOLEAN 1 in 6 bytes -> 01 00 00 00 00 00", BOOLEAN, 1.0, 0, 6u, "010000000000"},
    {"NIL 12.5 -> 00 00 00 00", NIL, 12.5, 1, 4u, "00000000"},
    {"type 6 -> 00 00 00 00", 6, 12.5, 1, 4u, "00000000"},
    {"type -1 -> 00 00", -1, 1.0, 0, 2u, "0000"},
};

// Decoded from a value of 42 with 7 decimals: rows that must not decode
// expect it back. REAL32FIX divides in single precision at every step.
struct Decode {
    const char* name;
    int type;
    const char* bytes;
    int requestedDecimals;
    double value;
    unsigned decimals;
};

inline const Decode decode[] = {
    {"REAL32FIX 7D 00 00 01 -> 12.5/1", REAL32FIX, "7D000001", 3, 12.5, 1u},
    {"REAL32FIX 7D 00 00 02 -> 1.25/2", REAL32FIX, "7D000002", 3, 1.25, 2u},
    {"REAL32FIX F1 FF FF 01 -> -1.5/1", REAL32FIX, "F1FFFF01", 3, -1.5, 1u},
    {"REAL32FIX E7 FF FF 02 -> -0.25/2", REAL32FIX, "E7FFFF02", 3, -0.25, 2u},
    {"REAL32FIX 80 96 98 00 -> -6777216/0", REAL32FIX, "80969800", 3, -6777216.0, 0u},
    {"REAL32FIX FF FF 7F 00 -> 8388607/0", REAL32FIX, "FFFF7F00", 3, 8388607.0, 0u},
    {"REAL32FIX 00 00 80 00 -> -8388608/0", REAL32FIX, "00008000", 3, -8388608.0, 0u},
    {"REAL32FIX 01 00 00 03 -> 0.000999999931/3", REAL32FIX, "01000003", 0, 0.0009999999310821295,
     3u},
    {"REAL32FIX length 3 unchanged", REAL32FIX, "7D0000", 3, 42.0, 7u},
    {"INTEGER 7D 00 00 01 -> 16777341", INTEGER, "7D000001", 3, 16777341.0, 0u},
    {"INTEGER FF FF FF FF -> -1", INTEGER, "FFFFFFFF", 0, -1.0, 0u},
    {"INTEGER 00 00 00 80 -> -2147483648", INTEGER, "00000080", 0, -2147483648.0, 0u},
    {"INTEGER FF FF -> 65535", INTEGER, "FFFF", 0, 65535.0, 0u},
    {"INTEGER FF -> 255", INTEGER, "FF", 0, 255.0, 0u},
    {"INTEGER FF FF FF -> 16777215", INTEGER, "FFFFFF", 0, 16777215.0, 0u},
    {"INTEGER length 5 unchanged", INTEGER, "0100000000", 0, 42.0, 7u},
    {"UNSIGNED FF FF FF FF -> 4294967295", UNSIGNED, "FFFFFFFF", 0, 4294967295.0, 0u},
    {"UNSIGNED 42 43 -> 17218", UNSIGNED, "4243", 0, 17218.0, 0u},
    {"UNSIGNED length 5 unchanged", UNSIGNED, "0100000000", 0, 42.0, 7u},
    {"REAL32 00 00 C0 3F -> 1.5/3", REAL32, "0000C03F", 3, 1.5, 3u},
    {"REAL32 7D 00 00 01 -> tiny/3", REAL32, "7D000001", 3,
     std::ldexp(1.0 + 125.0 / 8388608.0, -125), 3u},
    {"REAL32 length 2 unchanged", REAL32, "0000", 3, 42.0, 7u},
    {"BOOLEAN FE -> 0", BOOLEAN, "FE", 3, 0.0, 0u},
    {"BOOLEAN 01 FF -> 1", BOOLEAN, "01FF", 3, 1.0, 0u},
    {"BOOLEAN FF FF FF FF -> 1", BOOLEAN, "FFFFFFFF", 3, 1.0, 0u},
    {"NIL unchanged", NIL, "7D000001", 3, 42.0, 7u},
    {"type 6 unchanged", 6, "7D000001", 3, 42.0, 7u},
};

} // namespace parametervaluecases

#endif
