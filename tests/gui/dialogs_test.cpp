// The dialogs: what the operator types reaches the stored values, what is shown is a golden
// transcript, and refused or cancelled choices change nothing.
#include "core/cloud/cloud_store.hpp"
#include "core/config/config_root.hpp"
#include "core/config/viewer_settings.hpp"
#include "gui/config/cfg_dlg.hpp"
#include "gui/config/color_cfg.hpp"
#include "gui/dialogs/layer_dlg.hpp"
#include "gui/graph/num_edit.hpp"
#include "gui/graph/slide.hpp"
#include "gui/scanfile/file_info_dlg.hpp"
#include "gui/waveform/mf_pulse_dlg.hpp"
#include "gui_support.hpp"
#include "support/golden.hpp"
#include "support/recordings.hpp"
#include "support/test_support.hpp"

#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <cstring>

namespace quarv {
namespace {

struct Dialogs : ::testing::Test {
    test::TempDir dir;
    ConfigRoot root{dir.path() / "home"};
    RecordingSink sink;
    std::string shown;
    void SetUp() override { ASSERT_TRUE(root.ensureCreated(sink)); }
};

TEST_F(Dialogs, FileInformationShowsTheHeaderOfTheOpenerPathAndOfLoadedFiles) {
    FileInfoDlg dlg(sink);
    QString filterSeen, answer;
    dlg.setFileChooser([&](QWidget*, const QString&, const QString& filter) {
        filterSeen = filter;
        return answer;
    });
    dlg.setPath(test::makeRecording(dir.path(), "plane.raw", [](sim::SimOptions& o) {
                    o.scanner.scanType = 3;
                    o.scanner.sensor = "SENSOR-9";
                }).string());
    dlg.show();
    shown = dlg.windowTitle().toStdString() + "\n";
    for (const auto& next :
         {test::makeRecording(dir.path(), "bowtie.raw",
                              [](sim::SimOptions& o) { o.scanner.scanType = 4; }),
          dir.path() / "missing.raw"}) {
        shown += test::describe(dlg.lines(), dir.path());
        answer = QString::fromStdString(next.string());
        test::click(*test::button(dlg, "Load File")); // the dialog stays open
        EXPECT_TRUE(dlg.isVisible());
    }
    // An unreadable file is reported by the reader; the list shows the header still held.
    EXPECT_EQ(sink.messages(),
              std::vector<std::string>{"ERROR opening playback file: " + answer.toStdString()});
    EXPECT_EQ(filterSeen, "3D Files (*.raw)");
    test::expectGolden("gui_file_info.txt", shown + test::describe(dlg.lines(), dir.path()));
}

TEST_F(Dialogs, SettingsAreSavedWithTheirConversionsAndCancelKeepsThem) {
    std::filesystem::create_directories(root.cfgDir());
    CfgDlg cfg(root);
    ColorCFG colours(root);
    std::vector<std::pair<QString, QString>> typed[2] = {
        {{"lowIntensityCutoff", "12.9"},
         {"highIntensityCutoff", "300.7"},
         {"startRgb.r", "256"},
         {"startRgb.g", "-1"},
         {"startRgb.b", "7"},
         {"midRgb.g", "128"},
         {"highRgb.b", "255"}},
        {{"lowIntensity", "-20"}, {"mediumIntensity", "300"}, {"highIntensity", "70000"}}};
    int v = 1; // the colour map's 21 components take 1, 2, 3, ...; the last one -1
    for (const char* c : {"lowIntensityRgb", "lowStartRgb", "lowEndRgb", "mediumStartRgb",
                          "mediumEndRgb", "highIntensityRgb", "saturationRgb"})
        for (const char* part : {".r", ".g", ".b"})
            typed[1].emplace_back(QString(c) + part, QString::number(v < 21 ? v++ : -1));
    typed[1].emplace_back("pointSize", "4");
    QDialog* dialogs[2] = {&cfg, &colours};
    for (int d = 0; d < 2; ++d) {
        dialogs[d]->show();
        for (const auto& [name, text] : typed[d])
            test::typeValue(*test::spin(*dialogs[d], name), text);
    }
    EXPECT_EQ(colours.pointSize(), 0); // nothing changes until "Save"
    for (QDialog* d : dialogs) test::click(*test::button(*d, "Save"));
    EXPECT_EQ(cfg.result(), QDialog::Accepted);
    EXPECT_EQ(colours.pointSize(), 4);
    QuarvSettings q;
    ColorSettings c;
    ASSERT_TRUE(loadQuarvSettings(root.cfgFile("quarv.mcfg"), q));
    ASSERT_TRUE(loadColorSettings(root.cfgFile("colorcfg.mcfg"), c));
    EXPECT_EQ(q, (QuarvSettings{12.0f, 44.0f, {0, 255, 7}, {0, 128, 0}, {0, 0, 255}}));
    EXPECT_EQ(c, (ColorSettings{-20,
                                300,
                                70000,
                                {1, 2, 3},
                                {4, 5, 6},
                                {7, 8, 9},
                                {10, 11, 12},
                                {13, 14, 15},
                                {16, 17, 18},
                                {19, 20, 255},
                                4}));

    // New dialogs load the files; Cancel keeps fields and file; the next showing shows the
    // stored values again.
    CfgDlg cfg2(root);
    ColorCFG colours2(root);
    const auto bytes = test::readBytes(root.cfgFile("quarv.mcfg"));
    for (auto [d, name, stored] :
         {std::tuple<QDialog*, const char*, double>{&cfg2, "midRgb.g", 128},
          {&colours2, "pointSize", 4}}) {
        d->show();
        test::typeValue(*test::spin(*d, name), "9");
        test::click(*test::button(*d, "Cancel"));
        EXPECT_EQ(d->result(), QDialog::Rejected);
        d->show();
        EXPECT_EQ(test::spin(*d, name)->value(), stored) << name;
    }
    EXPECT_EQ(cfg2.settings(), q);
    EXPECT_EQ(colours2.pointSize(), 4);
    EXPECT_EQ(test::readBytes(root.cfgFile("quarv.mcfg")), bytes);
}

TEST_F(Dialogs, PulseAnalysisOverlaysTemplateAndAverageWithoutWritingTheTemplate) {
    const auto file = test::makeRecording(dir.path(), "plane.raw");
    const auto wide = test::makeRecording(dir.path(), "wide.raw", [](sim::SimOptions& o) {
        o.waveform.pulseSigmaRaw = 5.0; // twice the template's width
    });
    const auto templateBefore = test::readBytes(root.pulseTemplatePath());
    const auto run = [&](const std::filesystem::path& path, double end) {
        MFPulseDlg dlg(root, sink, path.string(), end);
        dlg.show();
        test::click(*test::button(dlg, "Process"));
        shown += (dlg.windowTitle() + "\n" + dlg.firstText() + "\n" + dlg.secondText() + "\n")
                     .toStdString() +
                 test::describe(dlg.graph());
        return dlg.analysis();
    };
    // The simulated laser pulse has the template's width (a Gaussian of sigma 10 interpolated
    // samples: 23.55); a wider pulse shows as a wider average; a window short of the plane has
    // no return.
    const PulseAnalysis a = run(file, 30.0);
    EXPECT_NEAR(a.templateWidth, 23.55, 0.3);
    EXPECT_NEAR(a.averageWidth, a.templateWidth, 0.15 * a.templateWidth);
    EXPECT_GT(run(wide, 30.0).averageWidth, 1.6 * a.templateWidth);
    EXPECT_EQ(run(file, 1.0).pulsesAveraged, 0);
    EXPECT_TRUE(sink.messages().empty()) << sink.last();
    run(dir.path() / "none.raw", 30.0);
    EXPECT_EQ(sink.last(), "ERROR opening playback file: " + (dir.path() / "none.raw").string());
    test::expectGolden("gui_mf_pulse.txt", shown);
    EXPECT_EQ(test::readBytes(root.pulseTemplatePath()), templateBefore);
    // A long recording is sampled: whole records spread over the file, up to the limit.
    PulseAnalysis sampled;
    ASSERT_TRUE(PulseAnalyser(root, sink).analyse(file.string(), 30.0, sampled, 64, 200));
    EXPECT_GE(sampled.waveformsProcessed, 150);
    EXPECT_LE(sampled.waveformsProcessed, 200);
}

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
            std::tie(l.inUse, l.showSaturated, l.pointSize, l.neighbourFilter) =
                std::tuple(i % 2, i == 4, i + 1, i != 3);
            std::tie(l.rangeMin, l.rangeMax, l.snrMin) = std::tuple(0.5f * i, 10.25f + i, 3.0f + i);
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
        return *dlg.findChild<T*>(QStringLiteral("layer%1.%2").arg(row).arg(name));
    }
    void type(int row, const char* name, const char* text) {
        test::typeValue(control<QDoubleSpinBox>(row, name), text);
    }
    std::string records() const {
        std::string out;
        for (const PointLayer& l : std::span(store.layers(), LAYER_COUNT))
            out += formatMessage("mode %u use %u sat %u size %u range %g-%g snr %g filter %u %g "
                                 "from %u,%u,%u,%u to %u,%u,%u\n",
                                 l.colorMode, l.inUse, l.showSaturated, l.pointSize, l.rangeMin,
                                 l.rangeMax, l.snrMin, l.neighbourFilter, l.filterDistance,
                                 l.colorFrom.r, l.colorFrom.g, l.colorFrom.b, l.colorFromExtra,
                                 l.colorTo.r, l.colorTo.g, l.colorTo.b);
        return out;
    }
};

