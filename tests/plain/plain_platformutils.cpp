// The platform utilities' own logic over the fake system layer: the same on
// every system, so it runs on Linux and under Wine.

#include "FakeSystemLayer.h"
#include "PlatformUtilities.h"
#include "WideText.h"

#include <climits>
#include <cstdint>
#include <doctest/doctest.h>
#include <string>
#include <vector>

using Outcome = ISystemLayer::ProcessOutcome;
using Calls = std::vector<std::string>;

namespace doctest {
// A failed comparison of calls shows them.
template <> struct StringMaker<Calls> {
    static String convert(const Calls& calls) {
        std::string text = "[";
        for (const std::string& call : calls)
            text += (text.size() > 1 ? ", " : "") + call;
        return (text + "]").c_str();
    }
};
} // namespace doctest

TEST_CASE("setBits") {
    struct Case {
        int width;
        std::uint32_t start;
        unsigned n;
        bool on;
        std::uint32_t expected;
    };
    const Case cases[] = {
        {8, 0x00, 3, true, 0x08},
        {8, 0xFF, 3, false, 0xF7},
        {8, 0x01, 7, true, 0x81},
        {8, 0x08, 3, true, 0x08},
        {8, 0x5A, 8, true, 0x5A},
        {8, 0xFF, 8, false, 0xFF},
        {8, 0x5A, 200, false, 0x5A},
        {32, 0x0, 31, true, 0x80000000u},
        {32, 0xFFFFFFFFu, 0, false, 0xFFFFFFFEu},
        {32, 0x1, 16, true, 0x10001},
        {32, 0x1234, 32, true, 0x1234},
        {32, 0xFFFFFFFFu, 33, false, 0xFFFFFFFFu},
    };
    for (const Case& c : cases) {
        if (c.width == 8) {
            unsigned char byte = static_cast<unsigned char>(c.start);
            setBit8(byte, c.n, c.on);
            CHECK_EQ(std::uint32_t(byte), c.expected);
        } else {
            std::uint32_t word = c.start;
            setBit32(word, c.n, c.on);
            CHECK_EQ(word, c.expected);
        }
    }
}

TEST_CASE("testBits") {
    CHECK(testBit8(0x08, 3));
    CHECK(!testBit8(0x08, 2));
    CHECK(testBit8(0x80, 7));
    CHECK(!testBit8(0xFF, 8));
    CHECK(!testBit8(0xFF, 9));
    CHECK(testBit32(0x80000000u, 31));
    CHECK(!testBit32(0x80000000u, 30));
    CHECK(!testBit32(0xFFFFFFFFu, 32));
    CHECK(!testBit32(0xFFFFFFFFu, 64));
}

TEST_CASE("powerWrapsIn32Bits") {
    struct Case {
        int base;
        unsigned exponent;
        int expected;
    };
    const Case cases[] = {
        {2, 10, 1024},
        {7, 0, 1},
        {0, 0, 1},
        {0, 5, 0},
        {-3, 3, -27},
        {-2, 4, 16},
        {3, 13, 1594323},
        {2, 31, INT_MIN},
        {2, 32, 0},
        {10, 10, 1410065408},
        {7, 12, 956385313},
        {3, 21, 1870418611},
        {-3, 21, -1870418611},
        {-1, 4294967295u, -1},
    };
    for (const Case& c : cases)
        CHECK_EQ(power(c.base, c.exponent), c.expected);
}

TEST_CASE("nearlyEqualIsStrict") {
    CHECK(!isNearlyEqual(1.0, 1.5, 0.5)); // a difference equal to epsilon does not count
    CHECK(!isNearlyEqual(1.5, 1.0, 0.5));
    CHECK(isNearlyEqual(1.0, 1.4, 0.5));
    CHECK(isNearlyEqual(-1.0, 1.0, 2.0001));
    CHECK(!isNearlyEqual(1.0, 1.0, 0.0));
    CHECK(!isNearlyEqual(0.0, 100.0, 1.0));
}

TEST_CASE("rebootNeedsTheRight") {
    FakeSystemLayer system;
    system.enableError = 1300; // not all privileges assigned
    CHECK_EQ(rebootSystem(system), 1300u);
    CHECK_EQ(system.calls, (Calls{"enable"})); // no flush, no restart
}

TEST_CASE("rebootFlushesThenRestarts") {
    for (const unsigned restartError : {0u, 5u}) {
        FakeSystemLayer system;
        system.enableError = 0;
        system.restartError = restartError;
        CHECK_EQ(rebootSystem(system), restartError);
        CHECK_EQ(system.calls, (Calls{"enable", "sync", "restart"}));
    }
}

