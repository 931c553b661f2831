// The matched filter's numerical parts against the literal reference: interpolation bit for bit,
// the correlation within one float rounding of the exact sum (identical at every instruction-set
// level), and the peak search's choice on random curves, also when the lower entries of the
// correlation are made on demand.
#include "core/waveform/correlation.hpp"
#include "core/waveform/peak_search.hpp"

#include "core/waveform/waveform_fixture.hpp"
#include "support/plain_matched_filter.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace quarv {
namespace {

using xcorr::SimdLevel;

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
        for (SimdLevel level : test::supportedLevels()) {
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

// Random smooth curves with plateaus, ramps, ties and noise (m[n] = 0, the empty sum past the
// record).
std::vector<float> randomCurve(std::mt19937_64& rng, int n) {
    std::uniform_real_distribution<double> u(0.0, 1.0);
    std::normal_distribution<double> g(0.0, 1.0);
    struct Bump {
        double centre, height, sigma;
    };
    std::vector<Bump> bumps(static_cast<std::size_t>(u(rng) * 6));
    for (Bump& b : bumps) b = {u(rng) * n, -200 + u(rng) * 1200, 2 + u(rng) * 40};
    const double base = -100 + u(rng) * 400, noise = u(rng) < 0.3 ? 0.0 : u(rng) * 20;
    const bool quantise = u(rng) < 0.4;
    const double ramp = u(rng) < 0.2 ? u(rng) * 2 : 0.0;
    std::vector<float> m(n + 1, 0.0f);
    for (int i = 0; i < n; ++i) {
        double v = base + noise * g(rng) + ramp * i;
        for (const Bump& b : bumps)
            v += b.height * std::exp(-0.5 * std::pow((i - b.centre) / b.sigma, 2));
        m[i] = static_cast<float>(quantise ? std::round(v / 8) * 8 : v);
    }
    return m;
}

// The peak search on random curves, also when the entries below the window are made on demand
// (NaN until the search asks for them).
TEST(PeakSearch, AgreesWithTheLiteralSearchAtEveryLevelAlsoWhenLazy) {
    struct Lazy {
        const std::vector<float>& truth;
        std::vector<float> m;
        int extensions = 0;
        static int extend(void* self, int index) {
            auto* l = static_cast<Lazy*>(self);
            const int lo = std::max(0, index - 5);
            std::copy(l->truth.begin() + lo, l->truth.end(), l->m.begin() + lo);
            return ++l->extensions, lo;
        }
    };
    for (SimdLevel level : test::supportedLevels()) {
        test::SimdLimit limit(level);
        std::mt19937_64 rng(2024);
        int found = 0, extended = 0;
        for (int trial = 0; trial < 600; ++trial) {
            const int n = trial % 3 == 0 ? 600 : 2400;
            const auto m = randomCurve(rng, n);
            std::uniform_int_distribution<int> pos(0, n);
            int a = trial % 5 == 0 ? 20 : pos(rng), b = trial % 4 == 0 ? n : pos(rng);
            if (a > b) std::swap(a, b);
            std::vector<std::uint8_t> valid(n + 1);
            std::vector<float> eligible(n + 1);
            int expected = -1, index = -1, lazyIndex = -1;
            const bool hit = test::plainFindReturnPeak(m.data(), n, a, b, valid.data(), expected);
            Lazy lazy{m, m};
            std::fill(lazy.m.begin(), lazy.m.begin() + a, std::numeric_limits<float>::quiet_NaN());
            peak::Correlation c{m.data(), n}, lc{lazy.m.data(), n, a, &Lazy::extend, &lazy};
            ASSERT_EQ(peak::findReturnPeak(c, a, b, valid.data(), eligible.data(), index), hit);
            ASSERT_EQ(peak::findReturnPeak(lc, a, b, valid.data(), eligible.data(), lazyIndex),
                      hit);
            ASSERT_TRUE(!hit || (index == expected && lazyIndex == expected))
                << xcorr::simdLevelName(level) << " " << trial;
            found += hit;
            extended += lazy.extensions > 0;
        }
        EXPECT_TRUE(found > 60 && extended > 10); // the corpus exercises both outcomes
    }
}

} // namespace
} // namespace quarv
