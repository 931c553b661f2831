#include "core/waveform/waveform_processor.hpp"

#include "core/waveform/waveform_fixture.hpp"
#include "support/plain_matched_filter.hpp"

#include <cmath>

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
    const bool r = p.matchedFilter(w.data(), s.position, s.amplitude, s.saturated, s.found);
    EXPECT_EQ(r, s.found);
    return s;
}

class ProcessorWaveform : public test::WaveformFixture {
protected:
    std::unique_ptr<WaveformProcessor> make(const Setting& s,
                                            const CalibrationCfg& cal = test::plainCalibration()) {
        auto p = std::make_unique<WaveformProcessor>(root_, sink_);
        EXPECT_TRUE(p->configure(test::digitizerFor(s), test::processingFor(s), cal));
        return p;
    }
};

TEST_F(ProcessorWaveform, SinglePulseIsFoundAtItsPeak) {
    auto p = make(Setting{});
    for (double centre : {150.0, 300.0, 300.25, 451.5}) {
        const auto w = test::synthWaveform(600, 100, 0, {{centre, 400, 2.5}}, nullptr);
        const Shot s = filter(*p, w);
        ASSERT_TRUE(s.found) << centre;
        // The template's peak offset turns the correlation lag into the pulse's position.
        EXPECT_NEAR(s.position, 4 * centre, 0.3) << centre;
        EXPECT_EQ(p->quadPeak() + TEMPLATE_PEAK_OFFSET, s.position);
        EXPECT_EQ(p->quadPeakCopy(), p->quadPeak());
        EXPECT_EQ(p->xcPeakIndexCopy(), p->xcPeakIndex());
        EXPECT_NEAR(p->xcPeakIndex(), p->quadPeak(), 0.5);
        // Half-way between two equal samples the first of them is kept.
        EXPECT_EQ(p->rawPeakIndex(), static_cast<std::uint32_t>(std::floor(centre + 0.49)));
        EXPECT_EQ(s.amplitude, w[p->rawPeakIndex()]);
        EXPECT_FALSE(s.saturated);
        EXPECT_EQ(p->peakXc(), 0u);
    }
}

TEST_F(ProcessorWaveform, SaturationStartsAt780Counts) {
    auto p = make(Setting{});
    const std::pair<double, bool> cases[] = {{780, true}, {779, false}, {2000, true}};
    for (auto [top, saturated] : cases) {
        // Clipped at the top like the digitiser does.
        const auto w = test::synthWaveform(600, 0, 0, {{300, top, 2.5}}, nullptr, 780);
        const Shot s = filter(*p, w);
        ASSERT_TRUE(s.found);
        EXPECT_EQ(s.saturated, saturated) << top;
        EXPECT_EQ(p->saturated(), saturated);
        EXPECT_EQ(s.amplitude, std::min(top, 780.0));
        if (saturated) {
            EXPECT_EQ(p->computeSnr(), 8999999488.0);
        }
    }
    EXPECT_TRUE(779.9f < SATURATION_LEVEL && !(780.0f < SATURATION_LEVEL));
}

TEST_F(ProcessorWaveform, FlatWaveformIsNotFoundAndLeavesAmplitudeAlone) {
    auto p = make(Setting{});
    for (int value : {0, 100, -50, 780, 32767}) {
        for (bool whole : {true, false}) {
            p->setFullCorrelation(whole);
            // A return first, so that the reset of the result words is visible.
            ASSERT_TRUE(
                filter(*p, test::synthWaveform(600, 100, 0, {{300, 400, 2.5}}, nullptr)).found);
            const Shot s =
                filter(*p, std::vector<std::int16_t>(600, static_cast<std::int16_t>(value)));
            EXPECT_FALSE(s.found) << value;
            EXPECT_EQ(s.position, 0.0);
            EXPECT_EQ(s.amplitude, 12345);
            EXPECT_EQ(p->rawPeakIndex(), 0u);
            EXPECT_EQ(p->xcPeakIndexCopy(), 0u);
        }
    }
}