TEST_F(LayerDialog, ShowsEveryRecordWritesThemBackAndRefusesOverlongPaths) {
    std::string shown = dlg.windowTitle().toStdString() + "\n" + test::describeControls(dlg);
    const std::string before = records();
    type(0, "snrMin", "8");
    for (const QString& refused : {QString(), "/" + QString(127, 'p')}) { // cancelled; 128 long
        answer = refused;
        test::click(control(3, "load"));
    }
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_FALSE(dlg.chosenFile(layer, path));
    EXPECT_EQ(sink.messages(),
              std::vector<std::string>{"ERROR, Layer, file path longer than 127 characters!"});
    EXPECT_EQ(records(), before);

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

    // Load File applies all rows and closes; exactly 127 characters are kept whole.
    dlg.show();
    type(1, "snrMin", "42");
    answer = "/" + QString(126, 'p');
    test::click(control(3, "load"));
    EXPECT_EQ(filterSeen, "3D Files (*.las *.3DC *.raw)");
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(store.layer(1).snrMin, 42.0f);
    ASSERT_TRUE(dlg.chosenFile(layer, path));
    EXPECT_EQ(std::pair(layer, path), std::pair(3u, answer.toStdString()));

    // The next showing starts without a chosen file; Cancel leaves every record as it was.
    dlg.show();
    EXPECT_FALSE(dlg.chosenFile(layer, path));
    const std::string confirmed = records();
    type(1, "snrMin", "7");
    test::click(control(1, "saturated"));
    test::click(*test::button(dlg, "Cancel"));
    EXPECT_EQ(dlg.result(), QDialog::Rejected);
    EXPECT_EQ(records(), confirmed);
}

