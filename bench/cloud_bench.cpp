// Point cloud files and colouring on one full layer (2,249,999 points), each next to the plain
// operation it cannot beat: writing or reading the same bytes with stdio, sorting the same keys.
#include "core/app/message_sink.hpp"
#include "core/cloud/cloud_export.hpp"
#include "core/cloud/cloud_renderer.hpp"
#include "core/cloud/las_file.hpp"
#include "core/cloud/zeroed_pages.hpp"
#include "core/config/atomic_file.hpp"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace quarv {
namespace {

constexpr std::uint32_t kPoints = CloudStore::MAX_LAYER_POINTS;
constexpr std::size_t kLasBytes = kLasPointOffset + std::size_t{kPoints} * kLasRecordLength;

// One store with layer 0 full of visible points with scattered amplitudes, built once.
struct Scene {
    std::unique_ptr<CloudStore> store = std::make_unique<CloudStore>();
    std::unique_ptr<CloudRenderer> renderer = std::make_unique<CloudRenderer>(*store);
    std::filesystem::path dir;
    std::vector<float> amplitudes;
    std::filesystem::path imported; // layer 0 as a LAS file

    Scene() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "quarv-bench-XXXXXX").string();
        if (::mkdtemp(pattern.data())) dir = pattern;
        store->setCurrentLayer(0);
        PointLayer& l = store->layer(0);
        l.rangeMin = 0.0f;
        l.rangeMax = 100.0f;
        l.colorTo = {255, 255, 255};
        l.colorMode = kColorByAmplitudeRank;
        std::mt19937 rng(1);
        std::uniform_real_distribution<float> pos(-20.0f, 20.0f), amp(0.0f, 900.0f);
        amplitudes.resize(kPoints);
        for (std::uint32_t i = 0; i < kPoints; ++i) {
            CloudPoint& p = store->nextSlot(0);
            p.x = pos(rng);
            p.y = pos(rng);
            p.z = pos(rng);
            p.range = 10.0f;
            p.amplitude = amplitudes[i] = amp(rng);
            p.snr = 20.0f;
            p.valid = 1;
            p.sequence = i;
            store->commit(0);
        }
        NullSink quiet;
        imported = dir / "import.las";
        if (!exportLas(*store, imported, quiet)) imported.clear();
    }
    ~Scene() {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
};

Scene& scene() {
    static Scene s;
    return s;
}

void BM_LasExportFullLayer(benchmark::State& state) {
    Scene& s = scene();
    NullSink quiet;
    for (auto _ : state) {
        if (!exportLas(*s.store, s.dir / "export.las", quiet)) state.SkipWithError("export");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kLasBytes));
}
BENCHMARK(BM_LasExportFullLayer)->Unit(benchmark::kMillisecond)->UseRealTime();

// Baseline: the same number of bytes from memory with fwrite, as the export does it (through a
// temporary file that is synced and renamed into place).
void BM_AtomicFwriteSameBytes(benchmark::State& state) {
    Scene& s = scene();
    std::vector<std::uint8_t> bytes(kLasBytes, 0x5A);
    for (auto _ : state) {
        if (!writeFileAtomically(s.dir / "raw-atomic.bin", bytes.data(), bytes.size()))
            state.SkipWithError("write");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kLasBytes));
}
BENCHMARK(BM_AtomicFwriteSameBytes)->Unit(benchmark::kMillisecond)->UseRealTime();

// Baseline: plain fopen, fwrite, fclose of the same bytes (no sync, no rename).
void BM_FwriteSameBytes(benchmark::State& state) {
    Scene& s = scene();
    std::vector<std::uint8_t> bytes(kLasBytes, 0x5A);
    const auto path = s.dir / "raw.bin";
    for (auto _ : state) {
        std::FILE* f = std::fopen(path.c_str(), "wb");
        if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size())
            state.SkipWithError("write");
        if (f) std::fclose(f);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kLasBytes));
}
BENCHMARK(BM_FwriteSameBytes)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_LasImportFullLayer(benchmark::State& state) {
    Scene& s = scene();
    NullSink quiet;
    CloudStore& store = *s.store;
    for (auto _ : state) {
        store.setCurrentLayer(1);
        store.resetLayer(1);
        LasFile las;
        if (!las.openRead(s.imported, quiet)) state.SkipWithError("open");
        if (fillLayerFromLas(las, store, 1) != kPoints) state.SkipWithError("short");
        las.close();
    }
    store.layer(1).inUse = 0; // keep the exports above to layer 0
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kLasBytes));
}
BENCHMARK(BM_LasImportFullLayer)->Unit(benchmark::kMillisecond)->UseRealTime();

// Baseline: fread of the same file into memory.
void BM_FreadSameBytes(benchmark::State& state) {
    Scene& s = scene();
    const auto path = s.imported;
    std::vector<std::uint8_t> bytes(kLasBytes);
    for (auto _ : state) {
        std::FILE* f = std::fopen(path.c_str(), "rb");
        if (!f || std::fread(bytes.data(), 1, bytes.size(), f) != bytes.size())
            state.SkipWithError("read");
        if (f) std::fclose(f);
        benchmark::DoNotOptimize(bytes.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kLasBytes));
}
BENCHMARK(BM_FreadSameBytes)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_RankColourFullLayer(benchmark::State& state) {
    Scene& s = scene();
    for (auto _ : state) s.renderer->colorize(0);
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kPoints));
}
BENCHMARK(BM_RankColourFullLayer)->Unit(benchmark::kMillisecond)->UseRealTime();

// Baseline: std::sort of the same amplitude keys (the copy into the work vector excluded).
void BM_StdSortSameKeys(benchmark::State& state) {
    Scene& s = scene();
    std::vector<float> keys;
    for (auto _ : state) {
        state.PauseTiming();
        keys = s.amplitudes;
        state.ResumeTiming();
        std::sort(keys.begin(), keys.end());
        benchmark::DoNotOptimize(keys.data());
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kPoints));
}
BENCHMARK(BM_StdSortSameKeys)->Unit(benchmark::kMillisecond)->UseRealTime();

// Filling a layer for the first time: each slot written once into fresh zero pages, as the first
// processing run or import into a layer does. The kernel's page faults dominate.
template <typename Fill> void firstFill(benchmark::State& state, Fill&& allocateAndFill) {
    for (auto _ : state) allocateAndFill();
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kPoints));
}
void writeSlots(CloudPoint* slots) {
    for (std::uint32_t i = 0; i < kPoints; ++i) slots[i].x = 1.0f;
    benchmark::ClobberMemory();
}

void BM_FirstFillOfALayer(benchmark::State& state) {
    firstFill(state, [] {
        ZeroedPages layer(std::size_t{LAYER_CAPACITY} * sizeof(CloudPoint));
        writeSlots(layer.as<CloudPoint>());
    });
}
BENCHMARK(BM_FirstFillOfALayer)->Unit(benchmark::kMillisecond)->UseRealTime();

// Baseline: the same slots in a calloc'd block (small pages).
void BM_FirstFillCalloc(benchmark::State& state) {
    firstFill(state, [] {
        auto* slots = static_cast<CloudPoint*>(std::calloc(LAYER_CAPACITY, sizeof(CloudPoint)));
        writeSlots(slots);
        std::free(slots);
    });
}
BENCHMARK(BM_FirstFillCalloc)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
} // namespace quarv
