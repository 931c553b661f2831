// The build point cloud dialog over a processing session: activation, the quality view of each
// line group (golden transcript plus the simulator's truth) and the values handed to the run.
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

struct BuildDialog : ::testing::Test {
    test::TempDir dir;
    ConfigRoot root{dir.path() / "home"};
    RecordingSink sink;
    NullNotifier notifier;
    CloudStore store;
    CloudRenderer renderer{store};
    std::unique_ptr<ProcessingSession> session;
    std::unique_ptr<RangerQuarv> dlg;
    std::string shown;

    void SetUp() override { ASSERT_TRUE(root.ensureCreated(sink)); }
    void start() {
        session = std::make_unique<ProcessingSession>(store, renderer, root, sink, notifier, 1);
        dlg = std::make_unique<RangerQuarv>(*session, sink);
        dlg->show();
    }
    // Opens the file as the workstation does before showing the dialog.
    void open(const std::filesystem::path& file) {
        ASSERT_TRUE(session->openPlayback(file));
        dlg->hide();
        dlg->show();
    }
    QDoubleSpinBox& edit(const char* name) { return *test::spin(*dlg, name); }
    void record(const char* step) {
        shown +=
            std::string("== ") + step + "\n" + test::describe({dlg->windowTitle()}, dir.path()) +
            formatMessage("process button %d, group %.0f of %.0f\n",
                          dlg->processButton().isEnabled(),
                          dlg->groupSlide().pointer("Pointer-1")->value(),
                          dlg->groupSlide().axis().maximum()) +
            test::describeControls(*dlg) + test::describe(dlg->infoList().lines(), dir.path()) +
            "-- lines\n" + test::describe(dlg->linesGraph()) + "-- average\n" +
            test::describe(dlg->averageGraph()) + dlg->statsText().toStdString() + "\n";
    }
    // The ranges of the group's first line against the simulator's truth.
    void expectTruth(const sim::SimResult& truth, std::uint32_t line) {
        ASSERT_EQ(dlg->quality().firstLine, line);
        for (const sim::TruthRow& t : truth.truth) {
            if (t.line != line) continue;
            EXPECT_NEAR(dlg->quality().ranges[0][t.shot], t.range, 0.01) << t.shot;
        }
    }
};

TEST_F(BuildDialog, ActivationShowsTheFileAndTheQualityOfItsLineGroups) {
    start();
    record("no settings file, no recording: gated and empty");
    session->setRangeWindow(0.5f, 30.0f);
    sim::SimResult truth, peakTruth;
    open(test::makeRecording(dir.path(), "line.raw", {}, &truth));
    record("line.raw: one line per group");
    expectTruth(truth, 0);
    dlg->groupSlide().slider().setFocus();
    for (int i = 0; i < 3; ++i) QTest::keyClick(&dlg->groupSlide().slider(), Qt::Key_Right);
    record("group slider to 3");
    expectTruth(truth, 3);
    test::typeValue(edit("startProcessing"), "20"); // beyond the plane, 4 m away: only gaps
    record("window from 20 m");
    test::click(*test::button(*dlg, "Cancel")); // editing is not confirming
    EXPECT_EQ(session->rangeMin(), 0.5f);

    const auto pairs = test::makeRecording(dir.path(), "pairs.raw");
    test::setPulsesPerPosition(pairs, 2);
    open(pairs);
    record("pairs.raw: two lines per group and their average");
    const QualityGroup& q = dlg->quality();
    for (std::size_t s = 0; s < 48; ++s)
        EXPECT_NEAR(q.average[s], (q.ranges[0][s] + q.ranges[1][s]) / 2, 1e-5) << s;
    open(test::makeRecording(
        dir.path(), "line.pek", [](sim::SimOptions& o) { o.peakFile = true; }, &peakTruth));
    record("line.pek: recorded peak positions as ranges");
    expectTruth(peakTruth, 0);
    test::expectGolden("gui_build_dialog.txt", shown);
    EXPECT_TRUE(sink.messages().empty()) << sink.last();
}

TEST_F(BuildDialog, TheRangeBoxShowsTheStoredGateAndProcessHandsTheValuesToTheSession) {
    LaserScanSettings stored = LaserScanSettings::defaults();
    stored.setRangeGate(0);
    stored.setAverageWindow(4);
    stored.setRangeMin(2.0f);
    stored.setRangeMax(9.0f);
    ASSERT_TRUE(saveLaserScanSettings(root, stored));
    start();
    open(test::makeRecording(dir.path(), "line.raw"));
    QCheckBox& box = *dlg->findChild<QCheckBox*>("rangeExclusion");
    EXPECT_FALSE(box.isChecked() || edit("startProcessing").isEnabled());
    EXPECT_EQ(edit("averageWindow").value(), 4.0);
    EXPECT_EQ(edit("endProcessing").value(), 9.0);
    test::click(box); // only enables the edits: the byte is shown, not changed, by the box
    EXPECT_TRUE(edit("startProcessing").isEnabled() && edit("endProcessing").isEnabled());
    test::typeValue(edit("averageWindow"), "3");
    test::typeValue(edit("startProcessing"), "1.25");
    test::typeValue(edit("endProcessing"), "12.5");
    test::typeValue(edit("snrMin"), "7.5");
    test::click(*test::button(*dlg, "Process Pt Cloud"));
    EXPECT_EQ(dlg->result(), QDialog::Accepted);
    EXPECT_EQ(session->settings().rangeGate(), 0);
    EXPECT_EQ(session->averageWindow(), 3u);
    EXPECT_EQ(session->rangeMin(), 1.25f);
    EXPECT_EQ(session->rangeMax(), 12.5f);
    EXPECT_EQ(session->snrMin(), 7.5f);
    dlg->show(); // the next showing starts from the stored byte again
    EXPECT_FALSE(box.isChecked());
}

} // namespace
} // namespace quarv
