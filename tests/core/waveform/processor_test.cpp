// WaveformProcessor: its search window, template, buffers and refusals, and its results on noisy
// waveforms held against the literal reference at every instruction-set level.
#include "core/waveform/waveform_processor.hpp"

#include "core/waveform/waveform_fixture.hpp"
#include "support/plain_matched_filter.hpp"

#include <cmath>
#include <cstdlib>

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

class Processor : public test::WaveformFixture {};

TEST_F(Processor, SearchWindowAndTemperatureCompensationFollowTheSetting) {
    WaveformProcessor p(root_, sink_);
    // Before configure the refractive index is 0: both window ends sit at raw sample 0.
    EXPECT_TRUE(p.searchStart() == 20 && p.searchEnd() == 100 && p.interp() == 4 && p.ready());
    const double cT = SPEED_OF_LIGHT_MPS * RAW_SAMPLE_PERIOD_S;
    const struct {
        Setting s;
        int rawStart, rawEnd, searchStart, searchEnd;
    } cases[] = {
        // rangeMin 1 m in water: trunc(17.879) = 17 -> 34 -> 36, which is <= 48 -> 20.
        {{600, 4.0, 1.34, 1.0, 100.0}, 34, 600, 20, 2400},
        {{600, 4.0, 1.34, 3.0, 5.0}, 106, 178, 324, 812},
        {{600, 4.0, 1.0, 19.5 * cT, 100.0}, 38, 600, 52, 2400},
        // Exactly 48 is moved as well; 50 is kept.
        {{600, 1.0, 1.0, 74.5 * cT, 100.0}, 148, 600, 20, 600},
        {{600, 1.0, 1.0, 75.5 * cT, 100.0}, 150, 600, 50, 600},
        // 2 x 17879 = 35758 does not fit 16 bits: it is held at the record's end.
        {{600, 4.0, 1.34, 0.0, 1000.0}, 0, 600, 20, 2400},
        // A start past the record is held at N.
        {{100, 4.0, 1.34, 10.0, 12.0}, 100, 100, 300, 400},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(test::configure(p, c.s));
        EXPECT_EQ((std::vector<int>{p.rawStart(), p.rawEnd(), p.searchStart(), p.searchEnd()}),
                  (std::vector<int>{c.rawStart, c.rawEnd, c.searchStart, c.searchEnd}))
            << c.s.index << " " << c.s.rangeMin << " " << c.s.rangeMax;
    }
    for (auto [index, enabled] : {std::pair{1.1, false}, {1.1000001, true}, {0.0, false}}) {
        ASSERT_TRUE(test::configure(p, {600, 4.0, index}));
        EXPECT_EQ(p.tempCompEnabled(), enabled) << index;
    }
    EXPECT_TRUE(sink_.messages().empty());
}

TEST_F(Processor, TemplateFilesAndTheShippedFallback) {
    WaveformProcessor stock(root_, sink_); // the shipped defaults' file
    ASSERT_TRUE(stock.templateComplete());
    const auto shipped = stock.pulseTemplate();
    EXPECT_EQ(std::max_element(shipped.begin(), shipped.end()) - shipped.begin(), 48);
    // Missing: the shipped template all the same.
    std::filesystem::remove(root_.pulseTemplatePath());
    WaveformProcessor p(root_, sink_);
    EXPECT_FALSE(p.templateComplete());
    EXPECT_EQ(p.pulseTemplate(), shipped);
    // Little-endian doubles; a short file replaces only the whole values it holds, and the
    // correlation's template buffer follows at the next allocation.
    std::vector<std::uint8_t> bytes(8 * 10 + 3);
    for (int i = 0; i < 10; ++i) le::store<double>(bytes.data() + 8 * i, -1.0 - i);
    test::writeBytes(dir_ / "short.bin", bytes);
    ASSERT_TRUE(p.loadPulseTemplate(dir_ / "short.bin"));
    EXPECT_FALSE(p.templateComplete());
    EXPECT_TRUE(p.pulseTemplate()[9] == -10.0 && p.pulseTemplate()[10] == shipped[10]);
    EXPECT_EQ(p.templateBuffer()[9], static_cast<float>(shipped[9]));
    ASSERT_TRUE(p.allocateBuffers());
    EXPECT_EQ(p.templateBuffer()[9], -10.0f);
    EXPECT_FALSE(p.loadPulseTemplate(dir_ / "missing.bin"));
    EXPECT_EQ(p.pulseTemplate()[9], -10.0);
    EXPECT_TRUE(sink_.messages().empty()); // the processing run reports it, once
}

struct FailingAllocator {
    int calls = 0, failAt = 0;
    static void* allocate(std::size_t bytes, void* context) {
        auto* self = static_cast<FailingAllocator*>(context);
        return ++self->calls == self->failAt ? nullptr : std::aligned_alloc(64, bytes);
    }
};

