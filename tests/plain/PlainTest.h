#ifndef VELK_PLAINTEST_H
#define VELK_PLAINTEST_H

// A small test runner for the test programs that run where Qt Test is not
// available (the Windows build under Wine): cases register themselves, a
// failed check reports its place and the test goes on, main() returns 1 when
// any case failed.

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

namespace plaintest {

struct Case {
    const char* name;
    void (*run)();
};

inline std::vector<Case>& cases() {
    static std::vector<Case> all;
    return all;
}

inline int& failedChecks() {
    static int count = 0;
    return count;
}

struct Registrar {
    Registrar(const char* name, void (*run)()) { cases().push_back(Case{name, run}); }
};

inline void fail(const char* file, int line, const std::string& what) {
    ++failedChecks();
    std::printf("  FAIL %s:%d: %s\n", file, line, what.c_str());
}

template <class T> std::string show(const T& value) {
    std::ostringstream text;
    text << value;
    return text.str();
}
inline std::string show(unsigned char value) {
    return show(static_cast<unsigned>(value));
}
inline std::string show(bool value) {
    return value ? "true" : "false";
}

inline int runAll() {
    int failedCases = 0;
    for (const Case& c : cases()) {
        const int before = failedChecks();
        c.run();
        const bool passed = failedChecks() == before;
        std::printf("%s %s\n", passed ? "PASS" : "FAIL", c.name);
        std::fflush(stdout);
        failedCases += passed ? 0 : 1;
    }
    std::printf("%d of %zu cases failed\n", failedCases, cases().size());
    return failedCases == 0 && !cases().empty() ? 0 : 1;
}

} // namespace plaintest

#define PLAIN_TEST(name)                                                                           \
    static void name();                                                                            \
    static const plaintest::Registrar name##Registrar(#name, &name);                               \
    static void name()

#define CHECK(condition)                                                                           \
    do {                                                                                           \
        if (!(condition))                                                                          \
            plaintest::fail(__FILE__, __LINE__, #condition);                                       \
    } while (0)

#define CHECK_EQ(actual, expected)                                                                 \
    do {                                                                                           \
        const auto& actualValue = (actual);                                                        \
        const auto& expectedValue = (expected);                                                    \
        if (!(actualValue == expectedValue))                                                       \
            plaintest::fail(__FILE__, __LINE__,                                                    \
                            std::string(#actual " is ") + plaintest::show(actualValue) +           \
                                ", expected " + plaintest::show(expectedValue));                   \
    } while (0)

#define PLAIN_TEST_MAIN()                                                                          \
    int main() {                                                                                   \
        return plaintest::runAll();                                                                \
    }

#endif
