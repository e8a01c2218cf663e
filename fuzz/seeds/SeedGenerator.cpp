// velk-fuzz-seeds OUTDIR: writes the starting corpus of every fuzzer into
// OUTDIR/<fuzzer>/, one file per seed, made from valid blocks and the values
// the tests use. The same output every time, so corpora can be rebuilt.
//
// The layouts follow the comments at the top of each fuzzer's source.

#include "AliasBomb.h"
#include "CrcBit7Wrapper.h"
#include "DataBlock.h"
#include "Velk21AddressBlockPacketPackager.h"
#include "Velk21DataBlockPacketPackager.h"
#include "Velk21ExtendedBlockPacketPackager.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

std::string outDir;

void add(Bytes& to, const Bytes& more) {
    to.insert(to.end(), more.begin(), more.end());
}

bool write(const std::string& fuzzer, const std::string& name, const Bytes& bytes) {
    const std::string dir = outDir + "/" + fuzzer;
    mkdir(dir.c_str(), 0755);
    const std::string path = dir + "/" + name;
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
        std::perror(path.c_str());
        return false;
    }
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

template <class Packager, class Kernel> Bytes packed(const Kernel& kernel) {
    Packager packager;
    DataBlock<unsigned char> block;
    block.resize(packager.size(kernel), 0);
    unsigned position = 0;
    packager.pack(block, position, kernel);
    return Bytes(block.data(), block.data() + block.size());
}

Velk21DataBlockKernel dataKernel(unsigned char code, unsigned char index, unsigned char ao,
                                 unsigned char status, unsigned char flags, Bytes data) {
    Velk21DataBlockKernel k(Velk21ParameterId(code, index), ao, 0, status, flags & 1u,
                            (flags >> 1) & 1u, (flags >> 2) & 1u, (flags >> 3) & 1u,
                            (flags >> 4) & 1u);
    for (unsigned i = 0; i < 4; ++i) {
        k.data[i] = data[i];
    }
    return k;
}

// The record layout the data block fuzzer reads.
Bytes dataRecord(const Velk21DataBlockKernel& k) {
    const unsigned char flags = static_cast<unsigned char>(
        (k.wtsBit ? 0x01 : 0) | (k.csBit ? 0x02 : 0) | (k.subLBit ? 0x04 : 0) |
        (k.efBit ? 0x08 : 0) | (k.errBit ? 0x10 : 0));
    return {k.id.code, k.id.index, k.ao,      k.ntxt,    k.status,
            flags,     k.data[0],  k.data[1], k.data[2], k.data[3]};
}

Bytes dataBlock(const Velk21DataBlockKernel& k) {
    return packed<Velk21DataBlockPacketPackager>(k);
}

Bytes extendedBlock(const Bytes& seven, unsigned char wts = 1) {
    Velk21ExtendedBlockKernel k(wts, 0, 0);
    for (unsigned i = 0; i < 7; ++i) {
        k.data[i] = seven[i];
    }
    return packed<Velk21ExtendedBlockPacketPackager>(k);
}

