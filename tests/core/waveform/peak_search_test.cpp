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

struct Bump {
    double centre, height, sigma;
};

// A correlation-like curve with one extra entry: m[n] = 0, the empty sum past the record.
std::vector<float> curve(int n, double baseline, const std::vector<Bump>& bumps) {
    std::vector<float> m(n + 1, 0.0f);
    for (int i = 0; i < n; ++i) {
        double v = baseline;
        for (const Bump& b : bumps)
            v += b.height * std::exp(-0.5 * std::pow((i - b.centre) / b.sigma, 2));
        m[i] = static_cast<float>(v);
    }
    return m;
}

struct Search {
    std::vector<std::uint8_t> valid;
    std::vector<float> eligible;
    bool found = false;
    int index = -1;
    Search(const std::vector<float>& m, int searchStart, int searchEnd)
        : valid(m.size()), eligible(m.size()) {
        peak::Correlation c{m.data(), static_cast<int>(m.size()) - 1};
        found =
            peak::findReturnPeak(c, searchStart, searchEnd, valid.data(), eligible.data(), index);
    }
};

int widthOf(const std::vector<float>& m, int k) {
    std::vector<std::uint8_t> valid(m.size(), 1);
    peak::Correlation c{m.data(), static_cast<int>(m.size()) - 1};
    const peak::Width w = peak::measureWidth(c, k, c.n, valid.data());
    EXPECT_TRUE(w.ok);
    // The pulse between its feet is withdrawn.
    for (int i = w.left; i < w.right; ++i) EXPECT_EQ(valid[i], 0);
    EXPECT_EQ(valid[w.right], 1);
    return w.width;
}

TEST(PeakSearch, TooNarrowHigherPulseLosesToPlausibleLowerOne) {
    // Measured widths 15 and 40 (the crossings are the first samples below half height).
    const auto m = curve(2400, 100, {{600.25, 1000, 6.1}, {1400, 800, 16.2}});
    EXPECT_EQ(widthOf(m, 600), 15);
    EXPECT_EQ(widthOf(m, 1400), 40);
    const Search s(m, 20, 2400);
    ASSERT_TRUE(s.found);
    EXPECT_EQ(s.index, 1400);
    // Too wide (sigma 45: about 106) is refused as well.
    const Search wide(curve(2400, 100, {{1200, 800, 45.0}}), 20, 2400);
    EXPECT_FALSE(wide.found);
}

TEST(PeakSearch, EqualHeightsGoToTheLowerIndex) {
    const auto m = curve(2400, 100, {{700, 500, 10}, {1500, 500, 10}});
    ASSERT_EQ(m[700], m[1500]);
    const Search s(m, 20, 2400);
    ASSERT_TRUE(s.found);
    EXPECT_EQ(s.index, 700);
    const Search later(m, 800, 2400);
    ASSERT_TRUE(later.found);
    EXPECT_EQ(later.index, 1500);
}

TEST(PeakSearch, HigherCandidateWithoutFootEndsTheSearch) {
    // A ramp rising from the record start to 300 stands above its +-27 neighbours but has no
    // left foot; the good pulse at 1400 is lower and never examined.
    auto m = curve(2400, 0, {{1400, 200, 17.0}});
    for (int i = 0; i <= 300; ++i) m[i] = static_cast<float>(i);
    EXPECT_FALSE(Search(m, 20, 2400).found);
    // Outside the window the ramp is not a candidate.
    const Search s(m, 400, 2400);
    ASSERT_TRUE(s.found);
    EXPECT_EQ(s.index, 1400);
}

TEST(PeakSearch, WindowNeedsFiftyFiveSamples) {
    // A triangle 40 samples wide at its base: both feet inside a window of 55.
    auto m = curve(2400, 100, {});
    for (int i = 1007; i <= 1047; ++i)
        m[i] = 100.0f + 25.0f * static_cast<float>(20 - std::abs(i - 1027));
    EXPECT_FALSE(Search(m, 1000, 1054).found);
    const Search s(m, 1000, 1055);
    ASSERT_TRUE(s.found);
    EXPECT_EQ(s.index, 1027);
}

TEST(PeakSearch, QuadraticVertexLeansTowardsTheHigherNeighbour) {
    const struct {
        float a, b, c;
        double offset;
    } cases[] = {{10, 20, 10, 0.0}, {10, 20, 15, 1.0 / 6.0}, {15, 20, 10, -1.0 / 6.0}};
    for (const auto& t : cases) {
        for (int k : {1, 500, 2398}) {
            std::vector<float> xc(2400, 0.0f);
            xc[k - 1] = t.a;
            xc[k] = t.b;
            xc[k + 1] = t.c;
            EXPECT_NEAR(peak::quadraticVertex(xc.data(), k), k + t.offset, 1e-9) << k;
        }
    }
}

