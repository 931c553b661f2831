#include "core/app/message_sink.hpp"
#include "core/cloud/cloud_test_util.hpp"
#include "core/config/config_root.hpp"
#include "core/config/layer_list.hpp"
#include "core/config/viewer_settings.hpp"
#include "core/scan/laser_scan_settings.hpp"
#include "core/waveform/waveform_processor.hpp"
#include "support/golden.hpp"
#include "support/test_support.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace quarv {
namespace {

// layers.lcfg written, read back and read from a file cut at a field's end; the viewer settings
// blocks and the control conversions; missing and short files.
TEST(Config, SettingsFilesTranscript) {
    test::Transcript t;
    auto bytes = [&](const char* name, const auto& b) {
        t.out << name;
        for (std::size_t i = 0; i < b.size(); ++i) t.out << (i % 36 ? " " : "\n ") << int(b[i]);
        t.out << "\n";
    };
    auto layer = [&](const PointLayer& l) {
        t.put(" ", l.colorFrom, l.colorFromExtra, l.colorTo, l.colorToExtra, l.colorMode, l.inUse,
              l.showSaturated, l.pointSize, l.snrMin, l.filterDistance, l.neighbourFilter,
              l.rangeMin, l.rangeMax);
    };
    test::TempDir dir;
    const ConfigRoot root(dir.path());
    std::filesystem::create_directories(root.cfgDir());
    // Patterned bytes read as 5 entries (in use before the read; never after it) and written back;
    // then read from the file cut where the second entry's range minimum ends.
    std::vector<std::uint8_t> file(5 * 36);
    for (std::size_t i = 0; i < file.size(); ++i) file[i] = std::uint8_t(i * 53 + 7);
    test::writeBytes(layerListPath(root, "layers"), file);
    PointLayer layers[5], cut[2];
    for (PointLayer& l : layers) l.inUse = 1;
    ASSERT_TRUE(readLayerList(layers, 5, root, "layers"));
    for (const PointLayer& l : layers) layer(l);
    ASSERT_TRUE(writeLayerList(layers, 5, root, "layers"));
    bytes("layers.lcfg", test::readBytes(layerListPath(root, "layers")));
    file.resize(36 + 32);
    test::writeBytes(layerListPath(root, "layers"), file);
    ASSERT_TRUE(readLayerList(cut, 2, root, "layers"));
    t.put("cut after the second range minimum");
    for (const PointLayer& l : cut) layer(l);
    ASSERT_TRUE(writeLayerList(layers, 5, root, "layers"));

    for (double v : {0.0, 12.9, 255.0, 256.0, -1.0, 300.7, -0.9, -1.5, 511.99, -257.0, 65543.0,
                     1e12, -1e12, 1e300, double(NAN)})
        t.put("control", v, ":", controlToByte(v), controlToCutoff(v), controlToThreshold(v));
    std::array<std::uint8_t, kColorSettingsSize> pattern;
    for (std::size_t i = 0; i < pattern.size(); ++i) pattern[i] = std::uint8_t(i * 37 + 11);
    const ColorSettings c = ColorSettings::decode(pattern);
    const QuarvSettings q{12.0f, 44.0f, {1, 2, 3}, {4, 5, 6}, {7, 8, 9}};
    t.put("colorcfg.mcfg", c.lowIntensity, c.mediumIntensity, c.highIntensity, c.lowIntensityRgb,
          c.lowStartRgb, c.lowEndRgb, c.mediumStartRgb, c.mediumEndRgb, c.highIntensityRgb,
          c.saturationRgb, c.pointSize);
    EXPECT_EQ(c.encode(), pattern);
    bytes("quarv.mcfg", q.encode());
    EXPECT_EQ(QuarvSettings::decode(q.encode()), q);

    // Missing files zero what the caller held (a layer keeps its point array); a short file
    // fills the bytes it holds; the files round trip; a file that cannot be written is refused
    // and leaves the one there intact. The missing files are FIFOs, which must read as missing
    // instead of blocking the start for ever (the alarm ends a read that blocks, and the test).
    std::filesystem::create_directories(root.calDir());
    for (const auto& f : {layerListPath(root, "none"), dir / "none", laserScanSettingsPath(root),
                          root.pulseTemplatePath()})
        ASSERT_EQ(::mkfifo(f.c_str(), 0600), 0) << f;
    ::alarm(20);
    CloudPoint slot;
    cut[1].sumX = 4, cut[1].points = &slot;
    const bool listRead = readLayerList(cut, 2, root, "none"); // arguments: any order
    t.put("missing layer list", listRead, cut[1].sumX, cut[1].points == &slot);
    layer(cut[1]);
    QuarvSettings qIn = q;
    ColorSettings cIn = c;
    LaserScanSettings scan;
    NullSink quiet;
    t.put("missing settings", loadQuarvSettings(dir / "none", qIn),
          loadColorSettings(dir / "none", cIn), loadLaserScanSettings(root, scan),
          WaveformProcessor(root, quiet).templateComplete());
    ::alarm(0);
    EXPECT_EQ(scan.bytes, LaserScanSettings::defaults().bytes);
    bytes("", qIn.encode());
    bytes("", cIn.encode());
    const bool saved = saveQuarvSettings(quarvSettingsPath(root), q) &&
                       saveColorSettings(colorSettingsPath(root), c);
    const bool loaded = loadQuarvSettings(quarvSettingsPath(root), qIn) &&
                        loadColorSettings(colorSettingsPath(root), cIn);
    t.put("saved and loaded", saved, loaded, qIn == q, cIn == c);
    test::writeBytes(colorSettingsPath(root), {1, 0, 0, 0, 2, 0});
    t.put("short", loadColorSettings(colorSettingsPath(root), cIn));
    bytes("", cIn.encode());
    const auto before = test::readBytes(layerListPath(root, "layers"));
    t.put("unwritable", writeLayerList(layers, 2, ConfigRoot(dir / "nowhere"), "layers"),
          saveQuarvSettings(dir / "nowhere" / "quarv.mcfg", q));
    EXPECT_EQ(test::readBytes(layerListPath(root, "layers")), before);
    test::expectGolden("config_settings_files.txt", t.str());
}

// The first start creates the defaults and then leaves the root alone; the root comes from the
// environment in a fixed order.
TEST(ConfigRoot, FirstStartAndEnvironmentOrder) {
    test::TempDir dir;
    ConfigRoot root(dir / "home");
    RecordingSink sink;
    ASSERT_TRUE(root.ensureCreated(sink));
    EXPECT_EQ(std::filesystem::file_size(root.pulseTemplatePath()), 800u);
    EXPECT_EQ(std::filesystem::file_size(layerListPath(root, "layers")), 180u);
    std::filesystem::remove(layerListPath(root, "layers")); // the operator's choice stays
    ASSERT_TRUE(root.ensureCreated(sink));
    EXPECT_FALSE(std::filesystem::exists(layerListPath(root, "layers")));
    EXPECT_TRUE(sink.messages().empty());
    const char *names[3] = {"QUARV_HOME", "XDG_CONFIG_HOME", "HOME"},
               *values[3] = {"/q", "/x", "/h"};
    const char* expected[3] = {"/q", "/x/quarv", "/h/.config/quarv"};
    std::optional<std::string> saved[3];
    for (int i = 0; i < 3; ++i) {
        if (const char* v = std::getenv(names[i])) saved[i] = v;
        ::setenv(names[i], values[i], 1);
    }
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(ConfigRoot::fromEnvironment().root(), expected[i]);
        ::unsetenv(names[i]);
    }
    for (int i = 0; i < 3; ++i)
        if (saved[i]) ::setenv(names[i], saved[i]->c_str(), 1);
}

} // namespace
} // namespace quarv