bool packagerSeeds() {
    bool ok = true;
    const std::vector<Velk21DataBlockKernel> records = {
        dataKernel(0x10, 0x01, 0x05, 0x00, 0x00, {0, 0, 0, 0}),
        dataKernel(0x83, 0x01, 0x05, 0xFF, 0x01, {0x12, 0x80, 0x00, 0xFF}),
        dataKernel(0x10, 0x02, 0x7F, 0x33, 0x1F, {0x0A, 0x00, 0x7F, 0x80}),
    };
    int n = 0;
    for (const Velk21DataBlockKernel& k : records) {
        const std::string id = std::to_string(n++);
        Bytes unpack = {0x00};
        add(unpack, Bytes(10, 0xA5));
        unpack.push_back(0); // start
        add(unpack, dataBlock(k));
        ok = write("fuzz_data_block", "unpack-" + id, unpack) && ok;
        Bytes shifted = {0x00};
        add(shifted, Bytes(10, 0xA5));
        shifted.push_back(2);
        add(shifted, {0x7E, 0x00});
        add(shifted, dataBlock(k));
        add(shifted, {0xC0});
        ok = write("fuzz_data_block", "unpack-shifted-" + id, shifted) && ok;
        Bytes pack = {0x01};
        add(pack, dataRecord(k));
        add(pack, {0, 12});
        add(pack, Bytes(12, 0x5A));
        ok = write("fuzz_data_block", "pack-" + id, pack) && ok;
    }

    const std::vector<Velk21AddressBlockKernel> addresses = {
        Velk21AddressBlockKernel(Velk21Address(1, 0, 0, 0), 0),
        Velk21AddressBlockKernel(Velk21Address(1, 2, 0, 0), 1),
        Velk21AddressBlockKernel(Velk21Address(0x7F, 0x7F, 0x7F, 0x7F), 1),
    };
    n = 0;
    for (const Velk21AddressBlockKernel& k : addresses) {
        const std::string id = std::to_string(n++);
        const Velk21Address& a = k.address;
        const Bytes record = {a.address_1, a.address_2, a.address_3, a.address_4, k.timeBit};
        Bytes unpack = {0x00};
        add(unpack, Bytes(5, 0xA5));
        unpack.push_back(0);
        add(unpack, packed<Velk21AddressBlockPacketPackager>(k));
        ok = write("fuzz_address_block", "unpack-" + id, unpack) && ok;
        Bytes pack = {0x01};
        add(pack, record);
        add(pack, {0, 6});
        add(pack, Bytes(6, 0x5A));
        ok = write("fuzz_address_block", "pack-" + id, pack) && ok;
    }

    const std::vector<Bytes> extended = {
        {0x01, 0x82, 0x03, 0x04, 0xFF, 0x06, 0x07},
        {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
        {0, 0, 0, 0, 0, 0, 0},
    };
    n = 0;
    for (const Bytes& seven : extended) {
        const std::string id = std::to_string(n++);
        Bytes unpack = {0x00};
        add(unpack, Bytes(8, 0xA5));
        unpack.push_back(0);
        add(unpack, extendedBlock(seven));
        ok = write("fuzz_extended_block", "unpack-" + id, unpack) && ok;
        Bytes pack = {0x01, 0x01};
        add(pack, seven);
        add(pack, {0, 10});
        add(pack, Bytes(10, 0x5A));
        ok = write("fuzz_extended_block", "pack-" + id, pack) && ok;
    }
    return ok;
}

bool sessionSeeds() {
    bool ok = true;
    const Bytes plain = dataBlock(dataKernel(0x10, 0x02, 0x05, 0x33, 0x00, {1, 2, 3, 4}));
    const Bytes announcing = dataBlock(dataKernel(0x10, 0x02, 0x05, 0x33, 0x09, {10, 0, 0, 0}));
    Bytes withExtended = announcing;
    add(withExtended, extendedBlock({0x80, 0x81, 0x82, 0x83, 0x84, 0x85, 0x86}));
    add(withExtended, extendedBlock({0x87, 0x88, 0x89, 0, 0, 0, 0}));

    auto seed = [&](const std::string& name, std::uint8_t options, std::uint8_t count,
                    const Bytes& stream) {
        Bytes input = {options, count};
        add(input, stream);
        ok = write("fuzz_session_receive", name, input) && ok;
    };
    seed("answer", 0x00, 0, plain);
    seed("extended-answer", 0x00, 0, withExtended);
    seed("extended-both-ways", 0x18, 8, withExtended);
    seed("silent", 0x00, 0, {});
    Bytes noise = {0x13, 0x37, 0xC1};
    add(noise, plain);
    seed("noise-then-answer-one-restart", 0x01, 0, noise);
    Bytes midHeader(plain.begin(), plain.begin() + 5);
    add(midHeader, plain);
    seed("header-mid-block", 0x02, 0, midHeader);
    Bytes truncated(withExtended.begin(), withExtended.end() - 4);
    seed("extended-cut-short", 0x00, 0, truncated);
    Bytes repairable = {0xC0, 0, 0, 0x10, 1, 0, 0xFF, 0xFF, 0, 0, 0, 0};
    add(repairable, Bytes(40, 0x55));
    seed("repaired-long-announcement", 0x04, 0, repairable);
    seed("address-refused", 0x20, 0, plain);
    seed("ao-refused", 0x40, 0, plain);
    return ok;
}

bool parameterValueSeeds() {
    bool ok = true;
    // type, decimals (dword), start value (dword), start decimals, field.
    auto seed = [&](const std::string& name, std::uint8_t type, std::uint8_t decimals,
                    const Bytes& field) {
        Bytes input = {type, decimals, 0, 0, 0, 0x2A, 0, 0, 0, 7};
        add(input, field);
        ok = write("fuzz_parameter_value", name, input) && ok;
    };
    seed("boolean", 1, 0, {0xFE});
    seed("integer-minus-one", 2, 0, {0xFF, 0xFF, 0xFF, 0xFF});
    seed("integer-short", 2, 0, {0xFF, 0xFF});
    seed("unsigned", 3, 0, {0x2C, 0x01, 0x00, 0x00});
    seed("real32", 4, 3, {0x00, 0x00, 0xC0, 0x3F});
    seed("real32-nan", 4, 3, {0x01, 0x00, 0x80, 0x7F});
    seed("real32-short", 4, 3, {0x00, 0x00});
    seed("real32fix", 5, 0, {0x7D, 0x00, 0x00, 0x02});
    seed("real32fix-negative", 5, 0, {0xF1, 0xFF, 0xFF, 0x01});
    seed("real32fix-many-decimals", 5, 0, {0x80, 0x96, 0x98, 0xFF});
    seed("nil", 0, 0, {1, 2, 3, 4});
    seed("unknown-type", 9, 0, {1, 2, 3, 4});
    seed("too-long", 2, 0, {1, 2, 3, 4, 5});
    return ok;
}

bool writeText(const std::string& fuzzer, const std::string& name, const std::string& text) {
    return write(fuzzer, name, Bytes(text.begin(), text.end()));
}

// Plans as they are written, and as a hostile user writes them: alias
// bombs, deep nesting, keys given twice, NaN, bytes that are not UTF-8.
bool planSeeds() {
    const std::string json = "fuzz_plan_json";
    const std::string yaml = "fuzz_plan_yaml";
    bool ok = writeText(json, "example", R"(// a comment
{"port": "COM9", "timeout": 150, "restarts": 1, "steps": [
  {"name": "write", "request": {"address": "5,1", "code": "10", "index": "1", "wts": true,
   "value": 12.50, "type": "REAL32FIX"},
   "expect": {"error": 0, "code": "10", "csBit": true, "data": "7D,0,0,2", "max_ms": 50,
              "value": {"type": "REAL32FIX", "equals": 12.5, "tolerance": 0.001}},
   "capture": {"stored": "data", "v": "value:REAL32"}},
  {"name": "copy", "repeat": 3, "delay_ms": 5, "timeout": 20,
   "request": {"address": "5", "code": "10", "index": "2", "wts": true, "data": "${stored}",
               "ef": true, "ext": "41,42"},
   "expect": {"data": "${stored}", "ext_count": 2, "errBit": false}}]})");
    ok = writeText(json, "deep",
                   "{\"comment\": " + std::string(64, '[') + std::string(64, ']') +
                       ", \"steps\": [{\"request\": {\"address\": \"5\"}}]}") &&
         ok;
    ok =
        writeText(json, "twice", R"({"steps": [{"request": {"address": "5", "address": "6"}}]})") &&
        ok;
    ok = writeText(json, "overflow", R"({"timeout": 1e400, "steps": []})") && ok;
    ok = writeText(json, "latin1", "{\"steps\": [{\"name\": \"caf\xE9\", \"request\": {}}]}") && ok;

    ok = writeText(yaml, "example", R"(port: COM9
steps:
  - name: write
    request: &write {address: "5", code: "10", wts: yes, value: 12.50, type: REAL32FIX}
    expect:
      errBit: off
      value: {type: REAL32FIX, equals: 12.5, tolerance: 0.001}
    capture: {stored: data}
  - request: *write
    expect: {data: "${stored}", max_ms: 50}
    repeat: 2
)") && ok;
    ok = writeText(yaml, "alias-bomb", yamlAliasBomb()) && ok;
    ok = writeText(yaml, "alias-loop", "comment: &a [1, *a]\nsteps: []\n") && ok;
    ok = writeText(yaml, "deep-flow", "comment: " + std::string(64, '[') + "\n") && ok;
    ok = writeText(
             yaml, "deep-block",
             "comment:\n" +
                 [] {
                     std::string text;
                     for (int i = 0; i < 40; ++i) {
                         text += std::string(std::size_t(2 * i + 2), ' ') + "- a:\n";
                     }
                     return text;
                 }()) &&
         ok;
    ok = writeText(yaml, "twice",
                   "port: COM1\nsteps: [{request: {address: \"5\"}}]\nport: COM2\n") &&
         ok;
    ok = writeText(yaml, "nan",
                   "steps:\n  - request: {address: \"5\"}\n    expect: {max_ms: .nan}\n") &&
         ok;
    ok = writeText(yaml, "latin1", "steps:\n  - name: caf\xE9\n    request: {address: \"5\"}\n") &&
         ok;
    return ok;
}

// A request and its answer as the line carries them, in chunks.
bool busSeeds() {
    bool ok = true;
    // Chunk: delay (word, x 10 us), options, count, bytes.
    auto chunk = [](Bytes& to, std::uint16_t delay, std::uint8_t options, const Bytes& bytes) {
        add(to,
            {std::uint8_t(delay), std::uint8_t(delay >> 8), options, std::uint8_t(bytes.size())});
        add(to, bytes);
    };
    const Bytes address = packed<Velk21AddressBlockPacketPackager>(
        Velk21AddressBlockKernel(Velk21Address(5, 0, 0, 0), 0));
    const Bytes request = dataBlock(dataKernel(0x10, 0x01, 0x05, 0x00, 0x01, {1, 2, 3, 4}));
    const Bytes answer = dataBlock(dataKernel(0x10, 0x01, 0x05, 0x33, 0x02, {1, 2, 3, 4}));
    const Bytes announcing = dataBlock(dataKernel(0x10, 0x02, 0x05, 0x33, 0x0A, {10, 0, 0, 0}));
    const Bytes idle = {0xDC, 0x05}; // 150 ms

    Bytes exchange = idle;
    Bytes both = address;
    add(both, request);
    chunk(exchange, 0, 0, both);
    chunk(exchange, 300, 1, answer);
    ok = write("fuzz_bus_decoder", "exchange", exchange) && ok;

    Bytes extended = idle;
    chunk(extended, 0, 0, both);
    Bytes long_answer = announcing;
    add(long_answer, extendedBlock({0x80, 0x81, 0x82, 0x83, 0x84, 0x85, 0x86}));
    add(long_answer, extendedBlock({0x87, 0x88, 0x89, 0, 0, 0, 0}));
    chunk(extended, 200, 0, Bytes(long_answer.begin(), long_answer.begin() + 15));
    chunk(extended, 10, 0, Bytes(long_answer.begin() + 15, long_answer.end()));
    ok = write("fuzz_bus_decoder", "extended-answer", extended) && ok;

    Bytes noisy = idle;
    chunk(noisy, 0, 0, both);
    Bytes garbage = {0x13, 0x37, 0xC8, 0x7F};
    add(garbage, answer);
    chunk(noisy, 100, 0, garbage);
    chunk(noisy, 50000, 1, Bytes(answer.begin(), answer.begin() + 5)); // cut short by silence
    chunk(noisy, 10, 0, Bytes(300, 0x55));
    ok = write("fuzz_bus_decoder", "noise-and-cut-short", noisy) && ok;
    return ok;
}

bool uiSettingsSeeds() {
    bool ok = true;
    const unsigned keyCount = 33;
    // Kind 0: absent, so the defaults apply.
    ok = write("fuzz_ui_settings", "first-run", Bytes(keyCount, 0)) && ok;

    auto textValue = [](const std::string& s) {
        Bytes b = {3, static_cast<std::uint8_t>(s.size())};
        add(b, Bytes(s.begin(), s.end()));
        return b;
    };
    auto flagValue = [](bool v) { return Bytes{1, static_cast<std::uint8_t>(v)}; };
    auto indexValue = [](std::int32_t v) {
        const auto u = static_cast<std::uint32_t>(v);
        return Bytes{2, static_cast<std::uint8_t>(u), static_cast<std::uint8_t>(u >> 8),
                     static_cast<std::uint8_t>(u >> 16), static_cast<std::uint8_t>(u >> 24)};
    };
    // Every key in the order the fuzzer reads them.
    Bytes typical;
    for (const Bytes& v :
         {flagValue(true),    flagValue(false),       flagValue(true), textValue("3"),
          textValue("2"),     textValue(""),          textValue(""),   flagValue(false),
          flagValue(true),    flagValue(true),        textValue("1F"), textValue("0"),
          textValue("10"),    textValue("2"),         textValue("33"), flagValue(false),
          textValue("3"),     flagValue(false),       textValue("0"),  textValue(""),
          textValue(""),      flagValue(false),       indexValue(3),   textValue("12.5"),
          indexValue(4),      indexValue(1),          indexValue(2),   textValue("1"),
          flagValue(true),    textValue("0A;;zz;FF"), textValue("0"),  textValue("COM7"),
          textValue("500000")}) {
        add(typical, v);
    }
    ok = write("fuzz_ui_settings", "typical", typical) && ok;

    Bytes odd;
    for (unsigned i = 0; i < keyCount; ++i) {
        add(odd, i % 2 ? indexValue(-1) : textValue("zz;;1FF;-1;0x10;"));
    }
    ok = write("fuzz_ui_settings", "odd-values", odd) && ok;
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: velk-fuzz-seeds OUTDIR\n");
        return 64;
    }
    outDir = argv[1];
    mkdir(outDir.c_str(), 0755);
    const bool ok = packagerSeeds() && sessionSeeds() && parameterValueSeeds() &&
                    uiSettingsSeeds() && planSeeds() && busSeeds();
    return ok ? 0 : 1;
}
