#include "core/scan/laser_scan_settings.hpp"

#include "core/config/config_root.hpp"
#include "support/golden.hpp"
#include "support/test_support.hpp"

#include <gtest/gtest.h>

namespace quarv {
namespace {

// A missing file gives the defaults, a short one its own bytes and the defaults for the rest.
TEST(LaserScanSettings, MissingOrShortFilesKeepTheDefaults) {
    test::TempDir dir;
    const ConfigRoot root(dir.path());
    LaserScanSettings s;
    s.setModeWord(99);
    EXPECT_FALSE(loadLaserScanSettings(root, s));
    std::string image;
    for (const std::uint8_t b : s.bytes) image += std::to_string(b) + " ";
    test::expectGolden("laserscan_defaults.txt", image + "\n");
    std::filesystem::create_directories(root.calDir());
    test::writeBytes(laserScanSettingsPath(root), {7, 0, 0, 0, 9});
    LaserScanSettings shortFile;
    EXPECT_TRUE(loadLaserScanSettings(root, shortFile));
    LaserScanSettings want = s;
    want.bytes[0] = 7;
    want.bytes[4] = 9;
    EXPECT_EQ(shortFile.bytes, want.bytes);
}

TEST(LaserScanSettings, FieldsSitAtTheirOffsetsAndRoundTripAsBytes) {
    test::TempDir dir;
    const ConfigRoot root(dir.path());
    std::filesystem::create_directories(root.calDir());
    std::vector<std::uint8_t> image(32);
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 7 + 3);
    image[16] = 0;
    le::store<float>(image.data() + 18, 1.5f);
    le::store<float>(image.data() + 22, 12.25f);
    le::store<float>(image.data() + 26, 30.0f);
    test::writeBytes(laserScanSettingsPath(root), image);
    LaserScanSettings s;
    ASSERT_TRUE(loadLaserScanSettings(root, s));
    EXPECT_EQ(s.rangeGate(), 0);
    EXPECT_EQ(s.averageWindow(), image[17]);
    EXPECT_EQ(s.rangeMin(), 1.5f);
    EXPECT_EQ(s.rangeMax(), 12.25f);
    EXPECT_EQ(s.snrThreshold(), 30.0f);
    EXPECT_EQ(s.shotsPerLine(), le::u32(image.data() + 4));
    ASSERT_TRUE(saveLaserScanSettings(root, s));
    EXPECT_EQ(test::readBytes(laserScanSettingsPath(root)), image);
}

TEST(LaserScanSettings, CompletionFollowsTheGateAndTheWindowRules) {
    struct Case {
        std::uint8_t gate;
        std::uint32_t window;
        float lo, hi, snr;
        std::uint8_t savedWindow;
        float savedLo, savedHi;
    };
    for (const Case c : {Case{1, 0, 2.0f, 9.0f, 5.0f, 1, 2.0f, 9.0f},
                         Case{1, 12, 2.0f, 9.0f, 5.0f, 12, 2.0f, 9.0f},
                         Case{1, 1000, 2.0f, 9.0f, 5.0f, 255, 2.0f, 9.0f},
                         Case{0, 3, 2.0f, 9.0f, 5.0f, 3, 0.0f, 100.0f},
                         Case{0, 0, 50.0f, 60.0f, 0.0f, 1, 0.0f, 100.0f}}) {
        LaserScanSettings s = LaserScanSettings::defaults();
        s.setRangeGate(c.gate);
        s.complete(c.window, c.lo, c.hi, c.snr);
        EXPECT_EQ(s.averageWindow(), c.savedWindow);
        EXPECT_EQ(s.rangeMin(), c.savedLo);
        EXPECT_EQ(s.rangeMax(), c.savedHi);
        EXPECT_EQ(s.snrThreshold(), c.snr);
        EXPECT_EQ(s.rangeGate(), c.gate);
    }
}

TEST(LaserScanSettings, UnwritableFolderLeavesNoFile) {
    test::TempDir dir;
    const ConfigRoot root(dir / "missing");
    EXPECT_FALSE(saveLaserScanSettings(root, LaserScanSettings::defaults()));
    EXPECT_FALSE(std::filesystem::exists(laserScanSettingsPath(root)));
}

} // namespace
} // namespace quarv