TEST_F(Processor, BuffersOnlyGrowAndAFailedAllocationNamesItsBuffer) {
    // Growing from 600 to 1000 samples replaces every buffer, in this order.
    const char* messages[] = {
        "ERROR, Processing, allocating data interpolation buffer!",
        "ERROR, Processing, allocating data cross correlation buffer!",
        "ERROR, Processing, allocating cross correlation gaussian buffer!",
        "ERROR, Processing, allocating return buffer!",
        "ERROR, Processing, allocating return buffer!",
        "ERROR, Processing, allocating MF buffer!",
        "ERROR, Processing, allocating MF buffer!",
        "ERROR, Processing, allocating Valid buffer!",
    };
    const auto w = test::synthWaveform(1000, 100, 0, {{300, 400, 2.5}}, nullptr);
    for (int failAt = 1; failAt <= 8; ++failAt) {
        SCOPED_TRACE(failAt);
        RecordingSink sink;
        WaveformProcessor p(root_, sink);
        FailingAllocator alloc{0, failAt};
        p.setAllocator(&FailingAllocator::allocate, &alloc);
        EXPECT_FALSE(test::configure(p, {1000}));
        EXPECT_EQ(sink.messages(), std::vector<std::string>{messages[failAt - 1]});
        EXPECT_FALSE(p.ready());
        // The capacity follows N as soon as the interpolation buffer was obtained.
        EXPECT_EQ(p.capacity(), failAt == 1 ? 2400u : 4000u);
        EXPECT_FALSE(filter(p, w).found);
        // A later allocation with the same N retries what is missing.
        p.setAllocator(nullptr, nullptr);
        EXPECT_TRUE(p.allocateBuffers());
        EXPECT_TRUE(filter(p, w).found);
        // Smaller settings keep the buffers; the template buffer is zero past the template.
        ASSERT_TRUE(test::configure(p, {700}));
        EXPECT_TRUE(p.capacity() == 4000u && p.length() == 2800 && p.xcBuffer().size() == 2800u);
        const auto t = p.templateBuffer();
        EXPECT_TRUE(
            std::all_of(t.begin() + TEMPLATE_LENGTH, t.end(), [](float v) { return v == 0.0f; }));
    }
    RecordingSink sink;
    WaveformProcessor p(root_, sink);
    p.report("%s", std::string(300, 'x').c_str());
    EXPECT_EQ(sink.last(), std::string(300, 'x')); // never cut
}

// Full and lazy correlation, the literal implementation (double sums) and shrunk buffers all give
// the same answers on a corpus of noisy, partly clipped waveforms, also for records shorter than
// the template and factors without a per-phase form (2.5 steps by a fractional factor).
TEST_F(Processor, FastLazyAndLiteralAgreeOnNoisyCorpusAtEveryLevel) {
    for (xcorr::SimdLevel level : test::supportedLevels()) {
        SCOPED_TRACE(xcorr::simdLevelName(level));
        test::SimdLimit limit(level);
        std::mt19937_64 rng(31);
        std::uniform_real_distribution<double> u(0.0, 1.0);
        const Setting settings[] = {{600, 4.0, 1.34, 0.0, 100.0},
                                    {600, 4.0, 1.34, 2.0, 12.0},
                                    {500, 4.0, 1.0, 1.0, 6.0},
                                    {600, 2.0, 1.34, 0.5, 100.0},
                                    {400, 3.0, 1.34, 0.0, 100.0},
                                    {300, 8.0, 1.0, 0.0, 4.0},
                                    {5},
                                    {24},
                                    {40, 1.0},
                                    {100, 16.0},
                                    {600, 2.5}};
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
                ASSERT_EQ(full.xcPeakIndex(), lazy.xcPeakIndex());
                ASSERT_EQ(full.xcPeakIndex(), static_cast<std::uint32_t>(r.xcPeakIndex));
                ASSERT_EQ(full.xcPeakIndexCopy(), full.xcPeakIndex());
                ASSERT_EQ(full.rawPeakIndex(), lazy.rawPeakIndex());
                ASSERT_EQ(full.rawPeakIndex(), r.rawPeakIndex);
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
                const double snrA = full.computeSnr(), snrB = lazy.computeSnr();
                ASSERT_TRUE(snrA == snrB || (std::isnan(snrA) && std::isnan(snrB)));
                if (a.saturated) {
                    ASSERT_EQ(snrA, 8999999488.0);
                }
                ASSERT_EQ(full.computeXcIntensity(), lazy.computeXcIntensity());
            }
        }
        EXPECT_GT(found, 320);
        EXPECT_GT(saturated, 20);
        EXPECT_LT(flatTops, 25);
    }
}

