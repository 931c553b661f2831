#include "gui/waveform/mf_pulse_dlg.hpp"
#include "gui_support.hpp"
#include "support/recordings.hpp"
#include "support/test_support.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace quarv {
namespace {

TEST(PulseWidth, HalfMaximumCrossingsAreInterpolated) {
    // A triangle of height 1 rising over 10 entries and falling over 20: width 15.
    std::vector<float> tri(60, 0.0f);
    for (int i = 0; i <= 10; ++i) tri[10 + i] = i / 10.0f;
    for (int i = 0; i <= 20; ++i) tri[20 + i] = 1.0f - i / 20.0f;
    EXPECT_NEAR(widthAtHalfMaximum(tri), 15.0, 1e-5);
    // A Gaussian of sigma 10: 2 sqrt(2 ln 2) sigma.
    std::vector<float> g(100);
    for (int i = 0; i < 100; ++i)
        g[i] = static_cast<float>(std::exp(-0.5 * std::pow((i - 48) / 10.0, 2)));
    EXPECT_NEAR(widthAtHalfMaximum(g), 23.548, 0.05);
    // A step never falls back below half on the right: no width.
    std::vector<float> step(20, 0.0f);
    std::fill(step.begin() + 10, step.end(), 1.0f);
    EXPECT_TRUE(std::isnan(widthAtHalfMaximum(step)));
    EXPECT_TRUE(std::isnan(widthAtHalfMaximum({})));
}

struct PulseDialog : ::testing::Test {
    test::TempDir dir;
    ConfigRoot root{dir.path() / "home"};
    RecordingSink sink;
    void SetUp() override { ASSERT_TRUE(root.ensureCreated(sink)); }
};

TEST_F(PulseDialog, ProcessOverlaysTemplateAndAverageWithoutWritingTheTemplate) {
    const auto file = test::makeRecording(dir.path(), "plane.raw");
    const auto templateBefore = test::readBytes(root.pulseTemplatePath());
    MFPulseDlg dlg(root, sink, file.string(), 30.0);
    dlg.show();
    EXPECT_EQ(dlg.windowTitle(), "Matched Filter Pulse Analysis");
    EXPECT_EQ(dlg.firstText(), "Static");
    EXPECT_EQ(dlg.secondText(), "Static");
    test::click(*test::button(dlg, "Process"));

    const PulseAnalysis& a = dlg.analysis();
    EXPECT_EQ(a.waveformsProcessed, 48 * 12);
    EXPECT_EQ(a.pulsesAveraged, std::min(64, a.returnsFound));
    EXPECT_GT(a.returnsFound, 400);
    // The shipped template: a Gaussian of sigma 10 interpolated samples peaking at 48.
    EXPECT_NEAR(a.templateWidth, 23.55, 0.3);
    // The simulated laser pulse has the template's width; the average sits on its peak.
    EXPECT_NEAR(a.averageWidth, a.templateWidth, 0.15 * a.templateWidth);
    const auto top = std::max_element(a.averageShape.begin(), a.averageShape.end());
    EXPECT_NEAR(top - a.averageShape.begin(), 48, 1);
    ASSERT_NE(dlg.graph().findPlot("Plot-1"), nullptr);
    ASSERT_NE(dlg.graph().findPlot("Plot-2"), nullptr);
    EXPECT_EQ(dlg.graph().findPlot("Plot-2")->size(), 100u);
    EXPECT_TRUE(dlg.firstText().startsWith("Template (mf_pulse.bin): width at half maximum 23."))
        << dlg.firstText().toStdString();
    EXPECT_TRUE(dlg.secondText().startsWith("Average of the 64 strongest of "))
        << dlg.secondText().toStdString();
    test::screenshot(dlg, "mf_pulse_dlg");

    EXPECT_EQ(test::readBytes(root.pulseTemplatePath()), templateBefore);
    test::click(*test::button(dlg, "Done"));
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_TRUE(sink.messages().empty()) << sink.last();
}

TEST_F(PulseDialog, AWiderLaserPulseShowsAsAWiderAverage) {
    const auto file = test::makeRecording(dir.path(), "wide.raw", [](sim::SimOptions& o) {
        o.waveform.pulseSigmaRaw = 5.0; // twice the template's width
    });
    MFPulseDlg dlg(root, sink, file.string(), 30.0);
    test::click(*test::button(dlg, "Process"));
    EXPECT_GT(dlg.analysis().averageWidth, 1.6 * dlg.analysis().templateWidth);

    // A long recording is sampled: whole records spread over the file, at most about 4096
    // waveforms.
    const auto wide = test::makeRecording(dir.path(), "long.raw", [](sim::SimOptions& o) {
        o.scanner.shotsPerLine = 100;
        o.scanner.lines = 120;
    });
    MFPulseDlg sampled(root, sink, wide.string(), 30.0);
    test::click(*test::button(sampled, "Process"));
    EXPECT_GE(sampled.analysis().waveformsProcessed, 3000);
    EXPECT_LE(sampled.analysis().waveformsProcessed, 4096);

    // Within an "End" range short of the plane nothing qualifies.
    MFPulseDlg near(root, sink, file.string(), 1.0);
    test::click(*test::button(near, "Process"));
    EXPECT_EQ(near.analysis().pulsesAveraged, 0);
    EXPECT_TRUE(near.secondText().startsWith("No unsaturated return between 0.50 and 1.00 m"))
        << near.secondText().toStdString();

    MFPulseDlg missing(root, sink, (dir.path() / "none.raw").string(), 30.0);
    test::click(*test::button(missing, "Process"));
    EXPECT_EQ(sink.last(), "ERROR opening playback file: " + (dir.path() / "none.raw").string());
    EXPECT_EQ(missing.firstText(), "Static");
}

} // namespace
} // namespace quarv
