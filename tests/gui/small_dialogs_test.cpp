// The small dialogs: File Information, the two viewer settings dialogs and the matched-filter
// pulse analysis. What the operator types reaches the stored values; what is shown is a golden
// transcript.
#include "core/config/config_root.hpp"
#include "core/config/viewer_settings.hpp"
#include "gui/config/cfg_dlg.hpp"
#include "gui/config/color_cfg.hpp"
#include "gui/scanfile/file_info_dlg.hpp"
#include "gui/waveform/mf_pulse_dlg.hpp"
#include "gui_support.hpp"
#include "support/golden.hpp"
#include "support/recordings.hpp"
#include "support/test_support.hpp"

#include <gtest/gtest.h>

#include <cmath>

namespace quarv {
namespace {

TEST(FileInfoDialog, ShowsTheHeaderLinesOfTheOpenerPathAndOfLoadedFiles) {
    test::TempDir dir;
    const auto first = test::makeRecording(dir.path(), "plane.raw", [](sim::SimOptions& o) {
        o.scanner.scanType = 3;
        o.scanner.sensor = "SENSOR-9";
        o.scanner.job = "Quay wall";
    });
    const auto second = test::makeRecording(dir.path(), "bowtie.raw", [](sim::SimOptions& o) {
        o.scanner.scanType = 4;
        o.scanner.shotsPerLine = 25;
        o.scanner.lines = 3;
    });
    RecordingSink sink;
    FileInfoDlg dlg(sink);
    QString filterSeen, answer = QString::fromStdString(second.string());
    dlg.setFileChooser([&](QWidget*, const QString&, const QString& filter) {
        filterSeen = filter;
        return answer;
    });
    dlg.setPath(first.string());
    dlg.show();
    std::string shown = dlg.windowTitle().toStdString() + "\n";
    for (const auto& next : {second, dir.path() / "missing.raw"}) {
        shown += test::describe(dlg.lines(), dir.path());
        answer = QString::fromStdString(next.string());
        test::click(*test::button(dlg, "Load File")); // the dialog stays open
        EXPECT_TRUE(dlg.isVisible());
    }
    // An unreadable file is reported by the reader; the list shows the header still held.
    EXPECT_EQ(sink.messages().size(), 1u);
    EXPECT_EQ(sink.last(), "ERROR opening playback file: " + (dir.path() / "missing.raw").string());
    EXPECT_EQ(filterSeen, "3D Files (*.raw)");
    test::expectGolden("gui_file_info.txt", shown + test::describe(dlg.lines(), dir.path()));
    test::click(*test::button(dlg, "Done"));
    EXPECT_EQ(dlg.result(), QDialog::Accepted);

    // Values start in one column that clears the widest label; a line without tabs does not
    // push it.
    InfoList list;
    list.setLines({"Samples Per Pulse\t\t400", "Gain\t\t\t5", "/a/very/long/path/of/a/file.raw"});
    const QFontMetrics fm(list.font());
    EXPECT_GT(list.valueColumn(), fm.horizontalAdvance("Samples Per Pulse"));
    EXPECT_LT(list.valueColumn(), fm.horizontalAdvance("/a/very/long/path/of/a/file.raw"));
}

TEST(SettingsDialogs, TypedValuesAreSavedWithTheirConversionsAndCancelKeepsTheFile) {
    test::TempDir dir;
    const ConfigRoot root{dir.path()};
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
        for (const auto& [name, text] : typed[d]) {
            ASSERT_NE(test::spin(*dialogs[d], name), nullptr) << name.toStdString();
            test::typeValue(*test::spin(*dialogs[d], name), text);
        }
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

    // New dialog objects load the files; Cancel keeps fields and file, and the next showing
    // shows the stored values again.
    CfgDlg cfg2(root);
    ColorCFG colours2(root);
    EXPECT_EQ(colours2.pointSize(), 4);
    const auto bytes = test::readBytes(root.cfgFile("quarv.mcfg"));
    for (auto [d, name, stored] :
         {std::tuple<QDialog*, const char*, double>{&cfg2, "midRgb.g", 128},
          {&colours2, "pointSize", 4}}) {
        d->show();
        EXPECT_EQ(test::spin(*d, name)->value(), stored) << name;
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

TEST(PulseDialog, OverlaysTemplateAndAverageWithoutWritingTheTemplate) {
    // The half-maximum width: a triangle rising over 10 entries and falling over 20 is 15 wide;
    // a step that never falls back has none.
    std::vector<float> tri(60, 0.0f), step(20, 0.0f);
    for (int i = 0; i <= 10; ++i) tri[10 + i] = i / 10.0f;
    for (int i = 0; i <= 20; ++i) tri[20 + i] = 1.0f - i / 20.0f;
    std::fill(step.begin() + 10, step.end(), 1.0f);
    EXPECT_NEAR(widthAtHalfMaximum(tri), 15.0, 1e-5);
    EXPECT_TRUE(std::isnan(widthAtHalfMaximum(step)));

    test::TempDir dir;
    const ConfigRoot root{dir.path() / "home"};
    RecordingSink sink;
    ASSERT_TRUE(root.ensureCreated(sink));
    const auto file = test::makeRecording(dir.path(), "plane.raw");
    const auto wide = test::makeRecording(dir.path(), "wide.raw", [](sim::SimOptions& o) {
        o.waveform.pulseSigmaRaw = 5.0; // twice the template's width
    });
    const auto templateBefore = test::readBytes(root.pulseTemplatePath());
    std::string shown;
    const auto run = [&](const std::filesystem::path& path, double end) {
        auto dlg = std::make_unique<MFPulseDlg>(root, sink, path.string(), end);
        dlg->show();
        test::click(*test::button(*dlg, "Process"));
        shown += (dlg->windowTitle() + "\n" + dlg->firstText() + "\n" + dlg->secondText() + "\n")
                     .toStdString() +
                 test::describe(dlg->graph());
        return dlg->analysis();
    };
    // The simulated laser pulse has the template's width (a Gaussian of sigma 10 interpolated
    // samples: 23.55); a wider pulse shows as a wider average; a window short of the plane has
    // no return.
    const PulseAnalysis a = run(file, 30.0);
    EXPECT_EQ(a.waveformsProcessed, 48 * 12);
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

} // namespace
} // namespace quarv