// Empty records and factors below 1, NaN or absurd: nothing found, nothing read outside the
// buffers (the sanitizer build watches).
TEST_F(Processor, SettingsWithoutAWaveformFindNothing) {
    const std::pair<int, double> cases[] = {
        {0, 4.0}, {600, 0.0}, {600, 0.5}, {600, std::nan("")}, {600, 1e9}};
    const auto w = test::synthWaveform(600, 100, 3, {{300, 400, 2.5}}, nullptr);
    for (auto [samples, interpolation] : cases) {
        RecordingSink sink;
        WaveformProcessor p(root_, sink);
        const bool configures = interpolation != 1e9;
        EXPECT_EQ(test::configure(p, {samples, interpolation}), configures) << interpolation;
        if (!configures) {
            EXPECT_EQ(sink.last(), "ERROR, Processing, allocating data interpolation buffer!");
        }
        for (bool whole : {true, false}) {
            p.setFullCorrelation(whole);
            EXPECT_FALSE(filter(p, w).found);
            p.computeSnr();
            p.computeXcIntensity();
        }
    }
}

// SNR: the raw peak's power over the variance of 20 noise samples (20 before and 10 after the
// peak, moved inside the record); intensity: the correlation peak over the mean of the 25
// entries that end 100 before it.
TEST_F(Processor, SnrAndIntensityAgainstTheirDefinitions) {
    std::mt19937_64 rng(3);
    {
        WaveformProcessor p(root_, sink_), full(root_, sink_);
        ASSERT_TRUE(test::configure(p, {}) && test::configure(full, {}));
        p.setFullCorrelation(false);
        for (double centre : {30.0, 300.0, 560.0}) {
            SCOPED_TRACE(centre);
            const auto w = test::synthWaveform(600, 100, 3, {{centre, 400, 2.5}}, &rng);
            ASSERT_TRUE(filter(p, w).found && filter(full, w).found);
            const int peak = static_cast<int>(p.rawPeakIndex());
            const NoiseWindows nw = noiseWindows(p.rawPeakIndex(), 600);
            const double snr = p.computeSnr();
            double mean = 0, var = 0;
            for (int i = 0; i < 20; ++i) mean += w[(i < 10 ? nw.before : nw.after - 10) + i] / 20.0;
            for (int i = 0; i < 20; ++i) {
                const double v = w[(i < 10 ? nw.before : nw.after - 10) + i];
                var += (v - mean) * (v - mean) / 19;
                EXPECT_EQ(p.noiseBuffer()[i], v);
            }
            EXPECT_NEAR(snr, (w[peak] - mean) * (w[peak] - mean) / var, 1e-5 * snr);
            const int k = static_cast<int>(p.xcPeakIndex()), a = std::max(0, k - 125);
            EXPECT_EQ(intensityBaselineStart(p.xcPeakIndex()), a);
            double base = 0;
            for (int i = a; i < a + 25; ++i) base += full.xcBuffer()[i];
            EXPECT_NEAR(p.computeXcIntensity(), full.xcBuffer()[k] - base / 25,
                        1e-9 * full.xcBuffer()[k]);
        }
        for (std::uint32_t peak = 0; peak < 600; ++peak) { // windows moved inside the record
            const NoiseWindows nw = noiseWindows(peak, 600);
            ASSERT_EQ(nw.before, std::clamp(int(peak) - 20, 0, 590)) << peak;
            ASSERT_EQ(nw.after, std::clamp(int(peak) + 10, 0, 590)) << peak;
        }
        // Noise-free surroundings: zero variance gives infinity, no error.
        ASSERT_TRUE(filter(p, test::synthWaveform(600, 100, 0, {{300, 400, 2.5}}, nullptr)).found);
        EXPECT_TRUE(std::isinf(p.computeSnr()));
    }
    EXPECT_TRUE(sink_.messages().empty());
}

TEST_F(Processor, SaturationAndCorrectionsAlsoWithoutReturn) {
    WaveformProcessor p(root_, sink_);
    CalibrationCfg cal = test::plainCalibration();
    cal.setTempCoefC0(2.0);
    ASSERT_TRUE(test::configure(p, {}, cal));
    for (auto [top, saturated] : {std::pair{780.0, true}, {779.0, false}}) {
        const auto clipped = test::synthWaveform(600, 0, 0, {{300, top, 2.5}}, nullptr, 780);
        EXPECT_EQ(filter(p, clipped).saturated, saturated) << top; // from 780 counts on
    }
    const auto w = test::synthWaveform(600, 100, 0, {{300, 400, 2.5}}, nullptr);
    float range = 0, range2 = 0, position = 0;
    std::uint16_t amplitude = 0;
    bool saturated = false, found = false;
    ASSERT_TRUE(
        p.processWaveformPos(w.data(), range, position, 1e-8, 15, 15, amplitude, saturated, found));
    EXPECT_EQ(position, static_cast<float>(p.quadPeak() + 48 + 1e-8 * 4 / 2.5e-10 - 2.0));
    ASSERT_TRUE(p.processWaveform(w.data(), range2, 1e-8, 15, 15, amplitude, saturated, found));
    EXPECT_TRUE(range == range2 && amplitude == 500);
    const std::vector<std::int16_t> flat(600, 100);
    EXPECT_FALSE(p.processWaveformPos(flat.data(), range, position, 1e-8, 15, 15, amplitude,
                                      saturated, found));
    EXPECT_EQ(position, static_cast<float>(0.0 + 160.0 - 2.0));
}

} // namespace
} // namespace quarv
