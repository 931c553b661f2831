#include "core/scan/laser_scan_settings.hpp"

#include "core/config/config_root.hpp"
#include "support/golden.hpp"
#include "support/test_support.hpp"

#include <gtest/gtest.h>

#include <sstream>

namespace quarv {
namespace {

// The bytes and fields read from a missing file (the defaults), a short one (its own bytes, the
// defaults for the rest) and a whole one, which is written back as it was; a folder that cannot
// be written takes no file.
TEST(LaserScanSettings, DefaultsShortAndWholeFilesAndAFailedWrite) {
    test::TempDir dir;
    const ConfigRoot root(dir.path());
    const auto path = laserScanSettingsPath(root);
    std::vector<std::uint8_t> image(32);
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 7 + 3);
    image[16] = 0;
    le::store<float>(image.data() + 18, 1.5f);
    le::store<float>(image.data() + 22, 12.25f);
    le::store<float>(image.data() + 26, 30.0f);
    std::ostringstream t;
    LaserScanSettings s;
    for (const std::size_t size : {0, 5, 32}) {
        if (size > 0) test::writeBytes(path, {image.begin(), image.begin() + size});
        s.setModeWord(99);
        EXPECT_EQ(loadLaserScanSettings(root, s), size > 0);
        t << size << " bytes:";
        for (const std::uint8_t b : s.bytes) t << " " << int(b);
        t << "\n  mode " << s.modeWord() << " shots " << s.shotsPerLine() << " lines " << s.lines()
          << " gate " << int(s.rangeGate()) << " average " << int(s.averageWindow()) << " range "
          << s.rangeMin() << " " << s.rangeMax() << " snr " << s.snrThreshold() << "\n";
        if (size == 0) {
            EXPECT_FALSE(saveLaserScanSettings(root, s)); // no CAL folder yet
            EXPECT_FALSE(std::filesystem::exists(path));
            std::filesystem::create_directories(root.calDir());
        }
    }
    test::expectGolden("laserscan_settings.txt", t.str());
    std::filesystem::remove(path);
    ASSERT_TRUE(saveLaserScanSettings(root, s));
    EXPECT_EQ(test::readBytes(path), image);
}

} // namespace
} // namespace quarv
