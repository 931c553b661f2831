#include "core/app/notifier.hpp"
#include "core/cloud/cloud_renderer.hpp"
#include "core/cloud/cloud_store.hpp"
#include "core/config/config_root.hpp"
#include "core/scan/processing_session.hpp"
#include "gui/scan/ranger_quarv.hpp"
#include "gui_support.hpp"
#include "support/recordings.hpp"
#include "support/test_support.hpp"

#include <QCheckBox>
#include <QTest>
#include <qcustomplot.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

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

    void SetUp() override { ASSERT_TRUE(root.ensureCreated(sink)); }
    void start() {
        session = std::make_unique<ProcessingSession>(store, renderer, root, sink, notifier, 1);
        dlg = std::make_unique<RangerQuarv>(*session, sink);
    }
    QDoubleSpinBox& edit(const char* name) { return *test::spin(*dlg, name); }
    QCheckBox& rangeBox() { return *dlg->findChild<QCheckBox*>("rangeExclusion"); }
    LaserScanSettings savedSettings() {
        LaserScanSettings s;
        const auto bytes = test::readBytes(root.calFile("laserscan.cfg"));
        EXPECT_EQ(bytes.size(), 32u);
        std::memcpy(s.bytes.data(), bytes.data(), std::min<std::size_t>(32, bytes.size()));
        return s;
    }
};

TEST_F(BuildDialog, WithoutSettingsOrFileItStartsEmptyAndGated) {
    start();
    dlg->show();
    EXPECT_EQ(dlg->windowTitle(), "Ombrel Dialog: Processing File: ");
    EXPECT_TRUE(rangeBox().isChecked()); // no laserscan.cfg: range gate on
    EXPECT_TRUE(edit("startProcessing").isEnabled());
    for (const char* e : {"startProcessing", "endProcessing", "snrMin", "averageWindow"})
        EXPECT_EQ(edit(e).value(), 0.0) << e;
    EXPECT_FALSE(dlg->processButton().isEnabled());
    EXPECT_EQ(dlg->infoList().count(), 0);
    EXPECT_EQ(dlg->statsText(), "Statis");
    EXPECT_TRUE(sink.messages().empty()) << sink.last();
}

TEST_F(BuildDialog, ActivationShowsTheFileAndTheQualityOfItsLines) {
    sim::SimResult truth;
    const auto file = test::makeRecording(dir.path(), "line.raw", {}, &truth);
    start();
    session->setRangeWindow(0.5f, 30.0f);
    ASSERT_TRUE(session->openPlayback(file)); // the workstation prepares the file
    dlg->show();
    EXPECT_EQ(dlg->windowTitle(),
              QString::fromStdString("Ombrel Dialog: Processing File: " + file.string()));
    EXPECT_TRUE(dlg->processButton().isEnabled());
    EXPECT_EQ(edit("startProcessing").value(), 0.5);
    EXPECT_EQ(edit("endProcessing").value(), 30.0);
    ASSERT_EQ(dlg->infoList().count(), 30);
    EXPECT_EQ(dlg->infoList().lines()[2], QString::fromStdString(file.string()));
    EXPECT_EQ(dlg->groupSlide().axis().maximum(), 11.0); // 12 lines, one per group

    auto checkGroup = [&](std::uint32_t line) {
        const Plot* p = dlg->linesGraph().findPlot("Plot-1");
        ASSERT_NE(p, nullptr);
        ASSERT_EQ(p->size(), 48u);
        const QualityGroup& q = dlg->quality();
        ASSERT_EQ(q.firstLine, line);
        int compared = 0;
        for (const sim::TruthRow& t : truth.truth) {
            if (t.line != line) continue;
            EXPECT_NEAR(q.ranges[0][t.shot], t.range, 0.01) << t.shot;
            ++compared;
        }
        EXPECT_EQ(compared, 48);
        // The plot holds range against beam angle (sorted by angle), the line's own values.
        for (std::size_t i = 0; i < p->size(); ++i) {
            const auto it = std::find(q.angles[0].begin(), q.angles[0].end(), float(p->keyAt(i)));
            ASSERT_NE(it, q.angles[0].end());
            EXPECT_FLOAT_EQ(p->valueAt(i), q.ranges[0][it - q.angles[0].begin()]);
        }
        ASSERT_NE(dlg->averageGraph().findPlot("Ave"), nullptr);
        // One line per group: the average is that line, its spread the line's spread.
        EXPECT_EQ(q.average, q.ranges[0]);
        const std::string expected =
            formatMessage("Std Dev: %.3f \nOf Ave: %.3f meters", q.lineStdDev[0], q.averageStdDev);
        EXPECT_EQ(dlg->statsText().toStdString(), expected);
        EXPECT_GT(q.lineStdDev[0], 0.005); // a plane across +-20 degrees is not flat in range
        EXPECT_LT(q.lineStdDev[0], 0.5);
    };
    checkGroup(0);
    test::screenshot(*dlg, "ranger_quarv");

    dlg->groupSlide().slider().setFocus();
    for (int i = 0; i < 3; ++i) QTest::keyClick(&dlg->groupSlide().slider(), Qt::Key_Right);
    checkGroup(3);

    // A window beyond the plane (4 m away) leaves only gaps.
    test::typeValue(edit("startProcessing"), "20");
    for (float r : dlg->quality().ranges[0]) EXPECT_TRUE(std::isnan(r));
    EXPECT_EQ(dlg->statsText(), "Std Dev: --- \nOf Ave: --- meters");
    // Editing is not confirming: the session keeps its values on Cancel.
    test::click(*test::button(*dlg, "Cancel"));
    EXPECT_EQ(session->rangeMin(), 0.5f);
    EXPECT_TRUE(sink.messages().empty()) << sink.last();
}

