#include "core/waveform/correlation.hpp"

#include "core/waveform/waveform_fixture.hpp"
#include "support/plain_matched_filter.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace quarv {
namespace {

using xcorr::SimdLevel;

std::vector<float> gaussianTemplate() {
    std::vector<float> t(TEMPLATE_LENGTH);
    for (int j = 0; j < TEMPLATE_LENGTH; ++j)
        t[j] = static_cast<float>(std::exp(-0.5 * (j - 48) * (j - 48) / 100.0));
    return t;
}

// A waveform and everything the correlation routines read, laid out with the padding the
// processor's buffers have.
struct Signal {
    int samples, interp, n;
    std::vector<float> raw, x;
    std::vector<double> wide;
    Signal(int s, int i, std::mt19937_64& rng, int lo = -300, int hi = 900)
        : samples(s), interp(i), n(s * i), raw(s + 16), x(n + 512), wide(s + 512) {
        std::uniform_int_distribution<int> value(lo, hi);
        for (int k = 0; k < samples; ++k) raw[k] = wide[k] = value(rng);
        wide[samples] = wide[samples - 1];
        xcorr::interpolate(raw.data(), samples, interp, interp, 0, n, x.data());
    }
};

// Correlation of the whole record: interior by the chosen routine, tail by the cut sum.
std::vector<float> correlateAll(const Signal& s, const std::vector<float>& t, SimdLevel level) {
    std::vector<float> xc(s.n + 256, -1.0f);
    const int interior = std::max(0, s.n - TEMPLATE_LENGTH + 1);
    xcorr::PhaseWeights w;
    xcorr::TailWeights tail;
    if (xcorr::buildPhaseWeights(t.data(), s.interp, w)) {
        EXPECT_TRUE(xcorr::buildTailWeights(t.data(), s.interp, s.n, tail));
        EXPECT_EQ(tail.start, interior);
        xcorr::correlatePhases(s.wide.data(), w, 0, interior, xc.data(), level);
        xcorr::correlateTail(s.wide.data(), tail, interior, s.n, xc.data(), level);
    } else {
        xcorr::correlateDirect(s.x.data(), t.data(), 0, s.n, xc.data(), level);
    }
    return xc;
}

TEST(Correlation, InterpolationMatchesTheLiteralLoops) {
    std::mt19937_64 rng(7);
    const std::vector<float> t = gaussianTemplate();
    for (int interp : {1, 2, 3, 4, 5, 8}) {
        Signal s(600, interp, rng);
        test::PlainMatchedFilter plain(600, interp, t.data());
        std::vector<std::int16_t> w(s.raw.begin(), s.raw.begin() + 600);
        plain.run<float>(w.data(), 20, 20);
        for (int j = 0; j < s.n; ++j)
            ASSERT_EQ(s.x[j], plain.interpolated()[j]) << interp << " " << j;
        // Any part of the waveform can be interpolated on its own.
        std::vector<float> part(s.n, 0.0f);
        const int j0 = s.n - 101 - interp, j1 = s.n;
        xcorr::interpolate(s.raw.data(), 600, interp, interp, j0, j1, part.data());
        for (int j = j0; j < j1; ++j) ASSERT_EQ(part[j], s.x[j]);
    }
    Signal s(600, 4, rng);
    for (int i = 0; i < 600; ++i) ASSERT_EQ(s.x[4 * i], s.raw[i]);
    for (int j = 2396; j < 2400; ++j) EXPECT_EQ(s.x[j], s.raw[599]);
}

TEST(Correlation, PhaseWeightsCarryTheWholeTemplate) {
    const std::vector<float> t = gaussianTemplate();
    double total = 0;
    for (float v : t) total += v;
    const std::pair<int, int> tapsOf[] = {{1, 100}, {2, 51}, {4, 27}, {8, 15}};
    for (auto [interp, taps] : tapsOf) {
        xcorr::PhaseWeights w;
        ASSERT_TRUE(xcorr::buildPhaseWeights(t.data(), interp, w));
        EXPECT_EQ(w.taps, taps);
        for (int r = 0; r < interp; ++r) {
            double sum = 0;
            for (int u = 0; u < taps; ++u) sum += w.w[r * taps + u];
            EXPECT_NEAR(sum, total, 1e-12) << interp << " phase " << r;
        }
    }
    xcorr::PhaseWeights w;
    EXPECT_FALSE(xcorr::buildPhaseWeights(t.data(), 3, w));
    EXPECT_EQ(w.interp, 0);
}

TEST(Correlation, EqualsExactSumWithinFloatRoundingAtEveryLevel) {
    std::mt19937_64 rng(11);
    std::vector<float> t = gaussianTemplate();
    // A template with both signs and uneven values as well as the shipped shape.
    std::vector<float> rough(TEMPLATE_LENGTH);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    for (float& v : rough) v = u(rng);
    for (const auto* tmpl : {&t, &rough}) {
        for (int interp : {1, 2, 3, 4, 8}) {
            Signal s(interp == 1 ? 300 : 600, interp, rng);
            std::vector<float> first;
            for (SimdLevel level : test::supportedLevels()) {
                const std::vector<float> xc = correlateAll(s, *tmpl, level);
                for (int k = 0; k < s.n; ++k) {
                    long double exact = 0, magnitude = 0;
                    for (int j = 0; j < TEMPLATE_LENGTH && j + k < s.n; ++j) {
                        exact += static_cast<long double>((*tmpl)[j]) * s.x[j + k];
                        magnitude += std::fabs(static_cast<long double>((*tmpl)[j]) * s.x[j + k]);
                    }
                    const double ulp = std::fabs(std::nextafter(static_cast<float>(exact), 0.0f) -
                                                 static_cast<float>(exact));
                    ASSERT_LE(std::fabs(static_cast<double>(xc[k] - exact)),
                              ulp + 1e-12 * static_cast<double>(magnitude))
                        << "interp " << interp << " k " << k;
                }
                if (first.empty())
                    first = xc;
                else
                    ASSERT_EQ(xc, first) << xcorr::simdLevelName(level);
            }
        }
    }
}

TEST(Correlation, FlatWaveformGivesExactlyFlatInterior) {
    const std::vector<float> t = gaussianTemplate();
    for (int value : {0, 1, 100, -57, 780, 32767}) {
        for (int interp : {1, 2, 4, 8}) {
            std::mt19937_64 rng(1);
            Signal s(600, interp, rng, value, value);
            const std::vector<float> xc = correlateAll(s, t, xcorr::bestSimdLevel());
            for (int k = 1; k <= s.n - TEMPLATE_LENGTH; ++k)
                ASSERT_EQ(xc[k], xc[0]) << value << " interp " << interp << " k " << k;
        }
    }
}

TEST(Correlation, WritesOnlyTheRequestedOutputs) {
    std::mt19937_64 rng(5);
    const std::vector<float> t = gaussianTemplate();
    Signal s(600, 4, rng);
    const std::vector<float> whole = correlateAll(s, t, xcorr::bestSimdLevel());
    xcorr::PhaseWeights w;
    ASSERT_TRUE(xcorr::buildPhaseWeights(t.data(), 4, w));
    const std::pair<int, int> spans[] = {{0, 1}, {3, 4}, {5, 70}, {61, 130}, {1001, 2301}};
    for (SimdLevel level : test::supportedLevels()) {
        for (auto [k0, k1] : spans) {
            std::vector<float> xc(s.n + 256, -7.0f);
            xcorr::correlatePhases(s.wide.data(), w, k0, k1, xc.data(), level);
            for (int k = 0; k < s.n; ++k)
                ASSERT_EQ(xc[k], k >= k0 && k < k1 ? whole[k] : -7.0f) << k0 << " " << k;
            std::fill(xc.begin(), xc.end(), -7.0f);
            xcorr::correlateDirect(s.x.data(), t.data(), k0, k1, xc.data(), level);
            for (int k = 0; k < s.n; ++k) {
                if (k < k0 || k >= k1) {
                    ASSERT_EQ(xc[k], -7.0f) << k0 << " " << k;
                }
            }
        }
    }
}

} // namespace
} // namespace quarv
