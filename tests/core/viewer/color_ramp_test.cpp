#include "core/viewer/color_ramp.hpp"

#include <gtest/gtest.h>

namespace quarv {
namespace {

TEST(ColorRamp, ConstructionGivesTheGreyRamp) {
    const ColorRamp ramp;
    EXPECT_EQ(ramp.size(), 256);
    EXPECT_EQ(ramp.nodeCount(), 2);
    EXPECT_EQ(ramp.node(0), 0);
    EXPECT_EQ(ramp.node(1), 255);
    for (int i = 0; i < 256; ++i) {
        const auto v = static_cast<std::uint8_t>(i);
        ASSERT_EQ(ramp.at(i), (Rgb{v, v, v})) << "entry " << i;
    }
}

TEST(ColorRamp, ExtraNodeSplitsTheRampIntoTruncatedSegments) {
    ColorRamp ramp;
    ramp.setNode(100, {50, 200, 100});
    EXPECT_EQ(ramp.nodeCount(), 3);
    EXPECT_TRUE(ramp.isNode(100));
    struct Case {
        int index;
        int red;
    };
    // 0 -> 0 .. 100 -> 50: slope 0.5; 100 -> 50 .. 255 -> 255: slope 205 / 155, 51.32 at 101.
    for (const Case c : {Case{0, 0}, Case{50, 25}, Case{99, 49}, Case{100, 50}, Case{101, 51},
                         Case{200, 182}, Case{254, 253}, Case{255, 255}}) {
        EXPECT_EQ(ramp.red(c.index), c.red) << "index " << c.index;
    }
    // Green falls from 200 towards 255 and blue runs 0 .. 100 .. 255: each channel on its own.
    EXPECT_EQ(ramp.green(50), 100);
    EXPECT_EQ(ramp.green(100), 200);
    EXPECT_EQ(ramp.blue(50), 50);
    EXPECT_EQ(ramp.blue(255), 255);
}

TEST(ColorRamp, DescendingSegmentTruncatesTowardZero) {
    ColorRamp ramp;
    ramp.setNode(0, {255, 255, 255});
    ramp.setNode(255, {0, 0, 0});
    // slope -1, offset 255: exact integers, so entry i is 255 - i.
    for (int i = 0; i < 256; ++i) ASSERT_EQ(ramp.red(i), 255 - i) << i;
    ramp.setNode(3, {1, 1, 1});
    // 255 at 0 .. 1 at 3: slope -84.67; 170.33 and 85.67 truncate to 170 and 85.
    EXPECT_EQ(ramp.red(1), 170);
    EXPECT_EQ(ramp.red(2), 85);
    // The node at 3 starts the segment 3 .. 255 and is evaluated again on its line:
    // 3 x (-1 / 252) + 1.0119 comes out just below 1 in f32 and truncates to 0.
    EXPECT_EQ(ramp.red(3), 0);
    EXPECT_EQ(ramp.red(255), 0);
}

TEST(ColorRamp, ClearNodesKeepsOnlyTheEnds) {
    ColorRamp ramp;
    ramp.setNode(10, {1, 2, 3});
    ramp.setNode(20, {4, 5, 6});
    EXPECT_EQ(ramp.nodeCount(), 4);
    ramp.clearNodes();
    EXPECT_EQ(ramp.nodeCount(), 2);
    EXPECT_FALSE(ramp.isNode(10));
    EXPECT_TRUE(ramp.isNode(0));
    EXPECT_TRUE(ramp.isNode(255));
    ramp.interpolate();
    EXPECT_EQ(ramp.at(128), (Rgb{128, 128, 128}));
    ramp.setNode(300, {9, 9, 9}); // outside the table: ignored
    EXPECT_EQ(ramp.nodeCount(), 2);
}

} // namespace
} // namespace quarv