// Full and lazy correlation, the literal implementation (double sums) and the shrunk buffers
// all give the same answers on a corpus of noisy waveforms.
TEST_F(ProcessorWaveform, FastLazyAndLiteralAgreeOnNoisyCorpusAtEveryLevel) {
    for (xcorr::SimdLevel level : test::supportedLevels()) {
        SCOPED_TRACE(xcorr::simdLevelName(level));
        test::SimdLimit limit(level);
        std::mt19937_64 rng(31);
        std::uniform_real_distribution<double> u(0.0, 1.0);
        const Setting settings[] = {{600, 4.0, 1.34, 0.0, 100.0}, {600, 4.0, 1.34, 2.0, 12.0},
                                    {500, 4.0, 1.0, 1.0, 6.0},    {600, 2.0, 1.34, 0.5, 100.0},
                                    {400, 3.0, 1.34, 0.0, 100.0}, {300, 8.0, 1.0, 0.0, 4.0}};
        int compared = 0, found = 0, flatTops = 0;
        for (const Setting& s : settings) {
            auto full = make(s);
            auto lazy = make(Setting{700, 4.0}); // larger buffers first: they never shrink
            ASSERT_TRUE(lazy->configure(test::digitizerFor(s), test::processingFor(s),
                                        test::plainCalibration()));
            lazy->setFullCorrelation(false);
            test::PlainMatchedFilter plain(s.samples, s.interpolation,
                                           full->templateBuffer().data());
            for (int i = 0; i < 100; ++i) {
                std::vector<Pulse> pulses;
                const int count = u(rng) < 0.1 ? 0 : 1 + (u(rng) < 0.3);
                for (int c = 0; c < count; ++c)
                    pulses.push_back({u(rng) * s.samples, 30 + u(rng) * 1500, 1.5 + u(rng) * 2.5});
                const auto w =
                    test::synthWaveform(s.samples, 80 + u(rng) * 40, u(rng) * 6, pulses, &rng, 780);
                const Shot a = filter(*full, w);
                const Shot b = filter(*lazy, w);
                const test::PlainResult r =
                    plain.run<double>(w.data(), full->searchStart(), full->searchEnd());
                ++compared;
                ASSERT_EQ(a.found, b.found) << i;
                ASSERT_EQ(a.found, r.found) << i;
                if (!a.found) continue;
                ++found;
                ASSERT_EQ(full->xcPeakIndex(), lazy->xcPeakIndex());
                ASSERT_EQ(full->xcPeakIndex(), static_cast<std::uint32_t>(r.xcPeakIndex));
                ASSERT_EQ(full->rawPeakIndex(), lazy->rawPeakIndex());
                ASSERT_EQ(full->rawPeakIndex(), r.rawPeakIndex);
                // Three equal correlation values at the peak (a flat stretch of a quantised
                // waveform) make the parabola 0/0: NaN everywhere alike.
                if (std::isnan(a.position)) {
                    ASSERT_TRUE(std::isnan(b.position) && std::isnan(r.position));
                    ++flatTops;
                } else {
                    ASSERT_EQ(a.position, b.position);
                    ASSERT_NEAR(a.position, r.position, 1e-3);
                }
                ASSERT_EQ(a.amplitude, b.amplitude);
                ASSERT_EQ(a.amplitude, r.amplitude);
                ASSERT_EQ(a.saturated, r.saturated);
                const double snrA = full->computeSnr(), snrB = lazy->computeSnr();
                ASSERT_TRUE(snrA == snrB || (std::isnan(snrA) && std::isnan(snrB)));
                ASSERT_EQ(full->computeXcIntensity(), lazy->computeXcIntensity());
            }
        }
        EXPECT_EQ(compared, 600);
        EXPECT_GT(found, 320);
        EXPECT_LT(flatTops, 25);
    }
}

// Short records, factors that are not 1, 2, 4 or 8, fractional, zero or absurd factors: nothing
// reads outside its buffer (the sanitizer build watches), and what can be compared with the
// literal implementation agrees with it.
TEST_F(ProcessorWaveform, OddSettingsStayInsideTheirBuffers) {
    const struct {
        int samples;
        double interpolation;
        bool configures;
    } cases[] = {{0, 4.0, true},    {1, 4.0, true},           {5, 4.0, true},    {24, 4.0, true},
                 {30, 4.0, true},   {40, 1.0, true},          {600, 0.0, true},  {600, 0.5, true},
                 {600, 2.5, true},  {300, 3.0, true},         {100, 16.0, true}, {200, 8.0, true},
                 {600, 1e9, false}, {600, std::nan(""), true}};
    std::mt19937_64 rng(17);
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.samples << " x " << c.interpolation);
        for (bool whole : {true, false}) {
            RecordingSink sink;
            WaveformProcessor p(root_, sink);
            p.setFullCorrelation(whole);
            Setting s;
            s.samples = c.samples;
            s.interpolation = c.interpolation;
            EXPECT_EQ(p.configure(test::digitizerFor(s), test::processingFor(s),
                                  test::plainCalibration()),
                      c.configures);
            if (!c.configures) {
                EXPECT_EQ(sink.last(), "ERROR, Processing, allocating data interpolation buffer!");
            }
            std::vector<float> tmpl(TEMPLATE_LENGTH);
            for (int j = 0; j < TEMPLATE_LENGTH; ++j)
                tmpl[j] = static_cast<float>(p.pulseTemplate()[j]);
            const bool comparable = c.configures && c.samples > 0 && c.interpolation >= 1.0;
            for (int i = 0; i < 20; ++i) {
                const auto w = test::synthWaveform(std::max(c.samples, 1), 100, 3,
                                                   {{c.samples * (i + 0.5) / 20, 400, 0.6}}, &rng);
                const Shot a = filter(p, w);
                p.computeSnr();
                p.computeXcIntensity();
                if (!comparable) {
                    EXPECT_FALSE(a.found);
                    continue;
                }
                test::PlainMatchedFilter plain(c.samples, c.interpolation, tmpl.data());
                const auto r = plain.run<double>(w.data(), p.searchStart(), p.searchEnd());
                ASSERT_EQ(a.found, r.found) << i;
                if (!a.found) continue;
                EXPECT_EQ(p.xcPeakIndex(), static_cast<std::uint32_t>(r.xcPeakIndex));
                EXPECT_EQ(p.rawPeakIndex(), r.rawPeakIndex);
                if (!std::isnan(a.position)) {
                    EXPECT_NEAR(a.position, r.position, 1e-6);
                }
            }
        }
    }
}

