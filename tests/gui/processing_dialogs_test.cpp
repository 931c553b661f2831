// The processing graphs and build point cloud dialogs over simulated recordings: what each load,
// slider move and edit shows is a golden transcript (the processing graphs' written from a build
// whose pulse texts matched an independent run of the waveform processor); the range plots are
// compared with the simulator's truth and the averages with the mean of the plotted lines.
#include "core/app/notifier.hpp"
#include "core/cloud/cloud_store.hpp"
#include "core/scan/processing_session.hpp"
#include "gui/dialogs/proc_graph_dlg.hpp"
#include "gui/scan/ranger_quarv.hpp"
#include "gui_support.hpp"
#include "support/golden.hpp"
#include "support/recordings.hpp"

#include <QCheckBox>
#include <QTest>

#include <cmath>

namespace quarv::test {
namespace {

using ProcessingDialogs = Home;

// Ranges of `line` at the shots from `firstShot` on against the simulator's truth.
void expectTruth(const sim::SimResult& truth, std::uint32_t line, std::size_t firstShot,
                 const std::function<double(std::size_t)>& shown) {
    for (const sim::TruthRow& t : truth.truth)
        if (t.line == line && t.shot >= firstShot) {
            EXPECT_NEAR(shown(t.shot), t.range, 0.01) << t.shot;
        }
}

void pressRight(Slide& s, int times) {
    s.slider().setFocus();
    for (int i = 0; i < times; ++i) QTest::keyClick(&s.slider(), Qt::Key_Right);
}

TEST_F(ProcessingDialogs, GraphsOverLineStareAndBowtieRecordingsWindowsSlidersAndPairs) {
    ProcGraphDlg dlg(root, sink);
    std::string chosen, launchedPath;
    dlg.setFileChooser([&](QWidget*, const QString&, const QString& filter) {
        EXPECT_EQ(filter, "3D Files (*.pek *.raw)");
        return QString::fromStdString(chosen);
    });
    dlg.setPulseDialogLauncher([&](QWidget*, const std::string& p, double end) {
        launchedPath = formatMessage("%s up to %.1f m", p.c_str(), end);
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
    click(*button(dlg, "MF Pulse Dlg"));
    EXPECT_EQ(sink.last(), "No file opened!");
    sim::SimResult truth;
    const auto file = makeRecording(dir.path(), "line.raw", {}, &truth);
    load(file);
    record("line.raw: its own window, group 0, pulse 1");
    expectTruth(truth, 0, 2, plot("Plot-1")); // shots 0 and 1 repeat shot 2
    pressRight(dlg.shotSlider(), 1);
    record("shot slider right: pulse 2");
    pressRight(dlg.lineSlider(), 5);
    record("line slider to 5: record 5, back to pulse 1");
    typeValue(dlg.startEdit(), "20"); // beyond the plane, 4 m away: only gaps
    record("window from 20 m");
    load(makeRecording(dir.path(), "other.raw"));
    record("other.raw keeps the edited window");

    const auto pairs = makeRecording(dir.path(), "pairs.raw");
    setPulsesPerPosition(pairs, 2);
    typeValue(dlg.startEdit(), "0.5");
    load(pairs);
    record("pairs.raw: two records per group and their average");
    for (std::size_t i = 2; i < 48; ++i)
        EXPECT_NEAR(plot("Ave")(i), (plot("Plot-1")(i) + plot("Plot-2")(i)) / 2, 1e-5);
    dlg.shotSlider().slider().setValue(48 + 3);
    record("shot slider at P + 3: pulse 3 of the second record");
    load(file);
    record("line.raw again: no average");
    load(makeRecording(dir.path(), "stare.raw", [](sim::SimOptions& o) {
        std::tie(o.scanner.scanType, o.scanner.shotsPerLine, o.scanner.lines,
                 o.scanner.pulsesPerPosition) = std::tuple(1, 20, 4, 5);
    }));
    record("stare: P x W pulses, minimum and maximum intensity, no standard deviation");
    dlg.shotSlider().slider().setValue(17);
    record("stare: position 3, pulse 2");
    load(makeRecording(dir.path(), "bowtie.raw", [](sim::SimOptions& o) {
        std::tie(o.scanner.scanType, o.scanner.shotsPerLine, o.scanner.lines) =
            std::tuple(4, 16, 60);
    }));
    record("bowtie: four sweeps per record");
    expectGolden("gui_proc_graphs.txt", shown);

    // An unreadable file changes nothing: the old file still answers, also to the pulse dialog.
    load(file);
    const QStringList before = dlg.resultTexts();
    load(dir.path() / "missing.raw");
    EXPECT_EQ(sink.messages().size(), 2u);
    EXPECT_EQ(sink.last(), "ERROR opening playback file: " + (dir.path() / "missing.raw").string());
    dlg.shotSlider().slider().setValue(1);
    EXPECT_EQ(dlg.resultTexts(), before);
    click(*button(dlg, "MF Pulse Dlg"));
    EXPECT_EQ(launchedPath, file.string() + " up to 30.0 m");
    dlg.hide(); // closed: the sliders do nothing until the dialog is shown again
    dlg.shotSlider().slider().setValue(7);
    EXPECT_EQ(dlg.resultTexts(), before);
}

TEST_F(ProcessingDialogs, GraphWindowHoldsAReturnAtItsStartButNotOneAtItsEnd) {
    ProcGraphModel model(root, sink);
    ASSERT_TRUE(model.load(makeRecording(dir.path(), "line.raw").string(), 0.5, 30.0));
    GroupView group;
    PulseView pulse;
    ASSERT_TRUE(model.showGroup(0, 0.5, 30.0, group, pulse));
    const float r = group.ranges[0][5];
    ASSERT_TRUE(model.showGroup(0, r, 30.0, group, pulse) && model.showPulse(5, r, 30.0, pulse));
    EXPECT_TRUE(group.ranges[0][5] == r && pulse.inWindow);
    ASSERT_TRUE(model.showGroup(0, 0.5, r, group, pulse) && model.showPulse(5, 0.5, r, pulse));
    EXPECT_TRUE(std::isnan(group.ranges[0][5]) && std::isnan(group.intensity[5]));
    EXPECT_TRUE(pulse.found && !pulse.inWindow); // found, but outside: the other cursor colour
    EXPECT_EQ(pulse.range, r);
}

TEST_F(ProcessingDialogs, BuildDialogShowsTheGateAndLineGroupsAndHandsTheValuesToTheSession) {
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
    const auto firstLine = [&](std::size_t s) { return dlg.quality().ranges[0][s]; };
    record("no settings file, no recording: gated and empty");
    session.setRangeWindow(0.5f, 30.0f);
    sim::SimResult truth, peakTruth;
    record("line.raw: one line per group", makeRecording(dir.path(), "line.raw", {}, &truth));
    expectTruth(truth, 0, 0, firstLine);
    pressRight(dlg.groupSlide(), 3);
    record("group slider to 3");
    expectTruth(truth, 3, 0, firstLine);
    typeValues(dlg, "startProcessing=20"); // beyond the plane: only gaps
    record("window from 20 m");
    click(*button(dlg, "Cancel")); // editing is not confirming
    EXPECT_EQ(session.rangeMin(), 0.5f);

    const auto pairs = makeRecording(dir.path(), "pairs.raw");
    setPulsesPerPosition(pairs, 2);
    record("pairs.raw: two lines per group and their average", pairs);
    const QualityGroup& q = dlg.quality();
    for (std::size_t s = 0; s < 48; ++s)
        EXPECT_NEAR(q.average[s], (q.ranges[0][s] + q.ranges[1][s]) / 2, 1e-5) << s;
    record("line.pek: recorded peak positions as ranges",
           makeRecording(
               dir.path(), "line.pek", [](sim::SimOptions& o) { o.peakFile = true; }, &peakTruth));
    expectTruth(peakTruth, 0, 0, firstLine);
    expectGolden("gui_build_dialog.txt", shown);

    typeValues(dlg, "averageWindow=3 startProcessing=1.25 endProcessing=12.5 snrMin=7.5");
    click(*button(dlg, "Process Pt Cloud"));
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_EQ(formatMessage("%u %g %g %g", session.averageWindow(), session.rangeMin(),
                            session.rangeMax(), session.snrMin()),
              "3 1.25 12.5 7.5");
    EXPECT_TRUE(sink.messages().empty()) << sink.last();

    // A stored open gate: the box shows it; ticking it only enables the edits.
    LaserScanSettings stored = LaserScanSettings::defaults();
    stored.setRangeGate(0);
    ASSERT_TRUE(saveLaserScanSettings(root, stored));
    ProcessingSession second(store, renderer, root, sink, notifier, 1);
    RangerQuarv gated(second, sink);
    gated.show();
    QCheckBox& box = *gated.findChild<QCheckBox*>("rangeExclusion");
    EXPECT_FALSE(box.isChecked() || spin(gated, "startProcessing")->isEnabled());
    click(box);
    EXPECT_TRUE(spin(gated, "startProcessing")->isEnabled());
    EXPECT_EQ(second.settings().rangeGate(), 0);
}

} // namespace
} // namespace quarv::test
