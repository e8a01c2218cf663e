// ParameterValue::fromBytes for every type code and length, and the way back:
// a field that decodes re-encodes to the same bytes wherever the encoding is
// exact (integers of any accepted length, REAL32 but for NaN payloads), and
// an input the decoder refuses leaves the value as it was.

#include "FuzzInput.h"
#include "ParameterNames.h"
#include "ParameterValue.h"

#include <cmath>
#include <cstring>
#include <vector>

namespace {

bool sameValue(double a, double b) {
    return (std::isnan(a) && std::isnan(b)) || std::memcmp(&a, &b, sizeof a) == 0;
}

bool accepts(int type, unsigned len) {
    switch (type) {
    case BOOLEAN:
        return true;
    case INTEGER:
    case UNSIGNED:
        return len <= 4;
    case REAL32:
    case REAL32FIX:
        return len == 4;
    default:
        return false;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput in(data, size);
    // Types beyond the known codes and negative ones are part of the input space.
    const int type = static_cast<int>(static_cast<std::int8_t>(in.byte())) % 8;
    const int decimals = static_cast<int>(in.dword());
    const double startValue = static_cast<double>(static_cast<std::int32_t>(in.dword()));
    const unsigned startDecimals = in.byte();
    // The field is copied to a buffer of its exact length, so that any read
    // beyond it is caught.
    const std::vector<std::uint8_t> bytes = in.rest();
    const unsigned len = static_cast<unsigned>(bytes.size());
    std::vector<unsigned char> field(bytes.begin(), bytes.end());

    ParameterValue value(startValue, static_cast<int>(startDecimals));
    value.fromBytes(field.empty() ? nullptr : field.data(), len, type, decimals);

    if (len == 0 || !accepts(type, len)) {
        FUZZ_CHECK(sameValue(value.value, startValue));
        FUZZ_CHECK(value.decimals == startDecimals);
        return 0;
    }

    switch (type) {
    case BOOLEAN:
        FUZZ_CHECK(value.value == (field[0] & 1u));
        FUZZ_CHECK(value.decimals == 0);
        break;
    case REAL32:
        FUZZ_CHECK(value.decimals == static_cast<unsigned>(decimals));
        break;
    case REAL32FIX:
        FUZZ_CHECK(value.decimals == field[3]);
        FUZZ_CHECK(std::isfinite(value.value));
        FUZZ_CHECK(std::fabs(value.value) <= 8388608.0);
        break;
    default:
        FUZZ_CHECK(value.decimals == 0);
        break;
    }

    std::vector<unsigned char> again(len, 0x5A);
    value.toBytes(again.data(), len, type);
    switch (type) {
    case BOOLEAN:
        FUZZ_CHECK(again[0] == (field[0] & 1u));
        for (unsigned i = 1; i < len; ++i) {
            FUZZ_CHECK(again[i] == 0);
        }
        break;
    case INTEGER:
    case UNSIGNED:
        FUZZ_CHECK(again == field);
        break;
    case REAL32:
        if (!std::isnan(value.value)) {
            FUZZ_CHECK(again == field);
        }
        break;
    default:
        // REAL32FIX divides by ten in single precision: not exact both ways,
        // but the count of decimals survives.
        FUZZ_CHECK(again[3] == field[3]);
        break;
    }
    return 0;
}
