#include "core/config/config_root.hpp"
#include "core/config/viewer_settings.hpp"
#include "support/test_support.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

namespace quarv {
namespace {

TEST(ViewerSettings, ControlConversionsTruncateThenKeepTheLowByte) {
    struct Case {
        double value;
        std::uint8_t byte;
        float cutoff;
        std::int32_t threshold;
    };
    const Case cases[] = {
        {0.0, 0, 0.0f, 0},           {12.9, 12, 12.0f, 12},         {255.0, 255, 255.0f, 255},
        {256.0, 0, 0.0f, 256},       {-1.0, 255, 255.0f, -1},       {300.7, 44, 44.0f, 300},
        {-0.9, 0, 0.0f, 0},          {-1.5, 255, 255.0f, -1},       {511.99, 255, 255.0f, 511},
        {-257.0, 255, 255.0f, -257}, {65536.0 + 7, 7, 7.0f, 65543},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(controlToByte(c.value), c.byte);
        EXPECT_EQ(controlToCutoff(c.value), c.cutoff);
        EXPECT_EQ(controlToThreshold(c.value), c.threshold);
    }
    // Values no integer type holds must not be undefined behaviour.
    EXPECT_EQ(controlToByte(std::nan("")), 0);
    EXPECT_EQ(controlToByte(1e300), static_cast<std::uint8_t>(std::fmod(1e300, 256.0)));
    EXPECT_EQ(controlToThreshold(1e12), std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(controlToThreshold(-1e12), std::numeric_limits<std::int32_t>::min());
}

TEST(ViewerSettings, QuarvBlockFieldsSitAtTheirOffsets) {
    QuarvSettings s;
    s.lowIntensityCutoff = 12.0f;
    s.highIntensityCutoff = 44.0f;
    s.startRgb = {1, 2, 3};
    s.midRgb = {4, 5, 6};
    s.highRgb = {7, 8, 9};
    const auto b = s.encode();
    ASSERT_EQ(b.size(), 17u);
    float f0, f1;
    std::memcpy(&f0, b.data(), 4);
    std::memcpy(&f1, b.data() + 4, 4);
    EXPECT_EQ(f0, 12.0f);
    EXPECT_EQ(f1, 44.0f);
    for (int i = 0; i < 9; ++i) EXPECT_EQ(b[8 + i], i + 1) << i;
    EXPECT_EQ(QuarvSettings::decode(b), s);
}

TEST(ViewerSettings, ColorBlockFieldsSitAtTheirOffsets) {
    ColorSettings s;
    s.lowIntensity = -5;
    s.mediumIntensity = 70000;
    s.highIntensity = 3;
    Rgb* colours[] = {&s.lowIntensityRgb, &s.lowStartRgb,      &s.lowEndRgb,    &s.mediumStartRgb,
                      &s.mediumEndRgb,    &s.highIntensityRgb, &s.saturationRgb};
    std::uint8_t v = 10;
    for (Rgb* c : colours)
        *c = {v, static_cast<std::uint8_t>(v + 1), static_cast<std::uint8_t>(v + 2)}, v += 3;
    s.pointSize = 4;
    const auto b = s.encode();
    ASSERT_EQ(b.size(), 34u);
    std::int32_t i0, i1, i2;
    std::memcpy(&i0, b.data(), 4);
    std::memcpy(&i1, b.data() + 4, 4);
    std::memcpy(&i2, b.data() + 8, 4);
    EXPECT_EQ(i0, -5);
    EXPECT_EQ(i1, 70000);
    EXPECT_EQ(i2, 3);
    for (int i = 0; i < 21; ++i) EXPECT_EQ(b[12 + i], 10 + i) << i;
    EXPECT_EQ(b[33], 4);
    EXPECT_EQ(ColorSettings::decode(b), s);
}

TEST(ViewerSettings, FilesRoundTripAndMissingOrShortFilesLoadZeros) {
    test::TempDir dir;
    const ConfigRoot root(dir.path());
    std::filesystem::create_directories(root.cfgDir());
    EXPECT_EQ(quarvSettingsPath(root), dir.path() / "CFG" / "quarv.mcfg");
    EXPECT_EQ(colorSettingsPath(root), dir.path() / "CFG" / "colorcfg.mcfg");

    QuarvSettings q;
    q.lowIntensityCutoff = 7;
    q.highRgb = {9, 8, 7};
    ColorSettings c;
    c.pointSize = 3;
    c.saturationRgb = {255, 0, 1};

    // Missing files: every value is zero, even when the caller's block held values.
    QuarvSettings qIn = q;
    ColorSettings cIn = c;
    EXPECT_FALSE(loadQuarvSettings(quarvSettingsPath(root), qIn));
    EXPECT_FALSE(loadColorSettings(colorSettingsPath(root), cIn));
    EXPECT_EQ(qIn, QuarvSettings{});
    EXPECT_EQ(cIn, ColorSettings{});

    ASSERT_TRUE(saveQuarvSettings(quarvSettingsPath(root), q));
    ASSERT_TRUE(saveColorSettings(colorSettingsPath(root), c));
    EXPECT_EQ(test::readBytes(quarvSettingsPath(root)).size(), 17u);
    EXPECT_EQ(test::readBytes(colorSettingsPath(root)).size(), 34u);
    EXPECT_TRUE(loadQuarvSettings(quarvSettingsPath(root), qIn));
    EXPECT_TRUE(loadColorSettings(colorSettingsPath(root), cIn));
    EXPECT_EQ(qIn, q);
    EXPECT_EQ(cIn, c);

    // A short file fills the fields it holds; the rest stays zero.
    test::writeBytes(colorSettingsPath(root), {1, 0, 0, 0, 2, 0});
    EXPECT_TRUE(loadColorSettings(colorSettingsPath(root), cIn));
    EXPECT_EQ(cIn.lowIntensity, 1);
    EXPECT_EQ(cIn.mediumIntensity, 2);
    EXPECT_EQ(cIn.pointSize, 0);
    EXPECT_EQ(cIn.saturationRgb, Rgb{});

    // A folder that does not exist cannot take the file; the caller learns it.
    EXPECT_FALSE(saveQuarvSettings(dir.path() / "nowhere" / "quarv.mcfg", q));
}

} // namespace
} // namespace quarv
