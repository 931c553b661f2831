// End to end: a simulated recording of 200 lines x 1000 shots x 600 samples (about 243 MB) is
// processed by the engine from a warm page cache with one and with two workers, next to the two
// figures it is judged against in the same run: reading the file once with `cat`, and the bare
// matched filter on one core over the same waveforms. The recording is written before the
// first benchmark (outside every timed region) and deleted when the program ends; or, with
// QUARV_BENCH_RECORDING naming a recording of that geometry (bench/python_bench.py writes one),
// that file is used and kept.
#include "core/app/message_sink.hpp"
#include "core/app/notifier.hpp"
#include "core/cloud/cloud_renderer.hpp"
#include "core/cloud/cloud_store.hpp"
#include "core/config/config_root.hpp"
#include "core/scan/processing_session.hpp"
#include "core/scanfile/playback_file.hpp"
#include "core/sim/simulator.hpp"
#include "core/waveform/shot.hpp"
#include "core/waveform/waveform_processor.hpp"

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace quarv {
namespace {

constexpr std::uint16_t kShots = 1000;
constexpr std::uint16_t kLines = 200;
constexpr std::uint16_t kSamples = 600;
constexpr std::uint32_t kKernelLines = 20; // waveforms held in memory for the bare kernel

struct Recording {
    std::filesystem::path dir;
    std::filesystem::path file;
    ConfigRoot root;
    std::unique_ptr<CloudStore> store;
    std::unique_ptr<CloudRenderer> renderer;
    std::uint64_t bytes = 0;
    bool ok = false;

    Recording() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "quarv-pipeline-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) return;
        dir = pattern;
        file = dir / "bench.raw";
        root = ConfigRoot(dir / "home");
        StderrSink sink;
        if (!root.ensureCreated(sink)) return;
        if (const char* given = std::getenv("QUARV_BENCH_RECORDING")) {
            file = given;
            PlaybackFile reader(sink);
            const ScanGeometry g = reader.open(file) ? reader.geometry() : ScanGeometry{};
            if (g.shotsPerLine != kShots || g.lines != kLines || g.samplesPerPulse != kSamples) {
                std::fprintf(stderr, "QUARV_BENCH_RECORDING: not a %ux%ux%u recording\n",
                             unsigned(kLines), unsigned(kShots), unsigned(kSamples));
                return;
            }
        } else {
            sim::SimOptions opt = sim::sceneDefaults("plane");
            opt.distance = 6.0;
            opt.scanner.shotsPerLine = kShots;
            opt.scanner.lines = kLines;
            opt.scanner.samplesPerPulse = kSamples;
            sim::SimResult result;
            if (!sim::simulate(opt, file, result, sink)) return;
        }
        bytes = std::filesystem::file_size(file);
        store = std::make_unique<CloudStore>();
        renderer = std::make_unique<CloudRenderer>(*store);
        PointLayer& layer = store->layer(0);
        layer.rangeMin = 0.5f;
        layer.rangeMax = 30.0f;
        layer.snrMin = 5.0f;
        layer.colorTo = {255, 255, 255};
        ok = true;
    }
    ~Recording() {
        std::error_code ec;
        if (!dir.empty()) std::filesystem::remove_all(dir, ec);
    }
};

Recording& recording() {
    static Recording r;
    return r;
}

// CPU time of the whole process (every thread), seconds. On a machine shared with other work
// the wall-clock rates drift with the load; the CPU spent per waveform does not.
double processCpuSeconds() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

void setCpuPerWaveform(benchmark::State& state, double cpuSeconds, std::uint64_t perIteration) {
    state.counters["cpu_ns/waveform"] =
        cpuSeconds * 1e9 /
        (static_cast<double>(perIteration) * static_cast<double>(state.iterations()));
}

void setRate(benchmark::State& state, std::uint64_t waveformsPerIteration) {
    state.counters["waveforms/s"] = benchmark::Counter(static_cast<double>(waveformsPerIteration) *
                                                           static_cast<double>(state.iterations()),
                                                       benchmark::Counter::kIsRate);
}

// One Process command run of `file` into layer 0 of `store`, waited for. Every run starts from
// the same window (a run leaves its seen extent as the layer's window, which would narrow the
// next run's search).
void processOnce(ProcessingSession& session, CloudStore& store, const std::filesystem::path& file,
                 float rangeMin, float rangeMax) {
    store.layer(0).rangeMin = rangeMin;
    store.layer(0).rangeMax = rangeMax;
    session.openPlayback(file);
    session.setRequest(ProcessRequest::ProcessPlayback);
    session.startProcessing(0);
    session.waitUntilIdle(std::chrono::hours(1));
}

// Process runs of `file` timed by the state (one warm-up run first, not timed), with the CPU
// per waveform, the waveform rate and the layer's points as counters.
void timeProcessing(benchmark::State& state, ProcessingSession& session, CloudStore& store,
                    const std::filesystem::path& file, float rangeMin, float rangeMax,
                    std::uint64_t waveforms) {
    const auto run = [&] { processOnce(session, store, file, rangeMin, rangeMax); };
    run();
    const double cpu0 = processCpuSeconds();
    for (auto _ : state) run();
    setCpuPerWaveform(state, processCpuSeconds() - cpu0, waveforms);
    setRate(state, waveforms);
    state.counters["points"] = store.pointCount(0);
}

// The Process command on the recording (clutter filters off: the waveforms are what is
// measured). The first run warms the page cache and is not timed.
void BM_PipelineEndToEnd(benchmark::State& state) {
    Recording& r = recording();
    if (!r.ok) {
        state.SkipWithError("could not write the recording");
        return;
    }
    NullNotifier notifier;
    StderrSink sink;
    r.store->layer(0).neighbourFilter = 0;
    ProcessingSession session(*r.store, *r.renderer, r.root, sink, notifier,
                              static_cast<unsigned>(state.range(0)));
    timeProcessing(state, session, *r.store, r.file, 0.5f, 30.0f, std::uint64_t{kShots} * kLines);
    if (r.store->pointCount(0) < std::uint32_t{kShots} * kLines / 2)
        state.SkipWithError("the run made too few points");
}
BENCHMARK(BM_PipelineEndToEnd)
    ->Arg(1)
    ->Arg(2)
    ->ArgName("workers")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

// One plain read of the whole file, warm.
void BM_CatRecording(benchmark::State& state) {
    Recording& r = recording();
    if (!r.ok) {
        state.SkipWithError("could not write the recording");
        return;
    }
    const std::string command = "cat '" + r.file.string() + "' > /dev/null";
    if (std::system(command.c_str()) != 0) state.SkipWithError("cat failed");
    for (auto _ : state) benchmark::DoNotOptimize(std::system(command.c_str()));
    state.SetBytesProcessed(static_cast<std::int64_t>(r.bytes) * state.iterations());
    setRate(state, std::uint64_t{kShots} * kLines);
}
BENCHMARK(BM_CatRecording)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

// The waveforms of the first lines held in memory, with their horizontal positions, and the
// file's shot settings with the window the pipeline benchmark uses.
struct KernelInput {
    std::vector<std::int16_t> samples;
    std::vector<double> horPos;
    ShotSettings settings;
    bool ok = false;
};

const KernelInput& kernelInput() {
    static const KernelInput input = [] {
        KernelInput in;
        StderrSink sink;
        PlaybackFile reader(sink);
        if (!recording().ok || !reader.open(recording().file)) return in;
        const std::size_t perLine = std::size_t{kShots} * kSamples;
        in.samples.resize(perLine * kKernelLines);
        in.horPos.resize(std::size_t{kShots} * kKernelLines);
        std::vector<std::uint32_t> words(kShots);
        for (std::uint32_t l = 0; l < kKernelLines; ++l) {
            float elevation = 0;
            reader.readLineRecord(l, std::span(in.samples.data() + l * perLine, perLine),
                                  std::span(in.horPos.data() + l * kShots, kShots), words,
                                  elevation);
        }
        in.ok = shotSettingsOf(reader, 0.5, 30.0, in.settings);
        return in;
    }();
    return input;
}

// The matched filter alone on one core, over the waveforms of the first lines held in memory,
// set up as the workers are (the correlation computed where the peak search looks).
void BM_BareMatchedFilter(benchmark::State& state) {
    Recording& r = recording();
    const KernelInput& in = kernelInput();
    if (!in.ok) {
        state.SkipWithError("could not read the recording");
        return;
    }
    StderrSink sink;
    WaveformProcessor processor(r.root, sink);
    processor.setFullCorrelation(false);
    configureShot(processor, in.settings);
    const std::int16_t* samples = in.samples.data();
    const std::uint64_t count = std::uint64_t{kShots} * kKernelLines;
    std::uint64_t found = 0;
    const double cpu0 = processCpuSeconds();
    for (auto _ : state) {
        for (std::uint64_t w = 0; w < count; ++w) {
            double position = 0;
            std::uint16_t amplitude = 0;
            bool saturated = false, hit = false;
            found += processor.matchedFilter(samples + w * kSamples, position, amplitude, saturated,
                                             hit);
            benchmark::DoNotOptimize(position);
        }
    }
    setCpuPerWaveform(state, processCpuSeconds() - cpu0, count);
    setRate(state, count);
    state.counters["found"] =
        static_cast<double>(found) / static_cast<double>(count * state.iterations());
}
BENCHMARK(BM_BareMatchedFilter)->Unit(benchmark::kMillisecond)->UseRealTime();

// What quarv.matched_filter runs: processShots on one thread over the same waveforms (matched
// filter, range, SNR and intensity of each).
void BM_ShotsOneThread(benchmark::State& state) {
    Recording& r = recording();
    const KernelInput& in = kernelInput();
    if (!in.ok) {
        state.SkipWithError("could not read the recording");
        return;
    }
    StderrSink sink;
    std::vector<ShotResult> results(in.horPos.size());
    for (auto _ : state)
        if (!processShots(r.root, in.settings, in.samples, in.horPos, results, 1, sink))
            state.SkipWithError("processShots refused");
    setRate(state, results.size());
}
BENCHMARK(BM_ShotsOneThread)->Unit(benchmark::kMillisecond)->UseRealTime();

// Every record kind through the engine with the same number of waveforms (48,000 of 600 samples:
// 480 shots x 100 lines, 120 stare positions of 4 pulses x 100 lines, bowtie sweeps of 480
// pulses x 100), next to each other in one run; and peak files, which need no waveform
// processing, with 2,000,000 pulses. Two workers, clutter filters off, warm page cache.
struct KindRecording {
    const char* name;
    std::uint8_t type;
    bool peak;
    std::uint16_t shots, lines, pulses;
};
constexpr KindRecording kKinds[] = {
    {"line", 3, false, 480, 100, 1},       {"stare", 1, false, 120, 100, 4},
    {"bowtie", 4, false, 120, 100, 1},     {"peak line", 3, true, 2000, 1000, 1},
    {"peak stare", 1, true, 500, 1000, 4},
};

void BM_RecordKind(benchmark::State& state) {
    const KindRecording& k = kKinds[state.range(0)];
    state.SetLabel(k.name);
    Recording& base = recording(); // for its configuration root and folder
    if (!base.ok) {
        state.SkipWithError("could not write the recording");
        return;
    }
    StderrSink sink;
    const std::filesystem::path file =
        base.dir /
        (std::string("kind") + std::to_string(state.range(0)) + (k.peak ? ".pek" : ".raw"));
    sim::SimOptions opt = sim::sceneDefaults("plane");
    opt.distance = 6.0;
    opt.peakFile = k.peak;
    opt.scanner.scanType = k.type;
    opt.scanner.shotsPerLine = k.shots;
    opt.scanner.lines = k.lines;
    opt.scanner.samplesPerPulse = kSamples;
    opt.scanner.pulsesPerPosition = k.pulses;
    sim::SimResult result;
    if (!sim::simulate(opt, file, result, sink)) {
        state.SkipWithError("could not write the recording");
        return;
    }
    NullNotifier notifier;
    base.store->layer(0).neighbourFilter = 0;
    ProcessingSession session(*base.store, *base.renderer, base.root, sink, notifier, 2);
    timeProcessing(state, session, *base.store, file, 0.5f, 30.0f, result.pulses);
    std::filesystem::remove(file);
}
BENCHMARK(BM_RecordKind)
    ->DenseRange(0, 4)
    ->ArgName("kind")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

// The harbour demo (61,440 waveforms, fish and debris in the water) with one return a pulse and
// with two, in the same run: what looking for the surface behind a scatterer costs.
void BM_Returns(benchmark::State& state) {
    Recording& base = recording();
    if (!base.ok) {
        state.SkipWithError("could not write the recording");
        return;
    }
    StderrSink sink;
    const std::filesystem::path file = base.dir / "harbour.raw";
    sim::SimResult result;
    if (!std::filesystem::exists(file) &&
        !sim::simulate(sim::sceneDefaults("harbour"), file, result, sink)) {
        state.SkipWithError("could not write the recording");
        return;
    }
    NullNotifier notifier;
    PointLayer& layer = base.store->layer(0);
    layer.neighbourFilter = 0;
    layer.returns = static_cast<std::uint8_t>(state.range(0));
    ProcessingSession session(*base.store, *base.renderer, base.root, sink, notifier, 2);
    layer.snrMin = 20.0f;
    timeProcessing(state, session, *base.store, file, 1.0f, 25.0f, 256u * 240u);
    layer.returns = 1;
}
BENCHMARK(BM_Returns)
    ->Arg(1)
    ->Arg(2)
    ->ArgName("returns")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(5);

} // namespace
} // namespace quarv
