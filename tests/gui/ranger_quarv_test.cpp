// The build point cloud dialog over a processing session: the stored gate, the quality view of
// each line group (golden transcript plus the simulator's truth) and the values handed to the run.
#include "core/app/notifier.hpp"
#include "core/cloud/cloud_renderer.hpp"
#include "core/cloud/cloud_store.hpp"
#include "core/config/config_root.hpp"
#include "core/scan/processing_session.hpp"
#include "gui/scan/ranger_quarv.hpp"
#include "gui_support.hpp"
#include "support/golden.hpp"
#include "support/recordings.hpp"
#include "support/test_support.hpp"

#include <QCheckBox>
#include <QTest>

#include <gtest/gtest.h>

namespace quarv {
namespace {

TEST(BuildDialog, ShowsTheStoredGateTheQualityOfLineGroupsAndHandsTheValuesToTheSession) {
    test::TempDir dir;
    ConfigRoot root{dir.path() / "home"};
    RecordingSink sink;
    NullNotifier notifier;
    CloudStore store;
    CloudRenderer renderer{store};
    ASSERT_TRUE(root.ensureCreated(sink));
    ProcessingSession session(store, renderer, root, sink, notifier, 1);
    RangerQuarv dlg(session, sink);
    dlg.show();
    std::string shown;
    const auto record = [&](const char* step, const std::filesystem::path& open = {}) {
        if (!open.empty()) { // as the workstation does before showing the dialog
            EXPECT_TRUE(session.openPlayback(open));
            dlg.hide();
            dlg.show();
        }
        shown +=
            std::string("== ") + step + "\n" + test::describe({dlg.windowTitle()}, dir.path()) +
            formatMessage(
                "process button %d, group %.0f of %.0f\n", dlg.processButton().isEnabled(),
                dlg.groupSlide().pointer("Pointer-1")->value(), dlg.groupSlide().axis().maximum()) +
            test::describeControls(dlg) + test::describe(dlg.infoList().lines(), dir.path()) +
            "-- lines\n" + test::describe(dlg.linesGraph()) + "-- average\n" +
            test::describe(dlg.averageGraph()) + dlg.statsText().toStdString() + "\n";
    };
    // The ranges of the group's first line against the simulator's truth.
    const auto expectTruth = [&](const sim::SimResult& truth, std::uint32_t line) {
        ASSERT_EQ(dlg.quality().firstLine, line);
        for (const sim::TruthRow& t : truth.truth) {
            if (t.line != line) continue;
            EXPECT_NEAR(dlg.quality().ranges[0][t.shot], t.range, 0.01) << t.shot;
        }
    };
    record("no settings file, no recording: gated and empty");
    session.setRangeWindow(0.5f, 30.0f);
    sim::SimResult truth, peakTruth;
    record("line.raw: one line per group", test::makeRecording(dir.path(), "line.raw", {}, &truth));
    expectTruth(truth, 0);
    dlg.groupSlide().slider().setFocus();
    for (int i = 0; i < 3; ++i) QTest::keyClick(&dlg.groupSlide().slider(), Qt::Key_Right);
    record("group slider to 3");
    expectTruth(truth, 3);
    test::typeValue(*test::spin(dlg, "startProcessing"), "20"); // beyond the plane: only gaps
    record("window from 20 m");
    test::click(*test::button(dlg, "Cancel")); // editing is not confirming
    EXPECT_EQ(session.rangeMin(), 0.5f);

    const auto pairs = test::makeRecording(dir.path(), "pairs.raw");
    test::setPulsesPerPosition(pairs, 2);
    record("pairs.raw: two lines per group and their average", pairs);
    const QualityGroup& q = dlg.quality();
    for (std::size_t s = 0; s < 48; ++s)
        EXPECT_NEAR(q.average[s], (q.ranges[0][s] + q.ranges[1][s]) / 2, 1e-5) << s;
    record("line.pek: recorded peak positions as ranges",
           test::makeRecording(
               dir.path(), "line.pek", [](sim::SimOptions& o) { o.peakFile = true; }, &peakTruth));
    expectTruth(peakTruth, 0);
    test::expectGolden("gui_build_dialog.txt", shown);

    for (auto [name, text] : {std::pair{"averageWindow", "3"},
                              {"startProcessing", "1.25"},
                              {"endProcessing", "12.5"},
                              {"snrMin", "7.5"}})
        test::typeValue(*test::spin(dlg, name), text);
    test::click(*test::button(dlg, "Process Pt Cloud"));
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
    EXPECT_FALSE(box.isChecked() || test::spin(gated, "startProcessing")->isEnabled());
    test::click(box);
    EXPECT_TRUE(test::spin(gated, "startProcessing")->isEnabled());
    EXPECT_EQ(second.settings().rangeGate(), 0);
}

} // namespace
} // namespace quarv
