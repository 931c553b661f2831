#include "core/cloud/cloud_export.hpp"
#include "core/cloud/cloud_renderer.hpp"
#include "core/cloud/cloud_store.hpp"
#include "core/cloud/las_file.hpp"

#include "core/app/message_sink.hpp"
#include "core/cloud/cloud_test_util.hpp"
#include "support/test_support.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <filesystem>
#include <thread>
#include <vector>

namespace quarv {
namespace {

using test::addPoint;
using test::PointSpec;

TEST(CloudStore, ConstructionState) {
    const CloudStore store;
    ASSERT_TRUE(store.allocated());
    EXPECT_EQ(store.current(), 0u);
    EXPECT_EQ(sizeof(CloudPoint), 52u); // 5 x 2.25 M slots: about 585 MB of address space
    for (std::uint32_t l = 0; l < LAYER_COUNT; ++l) {
        const PointLayer& r = store.layer(l);
        EXPECT_EQ(store.pointCount(l), 0u);
        EXPECT_EQ(r.inUse, 0);
        EXPECT_EQ(r.neighbourFilter, 1);
        EXPECT_EQ(r.filterDistance, 0.05);
        EXPECT_EQ(r.points, &store.point(l, 0));
        // Slots come up constructed: colour 0, 0, 0, nothing valid, also at the far end.
        EXPECT_EQ(store.point(l, LAYER_CAPACITY - 1).color, Rgb{});
        EXPECT_EQ(store.point(l, LAYER_CAPACITY - 1).valid, 0);
    }
}

TEST(CloudStore, SetCurrentLayerClampsEmptiesAndMarksInUse) {
    CloudStore store;
    addPoint(store, 4, {.x = 1});
    addPoint(store, 4, {.x = 2});
    store.setCurrentLayer(7);
    EXPECT_EQ(store.current(), 4u);
    EXPECT_EQ(store.pointCount(4), 0u);
    EXPECT_EQ(store.layer(4).inUse, 1);
    // Only the count is emptied; the statistics wait for resetLayer.
    EXPECT_FLOAT_EQ(store.layer(4).maxX, 2.0f);
    store.setCurrentLayer(2);
    EXPECT_EQ(store.current(), 2u);
    EXPECT_EQ(store.layer(4).inUse, 1); // stays in use for the rest of the run
}

TEST(CloudStore, StatisticsTakeValidPointsOnlyAndResetRestoresStartValues) {
    CloudStore store;
    addPoint(store, 1, {.x = 1, .y = -2, .z = 3, .range = 4.0f});
    addPoint(store, 1, {.x = -5, .y = 6, .z = -7, .range = 2.5f, .saturated = true});
    addPoint(store, 1, {.x = 100, .y = 100, .z = 100, .range = 50.0f, .valid = false});
    const PointLayer& r = store.layer(1);
    EXPECT_EQ(store.pointCount(1), 3u);
    EXPECT_FLOAT_EQ(r.maxX, 1.0f);
    EXPECT_FLOAT_EQ(r.minX, -5.0f);
    EXPECT_FLOAT_EQ(r.maxY, 6.0f);
    EXPECT_FLOAT_EQ(r.minY, -2.0f);
    EXPECT_FLOAT_EQ(r.maxZ, 3.0f);
    EXPECT_FLOAT_EQ(r.minZ, -7.0f);
    EXPECT_DOUBLE_EQ(r.sumX, -4.0);
    EXPECT_DOUBLE_EQ(r.sumY, 4.0);
    EXPECT_DOUBLE_EQ(r.sumZ, -4.0);
    EXPECT_FLOAT_EQ(r.rangeSeenMin, 2.5f);
    EXPECT_FLOAT_EQ(r.rangeSeenMax, 4.0f);

    float x = 0, y = 0, z = 0;
    ASSERT_TRUE(store.centroid(1, x, y, z)); // two valid points, the saturated one included
    EXPECT_FLOAT_EQ(x, -2.0f);
    EXPECT_FLOAT_EQ(y, 2.0f);
    EXPECT_FLOAT_EQ(z, -2.0f);
    EXPECT_EQ(store.countVisible(1, true), 2u);
    EXPECT_EQ(store.countVisible(1, false), 1u);

    store.resetLayer(1);
    EXPECT_EQ(store.pointCount(1), 0u);
    EXPECT_EQ(r.maxX, -8999999488.0f);
    EXPECT_EQ(r.minZ, 8999999488.0f);
    EXPECT_EQ(r.rangeSeenMin, 8999999488.0f);
    EXPECT_EQ(r.rangeSeenMax, -8999999488.0f);
    EXPECT_EQ(r.sumX, 0.0);
    x = y = z = 42.0f;
    EXPECT_FALSE(store.centroid(1, x, y, z)); // no valid point: outputs left alone
    EXPECT_EQ(x, 42.0f);
}

TEST(CloudStore, FullLayerKeepsReplacingItsLastSlot) {
    CloudStore store;
    store.setCurrentLayer(0);
    const std::uint32_t full = LAYER_CAPACITY - 1; // 2,249,999
    for (std::uint32_t i = 0; i < full; ++i) {
        CloudPoint& p = store.nextSlot(0);
        p.x = static_cast<float>(i);
        p.valid = 1;
        store.commit(0);
    }
    EXPECT_EQ(store.pointCount(0), full);
    for (int extra = 1; extra <= 3; ++extra) {
        CloudPoint& p = store.nextSlot(0);
        EXPECT_EQ(&p, &store.point(0, full)); // slot 2,249,999, never counted
        p.x = -static_cast<float>(extra);
        p.valid = 1;
        store.addStatistics(0, false, 1.0f, 0.0f, 0.0f, p);
        store.commit(0);
        EXPECT_EQ(store.pointCount(0), full);
    }
    EXPECT_EQ(store.point(0, full).x, -3.0f);
    EXPECT_EQ(store.point(0, full - 1).x, static_cast<float>(full - 1));
    EXPECT_FLOAT_EQ(store.layer(0).minX, -3.0f); // still added to the statistics
}

TEST(CloudStore, ChangedMarkIsSetByCommitsAndClearedByTaking) {
    CloudStore store;
    store.takeChanged();
    EXPECT_FALSE(store.changed());
    addPoint(store, 0, {});
    EXPECT_TRUE(store.takeChanged());
    EXPECT_FALSE(store.takeChanged());
    store.resetLayer(3);
    EXPECT_TRUE(store.takeChanged());
}

// One thread fills a layer the way the pipeline does (slot, statistics, commit, filter and
// colouring every few thousand points) while another enumerates, picks, computes bounds and
// exports. Every point a reader reaches must be complete, and every export must be a
// self-consistent file. Run under the thread sanitizer by the test script.
TEST(CloudStoreConcurrency, ReadersSeeOnlyCompletePointsWhileALayerFills) {
    test::TempDir dir;
    CloudStore store;
    CloudRenderer renderer(store);
    store.setCurrentLayer(1);
    addPoint(store, 1, {.x = -1, .y = -2, .z = -3, .range = 5.0f}); // an older layer in use
    store.setCurrentLayer(2);
    PointLayer& layer = store.layer(2);
    layer.rangeMin = 0.0f;
    layer.rangeMax = 1e9f;
    layer.snrMin = 0.0f;
    layer.colorMode = kColorByAmplitudeRank;
    layer.colorTo = {255, 255, 255};

    constexpr std::uint32_t kPoints = 30000;
    std::atomic<bool> done{false};
    std::thread filler([&] {
        for (std::uint32_t i = 0; i < kPoints; ++i) {
            CloudPoint& p = store.nextSlot(2);
            p.x = 0.25f * static_cast<float>(i); // within the +-21 km a LAS record can hold
            p.y = 2.0f * p.x;
            p.z = 0.5f;
            p.range = 1.0f + static_cast<float>(i % 100);
            p.amplitude = static_cast<float>((i * 7919u) % 1000u);
            p.snr = 10.0f;
            p.sequence = i;
            p.saturated = (i % 97 == 0) ? 1 : 0;
            p.valid = 1;
            store.addStatistics(2, p.saturated != 0, p.range, p.amplitude, p.snr, p);
            store.commit(2);
            if (i % 2500 == 2499) {
                renderer.filterLayer(2);
                renderer.colorize(2);
                renderer.markDirty();
            }
        }
        done.store(true);
    });

    NullSink quiet;
    int rounds = 0;
    bool consistent = true;
    while (!done.load() || rounds < 3) {
        ++rounds;
        renderer.forEachVisible([&](std::uint32_t l, const CloudPoint& p) {
            if (l != 2) return;
            (void)p.loadColor(); // may change under the reader, never tears the point
            consistent = consistent && p.y == 2.0f * p.x && p.z == 0.5f &&
                         p.x == 0.25f * static_cast<float>(p.sequence);
        });
        const CloudBounds b = renderer.bounds();
        EXPECT_LT(b.maxX, 0.25f * static_cast<float>(kPoints));
        const CloudPoint* first = renderer.pointAtPickIndex(0);
        ASSERT_NE(first, nullptr);
        EXPECT_EQ(first->x, -1.0f);

        // The export is a file whose header agrees with its records.
        const auto file = dir / "live.las";
        ASSERT_TRUE(exportLas(store, file, quiet));
        LasFile las;
        ASSERT_TRUE(las.openRead(file, quiet));
        EXPECT_EQ(std::filesystem::file_size(file),
                  kLasPointOffset + las.pointRecordCount() * kLasRecordLength);
        CloudPoint p;
        float maxX = -1e30f;
        std::uint64_t n = 0;
        while (las.readPoint(p)) {
            maxX = std::max(maxX, p.x);
            ++n;
        }
        EXPECT_EQ(n, las.pointRecordCount());
        EXPECT_NEAR(las.info().maxX, maxX, 1e-4);
    }
    filler.join();
    EXPECT_TRUE(consistent);
    EXPECT_EQ(store.pointCount(2), kPoints);
    renderer.filterLayer(2);
    // Every 97th point is saturated and the layer hides saturated points.
    EXPECT_EQ(store.countVisible(2, true), kPoints - (kPoints + 96) / 97);
}

} // namespace
} // namespace quarv
