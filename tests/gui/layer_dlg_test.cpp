// The layer selection dialog: the five records shown in their rows, written back by "Perform
// Updates" or a confirmed "Load File", untouched by Cancel and by refused file choices.
#include "core/cloud/cloud_store.hpp"
#include "gui/dialogs/layer_dlg.hpp"
#include "gui_support.hpp"
#include "support/golden.hpp"

#include <QCheckBox>

#include <gtest/gtest.h>

#include <cstring>

namespace quarv {
namespace {

struct LayerDialog : ::testing::Test {
    CloudStore store;
    RecordingSink sink;
    layerDlg dlg{store, sink};
    QString filterSeen, answer; // answer: what the file chooser returns
    std::uint32_t layer = 9;
    std::string path;

    LayerDialog() {
        for (std::uint32_t i = 0; i < LAYER_COUNT; ++i) { // every field differs between rows
            PointLayer& l = store.layer(i);
            l.colorFrom = {std::uint8_t(10 * i), 20, 30};
            l.colorTo = {200, std::uint8_t(210 + i), 220};
            l.colorFromExtra = 9;
            l.colorMode = i == 0 ? kColorByRange : i == 1 ? kColorByAmplitudeRank : kColorBySnrRank;
            l.inUse = i % 2;
            l.showSaturated = i == 4;
            l.pointSize = std::uint8_t(i + 1);
            l.rangeMin = 0.5f * float(i);
            l.rangeMax = 10.25f + float(i);
            l.snrMin = 3.0f + float(i);
            l.neighbourFilter = i != 3;
            l.filterDistance = 0.05 * (i + 1);
        }
        std::strcpy(store.layer(2).name.data(), "/data/scan-7.raw");
        dlg.setFileChooser([this](QWidget*, const QString&, const QString& filter) {
            filterSeen = filter;
            return answer;
        });
        dlg.setColorChooser([](QWidget*, const QColor&) { return QColor(1, 2, 3); });
        dlg.show();
    }
    template <typename T = QAbstractButton> T& control(int row, const char* name) {
        T* w = dlg.findChild<T*>(QStringLiteral("layer%1.%2").arg(row).arg(name));
        EXPECT_NE(w, nullptr) << row << name;
        return *w;
    }
    void type(int row, const char* name, const char* text) {
        test::typeValue(control<QDoubleSpinBox>(row, name), text);
    }
    std::string records() const {
        std::string out;
        for (std::uint32_t i = 0; i < LAYER_COUNT; ++i) {
            const PointLayer& l = store.layer(i);
            out += formatMessage(
                "layer %u: mode %u use %u sat %u size %u range %g-%g snr %g filter %u %g "
                "from %u,%u,%u,%u to %u,%u,%u\n",
                i, l.colorMode, l.inUse, l.showSaturated, l.pointSize, l.rangeMin, l.rangeMax,
                l.snrMin, l.neighbourFilter, l.filterDistance, l.colorFrom.r, l.colorFrom.g,
                l.colorFrom.b, l.colorFromExtra, l.colorTo.r, l.colorTo.g, l.colorTo.b);
        }
        return out;
    }
};

TEST_F(LayerDialog, ShowsEveryRecordAndPerformUpdatesWritesEveryRow) {
    std::string shown = dlg.windowTitle().toStdString() + "\n" + test::describeControls(dlg);
    type(0, "ptSize", "3.9");
    type(1, "rangeMin", "1.125");
    type(1, "rangeMax", "7.5");
    type(2, "snrMin", "12.5");
    type(3, "minDist", "0.125");
    type(4, "ptSize", "257"); // keeps its low 8 bits
    // Range and Intensity exclude each other; unticking both keeps the record's mode.
    for (auto [row, name] : {std::pair{1, "enabled"},
                             {3, "clutterEnable"},
                             {4, "saturated"},
                             {2, "intensity"},
                             {0, "intensity"},
                             {0, "range"},
                             {0, "range"},
                             {3, "startColor"}})
        test::click(control(row, name));
    shown += "== edited\n" + test::describeControls(dlg);
    test::click(*test::button(dlg, "Perform Updates"));
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_FALSE(dlg.chosenFile(layer, path));
    test::expectGolden("gui_layer_dialog.txt", shown + "== records\n" + records());
}

TEST_F(LayerDialog, LoadFileChoosesTheLayerAndAppliesAllRowsOrStaysOpen) {
    const std::string before = records();
    type(0, "snrMin", "8");
    answer.clear(); // the operator cancels the file dialog
    test::click(control(3, "load"));
    answer = "/" + QString(127, 'p'); // 128 characters: one too many
    test::click(control(3, "load"));
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_FALSE(dlg.chosenFile(layer, path));
    EXPECT_EQ(sink.last(), "ERROR, Layer, file path longer than 127 characters!");
    EXPECT_EQ(records(), before);

    answer = "/" + QString(126, 'p'); // exactly 127 is kept whole
    test::click(control(3, "load"));
    EXPECT_EQ(filterSeen, "3D Files (*.las *.3DC *.raw)");
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(store.layer(0).snrMin, 8.0f);
    ASSERT_TRUE(dlg.chosenFile(layer, path));
    EXPECT_EQ(layer, 3u);
    EXPECT_EQ(path, answer.toStdString());

    // The next showing starts without a chosen file; Cancel leaves every record as it was.
    dlg.show();
    EXPECT_FALSE(dlg.chosenFile(layer, path));
    const std::string confirmed = records();
    type(1, "snrMin", "42");
    test::click(control(1, "saturated"));
    test::click(*test::button(dlg, "Cancel"));
    EXPECT_EQ(dlg.result(), QDialog::Rejected);
    EXPECT_EQ(records(), confirmed);
}

} // namespace
} // namespace quarv
