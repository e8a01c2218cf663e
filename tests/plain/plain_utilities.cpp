// The typed parameter value and the name texts without Qt: the same cases as
// the Qt test (ParameterValueCases.h), here also for the Windows build.

#include "ParameterTypes.h"
#include "ParameterValue.h"
#include "ParameterValueCases.h"

#include <cstring>
#include <doctest/doctest.h>
#include <string>
#include <vector>

namespace {
std::vector<unsigned char> fromHex(const char* text) {
    std::vector<unsigned char> bytes;
    for (std::size_t i = 0; text[i] != '\0' && text[i + 1] != '\0'; i += 2) {
        bytes.push_back(
            static_cast<unsigned char>(std::stoul(std::string(text + i, 2), nullptr, 16)));
    }
    return bytes;
}

std::string toHex(const unsigned char* bytes, std::size_t n) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (std::size_t i = 0; i < n; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    return text;
}
} // namespace

TEST_CASE("encodesEveryCase") {
    for (const parametervaluecases::Encode& c : parametervaluecases::encode) {
        // Guard bytes around the field must survive.
        std::vector<unsigned char> buffer(c.len + 2, 0xAA);
        ParameterValue(c.value, c.decimals).toBytes(buffer.data() + 1, c.len, c.type);
        CHECK(buffer.front() == 0xAA);
        CHECK(buffer.back() == 0xAA);
        INFO(c.name);
        CHECK(toHex(buffer.data() + 1, c.len) == c.bytes);
    }
}

TEST_CASE("decodesEveryCase") {
    for (const parametervaluecases::Decode& c : parametervaluecases::decode) {
        const std::vector<unsigned char> bytes = fromHex(c.bytes);
        ParameterValue decoded(42.0, 7);
        decoded.fromBytes(bytes.data(), static_cast<unsigned>(bytes.size()), c.type,
                          c.requestedDecimals);
        INFO(c.name);
        CHECK(decoded.value == c.value);
        CHECK(decoded.decimals == c.decimals);
    }
}

TEST_CASE("typeCodesAreTheNamePositions") {
    CHECK_EQ(typeNameTexts.count, 6);
    CHECK_EQ(std::string(typeNameTexts.names[REAL32FIX]), std::string("REAL32FIX"));
    CHECK_EQ(std::string(typeNameTexts.names[NIL]), std::string("NIL"));
    CHECK_EQ(unitNameTexts.count, 9);
    CHECK_EQ(std::string(unitNameTexts.names[4]), std::string("мс"));
    CHECK_EQ(accessModeNameTexts.count, 4);
    CHECK_EQ(kindNameTexts.count, 4);
    CHECK_EQ(storageNameTexts.count, 3);
}