TEST(GraphControls, ProgramSetValuesRaiseNoEventOperatorMovesAndTypedValuesDoOnce) {
    Slide s;
    QSignalSpy moved(&s, &Slide::pointerValueChanged);
    s.axis().setMaximum(50);
    s.pointer("Pointer-1")->setValue(7.9); // truncated to a whole index
    EXPECT_EQ(s.pointer("Pointer-1")->value(), 7.0);
    s.axis().setMaximum(5); // a smaller axis moves the pointer without an event either
    EXPECT_EQ(moved.count(), 0);
    s.show();
    s.slider().setFocus();
    QTest::keyClick(&s.slider(), Qt::Key_Left);
    ASSERT_EQ(moved.count(), 1);
    EXPECT_EQ(moved.at(0).at(0).toDouble(), 4.0);

    NumEdit e(-10, 1000, 2);
    QSignalSpy typed(&e, qOverload<double>(&QDoubleSpinBox::valueChanged));
    e.show();
    e.setFocus();
    e.selectAll();
    QTest::keyClicks(&e, "12.75");
    EXPECT_EQ(typed.count(), 0); // no event per keystroke
    QTest::keyClick(&e, Qt::Key_Return);
    EXPECT_EQ(typed.count(), 1);
    EXPECT_DOUBLE_EQ(e.value(), 12.75);
}

} // namespace
} // namespace quarv
