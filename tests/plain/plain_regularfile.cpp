// velkctl's check that a file named as input is a regular file, on the
// system it is built for: the POSIX calls on Linux, the Win32 ones under Wine.

#include "RegularFile.h"

#include <doctest/doctest.h>

#include <cstdio>
#include <string>

namespace {
struct Opened {
    std::FILE* file = nullptr;
    std::uint64_t size = 0;
    std::string reason = "untouched";
    explicit Opened(const std::string& path) { file = openRegularFile(path, size, reason); }
    ~Opened() {
        if (file != nullptr) {
            std::fclose(file);
        }
    }
};
} // namespace

TEST_CASE("regularFileOpensWithItsSize") {
    const std::string path = "plain_regularfile.txt";
    std::FILE* out = std::fopen(path.c_str(), "wb");
    REQUIRE(out != nullptr);
    std::fputs("twelve bytes", out);
    std::fclose(out);
    {
        Opened opened(path);
        CHECK(opened.file != nullptr);
        CHECK(opened.size == 12);
        CHECK(opened.reason.empty());
    }
    std::remove(path.c_str());
}

TEST_CASE("otherThingsAreRefusedWithTheReason") {
    CHECK(Opened(".").file == nullptr);
    CHECK(Opened(".").reason == "is a directory");
#ifdef _WIN32
    const std::string device = "NUL";
#else
    const std::string device = "/dev/null";
#endif
    CHECK(Opened(device).file == nullptr);
    CHECK(Opened(device).reason == "not a regular file");
    // The system's refusal: no reason of ours, errno says why.
    CHECK(Opened("no such file here").file == nullptr);
    CHECK(Opened("no such file here").reason.empty());
}
