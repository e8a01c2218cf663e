#include "PlatformUtilities.h"

#include "IntegerConversion.h"

#include <cmath>
#include <iostream>

void setBit8(unsigned char& byte, unsigned n, bool on) {
    if (n >= 8)
        return;
    const unsigned mask = 1u << n;
    byte = static_cast<unsigned char>(on ? (byte | mask) : (byte & ~mask));
}

void setBit32(std::uint32_t& word, unsigned n, bool on) {
    if (n >= 32)
        return;
    const std::uint32_t mask = std::uint32_t{1} << n;
    word = on ? (word | mask) : (word & ~mask);
}

bool testBit8(unsigned char value, unsigned n) {
    return n < 8 && ((value >> n) & 1u) != 0;
}

bool testBit32(std::uint32_t value, unsigned n) {
    return n < 32 && ((value >> n) & 1u) != 0;
}

int power(int base, unsigned exponent) {
    // Unsigned arithmetic wraps around without undefined behaviour.
    std::uint32_t b = static_cast<std::uint32_t>(base);
    std::uint32_t result = 1;
    while (exponent > 0) {
        if (exponent % 2 != 0) {
            result *= b;
            exponent -= 1;
        } else {
            b *= b;
            exponent /= 2;
        }
    }
    return wrapToInt32(result);
}

bool isNearlyEqual(double a, double b, double epsilon) {
    return std::fabs(a - b) < epsilon;
}

unsigned rebootSystem(ISystemLayer& system) {
    const unsigned error = system.enableRestart();
    if (error != 0)
        return error;
    system.syncFileSystems();
    return system.restart();
}

bool isNtfsVolume(const std::wstring& root, ISystemLayer& system) {
    std::string name;
    if (!system.fileSystemName(root, name) || name.size() < 4)
        return false;
    // Linux names its NTFS drivers in lower case ("ntfs3").
    for (std::size_t i = 0; i < 4; ++i) {
        const char c = name[i];
        if ((c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c) != "NTFS"[i])
            return false;
    }
    return true;
}

bool commitWriteFilter(int timeoutMs, ISystemLayer& system) {
    if (!system.fileExists(writeFilterTool))
        return false;
    const ISystemLayer::ProcessOutcome outcome =
        system.runProcess(writeFilterTool, {L"c:", L"-commit"}, timeoutMs);
    // A commit that ends in time but reports failure has not committed.
    return outcome.status == ISystemLayer::ProcessOutcome::Exited && outcome.exitCode == 0;
}

void disableWriteCache(const std::wstring& path, ISystemLayer& system) {
    if (path.size() < 2)
        return;
    const wchar_t letter = path[0];
    const bool isLetter = (letter >= L'A' && letter <= L'Z') || (letter >= L'a' && letter <= L'z');
    if (!isLetter || path[1] != L':')
        return;
    ISystemLayer::DriveCache cache;
    if (!system.readDriveCache(letter, cache) || !cache.writeCacheEnabled)
        return;
    cache.writeCacheEnabled = false;
    system.writeDriveCache(letter, cache);
}

bool clearConsole(ISystemLayer& system) {
    return system.clearConsole();
}

bool openDebugConsole(ISystemLayer& system) {
    if (!system.attachConsole())
        return false;
    return std::ios::sync_with_stdio(true);
}
