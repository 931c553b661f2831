#include "core/config/config_root.hpp"
#include "gui/config/cfg_dlg.hpp"
#include "gui/config/color_cfg.hpp"
#include "gui_support.hpp"
#include "support/test_support.hpp"

#include <gtest/gtest.h>

#include <cstring>

namespace quarv {
namespace {

struct SettingsDialogs : ::testing::Test {
    test::TempDir dir;
    ConfigRoot root{dir.path()};
    SettingsDialogs() { std::filesystem::create_directories(root.cfgDir()); }
};

TEST_F(SettingsDialogs, CfgDlgSavesTheTypedValuesWithTheirConversions) {
    CfgDlg dlg(root);
    dlg.show();
    EXPECT_EQ(dlg.windowTitle(), "Quarv Configuration Dialog");
    // No quarv.mcfg yet: every control shows 0.
    for (const char* name :
         {"lowIntensityCutoff", "highIntensityCutoff", "startRgb.r", "midRgb.g", "highRgb.b"}) {
        ASSERT_NE(test::spin(dlg, name), nullptr) << name;
        EXPECT_EQ(test::spin(dlg, name)->value(), 0.0) << name;
    }
    test::typeValue(*test::spin(dlg, "lowIntensityCutoff"), "12.9");
    test::typeValue(*test::spin(dlg, "highIntensityCutoff"), "300.7");
    test::typeValue(*test::spin(dlg, "startRgb.r"), "256");
    test::typeValue(*test::spin(dlg, "startRgb.g"), "-1");
    test::typeValue(*test::spin(dlg, "startRgb.b"), "7");
    test::typeValue(*test::spin(dlg, "midRgb.g"), "128");
    test::typeValue(*test::spin(dlg, "highRgb.b"), "255");
    test::screenshot(dlg, "cfg_dlg");
    test::click(*test::button(dlg, "Save"));
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_FALSE(dlg.isVisible());

    const auto bytes = test::readBytes(root.cfgFile("quarv.mcfg"));
    ASSERT_EQ(bytes.size(), 17u);
    float low, high;
    std::memcpy(&low, bytes.data(), 4);
    std::memcpy(&high, bytes.data() + 4, 4);
    EXPECT_EQ(low, 12.0f);
    EXPECT_EQ(high, 44.0f);
    const std::vector<std::uint8_t> colours(bytes.begin() + 8, bytes.end());
    EXPECT_EQ(colours, (std::vector<std::uint8_t>{0, 255, 7, 0, 128, 0, 0, 0, 255}));

    // A new dialog object loads the file and shows the stored values.
    CfgDlg again(root);
    again.show();
    EXPECT_EQ(test::spin(again, "lowIntensityCutoff")->value(), 12.0);
    EXPECT_EQ(test::spin(again, "highIntensityCutoff")->value(), 44.0);
    EXPECT_EQ(test::spin(again, "startRgb.g")->value(), 255.0);
}

TEST_F(SettingsDialogs, CfgDlgCancelKeepsFieldsAndFileAndTheNextShowingRefreshes) {
    QuarvSettings stored;
    stored.lowIntensityCutoff = 5;
    stored.midRgb = {1, 2, 3};
    ASSERT_TRUE(saveQuarvSettings(root.cfgFile("quarv.mcfg"), stored));
    const auto before = test::readBytes(root.cfgFile("quarv.mcfg"));

    CfgDlg dlg(root);
    dlg.show();
    EXPECT_EQ(test::spin(dlg, "midRgb.b")->value(), 3.0);
    test::typeValue(*test::spin(dlg, "lowIntensityCutoff"), "99");
    test::typeValue(*test::spin(dlg, "midRgb.b"), "200");
    test::click(*test::button(dlg, "Cancel"));
    EXPECT_EQ(dlg.result(), QDialog::Rejected);
    EXPECT_EQ(dlg.settings(), stored);
    EXPECT_EQ(test::readBytes(root.cfgFile("quarv.mcfg")), before);

    dlg.show();
    EXPECT_EQ(test::spin(dlg, "lowIntensityCutoff")->value(), 5.0);
    EXPECT_EQ(test::spin(dlg, "midRgb.b")->value(), 3.0);
}

TEST_F(SettingsDialogs, ColorCfgSavesAllFieldsAndHandsOutThePointSize) {
    ColorCFG dlg(root);
    dlg.show();
    EXPECT_EQ(dlg.windowTitle(), "Intensity / SNR Color CFG");
    EXPECT_EQ(dlg.pointSize(), 0);
    test::typeValue(*test::spin(dlg, "lowIntensity"), "-20");
    test::typeValue(*test::spin(dlg, "mediumIntensity"), "300");
    test::typeValue(*test::spin(dlg, "highIntensity"), "70000");
    const char* colours[] = {"lowIntensityRgb", "lowStartRgb",  "lowEndRgb",
                             "mediumStartRgb",  "mediumEndRgb", "highIntensityRgb",
                             "saturationRgb"};
    int v = 1;
    for (const char* c : colours)
        for (const char* part : {".r", ".g", ".b"})
            test::typeValue(*test::spin(dlg, QString(c) + part), QString::number(v++));
    test::typeValue(*test::spin(dlg, "saturationRgb.b"), "-1"); // wraps to 255
    test::typeValue(*test::spin(dlg, "pointSize"), "4");
    test::screenshot(dlg, "color_cfg");
    // Saving changes nothing until "Save": the point size the application takes is the stored one.
    EXPECT_EQ(dlg.pointSize(), 0);
    test::click(*test::button(dlg, "Save"));
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_EQ(dlg.pointSize(), 4);

    const auto bytes = test::readBytes(root.cfgFile("colorcfg.mcfg"));
    ASSERT_EQ(bytes.size(), 34u);
    std::int32_t t[3];
    std::memcpy(t, bytes.data(), 12);
    EXPECT_EQ(t[0], -20);
    EXPECT_EQ(t[1], 300);
    EXPECT_EQ(t[2], 70000);
    for (int i = 0; i < 20; ++i) EXPECT_EQ(bytes[12 + i], i + 1) << i;
    EXPECT_EQ(bytes[32], 255);
    EXPECT_EQ(bytes[33], 4);

    ColorCFG again(root);
    EXPECT_EQ(again.pointSize(), 4);
    again.show();
    EXPECT_EQ(test::spin(again, "highIntensity")->value(), 70000.0);
    // Cancel after editing: the old value comes back on the next showing.
    test::typeValue(*test::spin(again, "pointSize"), "9");
    test::click(*test::button(again, "Cancel"));
    again.show();
    EXPECT_EQ(test::spin(again, "pointSize")->value(), 4.0);
    EXPECT_EQ(again.pointSize(), 4);
}

} // namespace
} // namespace quarv
