// The processing graphs dialog over simulated recordings: what each load and slider move shows is
// a golden transcript (written from a build whose pulse texts matched an independent run of the
// waveform processor); the range plots are compared with the simulator's truth.
#include "gui/dialogs/proc_graph_dlg.hpp"
#include "gui_support.hpp"
#include "support/golden.hpp"
#include "support/recordings.hpp"
#include "support/test_support.hpp"

#include <QTest>

#include <gtest/gtest.h>

#include <cmath>

namespace quarv {
namespace {

struct ProcGraphs : ::testing::Test {
    test::TempDir dir;
    ConfigRoot root{dir.path() / "home"};
    RecordingSink sink;
    std::unique_ptr<ProcGraphDlg> dlg;
    std::string chosen, launchedPath, shown;

    void SetUp() override {
        ASSERT_TRUE(root.ensureCreated(sink));
        dlg = std::make_unique<ProcGraphDlg>(root, sink);
        dlg->setFileChooser([this](QWidget*, const QString&, const QString& filter) {
            EXPECT_EQ(filter, "3D Files (*.pek *.raw)");
            return QString::fromStdString(chosen);
        });
        dlg->setPulseDialogLauncher([this](QWidget*, const std::string& p, double end) {
            launchedPath = formatMessage("%s up to %.1f m", p.c_str(), end);
        });
        dlg->show();
    }
    void load(const std::filesystem::path& p) {
        chosen = p.string();
        test::click(*test::button(*dlg, "Load File"));
    }
    // Adds what the dialog shows now to the transcript.
    void record(const char* step) {
        Slide &shot = dlg->shotSlider(), &line = dlg->lineSlider();
        shown += std::string("== ") + step + "\n" +
                 test::describe({dlg->windowTitle()}, dir.path()) +
                 formatMessage("window %.3f %.3f, shot %.0f of %.0f, line %.0f of %.0f\n",
                               dlg->startEdit().value(), dlg->endEdit().value(),
                               shot.pointer("Pointer-1")->value(), shot.axis().maximum(),
                               line.pointer("Pointer-1")->value(), line.axis().maximum()) +
                 test::describe(dlg->resultTexts(), dir.path());
        for (Graph* g : {&dlg->waveformGraph(), &dlg->correlationGraph(), &dlg->angleGraph(),
                         &dlg->intensityGraph(), &dlg->rangeGraph()})
            shown += "--\n" + test::describe(*g);
    }
};

TEST_F(ProcGraphs, LineStareAndBowtieRecordingsWindowsSlidersAndGroupsOfTwo) {
    test::click(*test::button(*dlg, "MF Pulse Dlg"));
    EXPECT_EQ(sink.last(), "No file opened!");
    sim::SimResult truth;
    const auto file = test::makeRecording(dir.path(), "line.raw", {}, &truth);
    load(file);
    record("line.raw: its own window, group 0, pulse 1");
    // Group 0 is record 0, on the simulated plane (shots 0 and 1 repeat shot 2).
    const Plot* ranges = dlg->rangeGraph().findPlot("Plot-1");
    for (const sim::TruthRow& t : truth.truth) {
        if (t.line != 0 || t.shot < 2) continue;
        EXPECT_NEAR(ranges->valueAt(t.shot), t.range, 0.01) << t.shot;
    }
    dlg->shotSlider().slider().setFocus();
    QTest::keyClick(&dlg->shotSlider().slider(), Qt::Key_Right);
    record("shot slider right: pulse 2");
    dlg->lineSlider().slider().setFocus();
    for (int i = 0; i < 5; ++i) QTest::keyClick(&dlg->lineSlider().slider(), Qt::Key_Right);
    record("line slider to 5: record 5, back to pulse 1");
    test::typeValue(dlg->startEdit(), "20"); // beyond the plane, 4 m away: only gaps
    record("window from 20 m");
    load(test::makeRecording(dir.path(), "other.raw"));
    record("other.raw keeps the edited window");

    const auto pairs = test::makeRecording(dir.path(), "pairs.raw");
    test::setPulsesPerPosition(pairs, 2);
    test::typeValue(dlg->startEdit(), "0.5");
    load(pairs);
    record("pairs.raw: two records per group and their average");
    const Plot *r1 = dlg->rangeGraph().findPlot("Plot-1"),
               *r2 = dlg->rangeGraph().findPlot("Plot-2");
    for (std::size_t i = 2; i < 48; ++i)
        EXPECT_NEAR(dlg->rangeGraph().findPlot("Ave")->valueAt(i),
                    (r1->valueAt(i) + r2->valueAt(i)) / 2, 1e-5);
    dlg->shotSlider().slider().setValue(48 + 3);
    record("shot slider at P + 3: pulse 3 of the second record");
    load(file);
    record("line.raw again: no average");
    load(test::makeRecording(dir.path(), "stare.raw", [](sim::SimOptions& o) {
        o.scanner.scanType = 1;
        o.scanner.shotsPerLine = 20;
        o.scanner.lines = 4;
        o.scanner.pulsesPerPosition = 5;
    }));
    record("stare: P x W pulses, minimum and maximum intensity, no standard deviation");
    dlg->shotSlider().slider().setValue(17);
    record("stare: position 3, pulse 2");
    load(test::makeRecording(dir.path(), "bowtie.raw", [](sim::SimOptions& o) {
        o.scanner.scanType = 4;
        o.scanner.shotsPerLine = 16;
        o.scanner.lines = 60;
    }));
    record("bowtie: four sweeps per record");
    test::expectGolden("gui_proc_graphs.txt", shown);
    EXPECT_EQ(sink.messages().size(), 1u) << sink.last();

    load(file);
    // An unreadable file changes nothing: the old file still answers, also to the pulse dialog.
    const QStringList before = dlg->resultTexts();
    load(dir.path() / "missing.raw");
    EXPECT_EQ(sink.last(), "ERROR opening playback file: " + (dir.path() / "missing.raw").string());
    dlg->shotSlider().slider().setValue(1);
    EXPECT_EQ(dlg->resultTexts(), before);
    test::click(*test::button(*dlg, "MF Pulse Dlg"));
    EXPECT_EQ(launchedPath, file.string() + " up to 30.0 m");
    dlg->hide(); // closed: the sliders do nothing until the dialog is shown again
    dlg->shotSlider().slider().setValue(7);
    EXPECT_EQ(dlg->resultTexts(), before);
}

TEST(ProcGraphWindow, AReturnAtStartIsInsideAndOneAtEndIsOutside) {
    test::TempDir dir;
    const ConfigRoot root(dir.path() / "home");
    RecordingSink sink;
    ASSERT_TRUE(root.ensureCreated(sink));
    ProcGraphModel model(root, sink);
    ASSERT_TRUE(model.load(test::makeRecording(dir.path(), "line.raw").string(), 0.5, 30.0));
    GroupView group;
    PulseView pulse;
    ASSERT_TRUE(model.showGroup(0, 0.5, 30.0, group, pulse));
    const float r = group.ranges[0][5];
    ASSERT_TRUE(model.showGroup(0, r, 30.0, group, pulse) && model.showPulse(5, r, 30.0, pulse));
    EXPECT_EQ(group.ranges[0][5], r);
    EXPECT_TRUE(pulse.inWindow);
    ASSERT_TRUE(model.showGroup(0, 0.5, r, group, pulse) && model.showPulse(5, 0.5, r, pulse));
    EXPECT_TRUE(std::isnan(group.ranges[0][5]) && std::isnan(group.intensity[5]));
    EXPECT_TRUE(pulse.found && !pulse.inWindow); // found, but outside: the other cursor colour
    EXPECT_EQ(pulse.range, r);
}

} // namespace
} // namespace quarv
