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
    for (PointLayer& l : in) l.inUse = 1; // a layer in use before the read
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

    // Missing files zero what the caller held (a layer keeps its point array); a short file
    // fills the bytes it holds; the files round trip; a file that cannot be written is refused
    // and leaves the one there intact.
    CloudPoint slot;
    cut[1].sumX = 4, cut[1].points = &slot;
    const bool listRead = readLayerList(cut, 2, root, "none"); // arguments: any order
    t.put("missing layer list", listRead, cut[1].sumX, cut[1].points == &slot);
    layer(cut[1]);
    QuarvSettings qIn = q;
    ColorSettings cIn = c;
    t.put("missing settings", loadQuarvSettings(dir / "none", qIn),
          loadColorSettings(dir / "none", cIn));
    bytes("", qIn.encode());
    bytes("", cIn.encode());
    t.put("paths", quarvSettingsPath(root).lexically_relative(dir.path()).string(),
          colorSettingsPath(root).lexically_relative(dir.path()).string());
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
