#include "core/app/layer_statistics.hpp"
#include "core/app/save_names.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

namespace quarv {
namespace {

class LayerStatisticsTest : public testing::Test {
protected:
    std::unique_ptr<CloudStore> store = std::make_unique<CloudStore>();

    // n points in layer 0; fill(i, point) sets each point's readings.
    template <typename Fill> void fill(std::uint32_t n, Fill f) {
        store->setCurrentLayer(0);
        for (std::uint32_t i = 0; i < n; ++i) {
            CloudPoint& p = store->nextSlot(0);
            p = CloudPoint{};
            p.valid = 1;
            f(i, p);
            store->commit(0);
        }
    }
};

TEST_F(LayerStatisticsTest, OnlyALayerInUseHasStatistics) {
    EXPECT_FALSE(layerStatistics(*store).has_value());
    EXPECT_FALSE(layerStatistics(*store, 7).has_value());
    store->setCurrentLayer(0);
    const auto s = layerStatistics(*store);
    ASSERT_TRUE(s.has_value());
    EXPECT_EQ(s->valid, 0u);
    EXPECT_EQ(layerStatisticsMessage(*s), "Ave:  no valid point from slot 0 of layer 1");
}

TEST_F(LayerStatisticsTest, TenPointsUseTheSecondHalf) {
    // Slot i has range i, azimuth 2i, elevation -i, peak 10i; slots 5..9 are looked at.
    fill(10, [](std::uint32_t i, CloudPoint& p) {
        p.range = static_cast<float>(i);
        p.azimuth = 2.0f * i;
        p.elevation = -1.0f * i;
        p.peakPosition = 10.0f * i;
    });
    const auto s = layerStatistics(*store);
    ASSERT_TRUE(s.has_value());
    EXPECT_EQ(s->start, 5u);
    EXPECT_EQ(s->end, 10u);
    EXPECT_EQ(s->valid, 5u);
    EXPECT_DOUBLE_EQ(s->range, 7.0);
    EXPECT_DOUBLE_EQ(s->azimuth, 14.0);
    EXPECT_DOUBLE_EQ(s->elevation, -7.0);
    EXPECT_DOUBLE_EQ(s->peakPosition, 70.0);
    EXPECT_FLOAT_EQ(s->rangeStdDev, std::sqrt(2.5f)); // 5, 6, 7, 8, 9 with divisor n - 1
    EXPECT_EQ(layerStatisticsMessage(*s),
              "Ave:  AZ:14.0000, EL:-7.0000, Peak Cnt:70.0000, Rng:7.0000 m, StdDev Rng: 1.5811");
}

TEST_F(LayerStatisticsTest, LargeLayersSkipTheFirstEightyThousand) {
    // The first 80,000 points are far off; after them ranges alternate 5 and 7, every third
    // point is hidden.
    fill(200'000, [](std::uint32_t i, CloudPoint& p) {
        p.range = i < 80'000 ? 1000.0f : (i % 2 ? 7.0f : 5.0f);
        p.valid = (i % 3 == 0) ? 0 : 1;
    });
    const auto s = layerStatistics(*store);
    ASSERT_TRUE(s.has_value());
    EXPECT_EQ(s->start, 80'000u);
    EXPECT_EQ(s->end, 200'000u);
    EXPECT_EQ(s->valid, 80'000u);
    EXPECT_NEAR(s->range, 6.0, 1e-9);
    EXPECT_NEAR(s->rangeStdDev, std::sqrt(80'000.0 / 79'999.0), 1e-5);
}

struct EdgeCase {
    const char* what;
    std::uint32_t n;
    std::uint32_t validEvery; // 0: none valid
    std::uint32_t start, valid;
    float stdDev;
};

TEST_F(LayerStatisticsTest, SmallAndEmptyWindows) {
    const EdgeCase cases[] = {
        {"one point: slot 0 alone", 1, 1, 0, 1, 0.0f},
        {"three points: slots 1 and 2", 3, 1, 1, 2, std::sqrt(0.5f)},
        {"no valid point in the window", 6, 0, 3, 0, 0.0f},
        {"exactly 80,000: half of them", 80'000, 1, 40'000, 40'000, -1},
        {"80,001: skip 80,000", 80'001, 1, 80'000, 1, 0.0f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fill(c.n, [&](std::uint32_t i, CloudPoint& p) {
            p.range = static_cast<float>(i % 2);
            p.valid = c.validEvery ? 1 : 0;
        });
        const auto s = layerStatistics(*store);
        ASSERT_TRUE(s.has_value());
        EXPECT_EQ(s->start, c.start);
        EXPECT_EQ(s->valid, c.valid);
        if (c.stdDev >= 0) {
            EXPECT_FLOAT_EQ(s->rangeStdDev, c.stdDev);
        }
        if (c.valid == 0) {
            EXPECT_EQ(layerStatisticsMessage(*s),
                      "Ave:  no valid point from slot " + std::to_string(c.start) + " of layer 1");
        }
    }
}

TEST(SaveNames, ReplaceTheLastFourCharacters) {
    struct Case {
        std::string path, ext, expected;
    };
    const Case cases[] = {
        {"C:\\data\\scan01.raw", ".las", "C:\\data\\scan01.las"},
        {"/home/op/harbour.raw", ".xyz", "/home/op/harbour.xyz"},
        {"/data/a.3DC", ".las", "/data/a.las"}, // a three-letter extension with its dot
        {"/data/cloud.las", ".las", "/data/cloud.las"},
        {"/data/noext", ".xyz", "/data/n.xyz"}, // no extension: four characters all the same
        {"ab", ".las", ".las"},
        {"", ".xyz", ".xyz"},
        {std::string(200, 'a'), ".las", std::string(196, 'a') + ".las"}, // never cut
    };
    for (const auto& c : cases) EXPECT_EQ(defaultSaveName(c.path, c.ext), c.expected) << c.path;
}

} // namespace
} // namespace quarv
