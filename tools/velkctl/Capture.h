#ifndef VELK_VELKCTL_CAPTURE_H
#define VELK_VELKCTL_CAPTURE_H

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

// A capture file: the bytes seen on the line with their arrival times, as
// velkctl monitor --raw saves them and --replay reads them. Little-endian:
//   "VELKCAP1", u64 wall-clock start (microseconds since 1970),
//   then records: u64 time (microseconds since the start), u32 count, bytes.
class CaptureWriter {
public:
    bool open(const std::string& path, std::uint64_t startUnixUs);
    bool write(std::uint64_t timeUs, const unsigned char* bytes, std::size_t count);
    // Flushes and closes; false when anything could not be written.
    bool close();

private:
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file{nullptr, &std::fclose};
    bool failed = false;
};

class CaptureReader {
public:
    // False (with the reason) when the file cannot be read or is no capture.
    bool open(const std::string& path, std::string& error);
    std::uint64_t startUnixUs() const { return start; }

    // The next record; false at the end or on a damaged record (error then
    // says why; empty at a clean end).
    bool next(std::uint64_t& timeUs, std::vector<unsigned char>& bytes, std::string& error);

private:
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file{nullptr, &std::fclose};
    std::uint64_t start = 0;
};

#endif
