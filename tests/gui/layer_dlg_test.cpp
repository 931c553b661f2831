#include "core/cloud/cloud_store.hpp"
#include "gui/dialogs/layer_dlg.hpp"
#include "gui_support.hpp"

#include <QCheckBox>
#include <QLabel>

#include <gtest/gtest.h>

#include <cstring>

namespace quarv {
namespace {

struct LayerDialog : ::testing::Test {
    CloudStore store;
    RecordingSink sink;
    layerDlg dlg{store, sink};
    QString filterSeen;
    QString answer; // what the file chooser returns

    LayerDialog() {
        for (std::uint32_t i = 0; i < LAYER_COUNT; ++i) {
            PointLayer& l = store.layer(i);
            l.colorFrom = {static_cast<std::uint8_t>(10 * i), 20, 30};
            l.colorTo = {200, static_cast<std::uint8_t>(210 + i), 220};
            l.colorFromExtra = 9;
            l.colorMode = i == 0 ? kColorByRange : i == 1 ? kColorByAmplitudeRank : kColorBySnrRank;
            l.inUse = i % 2;
            l.showSaturated = i == 4;
            l.pointSize = static_cast<std::uint8_t>(i + 1);
            l.rangeMin = 0.5f * static_cast<float>(i);
            l.rangeMax = 10.25f + static_cast<float>(i);
            l.snrMin = 3.0f;
            l.neighbourFilter = i != 3;
            l.filterDistance = 0.05;
        }
        std::strcpy(store.layer(2).name.data(), "/data/scan-7.raw");
        dlg.setFileChooser([this](QWidget*, const QString&, const QString& filter) {
            filterSeen = filter;
            return answer;
        });
        dlg.setColorChooser([](QWidget*, const QColor&) { return QColor(1, 2, 3); });
    }
    template <typename T> T& control(int layer, const char* name) {
        T* w = dlg.findChild<T*>(QStringLiteral("layer%1.%2").arg(layer).arg(name));
        EXPECT_NE(w, nullptr) << layer << name;
        return *w;
    }
    QCheckBox& box(int layer, const char* name) { return control<QCheckBox>(layer, name); }
    QDoubleSpinBox& edit(int layer, const char* name) {
        return control<QDoubleSpinBox>(layer, name);
    }
};

TEST_F(LayerDialog, OpeningShowsEveryLayerRecord) {
    dlg.show();
    EXPECT_EQ(dlg.windowTitle(), "Layer Selection Dialog");
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        const PointLayer& l = store.layer(static_cast<std::uint32_t>(i));
        EXPECT_EQ(box(i, "enabled").isChecked(), l.inUse != 0);
        EXPECT_EQ(box(i, "range").isChecked(), i == 0);
        EXPECT_EQ(box(i, "intensity").isChecked(), i == 1);
        EXPECT_EQ(box(i, "saturated").isChecked(), i == 4);
        EXPECT_EQ(box(i, "clutterEnable").isChecked(), i != 3);
        EXPECT_EQ(edit(i, "ptSize").value(), i + 1);
        EXPECT_FLOAT_EQ(edit(i, "rangeMin").value(), l.rangeMin);
        EXPECT_FLOAT_EQ(edit(i, "rangeMax").value(), l.rangeMax);
        EXPECT_EQ(edit(i, "snrMin").value(), 3.0);
        EXPECT_EQ(edit(i, "minDist").value(), 0.05);
    }
    EXPECT_EQ(control<QLabel>(2, "filename").text(), "/data/scan-7.raw");
    for (const char* caption : {"Load File", "Enabled", "Range", "Intensity", "Saturated",
                                "Start Color", "End Color", "Enable"})
        EXPECT_NE(test::nthButton(dlg, caption, 4), nullptr) << caption;
    ASSERT_NE(test::button(dlg, "Perform Updates"), nullptr);
    test::screenshot(dlg, "layer_dlg");
}

TEST_F(LayerDialog, RangeAndIntensityExcludeEachOther) {
    dlg.show();
    test::click(box(0, "intensity")); // range was ticked
    EXPECT_TRUE(box(0, "intensity").isChecked());
    EXPECT_FALSE(box(0, "range").isChecked());
    test::click(box(0, "range"));
    EXPECT_TRUE(box(0, "range").isChecked());
    EXPECT_FALSE(box(0, "intensity").isChecked());
    test::click(box(0, "range")); // unticking leaves both clear
    EXPECT_FALSE(box(0, "range").isChecked());
    EXPECT_FALSE(box(0, "intensity").isChecked());
}

TEST_F(LayerDialog, PerformUpdatesWritesEveryRowIntoItsRecord) {
    dlg.show();
    test::typeValue(edit(0, "ptSize"), "3.9");
    test::typeValue(edit(1, "rangeMin"), "1.125");
    test::typeValue(edit(1, "rangeMax"), "7.5");
    test::typeValue(edit(2, "snrMin"), "12.5");
    test::typeValue(edit(3, "minDist"), "0.125");
    test::typeValue(edit(4, "ptSize"), "257");
    test::click(box(1, "enabled"));
    test::click(box(3, "clutterEnable"));
    test::click(box(4, "saturated"));
    test::click(box(2, "intensity")); // SNR-coloured layer becomes intensity-coloured
    test::click(box(0, "range"));     // neither box: colorMode stays 1
    test::click(control<QPushButton>(3, "startColor"));
    test::click(*test::button(dlg, "Perform Updates"));
    EXPECT_EQ(dlg.result(), QDialog::Accepted);

    EXPECT_EQ(store.layer(0).pointSize, 3);
    EXPECT_EQ(store.layer(0).colorMode, kColorByRange);
    EXPECT_EQ(store.layer(1).inUse, 0);
    EXPECT_EQ(store.layer(1).rangeMin, 1.125f);
    EXPECT_EQ(store.layer(1).rangeMax, 7.5f);
    EXPECT_EQ(store.layer(1).colorMode, kColorByAmplitudeRank);
    EXPECT_EQ(store.layer(2).snrMin, 12.5f);
    EXPECT_EQ(store.layer(2).colorMode, kColorByAmplitudeRank);
    EXPECT_EQ(store.layer(3).colorMode, kColorBySnrRank);
    EXPECT_EQ(store.layer(3).neighbourFilter, 1);
    EXPECT_EQ(store.layer(3).filterDistance, 0.125);
    EXPECT_EQ(store.layer(3).colorFrom, (Rgb{1, 2, 3}));
    EXPECT_EQ(store.layer(3).colorTo, (Rgb{200, 213, 220}));
    EXPECT_EQ(store.layer(3).colorFromExtra, 0); // the fourth colour byte is written as 0
    EXPECT_EQ(store.layer(4).pointSize, 1);      // 257 keeps its low 8 bits
    EXPECT_EQ(store.layer(4).showSaturated, 0);
    EXPECT_EQ(store.layer(4).inUse, 0);
    std::uint32_t layer = 9;
    std::string path;
    EXPECT_FALSE(dlg.chosenFile(layer, path));
}

TEST_F(LayerDialog, LoadFileChoosesTheLayerAndAppliesAllRows) {
    dlg.show();
    answer = "/scans/site 4/line_0001.raw";
    test::typeValue(edit(0, "snrMin"), "8");
    test::click(control<QPushButton>(3, "load"));
    EXPECT_EQ(filterSeen, "3D Files (*.las *.3DC *.raw)");
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(store.layer(0).snrMin, 8.0f);
    std::uint32_t layer = 0;
    std::string path;
    ASSERT_TRUE(dlg.chosenFile(layer, path));
    EXPECT_EQ(layer, 3u);
    EXPECT_EQ(path, "/scans/site 4/line_0001.raw");

    // The next showing starts without a chosen file.
    dlg.show();
    EXPECT_FALSE(dlg.chosenFile(layer, path));
}

TEST_F(LayerDialog, CancelledOrRefusedFileChoicesKeepTheDialogOpen) {
    const PointLayer before = store.layer(1);
    dlg.show();
    test::typeValue(edit(1, "snrMin"), "99");
    answer.clear(); // the operator cancels the file dialog
    test::click(control<QPushButton>(1, "load"));
    EXPECT_TRUE(dlg.isVisible());
    std::uint32_t layer;
    std::string path;
    EXPECT_FALSE(dlg.chosenFile(layer, path));

    answer = "/" + QString(299, 'p'); // a long path is kept whole
    test::click(control<QPushButton>(1, "load"));
    ASSERT_TRUE(dlg.chosenFile(layer, path));
    EXPECT_EQ(path.size(), 300u);
    EXPECT_EQ(layer, 1u);

    // Cancel leaves every record as it was.
    dlg.show();
    test::typeValue(edit(1, "snrMin"), "42");
    test::click(box(1, "saturated"));
    test::click(*test::button(dlg, "Cancel"));
    EXPECT_EQ(dlg.result(), QDialog::Rejected);
    EXPECT_EQ(store.layer(1).snrMin, 99.0f); // from the confirmed load above
    EXPECT_EQ(store.layer(1).showSaturated, before.showSaturated);
    EXPECT_EQ(store.layer(1).colorMode, before.colorMode);
}

} // namespace
} // namespace quarv
