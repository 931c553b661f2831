// The matched filter against the literal reference at every instruction-set level: interpolation
// bit for bit and the correlation within one float rounding of the exact sum; the processor's
// results (full and lazy correlation) on noisy waveforms. Its search window, corrections, buffers
// and refusals as one transcript, and its template files. Further returns against their
// definition on hostile waveforms.
#include "core/waveform/waveform_processor.hpp"

#include "core/waveform/peak_search.hpp"
#include "core/waveform/waveform_fixture.hpp"
#include "support/golden.hpp"
#include "support/plain_matched_filter.hpp"

#include <cstdlib>
#include <numeric>
#include <sstream>

namespace quarv {
namespace {

using test::Pulse;
using test::Setting;

struct Shot {
    bool found = false, saturated = false;
    double position = -1;
    std::uint16_t amplitude = 12345;
};

Shot filter(WaveformProcessor& p, const std::vector<std::int16_t>& w) {
    Shot s;
    EXPECT_EQ(p.matchedFilter(w.data(), s.position, s.amplitude, s.saturated, s.found), s.found);
    return s;
}

struct FailingAllocator {
    int calls = 0, failAt = 0;
    static void* allocate(std::size_t bytes, void* context) {
        auto* self = static_cast<FailingAllocator*>(context);
        return ++self->calls == self->failAt ? nullptr : std::aligned_alloc(64, bytes);
    }
};

class Processor : public test::WaveformFixture {};

TEST(Correlation, InterpolationAndCorrelationAgreeWithTheReferenceAtEveryLevel) {
    std::mt19937_64 rng(11);
    std::vector<float> t(TEMPLATE_LENGTH); // both signs and uneven values
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    for (float& v : t) v = u(rng);
    std::uniform_int_distribution<int> value(-300, 900);
    for (int interp : {1, 2, 3, 4, 5, 8}) {
        SCOPED_TRACE(interp);
        const int samples = interp == 1 ? 300 : 600, n = samples * interp;
        std::vector<std::int16_t> w(samples);
        std::vector<float> raw(samples + 16);
        std::vector<double> wide(samples + 512);
        for (int k = 0; k < samples; ++k) raw[k] = wide[k] = w[k] = std::int16_t(value(rng));
        wide[samples] = wide[samples - 1];
        std::vector<float> x(n + 512);
        xcorr::interpolate(raw.data(), samples, interp, interp, 0, n, x.data());
        test::PlainMatchedFilter plain(samples, interp, t.data());
        plain.run<float>(w.data(), 20, 20);
        ASSERT_TRUE(
            std::equal(plain.interpolated().begin(), plain.interpolated().end(), x.begin()));
        xcorr::PhaseWeights pw;
        xcorr::TailWeights tail;
        const bool phased = xcorr::buildPhaseWeights(t.data(), interp, pw);
        EXPECT_EQ(phased, interp == 1 || interp == 2 || interp == 4 || interp == 8);
        EXPECT_EQ(xcorr::buildTailWeights(t.data(), interp, n, tail), phased);
        const int interior = std::max(0, n - TEMPLATE_LENGTH + 1);
        std::vector<float> first;
        for (xcorr::SimdLevel level : test::supportedLevels()) {
            std::vector<float> xc(n + 256, -7.0f);
            if (phased) {
                xcorr::correlatePhases(wide.data(), pw, 0, interior, xc.data(), level);
                xcorr::correlateTail(wide.data(), tail, interior, n, xc.data(), level);
            } else {
                xcorr::correlateDirect(x.data(), t.data(), 0, n, xc.data(), level);
            }
            for (int k = 0; k < n; ++k) {
                long double exact = 0, magnitude = 0;
                for (int j = 0; j < TEMPLATE_LENGTH && j + k < n; ++j) {
                    exact += static_cast<long double>(t[j]) * x[j + k];
                    magnitude += std::fabs(static_cast<long double>(t[j]) * x[j + k]);
                }
                const float e = static_cast<float>(exact);
                ASSERT_LE(std::fabs(static_cast<double>(xc[k] - exact)),
                          std::fabs(std::nextafter(e, 0.0f) - e) + 1e-12 * double(magnitude))
                    << "k " << k;
            }
            if (first.empty()) first = xc;
            ASSERT_EQ(xc, first) << xcorr::simdLevelName(level);
        }
    }
}

// For each setting: the window (range gate to raw samples in 16 bits, 100 interpolated samples
// before it, a start at or below 48 moved to 20), temperature compensation (index above 1.1),
// and what the processing reports for a clean pulse, pulses clipped at and just below 780 counts
// and a flat record (the delay of 1e-8 s and the correction 2 are applied even without return).
// Then each of the eight buffers failing in turn while growing from 600 to 1000 samples.
TEST_F(Processor, WindowsCorrectionsAndAllocationFailuresTranscript) {
    const double cT = SPEED_OF_LIGHT_MPS * RAW_SAMPLE_PERIOD_S;
    const double nan = std::nan("");
    const Setting settings[] = {
        {600, 4, 1.34, 0, 100},      {600, 4, 1.34, 1, 100},      {600, 4, 1.34, 3, 5},
        {600, 4, 1, 19.5 * cT, 100}, {600, 1, 1, 74.5 * cT, 100}, {600, 1, 1, 75.5 * cT, 100},
        {600, 4, 1.34, 0, 1000},     {100, 4, 1.34, 10, 12},      {600, 4, 1.1, 0, 100},
        {600, 4, 1.1000001, 0, 100}, {600, 4, 0, 0, 100},         {600, 8, 1.34, 0.5, 9},
        {0, 4, 1.34, 0, 100},        {600, 0, 1.34, 0, 100},      {600, 0.5, 1.34, 0, 100},
        {600, nan, 1.34, 0, 100},    {600, 1e9, 1.34, 0, 100}};
    std::ostringstream out;
    out.precision(9);
    for (const Setting& s : settings) {
        RecordingSink sink;
        WaveformProcessor p(root_, sink);
        out << s.samples << " x" << s.interpolation << " n " << s.index << " " << s.rangeMin << ".."
            << s.rangeMax << ": " << test::configure(p, s, 2.0) << " raw " << p.rawStart() << ".."
            << p.rawEnd() << " search " << p.searchStart() << ".." << p.searchEnd() << " temp "
            << p.tempCompEnabled() << " capacity " << p.capacity() << "\n";
        const int n = std::max(s.samples, 600), c = std::min(300, s.samples / 2);
        std::vector<std::int16_t> clean = test::synthWaveform(n, 100, 0, {{c + 0.3, 400, 2.5}}, 0);
        for (int i = 0; i < n; ++i) clean[i] += std::int16_t((i * 37) % 11 - 5);
        for (const auto& w : {clean, test::synthWaveform(n, 0, 0, {{double(c), 780}}, 0, 780),
                              test::synthWaveform(n, 0, 0, {{double(c), 779}}, 0, 780),
                              std::vector<std::int16_t>(n, 100)}) {
            std::string lines[2];
            for (bool whole : {true, false}) {
                float range = 0, position = 0;
                std::uint16_t amplitude = 0;
                bool saturated = false, found = false;
                p.setFullCorrelation(whole);
                p.processWaveformPos(w.data(), range, position, 1e-8, 15, 15, amplitude, saturated,
                                     found);
                std::ostringstream line;
                line.precision(9);
                for (double v : {double(found), double(position), double(range), double(amplitude),
                                 double(saturated), double(p.rawPeakIndex()),
                                 double(p.xcPeakIndex()), p.computeSnr(), p.computeXcIntensity()})
                    std::isnan(v) ? line << " nan" : line << " " << v;
                lines[whole] = line.str();
            }
            EXPECT_EQ(lines[0], lines[1]); // the lazy correlation answers alike
            out << " " << lines[1] << "\n";
        }
        for (const auto& m : sink.messages()) out << "  " << m << "\n";
    }
    const auto w = test::synthWaveform(1000, 100, 0, {{300, 400, 2.5}}, nullptr);
    for (int failAt = 1; failAt <= 8; ++failAt) {
        SCOPED_TRACE(failAt);
        RecordingSink sink;
        WaveformProcessor p(root_, sink);
        FailingAllocator alloc{0, failAt};
        p.setAllocator(&FailingAllocator::allocate, &alloc);
        EXPECT_FALSE(test::configure(p, {1000}) || p.ready() || filter(p, w).found);
        out << failAt << " " << sink.last() << " (" << sink.messages().size() << ") capacity "
            << p.capacity() << "\n";
        // A later allocation with the same N retries what is missing.
        p.setAllocator(nullptr, nullptr);
        EXPECT_TRUE(p.allocateBuffers() && filter(p, w).found);
        // Smaller settings keep the buffers; the template buffer is zero past the template.
        ASSERT_TRUE(test::configure(p, {700}));
        EXPECT_TRUE(p.capacity() == 4000u && p.length() == 2800 && p.xcBuffer().size() == 2800u);
        const auto t = p.templateBuffer();
        EXPECT_TRUE(std::all_of(t.begin() + TEMPLATE_LENGTH, t.end(), [](float v) { return !v; }));
    }
    test::expectGolden("waveform_processor.txt", out.str());
    RecordingSink sink;
    WaveformProcessor(root_, sink).report("%s", std::string(300, 'x').c_str());
    EXPECT_EQ(sink.last(), std::string(300, 'x')); // never cut
}

// A missing template file leaves the shipped template; a short one (little-endian doubles)
// replaces only the whole values it holds, and the correlation's buffer follows at the next
// allocation. The processing run reports a missing file, once.
TEST_F(Processor, TemplateFilesAndTheShippedFallback) {
    const auto shipped = WaveformProcessor(root_, sink_).pulseTemplate();
    EXPECT_EQ(std::max_element(shipped.begin(), shipped.end()) - shipped.begin(), 48);
    std::filesystem::remove(root_.pulseTemplatePath());
    WaveformProcessor p(root_, sink_);
    EXPECT_TRUE(!p.templateComplete() && p.pulseTemplate() == shipped);
    std::vector<std::uint8_t> bytes(8 * 10 + 3);
    for (int i = 0; i < 10; ++i) le::store<double>(bytes.data() + 8 * i, -1.0 - i);
    test::writeBytes(dir_ / "short.bin", bytes);
    ASSERT_TRUE(p.loadPulseTemplate(dir_ / "short.bin") && !p.templateComplete());
    EXPECT_TRUE(p.pulseTemplate()[9] == -10.0 && p.pulseTemplate()[10] == shipped[10]);
    EXPECT_EQ(p.templateBuffer()[9], static_cast<float>(shipped[9]));
    ASSERT_TRUE(p.allocateBuffers() && !p.loadPulseTemplate(dir_ / "missing.bin"));
    EXPECT_TRUE(p.templateBuffer()[9] == -10.0f && p.pulseTemplate()[9] == -10.0);
    EXPECT_TRUE(sink_.messages().empty());
}

// Full and lazy correlation, the literal implementation (double sums) and shrunk buffers all give
// the same answers on a corpus of noisy, partly clipped waveforms, also for records shorter than
// the template and factors without a per-phase form (2.5 steps by a fractional factor). SNR is
// the raw peak's power over the variance of 20 noise samples (20 before and 10 after the peak,
// moved inside the record), intensity the correlation peak over the mean of the 25 entries that
// end 100 before it.
TEST_F(Processor, FastLazyAndLiteralAgreeOnNoisyCorpusAtEveryLevel) {
    for (xcorr::SimdLevel level : test::supportedLevels()) {
        SCOPED_TRACE(xcorr::simdLevelName(level));
        test::SimdLimit limit(level);
        std::mt19937_64 rng(31);
        std::uniform_real_distribution<double> u(0.0, 1.0);
        const Setting settings[] = {
            {600, 4, 1.34, 0, 100},   {600, 4, 1.34, 2, 12},   {500, 4, 1, 1, 6},
            {600, 2, 1.34, 0.5, 100}, {400, 3, 1.34, 0, 100},  {300, 8, 1, 0, 4},
            {5, 4, 1.34, 0, 100},     {24, 4, 1.34, 0, 100},   {40, 1, 1.34, 0, 100},
            {100, 16, 1.34, 0, 100},  {600, 2.5, 1.34, 0, 100}};
        int found = 0, flatTops = 0, saturated = 0;
        for (const Setting& s : settings) {
            WaveformProcessor full(root_, sink_), lazy(root_, sink_);
            ASSERT_TRUE(test::configure(full, s));
            ASSERT_TRUE(test::configure(lazy, {700})); // larger buffers first: they never shrink
            ASSERT_TRUE(test::configure(lazy, s));
            lazy.setFullCorrelation(false);
            test::PlainMatchedFilter plain(s.samples, s.interpolation,
                                           full.templateBuffer().data());
            for (int i = 0; i < 100; ++i) {
                std::vector<Pulse> pulses(u(rng) < 0.1 ? 0 : 1 + (u(rng) < 0.3));
                for (Pulse& p : pulses)
                    p = {u(rng) * s.samples, 30 + u(rng) * 1500, 1.5 + u(rng) * 2.5};
                const auto w =
                    test::synthWaveform(s.samples, 80 + u(rng) * 40, u(rng) * 6, pulses, &rng, 780);
                const Shot a = filter(full, w), b = filter(lazy, w);
                const auto r = plain.run<double>(w.data(), full.searchStart(), full.searchEnd());
                ASSERT_TRUE(a.found == b.found && a.found == r.found) << i;
                if (!a.found) {
                    EXPECT_TRUE(a.position == 0.0 && a.amplitude == 12345 &&
                                full.rawPeakIndex() == 0 && full.xcPeakIndexCopy() == 0);
                    continue;
                }
                ++found;
                saturated += a.saturated;
                ASSERT_TRUE(full.xcPeakIndex() == lazy.xcPeakIndex() &&
                            full.xcPeakIndex() == std::uint32_t(r.xcPeakIndex) &&
                            full.xcPeakIndexCopy() == full.xcPeakIndex());
                ASSERT_TRUE(full.rawPeakIndex() == lazy.rawPeakIndex() &&
                            full.rawPeakIndex() == r.rawPeakIndex);
                // Three equal correlation values at the peak (a flat stretch of a quantised
                // waveform) make the parabola 0/0: NaN everywhere alike.
                if (std::isnan(a.position)) {
                    ASSERT_TRUE(std::isnan(b.position) && std::isnan(r.position));
                    ++flatTops;
                } else {
                    ASSERT_EQ(a.position, b.position);
                    ASSERT_NEAR(a.position, r.position, 1e-3);
                    ASSERT_EQ(a.position, full.quadPeak() + TEMPLATE_PEAK_OFFSET);
                }
                ASSERT_TRUE(a.amplitude == b.amplitude && a.amplitude == r.amplitude);
                ASSERT_TRUE(a.saturated == r.saturated &&
                            a.saturated == (w[full.rawPeakIndex()] >= 780));
                const double snr = full.computeSnr(), snrB = lazy.computeSnr();
                ASSERT_TRUE(snr == snrB || (std::isnan(snr) && std::isnan(snrB)));
                const int peak = static_cast<int>(full.rawPeakIndex()), n = s.samples;
                if (a.saturated) {
                    ASSERT_EQ(snr, 8999999488.0);
                } else if (n >= 30) { // 10 samples from 20 before and 10 from 10 after the peak
                    const int before = std::clamp(peak - 20, 0, n - 10),
                              after = std::clamp(peak + 10, 0, n - 10);
                    double mean = 0, var = 0, v[20];
                    for (int j = 0; j < 20; ++j)
                        mean += (v[j] = w[j < 10 ? before + j : after + j - 10]) / 20;
                    for (int j = 0; j < 20; ++j) var += (v[j] - mean) * (v[j] - mean) / 19;
                    ASSERT_TRUE(std::equal(v, v + 20, full.noiseBuffer().begin()));
                    const double power = (w[peak] - mean) * (w[peak] - mean);
                    ASSERT_TRUE(var < 1e-9 ? std::isinf(snr) || std::isnan(snr)
                                           : std::fabs(snr - power / var) <= 1e-4 * snr + 1e-9);
                }
                const int k = r.xcPeakIndex, from = std::max(0, k - 125);
                const auto xc = full.xcBuffer();
                if (from + 25 <= int(xc.size())) {
                    const double base = std::accumulate(&xc[from], &xc[from + 25], 0.0) / 25;
                    ASSERT_NEAR(full.computeXcIntensity(), xc[k] - base, 1e-6 * std::fabs(xc[k]));
                }
                ASSERT_EQ(full.computeXcIntensity(), lazy.computeXcIntensity());
            }
        }
        EXPECT_GT(found, 320);
        EXPECT_GT(saturated, 20);
        EXPECT_LT(flatTops, 25);
    }
    EXPECT_TRUE(sink_.messages().empty());
}

// The further returns of the last waveform by their definition, looking at every correlation
// index of the window: a local maximum standing above the correlation 27 either side, outside
// the first return's pulse, reaching the SNR limit and standing kFurtherSigmas record noise
// deviations (the root mean square of the neighbouring differences within five scaled median
// absolute differences) above its noise windows' mean; strongest first, then the width test and at
// least one pulse width from every return already taken.
std::vector<double> definedFurther(const WaveformProcessor& p, const std::vector<std::int16_t>& w,
                                   int max, double limit) {
    const auto xc = p.xcBuffer();
    const int n = int(xc.size()), samples = int(w.size());
    std::vector<std::uint8_t> scratch(std::size_t(n) + 1);
    peak::Correlation c{xc.data(), n, 0, nullptr, nullptr};
    std::vector<std::pair<int, int>> taken{
        {int(p.xcPeakIndex()),
         peak::measureWidth(c, int(p.xcPeakIndex()), p.searchEnd(), scratch.data()).width}};
    std::vector<double> d;
    for (int i = 0; i + 1 < samples; ++i) d.push_back(std::abs(w[i + 1] - w[i]));
    std::vector<double> sorted = d;
    std::nth_element(sorted.begin(), sorted.begin() + long(d.size() / 2), sorted.end());
    const double bound = 5 * std::max(1.4826 * sorted[d.size() / 2], 1.0);
    double squares = 0, count = 0;
    for (double v : d) squares += v <= bound ? v * v : 0, count += v <= bound;
    const double sigma = std::sqrt(squares / count / 2);
    std::vector<int> candidates;
    for (int k = p.searchStart() + 27; k < p.searchEnd() - 27; ++k) {
        if (!(xc[k] > xc[k - 27] && xc[k] > xc[k + 27] && xc[k] >= xc[k - 1] && xc[k] > xc[k + 1]))
            continue;
        if (std::abs(k - taken[0].first) < taken[0].second) continue;
        const int r = int(peak::rawPeakIndex(p.rawBuffer().data(), samples, k, p.interp()));
        const int before = std::clamp(r - 20, 0, samples - 10),
                  after = std::clamp(r + 10, 0, samples - 10);
        double mean = 0, var = 0;
        for (int j = 0; j < 10; ++j) mean += (w[before + j] + w[after + j]) / 20.0;
        for (int j = 0; j < 10; ++j)
            var += (std::pow(w[before + j] - mean, 2) + std::pow(w[after + j] - mean, 2)) / 19;
        const double signal = w[r] - mean;
        if (w[r] >= 780 ||
            (signal * signal / var >= limit && signal >= WaveformProcessor::kFurtherSigmas * sigma))
            candidates.push_back(k);
    }
    std::stable_sort(candidates.begin(), candidates.end(),
                     [&](int a, int b) { return xc[a] > xc[b]; });
    std::vector<double> positions;
    for (int k : candidates) {
        if (int(positions.size()) == max) break;
        const peak::Width width = peak::measureWidth(c, k, p.searchEnd(), scratch.data());
        if (!width.ok || width.width <= peak::MIN_WIDTH || width.width >= peak::MAX_WIDTH) continue;
        if (std::any_of(taken.begin(), taken.end(), [&](auto t) {
                return std::abs(k - t.first) < std::max(width.width, t.second);
            }))
            continue;
        taken.push_back({k, width.width});
        positions.push_back(peak::quadraticVertex(xc.data(), k) + TEMPLATE_PEAK_OFFSET);
    }
    return positions;
}

// Piled pulses, saturated pulses ringing behind, pulses at the window's edges, windows narrower
// than two pulses, records shorter than the template and noise loud enough for the slow median:
// the further returns are what their definition gives, at every instruction-set level, each at
// its own correlation peak inside the window.
TEST_F(Processor, FurtherReturnsFollowTheirDefinitionOnHostileWaveforms) {
    int further = 0, saturatedFurther = 0;
    for (xcorr::SimdLevel level : test::supportedLevels()) {
        SCOPED_TRACE(xcorr::simdLevelName(level));
        test::SimdLimit limit(level);
        std::mt19937_64 rng(7);
        std::uniform_real_distribution<double> u(0.0, 1.0);
        const Setting settings[] = {{600, 4, 1.34, 0, 100}, {600, 4, 1.34, 2, 12},
                                    {600, 4, 1.34, 5, 5.2}, {300, 8, 1, 0, 4},
                                    {40, 4, 1.34, 0, 100},  {600, 2.5, 1.34, 0.5, 100}};
        for (const Setting& s : settings) {
            WaveformProcessor p(root_, sink_);
            ASSERT_TRUE(test::configure(p, s));
            const double raw0 = p.rawStart(), raw1 = std::max<double>(p.rawEnd(), raw0 + 1);
            for (int i = 0; i < 150; ++i) {
                std::vector<Pulse> pulses;
                double at =
                    u(rng) < 0.1 ? s.samples - 1 - u(rng) * 3 : raw0 + u(rng) * (raw1 - raw0);
                for (int j = 1 + int(u(rng) * 4); j > 0; --j) {
                    const double height = u(rng) < 0.2 ? 2000 : 6 * std::exp(u(rng) * 4.5);
                    pulses.push_back({at, height, 1.5 + u(rng) * 2});
                    if (height > 1000) // ringing behind the saturated pulse
                        for (int r = 1; r < 5; ++r)
                            pulses.push_back({at + 3.5 * r, (r % 2 ? -0.3 : 0.2) * 600 / r, 1.2});
                    at += u(rng) < 0.5 ? 2 + u(rng) * 10 : u(rng) * 80;
                }
                const double noise = u(rng) < 0.1 ? 12 : u(rng) * 4;
                const auto w = test::synthWaveform(s.samples, 10, noise, pulses, &rng, 820);
                if (!filter(p, w).found) continue;
                WaveformProcessor::FurtherReturn out[4];
                const double snrLimit = u(rng) < 0.5 ? 20 : 5;
                const int got = p.furtherReturns(4, snrLimit, out);
                const auto defined = definedFurther(p, w, 4, snrLimit);
                ASSERT_EQ(got, int(defined.size())) << i;
                std::vector<double> seen{p.quadPeak() + TEMPLATE_PEAK_OFFSET};
                for (int j = 0; j < got; ++j) {
                    ASSERT_EQ(out[j].position, defined[std::size_t(j)]) << i;
                    ASSERT_GE(out[j].position - TEMPLATE_PEAK_OFFSET, p.searchStart());
                    ASSERT_LE(out[j].position - TEMPLATE_PEAK_OFFSET, p.searchEnd());
                    ASSERT_EQ(std::count(seen.begin(), seen.end(), out[j].position), 0);
                    seen.push_back(out[j].position);
                    saturatedFurther += out[j].saturated;
                }
                further += got;
            }
        }
    }
    EXPECT_GT(further, 300);
    EXPECT_GT(saturatedFurther, 10);
    EXPECT_TRUE(sink_.messages().empty());
}

} // namespace
} // namespace quarv
