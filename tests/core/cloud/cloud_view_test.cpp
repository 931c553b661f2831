// The point store and the renderer's layer operations (palette, filter, colourings, enumeration,
// bounds) with the XYZ export, as one transcript over generated layers; the rank colouring against
// a comparison sort; and the store filled and read at once.
#include "core/app/message_sink.hpp"
#include "core/cloud/cloud_export.hpp"
#include "core/cloud/cloud_renderer.hpp"
#include "core/cloud/cloud_test_util.hpp"
#include "core/cloud/las_file.hpp"
#include "core/viewer/color_ramp.hpp"
#include "support/golden.hpp"
#include "support/test_support.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <random>
#include <sstream>
#include <thread>

namespace quarv {
namespace {

using test::addPoint;

std::string hex(Rgb c) {
    char b[8];
    std::snprintf(b, sizeof b, "%02x%02x%02x", c.r, c.g, c.b);
    return b;
}

std::string coloursOf(const CloudStore& s, std::uint32_t l) {
    std::string out;
    for (std::uint32_t i = 0; i < s.pointCount(l); ++i) out += hex(s.point(l, i).color) + " ";
    return out;
}

TEST(CloudView, LayerOperationsTranscript) {
    CloudStore store;
    CloudRenderer renderer(store);
    std::ostringstream out;
    out.precision(9);
    const Rgb ramps[][2] = {{{0, 0, 0}, {255, 255, 255}}, {{255, 10, 100}, {0, 20, 99}}};
    for (const auto& r : ramps) {
        store.layer(0).colorFrom = r[0], store.layer(0).colorTo = r[1];
        renderer.buildPalette(0);
        out << "palette " << hex(r[0]) << " -> " << hex(r[1]) << ":";
        for (int i = 0; i < 256; ++i) out << " " << hex(renderer.palette(i));
        out << "\n";
    }
    // Layer 2: 44 points over ranges 1 .. 11.75 m, with SNR, amplitude and saturation varying
    // independently and a NaN range and SNR at the end. Layer 1 gets points but is never current.
    store.setCurrentLayer(0);
    addPoint(store, 0, {.x = 0.5f, .y = 1, .z = -1, .amplitude = 5});
    addPoint(store, 0, {.x = 9, .valid = false});
    addPoint(store, 1, {.x = 100});
    store.setCurrentLayer(2);
    for (int i = 0; i < 44; ++i) {
        addPoint(store, 2,
                 {.x = 0.1f * i - 2,
                  .y = -3 + 0.2f * i,
                  .z = std::sin(0.3f * i),
                  .range = i == 42 ? NAN : 1 + 0.25f * i,
                  .amplitude = static_cast<float>((i * 37) % 50),
                  .snr = i == 12 ? NAN : static_cast<float>((i * 7) % 13),
                  .saturated = i % 9 == 5,
                  .valid = i % 11 != 10});
    }
    store.setCurrentLayer(7); // clamps to layer 4
    for (float y : {-10.0f, -5.0f, -1.0f}) addPoint(store, 4, {.x = 1, .y = y});
    out << "current " << store.current() << " changed " << store.takeChanged() << "\n";

    PointLayer& layer = store.layer(2);
    layer.colorFrom = {0, 0, 40}, layer.colorTo = {250, 100, 40};
    layer.rangeMin = 2.75f, layer.rangeMax = 7.75f;
    for (const std::uint32_t mode : {0u, kColorBySnrRank, kColorByAmplitudeRank}) {
        layer.colorMode = mode; // every point still valid but for every 11th
        renderer.colorize(2);
        out << "colour mode " << mode << ": " << coloursOf(store, 2) << "\n";
    }
    layer.snrMin = 4;
    for (const std::uint8_t show : {0, 1}) {
        layer.showSaturated = show;
        renderer.filterLayer(2);
        out << "filter 2.75..7.75 m, snr >= 4, saturated shown " << int(show) << ": ";
        for (std::uint32_t i = 0; i < store.pointCount(2); ++i) out << int(store.point(2, i).valid);
        out << "\n";
    }
    renderer.colorize(2);
    out << "range colours after filter: " << coloursOf(store, 2) << "\n";
    const ColorRamp grey;
    for (const std::uint32_t l : {2u, 4u}) {
        renderer.colorByHeight(l, grey);
        out << "height colours of layer " << l << ": " << coloursOf(store, l) << "\n";
    }
    for (const std::uint32_t l : {0u, 2u}) {
        const PointLayer& r = store.layer(l);
        float cx = 0, cy = 0, cz = 0;
        const bool has = store.centroid(l, cx, cy, cz);
        out << "layer " << l << " count " << store.pointCount(l) << " x " << r.minX << " " << r.maxX
            << " y " << r.minY << " " << r.maxY << " z " << r.minZ << " " << r.maxZ << " sums "
            << r.sumX << " " << r.sumY << " " << r.sumZ << " ranges seen " << r.rangeSeenMin << " "
            << r.rangeSeenMax << " centroid " << has << " " << cx << " " << cy << " " << cz
            << " visible " << store.countVisible(l, true) << " unsaturated "
            << store.countVisible(l, false) << "\n";
    }
    const CloudBounds b = renderer.bounds();
    out << "bounds " << b.count << " x " << b.minX << " " << b.maxX << " y " << b.minY << " "
        << b.maxY << " z " << b.minZ << " " << b.maxZ << " amplitude " << b.minAmplitude << " "
        << b.maxAmplitude << " total " << renderer.visibleLayerPointTotal() << "\n";
    // Drawing, picking, the select list and the export share one enumeration.
    std::uint32_t n = 0;
    renderer.forEachVisible([&](std::uint32_t l, const CloudPoint& p) {
        out << "visible " << n << " layer " << l << " x " << p.x << "\n";
        EXPECT_EQ(renderer.pointAtPickIndex(n), &p);
        ++n;
    });
    EXPECT_EQ(renderer.pointAtPickIndex(n), nullptr);
    ASSERT_EQ(renderer.fillSelectList(), n);
    for (std::uint32_t i = 0; i < n; ++i)
        EXPECT_EQ(renderer.selectList()[i], renderer.pointAtPickIndex(i));

    test::TempDir dir;
    RecordingSink sink;
    ASSERT_TRUE(exportXyz(store, dir / "out.xyz", sink));
    const auto xyz = test::readBytes(dir / "out.xyz");
    std::string text(xyz.begin(), xyz.end());
    for (std::size_t at; (at = text.find("\r\n")) != std::string::npos;)
        text.replace(at, 2, " <CRLF>|");
    out << "xyz: " << text << "\n";
    store.resetLayer(2);
    const PointLayer& r = store.layer(2);
    out << "reset: count " << store.pointCount(2) << " " << r.minX << " " << r.maxZ << " " << r.sumY
        << " " << r.rangeSeenMin << " " << r.rangeSeenMax << "\n";
    EXPECT_TRUE(sink.messages().empty());
    test::expectGolden("cloud_view_layers.txt", out.str());
}

TEST(CloudView, RankColouringOrdersFloatKeysLikeAComparisonSort) {
    CloudStore store;
    CloudRenderer renderer(store);
    store.setCurrentLayer(0);
    store.layer(0).colorMode = kColorByAmplitudeRank;
    store.layer(0).colorTo = {255, 255, 255};
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> wide(-1e6f, 1e6f), narrow(-2.0f, 2.0f);
    const std::uint32_t n = 5000;
    std::vector<std::pair<float, std::uint32_t>> sorted;
    for (std::uint32_t i = 0; i < n; ++i) {
        float k = i % 3 == 0 ? wide(rng) : narrow(rng); // magnitudes, signs, both zeros, ties
        if (i % 100 == 0) k = i % 200 ? 0.0f : -0.0f;
        if (i % 77 == 0) k = 1e-30f * narrow(rng);
        sorted.emplace_back(k, i);
        addPoint(store, 0, {.amplitude = k});
    }
    renderer.colorize(0);
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    const std::uint32_t run = 20; // 5000 / 256 = 19.5 rounds to 20 ranks a colour
    for (std::uint32_t r = 0; r < n; ++r) {
        const bool tie = (r > 0 && sorted[r - 1].first == sorted[r].first) ||
                         (r + 1 < n && sorted[r + 1].first == sorted[r].first);
        if (tie) continue; // equal keys may fall either side of a run boundary
        const int entry = static_cast<int>(std::min<std::uint32_t>(r / (run + 1), 255));
        ASSERT_EQ(store.point(0, sorted[r].second).color, renderer.palette(entry)) << "rank " << r;
    }
}

TEST(CloudView, FullLayerKeepsReplacingItsLastSlot) {
    CloudStore store;
    store.setCurrentLayer(0);
    store.commit(0, CloudStore::MAX_LAYER_POINTS - 1);
    for (int i = 1; i <= 3; ++i) addPoint(store, 0, {.x = -static_cast<float>(i)});
    EXPECT_EQ(store.pointCount(0), CloudStore::MAX_LAYER_POINTS);
    EXPECT_EQ(store.point(0, CloudStore::MAX_LAYER_POINTS - 1).x, -1.0f);
    EXPECT_EQ(store.point(0, CloudStore::MAX_LAYER_POINTS).x, -3.0f); // never counted
    EXPECT_EQ(store.layer(0).minX, -3.0f);
    EXPECT_EQ(store.room(0), 0u);
}

TEST(CloudView, ZeroedPagesAreAlignedZeroAndMovable) {
    constexpr std::size_t kHuge = std::size_t{2} << 20;
    for (const std::size_t bytes : {std::size_t{1}, kHuge + 1, 3 * kHuge}) {
        ZeroedPages block(bytes);
        auto* p = block.as<std::uint8_t>();
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % kHuge, 0u);
        EXPECT_EQ(p[bytes - 1], 0);
        p[bytes - 1] = 1; // every byte asked for is writable
        ZeroedPages moved(std::move(block));
        EXPECT_EQ(moved.as<std::uint8_t>()[bytes - 1], 1);
        EXPECT_EQ(block.data(), nullptr);
    }
    EXPECT_EQ(ZeroedPages(0).data(), nullptr);
    EXPECT_EQ(ZeroedPages(SIZE_MAX).data(), nullptr);
}

// One thread fills a layer as the pipeline does (with filter and colouring every few thousand
// points) while this one enumerates, picks, takes bounds and exports: every point a reader
// reaches is complete and every export is a self-consistent file. Run under TSan.
TEST(CloudStoreConcurrency, ReadersSeeOnlyCompletePointsWhileALayerFills) {
    test::TempDir dir;
    CloudStore store;
    CloudRenderer renderer(store);
    store.setCurrentLayer(1);
    addPoint(store, 1, {.x = -1, .range = 5.0f});
    store.setCurrentLayer(2);
    PointLayer& layer = store.layer(2);
    layer.rangeMax = 1e9f;
    layer.colorMode = kColorByAmplitudeRank;
    constexpr std::uint32_t kPoints = 20000;
    std::atomic<bool> done{false};
    std::thread filler([&] {
        for (std::uint32_t i = 0; i < kPoints; ++i) {
            addPoint(store, 2,
                     {.x = 0.25f * i,
                      .y = 0.5f * i,
                      .z = 0.5f,
                      .range = 1.0f + i % 100,
                      .amplitude = static_cast<float>(i * 7919u % 1000u),
                      .saturated = i % 97 == 0});
            if (i % 2500 == 2499) renderer.filterLayer(2), renderer.colorize(2);
        }
        done.store(true);
    });
    NullSink quiet;
    bool consistent = true;
    for (int rounds = 0; !done.load() || rounds < 3; ++rounds) {
        renderer.forEachVisible([&](std::uint32_t l, const CloudPoint& p) {
            (void)p.loadColor();
            consistent = consistent && (l != 2 || (p.y == 2.0f * p.x && p.z == 0.5f));
        });
        EXPECT_LT(renderer.bounds().maxX, 0.25f * kPoints);
        ASSERT_NE(renderer.pointAtPickIndex(0), nullptr);
        EXPECT_EQ(renderer.pointAtPickIndex(0)->x, -1.0f);
        ASSERT_TRUE(exportLas(store, dir / "live.las", quiet));
        LasFile las;
        ASSERT_TRUE(las.openRead(dir / "live.las", quiet));
        float maxX = -1e30f;
        for (CloudPoint p; las.readPoint(p);) maxX = std::max(maxX, p.x);
        EXPECT_EQ(las.pointsRead(), las.pointRecordCount());
        EXPECT_NEAR(las.info().maxX, maxX, 1e-4);
    }
    filler.join();
    EXPECT_TRUE(consistent);
    renderer.filterLayer(2);
    EXPECT_EQ(store.countVisible(2, true), kPoints - (kPoints + 96) / 97);
}

} // namespace
} // namespace quarv