TEST_CASE("ntfsByTheFirstFourCharacters") {
    FakeSystemLayer system;
    system.fileSystems = {{L"C:\\", "NTFS"},   {L"D:\\", "FAT32"}, {L"E:\\", "ntfs3"},
                          {L"F:\\", "NTF"},    {L"G:\\", "NTFSX"}, {L"H:\\", "exFAT"},
                          {L"I:\\", "fuseblk"}};
    CHECK(isNtfsVolume(L"C:\\", system));
    CHECK(!isNtfsVolume(L"D:\\", system));
    CHECK(isNtfsVolume(L"E:\\", system));
    CHECK(!isNtfsVolume(L"F:\\", system));
    CHECK(isNtfsVolume(L"G:\\", system));
    CHECK(!isNtfsVolume(L"H:\\", system));
    CHECK(!isNtfsVolume(L"I:\\", system));
    CHECK(!isNtfsVolume(L"Z:\\", system)); // the volume cannot be asked
    CHECK(system.calls.empty());
}

TEST_CASE("writeFilterCommitOutcome") {
    struct Case {
        Outcome::Status status;
        int exitCode;
        bool expected;
    };
    const Case cases[] = {
        {Outcome::Exited, 0, true},       {Outcome::Exited, 1, false},
        {Outcome::NotStarted, -1, false}, {Outcome::TimedOut, -1, false},
        {Outcome::Crashed, -1, false},
    };
    const std::string tool = utf8FromWide(writeFilterTool);
    for (const Case& c : cases) {
        FakeSystemLayer system;
        system.files.insert(writeFilterTool);
        system.processOutcome.status = c.status;
        system.processOutcome.exitCode = c.exitCode;
        CHECK_EQ(commitWriteFilter(1234, system), c.expected);
        CHECK_EQ(system.calls, (Calls{"run " + tool + " c: -commit 1234"}));
    }
}

TEST_CASE("writeFilterToolAbsent") {
    FakeSystemLayer system;
    system.processOutcome.status = Outcome::Exited;
    system.processOutcome.exitCode = 0;
    CHECK(!commitWriteFilter(1000, system));
    CHECK(system.calls.empty());
}

TEST_CASE("writeCacheByPath") {
    struct Case {
        std::wstring path;
        bool enabled;
        const char* written; // empty: nothing written
    };
    const Case cases[] = {
        {L"C:", true, "write-cache C off 24"},
        {L"c:\\", true, "write-cache c off 24"},
        {L"d:\\data", true, "write-cache d off 24"},
        {L"C:", false, ""},
        {L"1:", true, ""},
        {L"C", true, ""},
        {L"", true, ""},
        {L"C;", true, ""},
        {L"\u0421:", true, ""}, // a Cyrillic letter
        {L"Q:", true, ""},      // the drive cannot be asked
    };
    for (const Case& c : cases) {
        FakeSystemLayer system;
        ISystemLayer::DriveCache cache;
        cache.writeCacheEnabled = c.enabled;
        cache.record.assign(24, 0x5A);
        for (const wchar_t letter : {L'C', L'c', L'd', L'1', L'\u0421'})
            system.drives[letter] = cache;
        disableWriteCache(c.path, system);
        const Calls expected = *c.written ? Calls{c.written} : Calls{};
        CHECK_EQ(system.calls, expected);
    }
}

TEST_CASE("writeCacheRecordIsWrittenBackAsRead") {
    FakeSystemLayer system;
    ISystemLayer::DriveCache cache;
    cache.writeCacheEnabled = true;
    cache.record = {1, 2, 3, 4, 5};
    system.drives[L'C'] = cache;
    disableWriteCache(L"C:", system);
    CHECK(!system.drives[L'C'].writeCacheEnabled);
    CHECK(system.drives[L'C'].record == cache.record);
}

TEST_CASE("consoleServices") {
    for (const bool available : {true, false}) {
        FakeSystemLayer system;
        system.console = available;
        system.consoleAvailable = available;
        CHECK_EQ(clearConsole(system), available);
        // The C++ streams start synchronised, so the previous setting is true.
        CHECK_EQ(openDebugConsole(system), available);
        CHECK_EQ(system.calls, (Calls{"clear", "attach"}));
    }
}

TEST_CASE("wideTextToUtf8") {
    CHECK_EQ(utf8FromWide(L"C:\\abc"), std::string("C:\\abc"));
    CHECK_EQ(utf8FromWide(L"\u0421\u0422"), std::string("\xD0\xA1\xD0\xA2"));
    CHECK_EQ(utf8FromWide(L"\u20AC"), std::string("\xE2\x82\xAC"));
    CHECK_EQ(utf8FromWide(L"\U0001F600"), std::string("\xF0\x9F\x98\x80"));
    CHECK_EQ(utf8FromWide(std::wstring(1, wchar_t(0xD800))), std::string("\xEF\xBF\xBD"));
    CHECK_EQ(utf8FromWide(L""), std::string());
}
