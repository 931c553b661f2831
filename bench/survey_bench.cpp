// The attribute-rich export of one full layer (2,249,999 points) to LAS 1.4 with extra bytes and
// to PLY, each next to writing the same number of bytes from memory through a temporary file
// renamed into place (what every export does). Run with TMPDIR=/dev/shm to measure on tmpfs.
#include "core/app/message_sink.hpp"
#include "core/cloud/survey_export.hpp"
#include "core/cloud/survey_records.hpp"
#include "core/config/atomic_file.hpp"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace quarv {
namespace {

constexpr std::uint32_t kPoints = CloudStore::MAX_LAYER_POINTS;

struct SurveyScene {
    std::unique_ptr<CloudStore> store = std::make_unique<CloudStore>();
    std::filesystem::path dir;

    SurveyScene() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "quarv-survey-XXXXXX").string();
        if (::mkdtemp(pattern.data())) dir = pattern;
        store->setCurrentLayer(0);
        store->layer(0).inUse = 1;
        std::mt19937 rng(1);
        std::uniform_real_distribution<float> pos(-20.0f, 20.0f), amp(0.0f, 900.0f);
        for (std::uint32_t i = 0; i < kPoints; ++i) {
            CloudPoint& p = store->nextSlot(0);
            p.x = pos(rng), p.y = pos(rng), p.z = pos(rng);
            p.range = 10.0f;
            p.amplitude = amp(rng);
            p.snr = 20.0f;
            p.valid = 1;
            p.line = static_cast<std::uint16_t>(i / 1000);
            store->nextExtra(0) = PointExtra{i % 1000, 0.0f, 1, 1, 1};
            store->commit(0);
        }
    }
    ~SurveyScene() {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
};

SurveyScene& scene() {
    static SurveyScene s;
    return s;
}

void exportTo(benchmark::State& state, const char* name, std::size_t recordBytes, bool placed) {
    SurveyScene& s = scene();
    NullSink quiet;
    SurveyExportOptions options;
    if (placed) {
        options.level = true;
        options.pose.position = std::array<double, 3>{431205.5, 5652310.25, -12.4};
        options.pose.headingDeg = 47.5;
        options.pose.crs = "EPSG:32631";
    }
    for (auto _ : state) {
        if (!exportSurvey(*s.store, {SurveySource{0, Attitude{1.5, -2.0}}}, s.dir / name, options,
                          quiet))
            state.SkipWithError("export");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kPoints * recordBytes));
}

void BM_Las14ExportFullLayer(benchmark::State& state) {
    exportTo(state, "export.las", kLas14RecordLength, false);
}
BENCHMARK(BM_Las14ExportFullLayer)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Las14ExportLevelledPlacedInUtm(benchmark::State& state) {
    exportTo(state, "placed.las", kLas14RecordLength, true);
}
BENCHMARK(BM_Las14ExportLevelledPlacedInUtm)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PlyExportFullLayer(benchmark::State& state) {
    exportTo(state, "export.ply", kPlyRecordLength, false);
}
BENCHMARK(BM_PlyExportFullLayer)->Unit(benchmark::kMillisecond)->UseRealTime();

// Baseline: the same bytes from memory, through a temporary file renamed into place.
void rawWrite(benchmark::State& state, std::size_t recordBytes) {
    SurveyScene& s = scene();
    const std::vector<std::uint8_t> bytes(std::size_t{kPoints} * recordBytes, 0x5A);
    for (auto _ : state) {
        if (!writeFileAtomically(s.dir / "raw.bin", bytes.data(), bytes.size()))
            state.SkipWithError("write");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}
void BM_RawWriteLas14Bytes(benchmark::State& state) {
    rawWrite(state, kLas14RecordLength);
}
BENCHMARK(BM_RawWriteLas14Bytes)->Unit(benchmark::kMillisecond)->UseRealTime();
void BM_RawWritePlyBytes(benchmark::State& state) {
    rawWrite(state, kPlyRecordLength);
}
BENCHMARK(BM_RawWritePlyBytes)->Unit(benchmark::kMillisecond)->UseRealTime();

// Stricter baseline: the same bytes from one cache-resident megabyte written over and over, the way
// the export hands its buffer to the file.
void rawWriteChunked(benchmark::State& state, std::size_t recordBytes) {
    SurveyScene& s = scene();
    const std::size_t total = std::size_t{kPoints} * recordBytes;
    const std::vector<std::uint8_t> chunk(1 << 20, 0x5A);
    for (auto _ : state) {
        AtomicFileWriter w;
        bool ok = w.open(s.dir / "chunked.bin");
        for (std::size_t done = 0; ok && done < total; done += chunk.size())
            ok = w.write(chunk.data(), std::min(chunk.size(), total - done));
        if (!ok || !w.commit()) state.SkipWithError("write");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * total));
}
void BM_RawChunkedWriteLas14Bytes(benchmark::State& state) {
    rawWriteChunked(state, kLas14RecordLength);
}
BENCHMARK(BM_RawChunkedWriteLas14Bytes)->Unit(benchmark::kMillisecond)->UseRealTime();
void BM_RawChunkedWritePlyBytes(benchmark::State& state) {
    rawWriteChunked(state, kPlyRecordLength);
}
BENCHMARK(BM_RawChunkedWritePlyBytes)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
} // namespace quarv
