#include "ParameterValue.h"

#include "IntegerConversion.h"
#include "ParameterTypes.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

static_assert(std::numeric_limits<float>::is_iec559, "single precision must be IEEE 754");

namespace {

// Half away from zero: add or subtract one half, then truncate.
std::uint32_t roundToBits(double value) {
    return wrapToUint32(value >= 0 ? value + 0.5 : value - 0.5);
}

void storeLittleEndian(unsigned char* dst, unsigned len, std::uint32_t bits) {
    for (unsigned i = 0; i < len && i < 4; ++i)
        dst[i] = static_cast<unsigned char>(bits >> (8 * i));
}

std::uint32_t loadLittleEndian(const unsigned char* src, unsigned len) {
    std::uint32_t bits = 0;
    for (unsigned i = 0; i < len && i < 4; ++i)
        bits |= static_cast<std::uint32_t>(src[i]) << (8 * i);
    return bits;
}

std::uint32_t floatBits(float f) {
    std::uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    return bits;
}

float bitsToFloat(std::uint32_t bits) {
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

} // namespace

ParameterValue::ParameterValue(double value, int decimals)
    : value(value), decimals(static_cast<unsigned>(decimals)) {}

void ParameterValue::toBytes(unsigned char* dst, unsigned len, int type) const {
    if (dst == nullptr || len == 0)
        return;
    std::memset(dst, 0, len);
    switch (type) {
    case BOOLEAN:
        dst[0] = value != 0 ? 1 : 0;
        break;
    case INTEGER:
        if (len <= 4)
            storeLittleEndian(dst, len, roundToBits(value));
        break;
    case UNSIGNED:
        if (len <= 4)
            storeLittleEndian(dst, len, value < 0 ? 0 : wrapToUint32(value + 0.5));
        break;
    case REAL32:
        if (len == 4)
            storeLittleEndian(dst, 4, floatBits(static_cast<float>(value)));
        break;
    case REAL32FIX:
        if (len == 4) {
            // volatile keeps every step in single precision whatever the compiler's
            // evaluation method. Once f is 0, infinite or NaN more steps change nothing.
            volatile float f = static_cast<float>(value);
            for (unsigned i = 0; i < decimals && f != 0 && std::isfinite(f); ++i)
                f = f * 10.0f;
            storeLittleEndian(dst, 3, roundToBits(static_cast<double>(f)));
            dst[3] = static_cast<unsigned char>(decimals & 0xFFu);
        }
        break;
    default:
        break;
    }
}

void ParameterValue::fromBytes(const unsigned char* src, unsigned len, int type, int d) {
    if (src == nullptr || len == 0)
        return;
    switch (type) {
    case BOOLEAN:
        value = src[0] & 1u;
        decimals = 0;
        break;
    case INTEGER:
        if (len <= 4) {
            value = wrapToInt32(loadLittleEndian(src, len));
            decimals = 0;
        }
        break;
    case UNSIGNED:
        if (len <= 4) {
            value = loadLittleEndian(src, len);
            decimals = 0;
        }
        break;
    case REAL32:
        if (len == 4) {
            value = bitsToFloat(loadLittleEndian(src, 4));
            decimals = static_cast<unsigned>(d);
        }
        break;
    case REAL32FIX:
        if (len == 4) {
            std::uint32_t mantissa = loadLittleEndian(src, 3);
            if (mantissa & 0x800000u)
                mantissa |= 0xFF000000u;
            volatile float f = static_cast<float>(wrapToInt32(mantissa));
            for (unsigned i = 0; i < src[3]; ++i)
                f = f / 10.0f;
            value = f;
            decimals = src[3];
        }
        break;
    default:
        break;
    }
}

int userValueDecimals(const std::string& text) {
    const std::size_t point = text.find('.');
    if (point == std::string::npos || text.find('.', point + 1) != std::string::npos) {
        return 0;
    }
    int characters = 0;
    for (std::size_t i = point + 1; i < text.size(); ++i) {
        // UTF-8: a character is every byte but the continuation bytes.
        characters += (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 ? 1 : 0;
    }
    return characters < 1 ? 1 : (characters > 3 ? 3 : characters);
}
