// The batch's up-to-date rule: which changes make a recording's digest change (everything its
// outputs follow from) and which must not (what a run itself rewrites in laserscan.cfg), and a
// stamp read back as written.
#include "core/campaign/campaign_stamp.hpp"
#include "core/config/config_root.hpp"
#include "core/scan/laser_scan_settings.hpp"
#include "support/test_support.hpp"

#include <gtest/gtest.h>

#include <functional>

namespace quarv {
namespace {

namespace fs = std::filesystem;

TEST(CampaignStamp, DigestFollowsEverythingTheOutputsComeFrom) {
    test::TempDir dir;
    const ConfigRoot root(dir / "home");
    RecordingSink sink;
    ASSERT_TRUE(root.ensureCreated(sink));
    const fs::path rec = dir / "x.raw";
    test::writeBytes(rec, {1, 2, 3});
    const auto digest = [&] { return recordingDigest("layer 0\n" + configurationText(root), rec); };
    const auto rewriteSettings = [&](int at, std::uint8_t value) {
        LaserScanSettings s;
        loadLaserScanSettings(root, s);
        s.bytes[at] = value;
        saveLaserScanSettings(root, s);
    };
    const struct {
        const char* change;
        bool changesDigest;
        std::function<void()> apply;
    } cases[] = {
        {"a run writes its window and limit", false, [&] { rewriteSettings(18, 0x41); }},
        {"average window 0 is kept as 1", false, [&] { rewriteSettings(17, 1); }},
        {"range gate", true, [&] { rewriteSettings(16, 0); }},
        {"layer list", true, [&] { test::writeBytes(root.cfgFile("layers.lcfg"), {7}); }},
        {"pulse template", true, [&] { test::writeBytes(root.pulseTemplatePath(), {7}); }},
        {"recording rewritten", true,
         [&] {
             test::writeBytes(rec, {1, 2, 4, 5});
         }},
        {"pose sidecar appears", true, [&] { test::writeBytes(dir / "x.pose.json", {'{'}); }},
    };
    rewriteSettings(17, 0);
    for (const auto& c : cases) {
        const std::string before = digest();
        c.apply();
        EXPECT_EQ(digest() != before, c.changesDigest) << c.change;
    }
    EXPECT_NE(recordingDigest("layer 1\n", rec), recordingDigest("layer 0\n", rec));

    const CampaignStamp written{digest(),
                                {"x.las", "x y.xyz"},
                                {.kind = "peak line", .lines = 6, .points = 144, .rangeMax = 4.5f}};
    const fs::path stamp = stampPath(dir / "out/x");
    fs::create_directories(stamp.parent_path());
    ASSERT_TRUE(writeStamp(stamp, written));
    CampaignStamp read;
    EXPECT_FALSE(isUpToDate(stamp, written.digest, read)) << "its outputs are missing";
    test::writeBytes(dir / "out/x.las", {});
    test::writeBytes(dir / "out/x y.xyz", {});
    ASSERT_TRUE(isUpToDate(stamp, written.digest, read));
    EXPECT_FALSE(isUpToDate(stamp, "0000000000000000", read));
    EXPECT_EQ(read.outputs, written.outputs);
    EXPECT_EQ(read.summary.kind, "peak line");
    EXPECT_EQ(read.summary.lines, 6u);
    EXPECT_EQ(read.summary.points, 144u);
    EXPECT_EQ(read.summary.rangeMax, 4.5f);
}

} // namespace
} // namespace quarv