TEST_F(ProcessorWaveform, SnrIsPeakPowerOverNoiseVariance) {
    std::mt19937_64 rng(3);
    auto p = make(Setting{});
    const auto w = test::synthWaveform(600, 100, 3, {{300, 400, 2.5}}, &rng);
    ASSERT_TRUE(filter(*p, w).found);
    const int peak = static_cast<int>(p->rawPeakIndex());
    std::vector<double> noise;
    for (int i = peak - 20; i < peak - 10; ++i) noise.push_back(w[i]);
    for (int i = peak + 10; i < peak + 20; ++i) noise.push_back(w[i]);
    double mean = 0, var = 0;
    for (double v : noise) mean += v / 20;
    for (double v : noise) var += (v - mean) * (v - mean) / 19;
    EXPECT_NEAR(p->computeSnr(), (w[peak] - mean) * (w[peak] - mean) / var, 1e-5 * p->computeSnr());
    for (int i = 0; i < 20; ++i) EXPECT_EQ(p->noiseBuffer()[i], noise[i]);
    // Noise-free surroundings: zero variance gives infinity, no error.
    const auto clean = test::synthWaveform(600, 100, 0, {{300, 400, 2.5}}, nullptr);
    ASSERT_TRUE(filter(*p, clean).found);
    EXPECT_TRUE(std::isinf(p->computeSnr()));
    EXPECT_TRUE(sink_.messages().empty());
}

TEST(NoiseWindows, StayInsideTheRecord) {
    const struct {
        std::uint32_t peak;
        int before, after;
    } cases[] = {{5, 0, 15},  {300, 280, 310}, {597, 577, 590},
                 {20, 0, 30}, {0, 0, 10},      {599, 579, 590}};
    for (const auto& c : cases) {
        const NoiseWindows w = noiseWindows(c.peak, 600);
        EXPECT_EQ(w.before, c.before) << c.peak;
        EXPECT_EQ(w.after, c.after) << c.peak;
    }
    EXPECT_EQ(intensityBaselineStart(100), 0);
    EXPECT_EQ(intensityBaselineStart(125), 0);
    EXPECT_EQ(intensityBaselineStart(126), 1);
    EXPECT_EQ(intensityBaselineStart(1000), 875);
}

TEST_F(ProcessorWaveform, IntensityIsPeakAboveTheBlockBeforeIt) {
    for (bool whole : {true, false}) {
        auto p = make(Setting{});
        p->setFullCorrelation(whole);
        // Correlation peak at k = 100: pulse peak at 148 interpolated samples = raw 37.
        const auto w = test::synthWaveform(600, 100, 0, {{37, 400, 2.5}}, nullptr);
        ASSERT_TRUE(filter(*p, w).found);
        ASSERT_EQ(p->xcPeakIndex(), 100u);
        auto full = make(Setting{});
        ASSERT_TRUE(filter(*full, w).found);
        const auto xc = full->xcBuffer();
        double base = 0;
        for (int i = 0; i < 25; ++i) base += xc[i];
        EXPECT_NEAR(p->computeXcIntensity(), xc[100] - base / 25, 1e-9 * xc[100]);

        const auto far = test::synthWaveform(600, 100, 0, {{300, 400, 2.5}}, nullptr);
        ASSERT_TRUE(filter(*p, far).found);
        ASSERT_TRUE(filter(*full, far).found);
        const int k = static_cast<int>(p->xcPeakIndex());
        base = 0;
        for (int i = k - 125; i < k - 100; ++i) base += full->xcBuffer()[i];
        EXPECT_NEAR(p->computeXcIntensity(), full->xcBuffer()[k] - base / 25,
                    1e-9 * full->xcBuffer()[k]);
    }
}

