// Time per pack and per unpack of the three packet packagers.
//
// Unpacking rewrites bit 7 of the covered bytes in place, so a block can be
// unpacked only once as received. The Unpack benchmarks therefore copy the
// received bytes back into the block before each unpack (a fixed-size memcpy
// of 6 to 12 bytes); Restore_* measures that copy alone so that it can be
// subtracted. PackUnpack_* packs and then unpacks the same block, which needs
// no copy because packing writes the wire bytes again. The *Varied variants
// cycle through 1024 random records so that the branches on bit 7 cannot be
// learnt from a single record.

#include "Velk21AddressBlockPacketPackager.h"
#include "Velk21DataBlockPacketPackager.h"
#include "Velk21ExtendedBlockPacketPackager.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

namespace {

Velk21DataBlockKernel dataRecord(std::mt19937& r) {
    Velk21DataBlockKernel k(
        Velk21ParameterId(static_cast<unsigned char>(r()), static_cast<unsigned char>(r())),
        static_cast<unsigned char>(r() % 128), static_cast<unsigned char>(r() % 128),
        static_cast<unsigned char>(r()), r() % 2, r() % 2, r() % 2, r() % 2, r() % 2);
    for (unsigned char& b : k.data) {
        b = static_cast<unsigned char>(r());
    }
    return k;
}

Velk21AddressBlockKernel addressRecord(std::mt19937& r) {
    return Velk21AddressBlockKernel(
        Velk21Address(static_cast<unsigned char>(r() % 128), static_cast<unsigned char>(r() % 128),
                      static_cast<unsigned char>(r() % 128), static_cast<unsigned char>(r() % 128)),
        r() % 2);
}

Velk21ExtendedBlockKernel extendedRecord(std::mt19937& r) {
    Velk21ExtendedBlockKernel k(r() % 2, r() % 2, r() % 2);
    for (unsigned char& b : k.data) {
        b = static_cast<unsigned char>(r());
    }
    return k;
}

// The example record with bit 7 set in four covered bytes.
Velk21DataBlockKernel fixedData() {
    Velk21DataBlockKernel k(Velk21ParameterId(0x83, 0x01), 0x05, 0, 0xFF, 1, 0, 0, 0, 0);
    k.data[0] = 0x12;
    k.data[1] = 0x80;
    k.data[3] = 0xFF;
    return k;
}

Velk21AddressBlockKernel fixedAddress() {
    return Velk21AddressBlockKernel(Velk21Address(1, 2, 0, 0), 1);
}

Velk21ExtendedBlockKernel fixedExtended() {
    Velk21ExtendedBlockKernel k(1, 0, 0);
    const unsigned char data[7] = {0x01, 0x82, 0x03, 0x04, 0xFF, 0x06, 0x07};
    std::memcpy(k.data, data, 7);
    return k;
}

template <typename Packager, typename K> void benchPack(benchmark::State& state, const K& record) {
    Packager packager;
    DataBlock<unsigned char> block;
    block.resize(packager.size(record), 0);
    for (auto _ : state) {
        unsigned position = 0;
        bool ok = packager.pack(block, position, record);
        benchmark::DoNotOptimize(ok);
        benchmark::ClobberMemory();
    }
}

template <typename Packager, typename K>
void benchUnpack(benchmark::State& state, const K& record) {
    Packager packager;
    DataBlock<unsigned char> block;
    block.resize(packager.size(record), 0);
    unsigned position = 0;
    if (!packager.pack(block, position, record)) {
        state.SkipWithError("pack failed");
        return;
    }
    const DataBlock<unsigned char> wire(block);
    const unsigned size = wire.size();
    K result;
    for (auto _ : state) {
        std::memcpy(block.data(), wire.data(), size);
        position = 0;
        bool ok = packager.unpack(block, position, result);
        benchmark::DoNotOptimize(ok);
        benchmark::DoNotOptimize(result);
        benchmark::ClobberMemory();
    }
}

template <typename Packager, typename K>
void benchRestore(benchmark::State& state, const K& record) {
    Packager packager;
    DataBlock<unsigned char> block;
    block.resize(packager.size(record), 0);
    const DataBlock<unsigned char> wire(block);
    const unsigned size = wire.size();
    for (auto _ : state) {
        std::memcpy(block.data(), wire.data(), size);
        benchmark::ClobberMemory();
    }
}

template <typename Packager, typename K>
void benchPackUnpack(benchmark::State& state, const std::vector<K>& records) {
    Packager packager;
    DataBlock<unsigned char> block;
    block.resize(packager.size(records[0]), 0);
    K result;
    std::size_t i = 0;
    for (auto _ : state) {
        const K& record = records[i];
        i = (i + 1) % records.size();
        unsigned position = 0;
        bool ok = packager.pack(block, position, record);
        position = 0;
        ok = packager.unpack(block, position, result) && ok;
        benchmark::DoNotOptimize(ok);
        benchmark::DoNotOptimize(result);
        benchmark::ClobberMemory();
    }
}

template <typename K> std::vector<K> records(K (*make)(std::mt19937&)) {
    std::mt19937 random(12345);
    std::vector<K> all;
    for (int i = 0; i < 1024; ++i) {
        all.push_back(make(random));
    }
    return all;
}

void Pack_Data(benchmark::State& s) {
    benchPack<Velk21DataBlockPacketPackager>(s, fixedData());
}
void Pack_Address(benchmark::State& s) {
    benchPack<Velk21AddressBlockPacketPackager>(s, fixedAddress());
}
void Pack_Extended(benchmark::State& s) {
    benchPack<Velk21ExtendedBlockPacketPackager>(s, fixedExtended());
}
void Unpack_Data(benchmark::State& s) {
    benchUnpack<Velk21DataBlockPacketPackager>(s, fixedData());
}
void Unpack_Address(benchmark::State& s) {
    benchUnpack<Velk21AddressBlockPacketPackager>(s, fixedAddress());
}
void Unpack_Extended(benchmark::State& s) {
    benchUnpack<Velk21ExtendedBlockPacketPackager>(s, fixedExtended());
}
void Restore_Data(benchmark::State& s) {
    benchRestore<Velk21DataBlockPacketPackager>(s, fixedData());
}
void PackUnpack_Data(benchmark::State& s) {
    benchPackUnpack<Velk21DataBlockPacketPackager>(s,
                                                   std::vector<Velk21DataBlockKernel>{fixedData()});
}
void PackUnpack_DataVaried(benchmark::State& s) {
    static const auto all = records(dataRecord);
    benchPackUnpack<Velk21DataBlockPacketPackager>(s, all);
}
void PackUnpack_AddressVaried(benchmark::State& s) {
    static const auto all = records(addressRecord);
    benchPackUnpack<Velk21AddressBlockPacketPackager>(s, all);
}
void PackUnpack_ExtendedVaried(benchmark::State& s) {
    static const auto all = records(extendedRecord);
    benchPackUnpack<Velk21ExtendedBlockPacketPackager>(s, all);
}

} // namespace

BENCHMARK(Pack_Data);
BENCHMARK(Pack_Address);
BENCHMARK(Pack_Extended);
BENCHMARK(Unpack_Data);
BENCHMARK(Unpack_Address);
BENCHMARK(Unpack_Extended);
BENCHMARK(Restore_Data);
BENCHMARK(PackUnpack_Data);
BENCHMARK(PackUnpack_DataVaried);
BENCHMARK(PackUnpack_AddressVaried);
BENCHMARK(PackUnpack_ExtendedVaried);

BENCHMARK_MAIN();
