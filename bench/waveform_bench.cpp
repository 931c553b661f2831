// Matched-filter throughput: the plain direct correlation sum (two nested loops, k outer, j
// inner) against the product's WaveformProcessor, on 10,000 simulated 600-sample waveforms
// (baseline, Gaussian noise, one Gaussian pulse of sigma 2.5 raw samples, some clipped at the
// digitiser's top), interpolation 4, with a full-record search window and a 10 m one. The
// agreement benchmark runs both over the whole corpus once and counts where they differ.
#include "core/app/message_sink.hpp"
#include "core/config/config_root.hpp"
#include "core/waveform/waveform_processor.hpp"

#include "../tests/support/plain_matched_filter.hpp"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <vector>

namespace quarv {
namespace {

constexpr int kSamples = 600;
constexpr double kInterpolation = 4.0;
constexpr int kCorpus = 10000;

struct Window {
    double rangeMin, rangeMax;
};
constexpr Window kFullRecord{0.0, 100.0};
constexpr Window kTenMetres{2.0, 12.0};

// One flat array of kCorpus waveforms.
std::vector<std::int16_t> makeCorpus() {
    std::mt19937_64 rng(20240611);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    std::normal_distribution<double> g(0.0, 1.0);
    std::vector<std::int16_t> all(static_cast<std::size_t>(kCorpus) * kSamples);
    for (int w = 0; w < kCorpus; ++w) {
        const double baseline = 60 + 60 * u(rng);
        const double noise = 0.3 + 5 * u(rng);
        const double centre = 5 + (kSamples - 10) * u(rng);
        const double amplitude = 20 + 1500 * u(rng) * u(rng);
        const double top = u(rng) < 0.5 ? 780.0 : 1023.0; // clipped at 780 or free above it
        for (int i = 0; i < kSamples; ++i) {
            const double d = (i - centre) / 2.5;
            double v = baseline + amplitude * std::exp(-0.5 * d * d) + noise * g(rng);
            v = std::clamp(std::round(v), -32768.0, top);
            all[static_cast<std::size_t>(w) * kSamples + i] = static_cast<std::int16_t>(v);
        }
    }
    return all;
}

const std::vector<std::int16_t>& corpus() {
    static const std::vector<std::int16_t> c = makeCorpus();
    return c;
}

// A configuration root in a temporary folder with the shipped template.
struct TempRoot {
    std::filesystem::path dir;
    ConfigRoot root;
    NullSink sink;
    TempRoot() {
        std::string pattern = (std::filesystem::temp_directory_path() / "quarv-bench-XXXXXX");
        if (!::mkdtemp(pattern.data())) std::abort();
        dir = pattern;
        root = ConfigRoot(dir / "home");
        root.ensureCreated(sink);
    }
    ~TempRoot() {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
};

TempRoot& tempRoot() {
    static TempRoot r;
    return r;
}

std::unique_ptr<WaveformProcessor> makeProcessor(Window window, bool whole) {
    auto p = std::make_unique<WaveformProcessor>(tempRoot().root, tempRoot().sink);
    DigitizerCfg d;
    d.setSamplesPerPulse(kSamples);
    ProcessingCfg pr;
    pr.setRefractiveIndex(1.34);
    pr.setInterpolation(kInterpolation);
    pr.setRangeMin(window.rangeMin);
    pr.setRangeMax(window.rangeMax);
    CalibrationCfg cal;
    cal.setTimeScale(1.0f);
    if (!p->configure(d, pr, cal)) std::abort();
    p->setFullCorrelation(whole);
    return p;
}

// The baseline: the correlation as two plain nested loops.
void plainDirectSum(const float* x, const float* tmpl, int n, float* xc) {
    for (int k = 0; k < n; ++k) {
        float sum = 0.0f;
        for (int j = 0; j < TEMPLATE_LENGTH && j + k < n; ++j) sum += tmpl[j] * x[j + k];
        xc[k] = sum;
    }
}

void BM_PlainDirectSum(benchmark::State& state) {
    auto p = makeProcessor(kFullRecord, true);
    const int n = p->length();
    std::vector<float> raw(kSamples), x(n), xc(n);
    const float* tmpl = p->templateBuffer().data();
    const auto& c = corpus();
    int w = 0;
    for (auto _ : state) {
        const std::int16_t* wave = c.data() + static_cast<std::size_t>(w) * kSamples;
        for (int i = 0; i < kSamples; ++i) raw[i] = wave[i];
        xcorr::interpolate(raw.data(), kSamples, kInterpolation, 4, 0, n, x.data());
        plainDirectSum(x.data(), tmpl, n, xc.data());
        benchmark::DoNotOptimize(xc.data());
        benchmark::ClobberMemory();
        w = (w + 1) % kCorpus;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PlainDirectSum);

// The whole literal matched filter (plain sum and the search that rescans 25 times).
void BM_PlainMatchedFilter(benchmark::State& state) {
    const Window window = state.range(0) ? kTenMetres : kFullRecord;
    auto p = makeProcessor(window, true);
    test::PlainMatchedFilter plain(kSamples, kInterpolation, p->templateBuffer().data());
    const auto& c = corpus();
    int w = 0;
    for (auto _ : state) {
        const auto r = plain.run<float>(c.data() + static_cast<std::size_t>(w) * kSamples,
                                        p->searchStart(), p->searchEnd());
        benchmark::DoNotOptimize(r);
        w = (w + 1) % kCorpus;
    }
    state.SetItemsProcessed(state.iterations());
    state.SetLabel(state.range(0) ? "10 m window" : "full-record window");
}
BENCHMARK(BM_PlainMatchedFilter)->Arg(0)->Arg(1);

// The product: matchedFilter as the scan pipeline runs it (arg 1: lazy correlation) or as the
// dialogs run it (arg 0: whole correlation and interpolation).
void BM_MatchedFilter(benchmark::State& state) {
    const Window window = state.range(0) ? kTenMetres : kFullRecord;
    const bool lazy = state.range(1) != 0;
    auto p = makeProcessor(window, !lazy);
    const auto& c = corpus();
    int w = 0;
    double position = 0;
    std::uint16_t amplitude = 0;
    bool saturated = false, found = false;
    for (auto _ : state) {
        p->matchedFilter(c.data() + static_cast<std::size_t>(w) * kSamples, position, amplitude,
                         saturated, found);
        benchmark::DoNotOptimize(position);
        w = (w + 1) % kCorpus;
    }
    state.SetItemsProcessed(state.iterations());
    state.SetLabel(std::string(state.range(0) ? "10 m window" : "full-record window") +
                   (lazy ? ", lazy" : ", whole correlation") + ", " +
                   xcorr::simdLevelName(xcorr::activeSimdLevel()));
}
BENCHMARK(BM_MatchedFilter)->Args({0, 1})->Args({1, 1})->Args({0, 0})->Args({1, 0});

// The pipeline's matched filter with the processing held at a lower instruction-set level.
void BM_MatchedFilterAtLevel(benchmark::State& state) {
    const auto level = static_cast<xcorr::SimdLevel>(state.range(1));
    if (static_cast<int>(level) > static_cast<int>(xcorr::bestSimdLevel())) {
        state.SkipWithError("not supported by this CPU");
        return;
    }
    xcorr::limitSimdLevel(level);
    auto p = makeProcessor(state.range(0) ? kTenMetres : kFullRecord, false);
    const auto& c = corpus();
    int w = 0;
    double position = 0;
    std::uint16_t amplitude = 0;
    bool saturated = false, found = false;
    for (auto _ : state) {
        p->matchedFilter(c.data() + static_cast<std::size_t>(w) * kSamples, position, amplitude,
                         saturated, found);
        benchmark::DoNotOptimize(position);
        w = (w + 1) % kCorpus;
    }
    xcorr::limitSimdLevel(xcorr::SimdLevel::Avx512);
    state.SetItemsProcessed(state.iterations());
    state.SetLabel(std::string(state.range(0) ? "10 m window, " : "full-record window, ") +
                   xcorr::simdLevelName(level));
}
BENCHMARK(BM_MatchedFilterAtLevel)->ArgsProduct({{0, 1}, {0, 1}});

// The correlation kernel alone over the whole record at each instruction-set level.
void BM_CorrelationKernel(benchmark::State& state) {
    const auto level = static_cast<xcorr::SimdLevel>(state.range(0));
    if (static_cast<int>(level) > static_cast<int>(xcorr::bestSimdLevel())) {
        state.SkipWithError("not supported by this CPU");
        return;
    }
    auto p = makeProcessor(kFullRecord, true);
    const int n = p->length();
    xcorr::PhaseWeights weights;
    xcorr::buildPhaseWeights(p->templateBuffer().data(), 4, weights);
    std::vector<double> wide(kSamples + 512, 0.0);
    std::vector<float> xc(n + 256);
    const auto& c = corpus();
    int w = 0;
    for (auto _ : state) {
        const std::int16_t* wave = c.data() + static_cast<std::size_t>(w) * kSamples;
        for (int i = 0; i < kSamples; ++i) wide[i] = wave[i];
        wide[kSamples] = wide[kSamples - 1];
        xcorr::correlatePhases(wide.data(), weights, 0, n - TEMPLATE_LENGTH + 1, xc.data(), level);
        benchmark::DoNotOptimize(xc.data());
        benchmark::ClobberMemory();
        w = (w + 1) % kCorpus;
    }
    state.SetItemsProcessed(state.iterations());
    state.SetLabel(xcorr::simdLevelName(level));
}
BENCHMARK(BM_CorrelationKernel)->DenseRange(0, 2);

// Agreement over the corpus, once per window: the product (lazy and whole) against the literal
// matched filter with the plain float sum, and against the literal one summing in double.
struct Tally {
    long differ = 0;      // found, xcPeakIndex or rawPeakIndex not the same
    long positionOff = 0; // same peak, position more than 1e-3 samples apart
    double worstPosition = 0;
};

void BM_Agreement(benchmark::State& state) {
    const Window window = state.range(0) ? kTenMetres : kFullRecord;
    auto lazy = makeProcessor(window, false);
    auto whole = makeProcessor(window, true);
    test::PlainMatchedFilter plainFloat(kSamples, kInterpolation, whole->templateBuffer().data());
    test::PlainMatchedFilter plainDouble(kSamples, kInterpolation, whole->templateBuffer().data());
    const auto& c = corpus();
    long found = 0, saturated = 0, lazyDiffers = 0, flatTops = 0;
    Tally vsFloat, vsDouble;
    for (auto _ : state) {
        for (int w = 0; w < kCorpus; ++w) {
            const std::int16_t* wave = c.data() + static_cast<std::size_t>(w) * kSamples;
            double pl = 0, pw = 0;
            std::uint16_t al = 0, aw = 0;
            bool sl = false, sw = false, fl = false, fw = false;
            lazy->matchedFilter(wave, pl, al, sl, fl);
            whole->matchedFilter(wave, pw, aw, sw, fw);
            const bool same =
                fl == fw && (!fl || (lazy->xcPeakIndex() == whole->xcPeakIndex() &&
                                     lazy->rawPeakIndex() == whole->rawPeakIndex() &&
                                     (pl == pw || (std::isnan(pl) && std::isnan(pw)))));
            lazyDiffers += !same;
            found += fw;
            saturated += fw && sw;
            flatTops += fw && std::isnan(pw);
            const auto rf = plainFloat.run<float>(wave, whole->searchStart(), whole->searchEnd());
            const auto rd = plainDouble.run<double>(wave, whole->searchStart(), whole->searchEnd());
            auto compare = [&](const test::PlainResult& r, Tally& t) {
                const bool agree =
                    r.found == fw &&
                    (!fw || (r.xcPeakIndex == static_cast<int>(whole->xcPeakIndex()) &&
                             r.rawPeakIndex == whole->rawPeakIndex()));
                if (!agree) {
                    ++t.differ;
                    return false;
                }
                if (fw && !std::isnan(pw)) {
                    const double off = std::fabs(r.position - pw);
                    t.worstPosition = std::max(t.worstPosition, off);
                    t.positionOff += off > 1e-3;
                }
                return true;
            };
            compare(rd, vsDouble);
            if (!compare(rf, vsFloat)) {
                // Show the two indices' correlation as the float sum and as the exact sum
                // (double, rounded once) see them.
                const auto& xf = plainFloat.correlation();
                const auto& xd = plainDouble.correlation();
                const int a = static_cast<int>(whole->xcPeakIndex()), b = rf.xcPeakIndex;
                std::fprintf(
                    stderr,
                    "waveform %d: product k %d raw %u, float sum k %d raw %u (found %d/%d);"
                    " float sum m[%d] %.9g m[%d] %.9g; exact m[%d] %.9g m[%d] %.9g\n",
                    w, a, whole->rawPeakIndex(), b, rf.rawPeakIndex, fw, rf.found, a, xf[a], b,
                    xf[b], a, xd[a], b, xd[b]);
            }
        }
    }
    state.counters["waveforms"] = kCorpus;
    state.counters["found"] = static_cast<double>(found);
    state.counters["saturated"] = static_cast<double>(saturated);
    state.counters["flat_tops"] = static_cast<double>(flatTops);
    state.counters["lazy_vs_whole_differ"] = static_cast<double>(lazyDiffers);
    state.counters["vs_float_differ"] = static_cast<double>(vsFloat.differ);
    state.counters["vs_float_pos_off"] = static_cast<double>(vsFloat.positionOff);
    state.counters["vs_float_worst_pos"] = vsFloat.worstPosition;
    state.counters["vs_double_differ"] = static_cast<double>(vsDouble.differ);
    state.counters["vs_double_pos_off"] = static_cast<double>(vsDouble.positionOff);
    state.counters["vs_double_worst_pos"] = vsDouble.worstPosition;
    state.SetLabel(state.range(0) ? "10 m window" : "full-record window");
}
BENCHMARK(BM_Agreement)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace quarv
