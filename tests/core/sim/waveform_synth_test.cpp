#include "core/sim/waveform_synth.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace quarv::sim {
namespace {

WaveformOptions quiet() {
    WaveformOptions o;
    o.noiseSigma = 0;
    o.backscatter = 0;
    o.windowEcho = 0;
    return o;
}

std::vector<std::int16_t> make(const WaveformOptions& o, std::vector<Echo> echoes,
                               Backscatter water = {}, std::uint64_t seed = 1,
                               std::size_t n = 400) {
    std::vector<std::int16_t> w(n);
    Random r(seed);
    synthesizeWaveform(o, echoes, water, r, w);
    return w;
}

TEST(SimWaveform, PulseSitsWhereAskedForAtSubSamplePrecision) {
    const WaveformOptions o = quiet();
    for (double pos : {100.0, 100.25, 100.5, 213.8, 350.01}) {
        SCOPED_TRACE(pos);
        const auto w = make(o, {{pos, 500.0}});
        // Centroid of the pulse above baseline: a symmetric pulse has it at its peak; rounding
        // to counts moves it by far less than a hundredth of a sample.
        double sum = 0, moment = 0;
        for (std::size_t i = 0; i < w.size(); ++i) {
            const double v = w[i] - o.baseline;
            sum += v;
            moment += v * static_cast<double>(i);
        }
        EXPECT_NEAR(moment / sum, pos, 0.01);
        // Height and width: 500 counts at the peak, sigma 2.5 raw samples.
        const auto top = std::max_element(w.begin(), w.end());
        EXPECT_NEAR(*top - o.baseline, 500.0, 500.0 * (1 - std::exp(-0.125 / 6.25)) + 0.5);
        EXPECT_NEAR(sum, 500.0 * 2.5 * std::sqrt(2.0 * std::acos(-1.0)), 5.0);
        // Whole counts: the clean signal rounded.
        for (std::size_t i = 0; i < w.size(); ++i) {
            const std::vector<Echo> e{{pos, 500.0}};
            ASSERT_EQ(w[i], std::lround(cleanSignal(o, e, {}, static_cast<double>(i))));
        }
    }
}

TEST(SimWaveform, StrongReturnsClipAtFullScale) {
    WaveformOptions o = quiet();
    o.clipLevel = 820;
    const auto w = make(o, {{200.0, 3000.0}, {300.0, 400.0}});
    EXPECT_EQ(*std::max_element(w.begin(), w.end()), 820);
    EXPECT_GE(w[200], 780); // saturated for the processing
    // The flat top is symmetric about the echo.
    int first = -1, last = -1;
    for (int i = 0; i < 400; ++i)
        if (w[static_cast<std::size_t>(i)] == 820) last = i, first = first < 0 ? i : first;
    EXPECT_EQ(first + last, 400);
    EXPECT_GT(last - first, 4);
    // The weaker echo is untouched by the clipping.
    EXPECT_EQ(w[300], std::lround(8.0 + 400.0));
}

TEST(SimWaveform, NoiseHasItsSigmaAndFollowsTheSeed) {
    WaveformOptions o = quiet();
    o.noiseSigma = 3.0;
    o.baseline = 100;
    const auto a = make(o, {}, {}, 7, 20000);
    const auto b = make(o, {}, {}, 7, 20000);
    const auto c = make(o, {}, {}, 8, 20000);
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);
    double sum = 0, sum2 = 0;
    for (auto v : a) sum += v, sum2 += double(v) * v;
    const double mean = sum / a.size();
    const double var = sum2 / a.size() - mean * mean;
    EXPECT_NEAR(mean, 100.0, 0.1);
    // Rounding to counts adds 1/12 to the variance.
    EXPECT_NEAR(var, 9.0 + 1.0 / 12.0, 0.3);
}

TEST(SimWaveform, BackscatterRisesAtTheWindowAndDecays) {
    const WaveformOptions o = quiet();
    const Backscatter water{50.0, 20.0, 60.0};
    const std::vector<Echo> none;
    EXPECT_NEAR(cleanSignal(o, none, water, 30.0), o.baseline, 1e-6); // before the window
    // Well after the start the blur has gone and the decay is a plain exponential.
    const double at = cleanSignal(o, none, water, 70.0) - o.baseline;
    const double later = cleanSignal(o, none, water, 90.0) - o.baseline;
    EXPECT_NEAR(later / at, std::exp(-1.0), 1e-6);
    EXPECT_NEAR(at, 60.0 * std::exp(-1.0 + 6.25 / 800.0), 1e-6);
    // Half-way up at the window itself (the rising edge is the pulse's).
    EXPECT_NEAR(cleanSignal(o, none, water, 50.0) - o.baseline, 30.0, 3.0);
}

} // namespace
} // namespace quarv::sim
