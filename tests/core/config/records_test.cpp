#include "core/app/message_sink.hpp"
#include "core/config/config_root.hpp"
#include "core/config/layer_list.hpp"
#include "core/config/records.hpp"
#include "support/test_support.hpp"

#include <gtest/gtest.h>

#include <cstring>

namespace quarv {
namespace {

TEST(Records, SizesAreTheOnDiskImages) {
    EXPECT_EQ(sizeof(ScannerCfg{}.bytes), 27u);
    EXPECT_EQ(sizeof(DigitizerCfg{}.bytes), 39u);
    EXPECT_EQ(sizeof(ProcessingCfg{}.bytes), 72u);
    EXPECT_EQ(sizeof(EnvCfg{}.bytes), 226u);
    EXPECT_EQ(sizeof(PanTiltCfg{}.bytes), 16u);
    EXPECT_EQ(sizeof(CalibrationCfg{}.bytes), 120u);
}

TEST(Records, AccessorsDecodeLittleEndianAtTheirOffsets) {
    DigitizerCfg d;
    d.bytes[0] = 0x58, d.bytes[1] = 0x02; // 600
    d.bytes[2] = 0x64, d.bytes[3] = 0x00; // 100
    const float t = 12.5f;
    std::memcpy(&d.bytes[34], &t, 4);
    d.bytes[38] = 9;
    EXPECT_EQ(d.samplesPerPulse(), 600);
    EXPECT_EQ(d.pulsesPerRecord(), 100);
    EXPECT_FLOAT_EQ(d.temperatureC(), 12.5f);
    EXPECT_EQ(d.gainCode(), 9);

    CalibrationCfg c;
    c.setFrontGlassOffsetM(0.25f);
    c.setTempCoefC0(-3.5);
    float g;
    double c0;
    std::memcpy(&g, &c.bytes[76], 4);
    std::memcpy(&c0, &c.bytes[48], 8);
    EXPECT_EQ(g, 0.25f);
    EXPECT_EQ(c0, -3.5);

    EnvCfg e;
    e.setJob(std::string(100, 'j')); // longer than the field: cut, terminated
    EXPECT_EQ(e.job().size(), 47u);
    EXPECT_EQ(e.bytes[25 + 47], 0);
    e.setSensor("S-1");
    EXPECT_EQ(e.sensor(), "S-1");
}

PointLayer sampleLayer(int i) {
    PointLayer l;
    l.colorFrom = {static_cast<std::uint8_t>(i), 2, 3};
    l.colorFromExtra = 7;
    l.colorTo = {250, 251, static_cast<std::uint8_t>(252 - i)};
    l.colorMode = static_cast<std::uint32_t>(i);
    l.inUse = i == 2;
    l.showSaturated = i % 2;
    l.pointSize = static_cast<std::uint8_t>(i + 1);
    l.snrMin = 1.5f * i;
    l.filterDistance = 0.01 * i + 0.05;
    l.neighbourFilter = i % 2 == 0;
    l.rangeMin = 0.25f * i;
    l.rangeMax = 10.0f + i;
    return l;
}

TEST(LayerList, RoundTripForcesInUseToZero) {
    test::TempDir dir;
    ConfigRoot root(dir.path());
    std::filesystem::create_directories(root.cfgDir());
    PointLayer out[5], in[5];
    for (int i = 0; i < 5; ++i) out[i] = sampleLayer(i);
    ASSERT_TRUE(writeLayerList(out, 5, root, "layers"));
    const auto bytes = test::readBytes(root.cfgFile("layers.lcfg"));
    ASSERT_EQ(bytes.size(), 180u);
    EXPECT_EQ(bytes[2 * 36 + 12], 1); // inUse is written...
    ASSERT_TRUE(readLayerList(in, 5, root, "layers"));
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(in[i].inUse, 0); // ...and ignored when read
        EXPECT_EQ(in[i].colorFrom, out[i].colorFrom);
        EXPECT_EQ(in[i].colorFromExtra, 7);
        EXPECT_EQ(in[i].colorTo, out[i].colorTo);
        EXPECT_EQ(in[i].colorMode, out[i].colorMode);
        EXPECT_EQ(in[i].showSaturated, out[i].showSaturated);
        EXPECT_EQ(in[i].pointSize, out[i].pointSize);
        EXPECT_EQ(in[i].snrMin, out[i].snrMin);
        EXPECT_EQ(in[i].filterDistance, out[i].filterDistance);
        EXPECT_EQ(in[i].neighbourFilter, out[i].neighbourFilter);
        EXPECT_EQ(in[i].rangeMin, out[i].rangeMin);
        EXPECT_EQ(in[i].rangeMax, out[i].rangeMax);
    }
}

TEST(LayerList, MissingFileZeroesSettingsAndStatistics) {
    test::TempDir dir;
    ConfigRoot root(dir.path());
    PointLayer layers[5];
    CloudPoint slot;
    for (int i = 0; i < 5; ++i) {
        layers[i] = sampleLayer(i);
        layers[i].sumX = 4.0;
        layers[i].points = &slot;
    }
    EXPECT_FALSE(readLayerList(layers, 5, root, "layers"));
    for (const auto& l : layers) {
        EXPECT_EQ(l.pointSize, 0);
        EXPECT_EQ(l.colorFrom, Rgb{});
        EXPECT_EQ(l.colorTo, Rgb{});
        EXPECT_EQ(l.rangeMin, 0.0f);
        EXPECT_EQ(l.rangeMax, 0.0f);
        EXPECT_EQ(l.snrMin, 0.0f);
        EXPECT_EQ(l.colorMode, 0u);
        EXPECT_EQ(l.sumX, 0.0);
        EXPECT_EQ(l.points, &slot); // the layer keeps its point array
    }
}

TEST(LayerList, FailedWriteLeavesExistingFileIntact) {
    test::TempDir dir;
    ConfigRoot root(dir.path());
    std::filesystem::create_directories(root.cfgDir());
    PointLayer layers[5];
    ASSERT_TRUE(writeLayerList(layers, 5, root, "layers"));
    const auto before = test::readBytes(root.cfgFile("layers.lcfg"));
    ConfigRoot missing(dir / "nowhere");
    EXPECT_FALSE(writeLayerList(layers, 5, missing, "layers"));
    EXPECT_EQ(test::readBytes(root.cfgFile("layers.lcfg")), before);
}

TEST(ConfigRoot, FirstStartCreatesDefaultsThenLeavesTheRootAlone) {
    test::TempDir dir;
    ConfigRoot root(dir / "home");
    RecordingSink sink;
    ASSERT_TRUE(root.ensureCreated(sink));
    EXPECT_EQ(std::filesystem::file_size(root.pulseTemplatePath()), 800u);
    EXPECT_EQ(std::filesystem::file_size(root.cfgFile("layers.lcfg")), 180u);
    // A file the operator removed is not recreated behind their back.
    std::filesystem::remove(root.cfgFile("layers.lcfg"));
    ASSERT_TRUE(root.ensureCreated(sink));
    EXPECT_FALSE(std::filesystem::exists(root.cfgFile("layers.lcfg")));
    EXPECT_TRUE(sink.messages().empty());
}

TEST(ConfigRoot, EnvironmentOrder) {
    const char* saved[3] = {std::getenv("QUARV_HOME"), std::getenv("XDG_CONFIG_HOME"),
                            std::getenv("HOME")};
    std::string keep[3];
    for (int i = 0; i < 3; ++i) keep[i] = saved[i] ? saved[i] : "";
    ::setenv("QUARV_HOME", "/q", 1);
    ::setenv("XDG_CONFIG_HOME", "/x", 1);
    ::setenv("HOME", "/h", 1);
    EXPECT_EQ(ConfigRoot::fromEnvironment().root(), "/q");
    ::unsetenv("QUARV_HOME");
    EXPECT_EQ(ConfigRoot::fromEnvironment().root(), "/x/quarv");
    ::unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(ConfigRoot::fromEnvironment().root(), "/h/.config/quarv");
    const char* names[3] = {"QUARV_HOME", "XDG_CONFIG_HOME", "HOME"};
    for (int i = 0; i < 3; ++i) {
        if (saved[i]) ::setenv(names[i], keep[i].c_str(), 1);
        else ::unsetenv(names[i]);
    }
}

} // namespace
} // namespace quarv
