// The dialogs over simulated recordings: typed values reach the stored ones, each step's view is a
// golden transcript, plotted ranges match the simulator's truth, refusals change nothing.
#include "core/app/notifier.hpp"
#include "core/cloud/cloud_store.hpp"
#include "core/scan/processing_session.hpp"
#include "gui/config/cfg_dlg.hpp"
#include "gui/config/color_cfg.hpp"
#include "gui/dialogs/export_cloud_dlg.hpp"
#include "gui/dialogs/layer_dlg.hpp"
#include "gui/dialogs/proc_graph_dlg.hpp"
#include "gui/scan/ranger_quarv.hpp"
#include "gui/waveform/mf_pulse_dlg.hpp"
#include "gui_support.hpp"

#include <cstring>

namespace quarv::test {
namespace {

using Dialogs = Home;

TEST_F(Dialogs, SettingsAreSavedWithTheirConversionsAndCancelKeepsThem) {
    std::filesystem::create_directories(root.cfgDir());
    CfgDlg cfg(root);
    ColorCFG colours(root);
    cfg.show();
    typeValues(cfg, "lowIntensityCutoff=12.9 highIntensityCutoff=300.7 startRgb.r=256 "
                    "startRgb.g=-1 startRgb.b=7 midRgb.g=128 highRgb.b=255");
    QString map = "lowIntensity=-20 mediumIntensity=300 highIntensity=70000 pointSize=4";
    int v = 1; // the colour map's 21 components take 1, 2, 3, ...; the last one -1
    for (const char* c : {"lowIntensityRgb", "lowStartRgb", "lowEndRgb", "mediumStartRgb",
                          "mediumEndRgb", "highIntensityRgb", "saturationRgb"})
        for (const char* part : {".r=", ".g=", ".b="})
            map += QString(" %1%2%3").arg(c, part).arg(v < 21 ? v++ : -1);
    colours.show();
    typeValues(colours, map);
    const std::uint8_t before = colours.pointSize(); // nothing changes until "Save"
    click(*button(cfg, "Save"));
    click(*button(colours, "Save"));
    EXPECT_TRUE(before == 0 && cfg.result() == QDialog::Accepted && colours.pointSize() == 4);

    // New dialogs show what the files hold; Cancel keeps fields and file.
    CfgDlg cfg2(root);
    ColorCFG colours2(root);
    cfg2.show();
    colours2.show();
    const std::string loaded = describeControls(colours2);
    const auto bytes = readBytes(root.cfgFile("colorcfg.mcfg"));
    typeValues(colours2, "pointSize=9 lowIntensity=5");
    click(*button(colours2, "Cancel"));
    colours2.show();
    EXPECT_TRUE(describeControls(colours2) == loaded && colours2.pointSize() == 4);
    EXPECT_EQ(readBytes(root.cfgFile("colorcfg.mcfg")), bytes);
    expectGolden("gui_settings.txt", describeControls(cfg2) + loaded);
}

TEST_F(Dialogs, PulseAnalysisOverlaysTemplateAndAverageWithoutWritingTheTemplate) {
    const auto file = makeRecording(dir.path(), "plane.raw");
    const auto wide = makeRecording(dir.path(), "wide.raw", [](sim::SimOptions& o) {
        o.waveform.pulseSigmaRaw = 5.0; // twice the template's width
    });
    const auto templateBefore = readBytes(root.pulseTemplatePath());
    const auto run = [&](const std::filesystem::path& path, double end) {
        MFPulseDlg dlg(root, sink, path.string(), end);
        dlg.show();
        click(*button(dlg, "Process"));
        shown += describe({dlg.windowTitle(), dlg.firstText(), dlg.secondText()}, dir.path()) +
                 describe(dlg.graph());
        return dlg.analysis();
    };
    // The simulated pulse has the template's width (sigma 10 interpolated samples: 23.55); a wider
    // pulse shows as a wider average; a window short of the plane has no return.
    const PulseAnalysis a = run(file, 30.0);
    EXPECT_NEAR(a.templateWidth, 23.55, 0.3);
    EXPECT_NEAR(a.averageWidth, a.templateWidth, 0.15 * a.templateWidth);
    EXPECT_GT(run(wide, 30.0).averageWidth, 1.6 * a.templateWidth);
    EXPECT_EQ(run(file, 1.0).pulsesAveraged, 0);
    run(dir.path() / "none.raw", 30.0);
    EXPECT_EQ(sink.messages(), std::vector<std::string>{"ERROR opening playback file: " +
                                                        (dir.path() / "none.raw").string()});
    expectGolden("gui_mf_pulse.txt", shown);
    EXPECT_EQ(readBytes(root.pulseTemplatePath()), templateBefore);
}

TEST(LayerDialog, ShowsEveryRecordWritesThemBackAndRefusesOverlongPaths) {
    CloudStore store;
    RecordingSink sink;
    layerDlg dlg{store, sink};
    for (std::uint32_t i = 0; i < LAYER_COUNT; ++i) { // every field differs between rows
        PointLayer& l = store.layer(i);
        std::tie(l.colorFrom, l.colorTo, l.colorFromExtra) =
            std::tuple(Rgb{std::uint8_t(10 * i), 20, 30}, Rgb{200, std::uint8_t(210 + i), 220}, 9);
        l.colorMode = i == 0 ? kColorByRange : i == 1 ? kColorByAmplitudeRank : kColorBySnrRank;
        std::tie(l.inUse, l.showSaturated, l.pointSize, l.neighbourFilter) =
            std::tuple(i % 2, i == 4, i + 1, i != 3);
        std::tie(l.rangeMin, l.rangeMax, l.snrMin) = std::tuple(0.5f * i, 10.25f + i, 3.0f + i);
        l.filterDistance = 0.05 * (i + 1);
    }
    std::strcpy(store.layer(2).name.data(), "/data/scan-7.raw");
    QString filterSeen, answer; // answer: what the file chooser returns
    dlg.setFileChooser([&](QWidget*, const QString&, const QString& filter) {
        filterSeen = filter;
        return answer;
    });
    dlg.setColorChooser([](QWidget*, const QColor&) { return QColor(1, 2, 3); });
    dlg.show();
    const auto tick = [&](const char* rowAndName) {
        click(*dlg.findChild<QAbstractButton*>(QString("layer") + rowAndName));
    };
    const auto records = [&] {
        std::string out;
        for (const PointLayer& l : std::span(store.layers(), LAYER_COUNT))
            out += formatMessage("mode %u use %u sat %u size %u range %g-%g snr %g filter %u %g "
                                 "from %u,%u,%u,%u to %u,%u,%u\n",
                                 l.colorMode, l.inUse, l.showSaturated, l.pointSize, l.rangeMin,
                                 l.rangeMax, l.snrMin, l.neighbourFilter, l.filterDistance,
                                 l.colorFrom.r, l.colorFrom.g, l.colorFrom.b, l.colorFromExtra,
                                 l.colorTo.r, l.colorTo.g, l.colorTo.b);
        return out;
    };
    std::uint32_t layer = 9;
    std::string path, shown = dlg.windowTitle().toStdString() + "\n" + describeControls(dlg);
    // Point sizes keep their low 8 bits; ticking Range unticks Intensity, unticking keeps the mode.
    typeValues(dlg, "layer0.snrMin=8 layer0.ptSize=3.9 layer1.rangeMin=1.125 layer1.rangeMax=7.5 "
                    "layer2.snrMin=12.5 layer3.minDist=0.125 layer4.ptSize=257");
    for (const char* name : {"1.enabled", "3.clutterEnable", "4.saturated", "2.intensity",
                             "0.intensity", "0.range", "0.range", "3.startColor"})
        tick(name);
    shown += "== edited\n" + describeControls(dlg);
    click(*button(dlg, "Perform Updates"));
    EXPECT_TRUE(dlg.result() == QDialog::Accepted && !dlg.chosenFile(layer, path));
    expectGolden("gui_layer_dialog.txt", shown + "== records\n" + records());

    // Load File does nothing on a cancelled choice, keeps a 300-character path whole and applies
    // all rows.
    dlg.show();
    const std::string confirmed = records();
    typeValues(dlg, "layer1.snrMin=42");
    for (const int length : {0, 300}) {
        answer = length ? "/" + QString(length - 1, 'p') : QString();
        EXPECT_TRUE(dlg.isVisible() && !dlg.chosenFile(layer, path) && records() == confirmed);
        tick("3.load");
    }
    EXPECT_TRUE(sink.messages().empty());
    EXPECT_EQ(filterSeen, "3D Files (*.las *.3DC *.raw *.pek)");
    EXPECT_TRUE(dlg.result() == QDialog::Accepted && !dlg.isVisible());
    ASSERT_TRUE(dlg.chosenFile(layer, path) && store.layer(1).snrMin == 42.0f);
    EXPECT_EQ(std::pair(layer, path), std::pair(3u, answer.toStdString()));
}

TEST_F(Dialogs, ProcessingGraphsAndBuildDialogOverRecordingsOfEveryKindWindowsSlidersAndPairs) {
    sim::SimResult truth;
    const auto file = makeRecording(dir.path(), "line.raw", {}, &truth),
               pairs = makeRecording(dir.path(), "pairs.raw");
    setPulsesPerPosition(pairs, 2);
    { // the processing graphs
        ProcGraphDlg dlg(root, sink);
        std::string chosen;
        dlg.setFileChooser([&](QWidget*, const QString&, const QString& filter) {
            EXPECT_EQ(filter, "3D Files (*.pek *.raw)");
            return QString::fromStdString(chosen);
        });
        dlg.show();
        const auto load = [&](const std::filesystem::path& p) {
            chosen = p.string();
            click(*button(dlg, "Load File"));
        };
        const auto record = [&](const char* step) {
            Slide &shot = dlg.shotSlider(), &line = dlg.lineSlider();
            shown += std::string("== ") + step + "\n" + describe({dlg.windowTitle()}, dir.path()) +
                     formatMessage("window %.3f %.3f, shot %.0f of %.0f, line %.0f of %.0f\n",
                                   dlg.startEdit().value(), dlg.endEdit().value(),
                                   shot.pointer("Pointer-1")->value(), shot.axis().maximum(),
                                   line.pointer("Pointer-1")->value(), line.axis().maximum()) +
                     describe(dlg.resultTexts(), dir.path());
            for (Graph* g : {&dlg.waveformGraph(), &dlg.correlationGraph(), &dlg.angleGraph(),
                             &dlg.intensityGraph(), &dlg.rangeGraph()})
                shown += "--\n" + describe(*g);
        };
        const auto plot = [&](const char* name) {
            return [p = dlg.rangeGraph().findPlot(name)](std::size_t i) { return p->valueAt(i); };
        };
        click(*button(dlg, "MF Pulse Dlg")); // without a file
        load(file);
        record("line.raw: its own window, group 0, pulse 1");
        for (const sim::TruthRow& t : truth.truth) { // shots 0 and 1 repeat shot 2
            if (t.line == 0 && t.shot >= 2) {
                EXPECT_NEAR(plot("Plot-1")(t.shot), t.range, 0.01) << t.shot;
            }
        }
        dlg.shotSlider().slider().setFocus();
        QTest::keyClick(&dlg.shotSlider().slider(), Qt::Key_Right);
        record("shot slider right: pulse 2");
        dlg.lineSlider().slider().setValue(5);
        record("line slider to 5: record 5, back to pulse 1");
        typeValue(dlg.startEdit(), "20"); // beyond the plane, 4 m away: only gaps
        record("window from 20 m");
        load(makeRecording(dir.path(), "other.raw"));
        record("other.raw keeps the edited window");

        typeValue(dlg.startEdit(), "0.5");
        load(pairs);
        record("pairs.raw: two records per group and their average");
        for (std::size_t i = 2; i < 48; ++i)
            EXPECT_NEAR(plot("Ave")(i), (plot("Plot-1")(i) + plot("Plot-2")(i)) / 2, 1e-5);
        dlg.shotSlider().slider().setValue(48 + 3);
        record("shot slider at P + 3: pulse 3 of the second record");
        load(makeRecording(dir.path(), "stare.raw", [](sim::SimOptions& o) {
            std::tie(o.scanner.scanType, o.scanner.shotsPerLine, o.scanner.lines,
                     o.scanner.pulsesPerPosition) = std::tuple(1, 20, 4, 5);
        }));
        record("stare: P x W pulses, minimum and maximum intensity, no standard deviation");
        load(makeRecording(dir.path(), "bowtie.raw", [](sim::SimOptions& o) {
            std::tie(o.scanner.scanType, o.scanner.shotsPerLine, o.scanner.lines) =
                std::tuple(4, 16, 60);
        }));
        record("bowtie: four sweeps per record");

        // An unreadable file changes nothing; closed, the dialog's sliders rest.
        load(file);
        const QStringList before = dlg.resultTexts();
        load(dir.path() / "missing.raw");
        dlg.shotSlider().slider().setValue(1);
        dlg.hide();
        dlg.shotSlider().slider().setValue(7);
        EXPECT_EQ(dlg.resultTexts(), before);
        for (const std::string& m : sink.messages()) shown += describe({m.c_str()}, dir.path());
        expectGolden("gui_proc_graphs.txt", shown);
    }
    shown.clear(); // the build dialog over a processing session

    NullNotifier notifier;
    CloudStore store;
    CloudRenderer renderer{store};
    ProcessingSession session(store, renderer, root, sink, notifier, 1);
    RangerQuarv dlg(session, sink);
    dlg.show();
    const auto record = [&](const char* step, const std::filesystem::path& open = {}) {
        if (!open.empty()) { // as the workstation does before showing the dialog
            EXPECT_TRUE(session.openPlayback(open));
            dlg.hide();
            dlg.show();
        }
        shown += std::string("== ") + step + "\n" + describe({dlg.windowTitle()}, dir.path()) +
                 formatMessage("process button %d, group %.0f of %.0f\n",
                               dlg.processButton().isEnabled(),
                               dlg.groupSlide().pointer("Pointer-1")->value(),
                               dlg.groupSlide().axis().maximum()) +
                 describeControls(dlg) + describe(dlg.infoList().lines(), dir.path()) +
                 "-- lines\n" + describe(dlg.linesGraph()) + "-- average\n" +
                 describe(dlg.averageGraph()) + dlg.statsText().toStdString() + "\n";
    };
    record("no settings file, no recording: gated and empty");
    session.setRangeWindow(0.5f, 30.0f);
    record("line.raw: one line per group", file);
    dlg.groupSlide().slider().setValue(3);
    record("group slider to 3");
    typeValues(dlg, "startProcessing=20"); // beyond the plane: only gaps
    record("window from 20 m");
    click(*button(dlg, "Cancel")); // editing is not confirming
    EXPECT_EQ(session.rangeMin(), 0.5f);

    record("pairs.raw: two lines per group and their average", pairs);
    const QualityGroup& q = dlg.quality();
    for (std::size_t s = 0; s < 48; ++s)
        EXPECT_NEAR(q.average[s], (q.ranges[0][s] + q.ranges[1][s]) / 2, 1e-5) << s;

    typeValues(dlg, "averageWindow=3 startProcessing=1.25 endProcessing=12.5 snrMin=7.5");
    click(*button(dlg, "Process Pt Cloud"));
    EXPECT_EQ(formatMessage("%d %u %g %g %g", dlg.result(), session.averageWindow(),
                            session.rangeMin(), session.rangeMax(), session.snrMin()),
              "1 3 1.25 12.5 7.5");
    EXPECT_EQ(sink.messages().size(), 2u) << sink.last(); // those of the processing graphs

    // A stored open gate: the box shows it; ticking it only enables the edits.
    LaserScanSettings stored = LaserScanSettings::defaults();
    stored.setRangeGate(0);
    ASSERT_TRUE(saveLaserScanSettings(root, stored));
    ProcessingSession second(store, renderer, root, sink, notifier, 1);
    RangerQuarv gated(second, sink);
    gated.show();
    shown += "== stored open gate, then ticked\n" + describeControls(gated);
    click(*gated.findChild<QCheckBox*>("rangeExclusion"));
    expectGolden("gui_build_dialog.txt", shown + describeControls(gated));
    EXPECT_EQ(second.settings().rangeGate(), 0);
}

} // namespace
} // namespace quarv::test

