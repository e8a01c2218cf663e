#pragma once

#include <cmath>
#include <cstdint>

// Conversions between doubles and 32-bit integers that are defined for every input.
// A plain cast of an out-of-range double to an integer is undefined behaviour in C++,
// so the value is reduced modulo 2^32 instead: the result keeps the low 32 bits of the
// exact integer, the same rule that drops the high bits of a too-large field.

// The low 32 bits of the integer part of value (truncated toward zero); NaN and
// infinities give 0.
inline std::uint32_t wrapToUint32(double value) {
    if (!std::isfinite(value))
        return 0;
    constexpr double modulus = 4294967296.0;
    double r = std::fmod(std::trunc(value), modulus); // exact, sign of value
    if (r < 0)
        r += modulus;
    return static_cast<std::uint32_t>(r);
}

// Two's-complement reading of a 32-bit pattern.
inline std::int32_t wrapToInt32(std::uint32_t bits) {
    return bits < 0x80000000u ? static_cast<std::int32_t>(bits)
                              : -static_cast<std::int32_t>(~bits) - 1;
}