TEST_F(BuildDialog, ProcessPointCloudHandsTheValuesToTheSettingsOfTheRun) {
    const auto file = test::makeRecording(dir.path(), "line.raw");
    start();
    ASSERT_TRUE(session->openPlayback(file));
    dlg->show();
    test::typeValue(edit("averageWindow"), "0");
    test::typeValue(edit("startProcessing"), "1.25");
    test::typeValue(edit("endProcessing"), "12.5");
    test::typeValue(edit("snrMin"), "7.5");
    test::click(*test::button(*dlg, "Process Pt Cloud"));
    EXPECT_EQ(dlg->result(), QDialog::Accepted);
    EXPECT_EQ(session->averageWindow(), 0u);
    EXPECT_EQ(session->rangeMin(), 1.25f);
    EXPECT_EQ(session->rangeMax(), 12.5f);
    EXPECT_EQ(session->snrMin(), 7.5f);

    ASSERT_TRUE(session->openPlayback(file));
    session->setRequest(ProcessRequest::ProcessPlayback);
    ASSERT_TRUE(session->startProcessing(0));
    ASSERT_TRUE(session->waitUntilIdle(std::chrono::seconds(60)));
    const LaserScanSettings s = savedSettings();
    EXPECT_EQ(s.rangeGate(), 1);
    EXPECT_EQ(s.averageWindow(), 1); // 0 is saved as 1
    EXPECT_EQ(s.rangeMin(), 1.25f);
    EXPECT_EQ(s.rangeMax(), 12.5f);
    EXPECT_EQ(s.snrThreshold(), 7.5f);
}

TEST_F(BuildDialog, TheCheckBoxOnlyEnablesTheEditsAndAnOpenGateSavesTheWholeRange) {
    LaserScanSettings stored = LaserScanSettings::defaults();
    stored.setRangeGate(0);
    stored.setAverageWindow(4);
    stored.setRangeMin(2.0f);
    stored.setRangeMax(9.0f);
    ASSERT_TRUE(saveLaserScanSettings(root, stored));
    const auto file = test::makeRecording(dir.path(), "line.raw");
    start();
    ASSERT_TRUE(session->openPlayback(file));
    dlg->show();
    EXPECT_FALSE(rangeBox().isChecked());
    EXPECT_FALSE(edit("startProcessing").isEnabled());
    EXPECT_EQ(edit("averageWindow").value(), 4.0);
    EXPECT_EQ(edit("startProcessing").value(), 2.0);
    EXPECT_EQ(edit("endProcessing").value(), 9.0);
    test::click(rangeBox());
    EXPECT_TRUE(edit("startProcessing").isEnabled());
    EXPECT_TRUE(edit("endProcessing").isEnabled());
    EXPECT_EQ(session->settings().rangeGate(), 0); // the byte is only shown by the box
    test::click(rangeBox()); // off again: "Process Pt Cloud" takes the box as the byte
    test::click(*test::button(*dlg, "Process Pt Cloud"));

    session->setRequest(ProcessRequest::ProcessPlayback);
    ASSERT_TRUE(session->startProcessing(0));
    ASSERT_TRUE(session->waitUntilIdle(std::chrono::seconds(60)));
    const LaserScanSettings s = savedSettings();
    EXPECT_EQ(s.rangeGate(), 0);
    EXPECT_EQ(s.averageWindow(), 4);
    EXPECT_EQ(s.rangeMin(), 0.0f);
    EXPECT_EQ(s.rangeMax(), 100.0f);

    // The next showing starts from the stored byte again: the box is clear.
    dlg->hide();
    dlg->show();
    EXPECT_FALSE(rangeBox().isChecked());
}

TEST_F(BuildDialog, GroupsOfTwoLinesAndPeakFiles) {
    const auto file = test::makeRecording(dir.path(), "pairs.raw");
    test::setPulsesPerPosition(file, 2);
    start();
    session->setRangeWindow(0.5f, 30.0f);
    ASSERT_TRUE(session->openPlayback(file));
    dlg->show();
    EXPECT_EQ(dlg->groupSlide().axis().maximum(), 5.0);
    const QualityGroup& q = dlg->quality();
    ASSERT_EQ(q.ranges.size(), 2u);
    ASSERT_NE(dlg->linesGraph().findPlot("Plot-2"), nullptr);
    EXPECT_TRUE(dlg->linesGraph().customPlot().legend->visible());
    for (std::size_t s = 0; s < 48; ++s)
        EXPECT_NEAR(q.average[s], (q.ranges[0][s] + q.ranges[1][s]) / 2, 1e-5) << s;
    EXPECT_TRUE(dlg->statsText().startsWith(QString::fromStdString(
        formatMessage("Std Dev: %.3f %.3f \n", q.lineStdDev[0], q.lineStdDev[1]))));

    // Peak files: the recorded positions become ranges on the same plane.
    sim::SimResult truth;
    const auto peaks = test::makeRecording(
        dir.path(), "line.pek", [](sim::SimOptions& o) { o.peakFile = true; }, &truth);
    ASSERT_TRUE(session->openPlayback(peaks));
    dlg->hide();
    dlg->show();
    ASSERT_EQ(dlg->quality().ranges.size(), 1u);
    int compared = 0;
    for (const sim::TruthRow& t : truth.truth) {
        if (t.line != 0) continue;
        EXPECT_NEAR(dlg->quality().ranges[0][t.shot], t.range, 0.01) << t.shot;
        ++compared;
    }
    EXPECT_EQ(compared, 48);
    EXPECT_TRUE(sink.messages().empty()) << sink.last();
}

} // namespace
} // namespace quarv