TEST(PeakSearch, RawPeakMovesOnOnlyForAStrictlyHigherNextSample) {
    std::vector<float> raw(600, 100.0f);
    const struct {
        int k;
        float at, next;
        std::uint32_t expected;
    } cases[] = {
        {252, 500, 501, 76},                        // (252 + 48) / 4 = 75, next strictly higher
        {252, 500, 500, 75},                        // equal: stays
        {252, 500, 499, 75},   {255, 500, 501, 76}, // 303 / 4 = 75 as well
        {256, 500, 501, 77},                        // 304 / 4 = 76, next is 100
        {2344, 500, 501, 599},                      // 2392 / 4 = 598, next (599) higher
        {2348, 500, 501, 599}, // 599: the last sample, nothing after it is read
        {2372, 500, 501, 599}, // past the last sample: held there
    };
    for (const auto& c : cases) {
        std::fill(raw.begin(), raw.end(), 100.0f);
        const int r = (c.k + 48) / 4;
        if (r < 600) raw[r] = c.at;
        if (r + 1 < 600) raw[r + 1] = c.next;
        EXPECT_EQ(peak::rawPeakIndex(raw.data(), 600, c.k, 4), c.expected) << c.k;
    }
}

// Random smooth curves with plateaus, ramps, ties and noise, searched by the fast search and
// by the literal 25-iteration one.
std::vector<float> randomCurve(std::mt19937_64& rng, int n) {
    std::uniform_real_distribution<double> u(0.0, 1.0);
    std::vector<Bump> bumps;
    const int count = static_cast<int>(u(rng) * 6);
    for (int b = 0; b < count; ++b)
        bumps.push_back({u(rng) * n, -200 + u(rng) * 1200, 2 + u(rng) * 40});
    auto m = curve(n, -100 + u(rng) * 400, bumps);
    std::normal_distribution<double> g(0.0, 1.0);
    const double noise = u(rng) < 0.3 ? 0.0 : u(rng) * 20;
    const bool quantise = u(rng) < 0.4;
    const double ramp = u(rng) < 0.2 ? u(rng) * 2 : 0.0;
    for (int i = 0; i < n; ++i) {
        double v = m[i] + noise * g(rng) + ramp * i;
        if (quantise) v = std::round(v / 8) * 8;
        m[i] = static_cast<float>(v);
    }
    return m;
}

TEST(PeakSearch, AgreesWithTheLiteralSearchOnRandomCurvesAtEveryLevel) {
    for (xcorr::SimdLevel level : test::supportedLevels()) {
        test::SimdLimit limit(level);
        std::mt19937_64 rng(2024);
        int found = 0;
        for (int trial = 0; trial < 600; ++trial) {
            const int n = trial % 3 == 0 ? 600 : 2400;
            const auto m = randomCurve(rng, n);
            std::uniform_int_distribution<int> pos(0, n);
            int a = pos(rng), b = pos(rng);
            if (a > b) std::swap(a, b);
            if (trial % 4 == 0) b = n;
            if (trial % 5 == 0) a = 20;
            std::vector<std::uint8_t> valid(n + 1);
            int expectedIndex = -1;
            const bool expected =
                test::plainFindReturnPeak(m.data(), n, a, b, valid.data(), expectedIndex);
            const Search s(m, a, b);
            ASSERT_EQ(s.found, expected) << xcorr::simdLevelName(level) << " trial " << trial;
            if (expected) {
                ASSERT_EQ(s.index, expectedIndex) << xcorr::simdLevelName(level) << " " << trial;
                ++found;
            }
        }
        EXPECT_GT(found, 60); // the corpus exercises both outcomes
    }
}

// The lazy protocol: entries below lo are not there until the search asks for them.
struct LazyCurve {
    const std::vector<float>& truth;
    std::vector<float> m;
    int extensions = 0;
    static int extend(void* self, int index) {
        auto* l = static_cast<LazyCurve*>(self);
        ++l->extensions;
        const int lo = std::max(0, index - 5);
        for (int i = lo; i < static_cast<int>(l->m.size()); ++i) l->m[i] = l->truth[i];
        return lo;
    }
};

TEST(PeakSearch, LazyLowerEntriesGiveTheSameResult) {
    std::mt19937_64 rng(99);
    int extended = 0;
    for (int trial = 0; trial < 1000; ++trial) {
        const int n = 2400;
        const auto truth = randomCurve(rng, n);
        std::uniform_int_distribution<int> pos(20, n);
        int a = pos(rng), b = pos(rng);
        if (a > b) std::swap(a, b);
        LazyCurve lazy{truth, truth};
        for (int i = 0; i < a; ++i) lazy.m[i] = std::numeric_limits<float>::quiet_NaN();
        peak::Correlation c{lazy.m.data(), n, a, &LazyCurve::extend, &lazy};
        std::vector<std::uint8_t> valid(n + 1);
        std::vector<float> eligible(n + 1);
        int index = -1;
        const bool got = peak::findReturnPeak(c, a, b, valid.data(), eligible.data(), index);
        const Search whole(truth, a, b);
        ASSERT_EQ(got, whole.found) << trial;
        if (got) {
            ASSERT_EQ(index, whole.index) << trial;
        }
        extended += lazy.extensions > 0;
    }
    EXPECT_GT(extended, 10);
}

} // namespace
} // namespace quarv
