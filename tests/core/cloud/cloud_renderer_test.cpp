#include "core/cloud/cloud_renderer.hpp"

#include "core/cloud/cloud_test_util.hpp"
#include "core/viewer/color_ramp.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <random>
#include <string>
#include <vector>

namespace quarv {
namespace {

using test::addPoint;
using test::PointSpec;

constexpr Rgb kRed{255, 0, 0};

// A store with a renderer and layer 0 current, in use, and a red ramp 0 -> 255 palette.
struct Fixture {
    CloudStore store;
    CloudRenderer renderer{store};
    Fixture() {
        store.setCurrentLayer(0);
        PointLayer& l = store.layer(0);
        l.colorFrom = {0, 0, 0};
        l.colorTo = {255, 0, 0};
        l.rangeMin = 0.0f;
        l.rangeMax = 100.0f;
    }
    PointLayer& layer() { return store.layer(0); }
    Rgb colorOf(std::uint32_t i) const { return store.point(0, i).color; }
};

TEST(CloudRenderer, PaletteEnds) {
    struct Case {
        std::uint8_t from, to;
        int entry0, entry127, entry254, entry255; // entry254 < 0: lands on an integer, unchecked
    };
    // The increment comes before the first store: entry i = from + (i + 1) x step, clamped.
    const Case cases[] = {
        {0, 0, 0, 0, 0, 0},        {0, 255, 1, 128, 255, 255},
        {255, 0, 254, 127, 0, 0},  // 255 - 256 clamps to 0
        {10, 20, 10, 15, -1, 20},  // step 0.039: 10.04, 15.02, 20.04
        {100, 99, 99, 99, -1, 98}, // step -0.0039: 99.996, 99.498, 98.996
    };
    for (const Case& c : cases) {
        Fixture f;
        f.layer().colorFrom = {c.from, 7, 0};
        f.layer().colorTo = {c.to, 7, 255};
        f.renderer.buildPalette(0);
        const std::string what = std::to_string(c.from) + "->" + std::to_string(c.to);
        EXPECT_EQ(f.renderer.paletteR(0), c.entry0) << what;
        EXPECT_EQ(f.renderer.paletteR(127), c.entry127) << what;
        if (c.entry254 >= 0) {
            EXPECT_EQ(f.renderer.paletteR(254), c.entry254) << what;
        }
        EXPECT_EQ(f.renderer.paletteR(255), c.entry255) << what;
        EXPECT_EQ(f.renderer.paletteG(0), 7); // channels are independent
        EXPECT_EQ(f.renderer.paletteG(255), 7);
        EXPECT_EQ(f.renderer.paletteB(0), 1);
    }
}

TEST(CloudRenderer, LayerFilterWindowIsInclusiveHidesNaNAndSaturatedAndSkipsUnusedLayers) {
    struct Case {
        float range, snr;
        bool saturated;
        std::uint8_t showSaturated;
        bool visible;
    };
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const Case cases[] = {
        {2.0f, 5.0f, false, 0, true}, // range at rangeMin, SNR at snrMin
        {4.0f, 9.0f, false, 0, true}, // range at rangeMax
        {1.99f, 9.0f, false, 0, false},
        {4.01f, 9.0f, false, 0, false},
        {3.0f, 4.99f, false, 0, false},
        {nan, 9.0f, false, 0, false},
        {3.0f, nan, false, 0, false},
        {3.0f, 9.0f, true, 0, false}, // saturated inside the window, hidden
        {3.0f, 9.0f, true, 1, true},
        {5.0f, 9.0f, true, 1, false},
    };
    for (const Case& c : cases) {
        Fixture f;
        f.layer().rangeMin = 2.0f;
        f.layer().rangeMax = 4.0f;
        f.layer().snrMin = 5.0f;
        f.layer().showSaturated = c.showSaturated;
        addPoint(f.store, 0,
                 {.range = c.range, .snr = c.snr, .saturated = c.saturated, .valid = !c.visible});
        f.renderer.filterLayer(0);
        EXPECT_EQ(f.store.point(0, 0).valid, c.visible ? 1 : 0)
            << "range " << c.range << " snr " << c.snr << " saturated " << c.saturated;
    }
    Fixture f;
    addPoint(f.store, 3, {.range = 1000.0f}); // outside any window, but layer 3 is not in use
    f.renderer.filterLayer(3);
    EXPECT_EQ(f.store.point(3, 0).valid, 1);
}

// Rank colouring of n valid points with distinct keys: rank r gets palette[r / (w + 1)].
void expectRankRuns(std::uint32_t n, std::uint32_t expectedW, int expectedEntriesUsed) {
    Fixture f;
    f.layer().colorMode = kColorByAmplitudeRank;
    std::vector<std::uint32_t> order(n);
    std::iota(order.begin(), order.end(), 0u);
    std::shuffle(order.begin(), order.end(), std::mt19937(n));
    for (std::uint32_t i = 0; i < n; ++i)
        addPoint(f.store, 0, {.amplitude = static_cast<float>(order[i]) * 0.5f});
    f.renderer.colorize(0);
    int highest = -1;
    for (std::uint32_t i = 0; i < n; ++i) {
        const std::uint32_t rank = order[i];
        const int entry = static_cast<int>(rank / (expectedW + 1));
        ASSERT_EQ(f.colorOf(i), f.renderer.palette(entry)) << "rank " << rank << " of " << n;
        highest = std::max(highest, entry);
    }
    EXPECT_EQ(highest + 1, expectedEntriesUsed);
}

TEST(CloudRenderer, RankRunsFollowThePointCount) {
    expectRankRuns(10, 0, 10);       // step 0.539, w = 0: one palette entry per rank
    expectRankRuns(1000, 4, 200);    // step 4.406, w = 4: runs of five ranks
    expectRankRuns(65536, 256, 256); // step 256.5: runs of 257
}

TEST(CloudRenderer, RankColouringSkipsSaturatedAndHiddenPoints) {
    Fixture f;
    f.layer().colorMode = kColorBySnrRank;
    // Keys by SNR; amplitude is deliberately in the opposite order.
    addPoint(f.store, 0, {.amplitude = 1, .snr = 30});
    addPoint(f.store, 0, {.amplitude = 2, .snr = 10, .saturated = true});
    addPoint(f.store, 0, {.amplitude = 3, .snr = 20});
    CloudPoint& hidden = addPoint(f.store, 0, {.amplitude = 4, .snr = 0, .valid = false});
    hidden.color = {1, 2, 3};
    f.renderer.colorize(0);
    EXPECT_EQ(f.colorOf(0), f.renderer.palette(1));
    EXPECT_EQ(f.colorOf(1), kRed); // saturated: red, not ranked
    EXPECT_EQ(f.colorOf(2), f.renderer.palette(0));
    EXPECT_EQ(f.colorOf(3), (Rgb{1, 2, 3})); // hidden and unsaturated: untouched

    Fixture empty;
    empty.layer().colorMode = kColorByAmplitudeRank;
    CloudPoint& lone = addPoint(empty.store, 0, {.valid = false});
    lone.color = {9, 9, 9};
    empty.renderer.colorize(0); // no point to rank colours nothing
    EXPECT_EQ(empty.colorOf(0), (Rgb{9, 9, 9}));
}

TEST(CloudRenderer, RankColouringOrdersAnyFloatKeysLikeAComparisonSort) {
    Fixture f;
    f.layer().colorMode = kColorByAmplitudeRank;
    f.layer().colorFrom = {0, 0, 0};
    f.layer().colorTo = {255, 255, 255};
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> wide(-1e6f, 1e6f);
    std::uniform_real_distribution<float> narrow(-2.0f, 2.0f);
    const std::uint32_t n = 200000;
    std::vector<float> keys(n);
    for (std::uint32_t i = 0; i < n; ++i) {
        // Mix magnitudes and signs, tiny values and both zeros.
        float k = (i % 3 == 0) ? wide(rng) : narrow(rng);
        if (i % 1000 == 0) k = 0.0f;
        if (i % 1000 == 500) k = -0.0f;
        if (i % 777 == 0) k = 1e-30f * narrow(rng);
        keys[i] = k;
        addPoint(f.store, 0, {.amplitude = k});
    }
    f.renderer.colorize(0);
    std::vector<std::pair<float, std::uint32_t>> sorted(n);
    for (std::uint32_t i = 0; i < n; ++i) sorted[i] = {keys[i], i};
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    const auto w = static_cast<std::uint32_t>(static_cast<float>(n / 256.0 + 0.5));
    for (std::uint32_t r = 0; r < n; ++r) {
        const std::uint32_t i = sorted[r].second;
        const int expected = static_cast<int>(std::min<std::uint32_t>(r / (w + 1), 255));
        // Equal keys may share a run boundary in either order; only distinct keys are checked.
        const bool tieAtBoundary = (r > 0 && sorted[r - 1].first == sorted[r].first) ||
                                   (r + 1 < n && sorted[r + 1].first == sorted[r].first);
        if (tieAtBoundary) continue;
        ASSERT_EQ(f.colorOf(i), f.renderer.palette(expected)) << "rank " << r;
    }
}

TEST(CloudRenderer, RangeColouringTakesTheIndexModulo256) {
    struct Case {
        float range;
        int entry;
    };
    // Window 10 .. 20: i = trunc((range - 10) / 10 x 255), low 8 bits.
    const Case cases[] = {{10.0f, 0}, {15.0f, 127}, {20.0f, 255}, {30.0f, 254}, {5.0f, 129}};
    Fixture f;
    f.layer().colorMode = kColorByRange;
    f.layer().rangeMin = 10.0f;
    f.layer().rangeMax = 20.0f;
    for (const Case& c : cases) addPoint(f.store, 0, {.range = c.range});
    addPoint(f.store, 0, {.range = 15.0f, .saturated = true});
    f.renderer.colorize(0);
    for (std::uint32_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(f.colorOf(i), f.renderer.palette(cases[i].entry)) << "range " << cases[i].range;
    EXPECT_EQ(f.colorOf(std::size(cases)), kRed);

    // An empty window gives 0 / 0 for its only visible range; the index wraps to entry 0.
    Fixture flat;
    flat.layer().colorMode = 0;
    flat.layer().rangeMin = flat.layer().rangeMax = 7.0f;
    flat.layer().colorFrom = {50, 50, 50};
    flat.layer().colorTo = {0, 0, 0};
    addPoint(flat.store, 0, {.range = 7.0f});
    flat.renderer.colorize(0);
    EXPECT_EQ(flat.colorOf(0), flat.renderer.palette(0));
    EXPECT_EQ(flat.colorOf(0).r, 49); // 50 + (-50 / 255) truncated
}

TEST(CloudRenderer, HeightColouringSpansValidPointsWithAMaximumNeverBelowZero) {
    const ColorRamp grey;
    struct Case {
        std::vector<float> ys;
        std::vector<int> entries;
    };
    const Case cases[] = {
        {{-10.0f, -5.0f, -1.0f}, {0, 127, 229}}, // ymax stays 0: (-1 + 10) / 10 x 255 = 229.5
        {{2.0f, 3.0f, 4.0f}, {0, 127, 255}},
        {{3.0f}, {0}}, // flat: 0 / 0 takes the first entry
    };
    for (const Case& c : cases) {
        Fixture f;
        for (float y : c.ys) addPoint(f.store, 0, {.y = y, .saturated = y == 3.0f});
        CloudPoint& hidden = addPoint(f.store, 0, {.y = -1000.0f, .valid = false});
        hidden.color = {1, 1, 1};
        f.renderer.colorByHeight(0, grey);
        for (std::size_t i = 0; i < c.ys.size(); ++i) {
            const auto v = static_cast<std::uint8_t>(c.entries[i]);
            EXPECT_EQ(f.colorOf(static_cast<std::uint32_t>(i)), (Rgb{v, v, v})) << "y " << c.ys[i];
        }
        EXPECT_EQ(f.colorOf(static_cast<std::uint32_t>(c.ys.size())), (Rgb{1, 1, 1}));
    }
}

// Layers in index order, only those made current during the run, only valid points: the store's
// enumeration, the pick indices and the select list all follow it.
TEST(CloudRenderer, EnumerationPickIndexSelectListAndTotalsSkipLayersNotInUse) {
    CloudStore store;
    CloudRenderer renderer(store);
    store.setCurrentLayer(2);
    addPoint(store, 2, {.x = 20});
    addPoint(store, 2, {.x = 21, .valid = false});
    addPoint(store, 2, {.x = 22});
    addPoint(store, 1, {.x = 10}); // layer 1 not in use
    store.setCurrentLayer(0);
    addPoint(store, 0, {.x = 0, .amplitude = 5});
    addPoint(store, 0, {.x = 1, .valid = false});

    std::vector<std::pair<std::uint32_t, float>> seen;
    store.forEachVisible([&](std::uint32_t l, const CloudPoint& p) { seen.emplace_back(l, p.x); });
    EXPECT_EQ(seen, (std::vector<std::pair<std::uint32_t, float>>{{0, 0}, {2, 20}, {2, 22}}));
    const float expected[] = {0.0f, 20.0f, 22.0f};
    for (std::uint32_t n = 0; n < 3; ++n) {
        const CloudPoint* p = renderer.pointAtPickIndex(n);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(p->x, expected[n]);
    }
    EXPECT_EQ(renderer.pointAtPickIndex(3), nullptr);
    EXPECT_EQ(renderer.fillSelectList(), 3u);
    for (std::uint32_t n = 0; n < 3; ++n) EXPECT_EQ(renderer.selectList()[n]->x, expected[n]);
    EXPECT_EQ(renderer.visibleLayerPointTotal(), 5u); // counts, visible or not
}

TEST(CloudRenderer, BoundsStartAtNineTimesTenToTheTwelfth) {
    CloudStore store;
    CloudRenderer renderer(store);
    const CloudBounds none = renderer.bounds();
    EXPECT_EQ(none.count, 0u);
    EXPECT_EQ(none.minX, 9000000159744.0f);
    EXPECT_EQ(none.maxZ, -9000000159744.0f);
    EXPECT_EQ(none.minAmplitude, 9000000159744.0);

    store.setCurrentLayer(0);
    addPoint(store, 0, {.x = 1, .y = -2, .z = 3, .amplitude = 10});
    addPoint(store, 0, {.x = -4, .y = 5, .z = -6, .amplitude = 2});
    addPoint(store, 0, {.x = 100, .amplitude = 1000, .valid = false});
    const CloudBounds b = renderer.bounds();
    EXPECT_EQ(b.count, 2u);
    EXPECT_EQ(b.minX, -4.0f);
    EXPECT_EQ(b.maxX, 1.0f);
    EXPECT_EQ(b.minY, -2.0f);
    EXPECT_EQ(b.maxY, 5.0f);
    EXPECT_EQ(b.minZ, -6.0f);
    EXPECT_EQ(b.maxZ, 3.0f);
    EXPECT_EQ(b.minAmplitude, 2.0);
    EXPECT_EQ(b.maxAmplitude, 10.0);
}

TEST(CloudRenderer, DirtyFromConstructionUntilCleared) {
    CloudStore store;
    CloudRenderer renderer(store);
    EXPECT_TRUE(renderer.dirty());
    renderer.clearDirty();
    EXPECT_FALSE(renderer.dirty());
    renderer.markDirty();
    EXPECT_TRUE(renderer.dirty());
}

TEST(CloudRenderer, TruncationGivesIndefiniteForNaNAndOverflow) {
    EXPECT_EQ(truncToInt32(2.9), 2);
    EXPECT_EQ(truncToInt32(-2.9), -2);
    EXPECT_EQ(truncToInt32(2147483647.5), 2147483647);
    EXPECT_EQ(truncToInt32(2147483648.0), std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(truncToInt32(std::nan("")), std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(truncToInt32(-std::numeric_limits<double>::infinity()),
              std::numeric_limits<std::int32_t>::min());
}

} // namespace
} // namespace quarv