namespace quarv::test {
namespace {

TEST(ExportDialog, StartsFromTheSidecarAndReadsItsFieldsBack) {
    TempDir dir;
    const std::string pose = R"({"position": [431205.5, 5652310.25, -12.4], "heading": 47.5,
                                 "crs": "EPSG:32631"})";
    writeBytes(dir / "scan.pose.json", {pose.begin(), pose.end()});
    ExportCloudDlg dlg(QStringLiteral("out.PLY"), dir / "scan.raw");
    EXPECT_EQ(dlg.positionEdit().text(), QStringLiteral("431205.500,5652310.250,-12.400"));
    EXPECT_EQ(dlg.crsEdit().text(), QStringLiteral("EPSG:32631"));
    dlg.level().setChecked(true);
    dlg.positionCrsEdit().setText(QStringLiteral("EPSG:4979"));
    std::filesystem::path path;
    SurveyExportOptions o;
    std::string why;
    ASSERT_TRUE(dlg.values(path, o, why)) << why;
    EXPECT_TRUE(path == "out.PLY" && o.level && !o.includeHidden && o.pose.headingDeg == 47.5 &&
                o.pose.positionCrs == "EPSG:4979" && (*o.pose.position)[1] == 5652310.25);
    for (const char* bad : {"heading=north", "file=out.xyz"}) {
        ExportCloudDlg d(QStringLiteral("out.las"), {});
        (bad[0] == 'h' ? d.headingEdit() : d.fileEdit()).setText(QString(bad).section('=', 1));
        EXPECT_FALSE(d.values(path, o, why)) << bad;
    }
}

} // namespace
} // namespace quarv::test
