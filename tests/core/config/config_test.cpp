#include "core/app/message_sink.hpp"
#include "core/cloud/cloud_test_util.hpp"
#include "core/config/config_root.hpp"
#include "core/config/layer_list.hpp"
#include "core/config/records.hpp"
#include "core/config/viewer_settings.hpp"
#include "support/golden.hpp"
#include "support/test_support.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>

namespace quarv {
namespace {

// layers.lcfg written, read back and read from a file cut at a field's end; the viewer settings
// blocks and the control conversions; a job name longer than its field.
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
    PointLayer layers[5], in[5], cut[2];
    for (int i = 0; i < 5; ++i) {
        PointLayer& l = layers[i];
        l.colorFrom = {std::uint8_t(i), 2, 3}, l.colorFromExtra = 7,
        l.colorTo = {250, 251, std::uint8_t(252 - i)};
        l.colorToExtra = 9, l.colorMode = std::uint32_t(i), l.inUse = i == 2,
        l.showSaturated = i % 2;
        l.pointSize = std::uint8_t(i + 1), l.snrMin = 1.5f * i, l.filterDistance = 0.01 * i + 0.05;
        l.neighbourFilter = i % 2 == 0, l.rangeMin = 0.25f * i, l.rangeMax = 10.0f + i;
    }
    ASSERT_TRUE(writeLayerList(layers, 5, root, "layers"));
    auto file = test::readBytes(layerListPath(root, "layers"));
    bytes("layers.lcfg", file);
    ASSERT_TRUE(readLayerList(in, 5, root, "layers"));
    t.put("read back (in use never is)");
    for (const PointLayer& l : in) layer(l);
    file.resize(36 + 32); // the second entry ends with its range minimum
    test::writeBytes(layerListPath(root, "layers"), file);
    ASSERT_TRUE(readLayerList(cut, 2, root, "layers"));
    t.put("cut after the second range minimum");
    for (const PointLayer& l : cut) layer(l);

    for (double v : {0.0, 12.9, 255.0, 256.0, -1.0, 300.7, -0.9, -1.5, 511.99, -257.0, 65543.0,
                     1e12, -1e12, 1e300, double(NAN)})
        t.put("control", v, ":", controlToByte(v), controlToCutoff(v), controlToThreshold(v));
    const QuarvSettings q{12.0f, 44.0f, {1, 2, 3}, {4, 5, 6}, {7, 8, 9}};
    const ColorSettings c{-5,
                          70000,
                          3,
                          {10, 11, 12},
                          {13, 14, 15},
                          {16, 17, 18},
                          {19, 20, 21},
                          {22, 23, 24},
                          {25, 26, 27},
                          {28, 29, 30},
                          4};
    bytes("quarv.mcfg", q.encode());
    bytes("colorcfg.mcfg", c.encode());
    EXPECT_EQ(QuarvSettings::decode(q.encode()), q);
    EXPECT_EQ(ColorSettings::decode(c.encode()), c);
    EnvCfg env;
    env.setJob(std::string(100, 'j'));
    env.setSensor("S-1");
    t.put("job", env.job(), "sensor", env.sensor());
    bytes("environment", env.bytes);
    test::expectGolden("config_settings_files.txt", t.str());
}

TEST(Config, MissingShortAndUnwritableFiles) {
    test::TempDir dir;
    const ConfigRoot root(dir.path());
    std::filesystem::create_directories(root.cfgDir());
    // A missing layer list zeroes settings and statistics; each layer keeps its point array.
    PointLayer layers[2];
    CloudPoint slot;
    layers[1].rangeMax = 5, layers[1].pointSize = 3, layers[1].sumX = 4, layers[1].points = &slot;
    EXPECT_FALSE(readLayerList(layers, 2, root, "layers"));
    EXPECT_EQ(layers[1].rangeMax, 0.0f);
    EXPECT_EQ(layers[1].pointSize, 0);
    EXPECT_EQ(layers[1].sumX, 0.0);
    EXPECT_EQ(layers[1].points, &slot);
    // A file that cannot be written leaves the one there intact.
    ASSERT_TRUE(writeLayerList(layers, 2, root, "layers"));
    const auto before = test::readBytes(layerListPath(root, "layers"));
    EXPECT_FALSE(writeLayerList(layers, 2, ConfigRoot(dir / "nowhere"), "layers"));
    EXPECT_EQ(test::readBytes(layerListPath(root, "layers")), before);

    // Viewer settings: missing files load zeros over what the caller held, a short file fills
    // the bytes it holds, both files round trip.
    EXPECT_EQ(quarvSettingsPath(root), dir.path() / "CFG" / "quarv.mcfg");
    EXPECT_EQ(colorSettingsPath(root), dir.path() / "CFG" / "colorcfg.mcfg");
    QuarvSettings q{7, 0, {}, {}, {9, 8, 7}}, qIn = q;
    ColorSettings c, cIn;
    c.pointSize = 3, c.saturationRgb = {255, 0, 1}, cIn = c;
    EXPECT_FALSE(loadQuarvSettings(quarvSettingsPath(root), qIn) ||
                 loadColorSettings(colorSettingsPath(root), cIn));
    EXPECT_EQ(qIn, QuarvSettings{});
    EXPECT_EQ(cIn, ColorSettings{});
    ASSERT_TRUE(saveQuarvSettings(quarvSettingsPath(root), q) &&
                saveColorSettings(colorSettingsPath(root), c));
    EXPECT_TRUE(loadQuarvSettings(quarvSettingsPath(root), qIn) &&
                loadColorSettings(colorSettingsPath(root), cIn));
    EXPECT_EQ(qIn, q);
    EXPECT_EQ(cIn, c);
    test::writeBytes(colorSettingsPath(root), {1, 0, 0, 0, 2, 0});
    EXPECT_TRUE(loadColorSettings(colorSettingsPath(root), cIn));
    EXPECT_EQ(cIn, (ColorSettings{1, 2, 0, {}, {}, {}, {}, {}, {}, {}, 0}));
    EXPECT_FALSE(saveQuarvSettings(dir.path() / "nowhere" / "quarv.mcfg", q));
}

TEST(ConfigRoot, FirstStartCreatesDefaultsThenLeavesTheRootAlone) {
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
}

TEST(ConfigRoot, EnvironmentOrder) {
    const char* names[3] = {"QUARV_HOME", "XDG_CONFIG_HOME", "HOME"};
    const char* expected[3] = {"/q", "/x/quarv", "/h/.config/quarv"};
    std::optional<std::string> saved[3];
    for (int i = 0; i < 3; ++i) {
        if (const char* v = std::getenv(names[i])) saved[i] = v;
        ::setenv(names[i], i == 0 ? "/q" : i == 1 ? "/x" : "/h", 1);
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
