// Layer operations of the store and renderer (palette, filter, colourings, enumeration, bounds,
// reset, a full layer) over generated layers as a transcript; the store filled and read at once.
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
#include <thread>

namespace quarv {
namespace {

using test::addPoint;

TEST(CloudView, LayerOperationsTranscript) {
    CloudStore store;
    CloudRenderer renderer(store);
    test::Transcript t;
    auto colours = [&](const char* what, std::uint32_t l) {
        t.out << what << ":";
        for (std::uint32_t i = 0; i < store.pointCount(l); ++i)
            t.out << " " << test::hex(store.point(l, i).color);
        t.out << "\n";
    };
    for (const auto& [from, to] :
         {std::pair<Rgb, Rgb>{{0, 0, 0}, {255, 255, 255}}, {{255, 10, 100}, {0, 20, 99}}}) {
        store.layer(0).colorFrom = from, store.layer(0).colorTo = to;
        renderer.buildPalette(0);
        t.out << "palette";
        for (int i = 0; i < 256; ++i) t.out << " " << test::hex(renderer.palette(i));
        t.out << "\n";
    }
    // Layer 2: ranges 1 .. 11.75 m with SNR, amplitude, saturation and visibility varying
    // independently, a NaN SNR inside the window and a NaN range. Layer 1 is never current.
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
                  .amplitude = float(i * 37 % 50),
                  .snr = i == 12 ? NAN : float(i * 7 % 13),
                  .saturated = i % 9 == 5,
                  .valid = i % 11 != 10});
    }
    store.setCurrentLayer(7); // clamps to layer 4
    for (float y : {-10.0f, -5.0f, -1.0f}) addPoint(store, 4, {.x = 1, .y = y});
    const bool changed = store.takeChanged();
    t.put("current", store.current(), "changed", changed, store.takeChanged());

    PointLayer& layer = store.layer(2);
    layer.colorFrom = {0, 0, 40}, layer.colorTo = {250, 100, 40};
    layer.rangeMin = 2.75f, layer.rangeMax = 7.75f, layer.snrMin = 4;
    for (const auto& [mode, name] : {std::pair{0u, "by range"},
                                     {kColorBySnrRank, "by SNR rank"},
                                     {kColorByAmplitudeRank, "by amplitude rank"}}) {
        layer.colorMode = mode;
        renderer.colorize(2);
        colours(name, 2);
    }
    for (const std::uint8_t show : {0, 1}) {
        layer.showSaturated = show;
        renderer.filterLayer(2);
        t.out << "filter 2.75..7.75 m, SNR >= 4, saturated shown " << int(show) << ": ";
        for (std::uint32_t i = 0; i < store.pointCount(2); ++i)
            t.out << int(store.point(2, i).valid);
        t.out << "\n";
    }
    layer.colorMode = 0;
    renderer.colorize(2);
    colours("by range after the filter", 2);
    ColorRamp ramp; // grey with one node set: the entries on both sides are interpolated
    ramp.setNode(100, {50, 200, 100});
    renderer.colorByHeight(2, ramp);
    colours("layer 2 by height", 2);
    renderer.colorByHeight(4, ramp);
    colours("layer 4 by height", 4);
    renderer.colorByHeight(0, ramp); // flat: a single visible point
    colours("layer 0 by height", 0);
    for (const std::uint32_t l : {0u, 2u}) {
        const PointLayer& r = store.layer(l);
        float c[3] = {};
        const bool has = store.centroid(l, c[0], c[1], c[2]);
        t.put("layer", l, store.pointCount(l), "extent", r.minX, r.maxX, r.minY, r.maxY, r.minZ,
              r.maxZ, "sums", r.sumX, r.sumY, r.sumZ, "ranges", r.rangeSeenMin, r.rangeSeenMax,
              "centroid", has, c[0], c[1], c[2], "visible", store.countVisible(l, true),
              store.countVisible(l, false));
    }
    const CloudBounds b = renderer.bounds();
    t.put("bounds", b.count, b.minX, b.maxX, b.minY, b.maxY, b.minZ, b.maxZ, b.minAmplitude,
          b.maxAmplitude, "total", renderer.visibleLayerPointTotal());
    // Drawing, picking, the select list and the export share one enumeration.
    std::uint32_t n = 0;
    renderer.forEachVisible([&](std::uint32_t l, const CloudPoint& p) {
        t.put("visible", n, "layer", l, p.x);
        EXPECT_EQ(renderer.pointAtPickIndex(n++), &p);
    });
    EXPECT_EQ(renderer.pointAtPickIndex(n), nullptr);
    ASSERT_EQ(renderer.fillSelectList(), n);
    for (std::uint32_t i = 0; i < n; ++i)
        EXPECT_EQ(renderer.selectList()[i], renderer.pointAtPickIndex(i));

    // Rank colouring of 1000 keys of both signs, zeros and many magnitudes: 1000 / 256 = 3.9
    // rounds to runs of 4 + 1 ranks a colour.
    store.setCurrentLayer(3);
    store.layer(3).colorMode = kColorByAmplitudeRank, store.layer(3).colorTo = {255, 255, 255};
    for (std::uint32_t i = 0; i < 1000; ++i) {
        const auto k = static_cast<float>(static_cast<int>(i * 2654435761u % 2001u) - 1000);
        addPoint(store, 3,
                 {.amplitude = i % 50 == 0 ? -0.0f : k * std::pow(10.0f, float(i % 9) - 4)});
    }
    renderer.colorize(3);
    colours("layer 3 by amplitude rank", 3);

    store.takeChanged();
    store.resetLayer(2);
    const PointLayer& r = store.layer(2);
    t.put("reset", store.takeChanged(), store.pointCount(2), r.minX, r.maxZ, r.sumY, r.rangeSeenMin,
          r.rangeSeenMax);
    // A full layer keeps replacing its last slot, which is never counted.
    store.commit(2, CloudStore::MAX_LAYER_POINTS - 1);
    for (int i = 1; i <= 3; ++i) addPoint(store, 2, {.x = -1.0f * i});
    t.put("full", store.pointCount(2), store.room(2),
          store.point(2, CloudStore::MAX_LAYER_POINTS - 1).x,
          store.point(2, CloudStore::MAX_LAYER_POINTS).x, r.minX);
    test::expectGolden("cloud_view_layers.txt", t.str());
}