TEST_F(ProcessorWaveform, RangeFromPositionFollowsTimeOfFlight) {
    const double c = SPEED_OF_LIGHT_MPS;
    struct Case {
        double index, position, horPos, tempA, tempB;
        float offsetNs, scale;
        double c1;
        double expectedPosition, expectedRange;
    };
    const Case cases[] = {
        // 400 / 4 x 0.25 ns = 25 ns: 2.7966 m in water.
        {1.34, 400, 0, 0, 0, 0, 1, 0, 400, c / 2.68 * 2.5e-8},
        // horPos 100 ns adds 1600 interpolated samples.
        {1.34, 400, 1e-7, 0, 0, 0, 1, 0, 2000, c / 2.68 * 1.25e-7},
        // 10 ns of time offset: 1.1186 m shorter.
        {1.34, 400, 0, 0, 0, 10, 1, 0, 400, c / 2.68 * (2.5e-8 - 1e-8)},
        {1.34, 400, 0, 0, 0, 0, 2, 0, 400, c / 2.68 * 5e-8},
        // Water, C1 = 1: temperatures 10 and 20 take 15 samples off.
        {1.34, 400, 0, 10, 20, 0, 1, 1, 385, c / 2.68 * (385 / 4.0 * 2.5e-10)},
        // Air: the temperatures do not matter.
        {1.0, 400, 0, 10, 20, 0, 1, 1, 400, c / 2.0 * 2.5e-8},
        {1.1, 400, 0, -5, 60, 0, 1, 1, 400, c / 2.2 * 2.5e-8},
    };
    for (const Case& t : cases) {
        Setting s;
        s.index = t.index;
        CalibrationCfg cal;
        cal.setTimeOffsetNs(t.offsetNs);
        cal.setTimeScale(t.scale);
        cal.setTempCoefC1(t.c1);
        auto p = make(s, cal);
        double position = t.position;
        float range = 0;
        p->rangeFromPosition(position, range, t.horPos, t.tempA, t.tempB);
        EXPECT_DOUBLE_EQ(position, t.expectedPosition);
        EXPECT_NEAR(p->lastRange(), t.expectedRange, 1e-12);
        EXPECT_EQ(range, static_cast<float>(p->lastRange()));
        EXPECT_EQ(p->lastTime(), p->lastTimeCopy());
        EXPECT_NEAR(p->horPosRange(), c / (2 * t.index) * t.horPos, 1e-12);
    }
    // The worked numbers.
    auto p = make(Setting{});
    double position = 400;
    float range = 0;
    p->rangeFromPosition(position, range, 1e-7, 0, 0);
    EXPECT_NEAR(p->horPosRange(), 11.186, 5e-4);
    position = 400;
    p->rangeFromPosition(position, range, 0, 0, 0);
    EXPECT_NEAR(range, 2.7966, 5e-5);
    EXPECT_DOUBLE_EQ(p->lastTime(), 2.5e-8);
}

TEST_F(ProcessorWaveform, WaveformCallsAddCorrectionsEvenWithoutReturn) {
    CalibrationCfg cal = test::plainCalibration();
    cal.setTempCoefC0(2.0);
    auto p = make(Setting{}, cal);
    const auto w = test::synthWaveform(600, 100, 0, {{300, 400, 2.5}}, nullptr);
    float range = 0, position = 0;
    std::uint16_t amplitude = 0;
    bool saturated = false, found = false;
    ASSERT_TRUE(p->processWaveformPos(w.data(), range, position, 1e-8, 15, 15, amplitude, saturated,
                                      found));
    const double expected = p->quadPeak() + 48 + 1e-8 * 4 / 2.5e-10 - 2.0;
    EXPECT_EQ(position, static_cast<float>(expected));
    float range2 = 0;
    ASSERT_TRUE(p->processWaveform(w.data(), range2, 1e-8, 15, 15, amplitude, saturated, found));
    EXPECT_EQ(range, range2);
    EXPECT_EQ(amplitude, 500);

    const std::vector<std::int16_t> flat(600, 100);
    EXPECT_FALSE(p->processWaveformPos(flat.data(), range, position, 1e-8, 15, 15, amplitude,
                                       saturated, found));
    EXPECT_FALSE(found);
    EXPECT_EQ(position, static_cast<float>(0.0 + 160.0 - 2.0));
}

} // namespace
} // namespace quarv
