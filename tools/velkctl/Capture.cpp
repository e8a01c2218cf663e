#include "Capture.h"

#include <cerrno>
#include <cstring>

namespace {

const char magic[8] = {'V', 'E', 'L', 'K', 'C', 'A', 'P', '1'};
// A live read never brings more than this; a larger count means damage.
const std::uint32_t maxRecord = 1u << 20;

void putLittle(unsigned char* out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out[i] = static_cast<unsigned char>(value >> (8 * i));
    }
}

std::uint64_t getLittle(const unsigned char* in, int bytes) {
    std::uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) {
        value = value << 8 | in[i];
    }
    return value;
}

} // namespace

bool CaptureWriter::open(const std::string& path, std::uint64_t startUnixUs) {
    close();
    failed = false;
    file.reset(std::fopen(path.c_str(), "wb"));
    if (!file) {
        return false;
    }
    unsigned char header[16];
    std::memcpy(header, magic, sizeof magic);
    putLittle(header + 8, startUnixUs, 8);
    failed = std::fwrite(header, 1, sizeof header, file.get()) != sizeof header;
    return !failed;
}

bool CaptureWriter::write(std::uint64_t timeUs, const unsigned char* bytes, std::size_t count) {
    if (!file || failed) {
        return false;
    }
    unsigned char head[12];
    putLittle(head, timeUs, 8);
    putLittle(head + 8, count, 4);
    failed = std::fwrite(head, 1, sizeof head, file.get()) != sizeof head ||
             std::fwrite(bytes, 1, count, file.get()) != count;
    return !failed;
}

bool CaptureWriter::close() {
    failed = (file && std::fclose(file.release()) != 0) || failed;
    return !failed;
}

bool CaptureReader::open(const std::string& path, std::string& error) {
    file.reset(std::fopen(path.c_str(), "rb"));
    if (!file) {
        error = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    unsigned char header[16];
    if (std::fread(header, 1, sizeof header, file.get()) != sizeof header ||
        std::memcmp(header, magic, sizeof magic) != 0) {
        error = path + " is not a velkctl capture";
        return false;
    }
    start = getLittle(header + 8, 8);
    return true;
}

bool CaptureReader::next(std::uint64_t& timeUs, std::vector<unsigned char>& bytes,
                         std::string& error) {
    error.clear();
    unsigned char head[12];
    const std::size_t got = file ? std::fread(head, 1, sizeof head, file.get()) : 0;
    if (got == 0) {
        return false;
    }
    const std::uint64_t count = getLittle(head + 8, 4);
    if (got != sizeof head || count > maxRecord) {
        error = "damaged record";
        return false;
    }
    bytes.resize(count);
    if (std::fread(bytes.data(), 1, count, file.get()) != count) {
        error = "capture ends inside a record";
        return false;
    }
    timeUs = getLittle(head, 8);
    return true;
}