// One thread fills a layer as the pipeline does (with filter and colouring every few thousand
// points) while this one enumerates and exports: every point a reader reaches is complete
// and every export is a self-consistent file. Run under TSan.
TEST(CloudStoreConcurrency, ReadersSeeOnlyCompletePointsWhileALayerFills) {
    test::TempDir dir;
    CloudStore store;
    CloudRenderer renderer(store);
    store.setCurrentLayer(2);
    store.layer(2).rangeMax = 1e9f, store.layer(2).colorMode = kColorByAmplitudeRank;
    constexpr std::uint32_t kPoints = 20000;
    std::atomic<bool> done{false};
    std::thread filler([&] {
        for (std::uint32_t i = 0; i < kPoints; ++i) {
            addPoint(store, 2,
                     {.x = 0.25f * i,
                      .y = 0.5f * i,
                      .z = 0.5f,
                      .range = 1.0f + i % 100,
                      .amplitude = float(i * 7919u % 1000u),
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
            consistent = consistent && l == 2 && p.y == 2.0f * p.x && p.z == 0.5f;
        });
        ASSERT_TRUE(exportLas(store, dir / "live.las", quiet));
        LasFile las; // the header's count and extent are those of the records
        ASSERT_TRUE(las.openRead(dir / "live.las", quiet));
        float maxX = -1e30f;
        for (CloudPoint p; las.readPoint(p);) maxX = std::max(maxX, p.x);
        EXPECT_TRUE(las.pointsRead() == las.pointRecordCount() &&
                    (!las.pointsRead() || std::abs(las.info().maxX - maxX) < 1e-4));
    }
    filler.join();
    EXPECT_TRUE(consistent);
    renderer.filterLayer(2);
    EXPECT_EQ(store.countVisible(2, true), kPoints - (kPoints + 96) / 97);
}

} // namespace
} // namespace quarv
