#include "core/scanfile/playback_file.hpp"
#include "core/waveform/waveform_processor.hpp"
#include "gui/dialogs/proc_graph_dlg.hpp"
#include "gui_support.hpp"
#include "support/recordings.hpp"
#include "support/test_support.hpp"

#include <QTest>
#include <qcustomplot.h>

#include <gtest/gtest.h>

#include <cmath>

namespace quarv {
namespace {

// The result texts of one pulse as an independent run of the waveform processor gives them:
// the file's records, the trailer temperatures, the window [rangeMin, rangeMax).
QStringList expectedTexts(const ConfigRoot& root, const std::filesystem::path& file,
                          std::uint32_t record, std::uint32_t pulse, double rangeMin,
                          double rangeMax) {
    RecordingSink sink;
    PlaybackFile reader(sink);
    EXPECT_TRUE(reader.open(file));
    ScannerCfg sc;
    DigitizerCfg dg;
    ProcessingCfg pr;
    EnvCfg env;
    CalibrationCfg cal;
    PanTiltCfg pt;
    AttitudeBlock att;
    reader.copyHeader(sc, dg, pr, env, cal, pt, att);
    pr.setRangeMin(static_cast<float>(rangeMin));
    pr.setRangeMax(static_cast<float>(rangeMax));
    WaveformProcessor wp(root, sink);
    EXPECT_TRUE(wp.configure(dg, pr, cal));
    TrailerTemperatures t;
    reader.readTrailer(t);
    std::vector<std::int16_t> samples(dg.samplesPerPulse());
    double horPos = 0;
    std::uint32_t word = 0;
    float el = 0;
    EXPECT_TRUE(reader.readPulse(pulse, record, samples, horPos, word, el));
    float range = 0;
    std::uint16_t amplitude = 0;
    bool saturated = false, found = false;
    wp.processWaveform(samples.data(), range, horPos, t.first, t.second, amplitude, saturated,
                       found);
    EXPECT_TRUE(found);
    const double snr = wp.computeSnr();
    const double intensity = wp.computeXcIntensity();
    auto q = [](const std::string& s) { return QString::fromStdString(s); };
    return {
        q(formatMessage("peak raw         : %d", static_cast<int>(wp.rawPeakIndex()))),
        q(formatMessage("peak XC          : %d",
                        static_cast<int>(wp.xcBuffer()[wp.xcPeakIndex()]))),
        q(formatMessage("peak before quad : %d", static_cast<int>(wp.xcPeakIndex()))),
        q(formatMessage("peak using quad  : %.2lf", wp.quadPeak())),
        q(formatMessage("dig horpos mm    : %.4lf", wp.horPosRange())),
        q(formatMessage("Range    : %.3f", static_cast<double>(range))),
        q(formatMessage("SNR      : %.0lf", snr)),
        q(formatMessage("Intensity: %.0lf", intensity)),
    };
}

struct ProcGraphs : ::testing::Test {
    test::TempDir dir;
    ConfigRoot root{dir.path() / "home"};
    RecordingSink sink;
    std::unique_ptr<ProcGraphDlg> dlg;
    std::string chosen;
    std::string launchedPath;
    double launchedEnd = -1;

    void SetUp() override {
        ASSERT_TRUE(root.ensureCreated(sink));
        dlg = std::make_unique<ProcGraphDlg>(root, sink);
        dlg->setFileChooser([this](QWidget*, const QString&, const QString& filter) {
            EXPECT_EQ(filter, "3D Files (*.pek *.raw)");
            return QString::fromStdString(chosen);
        });
        dlg->setPulseDialogLauncher([this](QWidget*, const std::string& p, double end) {
            launchedPath = p;
            launchedEnd = end;
        });
        dlg->show();
    }
    void load(const std::filesystem::path& p) {
        chosen = p.string();
        test::click(*test::button(*dlg, "Load File"));
    }
    QStringList pulseTexts() const { return dlg->resultTexts().mid(0, 8); }
};

TEST_F(ProcGraphs, LineRecordingShowsGroupPlotsAndPulseNumbers) {
    sim::SimResult truth;
    const auto file = test::makeRecording(dir.path(), "line.raw", {}, &truth);
    load(file);
    EXPECT_EQ(dlg->windowTitle(), QString::fromStdString("Processing File: " + file.string()));
    // The edits take the recording's own window until the operator changes them.
    EXPECT_DOUBLE_EQ(dlg->startEdit().value(), 0.5);
    EXPECT_DOUBLE_EQ(dlg->endEdit().value(), 30.0);
    EXPECT_EQ(dlg->shotSlider().axis().maximum(), 47.0);
    EXPECT_EQ(dlg->lineSlider().axis().maximum(), 11.0);
    EXPECT_EQ(dlg->shotSlider().pointer("Pointer-1")->value(), 1.0);
    EXPECT_EQ(dlg->lineSlider().pointer("Pointer-1")->value(), 0.0);

    // Group 0 is record 0: one range plot on the simulated plane, no average of one record.
    const Plot* ranges = dlg->rangeGraph().findPlot("Plot-1");
    ASSERT_NE(ranges, nullptr);
    ASSERT_EQ(ranges->size(), 48u);
    EXPECT_TRUE(dlg->rangeGraph().findPlot("Ave") == nullptr);
    int compared = 0;
    for (const sim::TruthRow& t : truth.truth) {
        if (t.line != 0 || t.shot < 2) continue; // shots 0 and 1 repeat shot 2
        EXPECT_NEAR(ranges->valueAt(t.shot), t.range, 0.01) << t.shot;
        ++compared;
    }
    EXPECT_EQ(compared, 46);
    EXPECT_EQ(ranges->valueAt(0), ranges->valueAt(2));
    ASSERT_NE(dlg->angleGraph().findPlot("Plot-1"), nullptr);
    // The sweep's ends: 20 degrees of mirror angle refracted into water (n = 1.34).
    const double edge = std::asin(std::sin(20.0 * M_PI / 180.0) / 1.34) * 180.0 / M_PI;
    const double a0 = dlg->angleGraph().findPlot("Plot-1")->valueAt(0);
    const double a47 = dlg->angleGraph().findPlot("Plot-1")->valueAt(47);
    EXPECT_NEAR(std::abs(a0), edge, 0.3);
    EXPECT_NEAR(std::abs(a47), edge, 0.3);
    EXPECT_LT(a0 * a47, 0.0);
    EXPECT_EQ(dlg->intensityGraph().findPlot("Plot-1")->size(), 48u);

    // Pulse 1 of record 0 with its numbers, its correlation and the peak cursor.
    EXPECT_EQ(pulseTexts(), expectedTexts(root, file, 0, 1, 0.5, 30.0));
    const Cursor* peak = dlg->correlationGraph().findCursor("Cursor-1");
    ASSERT_NE(peak, nullptr);
    EXPECT_EQ(peak->position(), dlg->model().processor().xcPeakIndexCopy());
    EXPECT_GT(peak->position(), 100.0);
    EXPECT_EQ(peak->color(), ProcGraphDlg::insideColor());
    EXPECT_EQ(dlg->correlationGraph().findPlot("Plot-1")->size(), 400u * 4u);
    EXPECT_EQ(dlg->waveformGraph().findPlot("Plot-1")->size(), 400u);
    EXPECT_EQ(dlg->rangeGraph().findCursor("Cursor-1")->position(), 1.0);
    const QStringList all = dlg->resultTexts();
    EXPECT_TRUE(all[8].startsWith("El Scanner volt  : ")) << all[8].toStdString();
    EXPECT_TRUE(all[9].startsWith("El Opt deg       : ")) << all[9].toStdString();
    EXPECT_TRUE(all[10].startsWith("Std Dev Rng: ")) << all[10].toStdString();
    // A flat plane seen over +-20 degrees: a few centimetres of spread, not zero, not metres.
    const double sd = all[10].mid(13).toDouble();
    EXPECT_GT(sd, 0.001);
    EXPECT_LT(sd, 1.0);
    test::screenshot(*dlg, "proc_graph_dlg");

    // The operator moves the shot slider: the next pulse, same record.
    dlg->shotSlider().slider().setFocus();
    QTest::keyClick(&dlg->shotSlider().slider(), Qt::Key_Right);
    EXPECT_EQ(pulseTexts(), expectedTexts(root, file, 0, 2, 0.5, 30.0));
    EXPECT_EQ(dlg->rangeGraph().findCursor("Cursor-1")->position(), 2.0);

    // ... and the line slider: record 5, back to pulse 1.
    dlg->lineSlider().slider().setFocus();
    for (int i = 0; i < 5; ++i) QTest::keyClick(&dlg->lineSlider().slider(), Qt::Key_Right);
    EXPECT_EQ(dlg->model().firstRecord(), 5u);
    EXPECT_EQ(pulseTexts(), expectedTexts(root, file, 5, 1, 0.5, 30.0));
    EXPECT_EQ(dlg->shotSlider().pointer("Pointer-1")->value(), 1.0);
    EXPECT_TRUE(sink.messages().empty()) << sink.last();
}

TEST_F(ProcGraphs, AWindowThatExcludesEveryReturnPlotsOnlyGaps) {
    const auto file = test::makeRecording(dir.path(), "line.raw");
    load(file);
    // A window beyond the plane (4 m away).
    test::typeValue(dlg->startEdit(), "20");
    const Plot* ranges = dlg->rangeGraph().findPlot("Plot-1");
    ASSERT_NE(ranges, nullptr);
    ASSERT_EQ(ranges->size(), 48u);
    for (std::size_t i = 0; i < 48; ++i) EXPECT_TRUE(std::isnan(ranges->valueAt(i))) << i;
    EXPECT_EQ(dlg->resultTexts()[10], "Std Dev Rng: no valid ranges");
    // Without a return inside the window the peak cursor takes the other colour.
    const Cursor* peak = dlg->correlationGraph().findCursor("Cursor-1");
    EXPECT_NE(peak->color(), ProcGraphDlg::insideColor());

    // Edited values are kept for the next file.
    const auto other = test::makeRecording(dir.path(), "other.raw");
    load(other);
    EXPECT_DOUBLE_EQ(dlg->startEdit().value(), 20.0);
    EXPECT_DOUBLE_EQ(dlg->endEdit().value(), 30.0);
}

TEST_F(ProcGraphs, GroupsOfTwoRecordsDrawBothAndTheirAverage) {
    const auto file = test::makeRecording(dir.path(), "pairs.raw");
    test::setPulsesPerPosition(file, 2);
    load(file);
    EXPECT_EQ(dlg->shotSlider().axis().maximum(), 95.0); // P x K pulses
    const Plot* r1 = dlg->rangeGraph().findPlot("Plot-1");
    const Plot* r2 = dlg->rangeGraph().findPlot("Plot-2");
    const Plot* ave = dlg->rangeGraph().findPlot("Ave");
    ASSERT_TRUE(r1 && r2 && ave);
    int checked = 0;
    for (std::size_t i = 2; i < 48; ++i) {
        if (std::isnan(r1->valueAt(i)) || std::isnan(r2->valueAt(i))) continue;
        EXPECT_NEAR(ave->valueAt(i), (r1->valueAt(i) + r2->valueAt(i)) / 2, 1e-5) << i;
        ++checked;
    }
    EXPECT_GT(checked, 40);
    EXPECT_TRUE(dlg->rangeGraph().customPlot().legend->visible());

    // Slider value P + 3 is pulse 3 of the group's second record.
    dlg->shotSlider().slider().setValue(48 + 3);
    EXPECT_EQ(pulseTexts(), expectedTexts(root, file, 1, 3, 0.5, 30.0));

    // A recording with one record per group shows no average, even after one that had it.
    const auto single = test::makeRecording(dir.path(), "single.raw");
    load(single);
    EXPECT_TRUE(dlg->rangeGraph().findPlot("Ave") == nullptr);
    EXPECT_TRUE(dlg->rangeGraph().findPlot("Plot-2") == nullptr);
}

TEST_F(ProcGraphs, StareAndBowtieRecordingsUseTheirOwnGroups) {
    const auto stare = test::makeRecording(dir.path(), "stare.raw", [](sim::SimOptions& o) {
        o.scanner.scanType = 1;
        o.scanner.shotsPerLine = 20;
        o.scanner.lines = 4;
        o.scanner.pulsesPerPosition = 5;
    });
    load(stare);
    EXPECT_EQ(dlg->shotSlider().axis().maximum(), 99.0); // P x W
    EXPECT_EQ(dlg->lineSlider().axis().maximum(), 3.0);
    ASSERT_NE(dlg->intensityGraph().findPlot("Plot-2"), nullptr); // minimum and maximum
    EXPECT_EQ(dlg->rangeGraph().findPlot("Plot-1")->size(), 20u);
    // Positions on the plane: every averaged range lies near 4 m (the target distance plus the
    // sweep's obliquity).
    for (std::size_t c = 0; c < 20; ++c) {
        EXPECT_GT(dlg->rangeGraph().findPlot("Plot-1")->valueAt(c), 3.5) << c;
        EXPECT_LT(dlg->rangeGraph().findPlot("Plot-1")->valueAt(c), 5.0) << c;
    }
    EXPECT_EQ(dlg->resultTexts()[10], "");   // no standard deviation for stare groups
    dlg->shotSlider().slider().setValue(17); // position 3, pulse 2
    EXPECT_EQ(dlg->rangeGraph().findCursor("Cursor-1")->position(), 3.0);

    const auto bowtie = test::makeRecording(dir.path(), "bowtie.raw", [](sim::SimOptions& o) {
        o.scanner.scanType = 4;
        o.scanner.shotsPerLine = 16;
        o.scanner.lines = 60;
    });
    load(bowtie);
    EXPECT_EQ(dlg->shotSlider().axis().maximum(), 63.0);
    EXPECT_EQ(dlg->lineSlider().axis().maximum(), 50.0);
    EXPECT_EQ(dlg->rangeGraph().findPlot("Plot-1")->size(), 64u);
    EXPECT_TRUE(dlg->rangeGraph().findPlot("Ave") == nullptr);
    EXPECT_EQ(dlg->intensityGraph().findPlot("Plot-2"), nullptr);
    EXPECT_TRUE(sink.messages().empty()) << sink.last();
}

TEST_F(ProcGraphs, PulseDialogNeedsAFileAndUnreadableFilesChangeNothing) {
    test::click(*test::button(*dlg, "MF Pulse Dlg"));
    EXPECT_EQ(sink.last(), "No file opened!");
    EXPECT_TRUE(launchedPath.empty());

    const auto file = test::makeRecording(dir.path(), "line.raw");
    load(file);
    test::click(*test::button(*dlg, "MF Pulse Dlg"));
    EXPECT_EQ(launchedPath, file.string());
    EXPECT_DOUBLE_EQ(launchedEnd, 30.0);

    const QStringList before = dlg->resultTexts();
    load(dir.path() / "missing.raw");
    EXPECT_EQ(sink.last(), "ERROR opening playback file: " + (dir.path() / "missing.raw").string());
    EXPECT_TRUE(dlg->model().isOpen());
    dlg->shotSlider().slider().setValue(1); // unchanged pulse, the old file still answers
    EXPECT_EQ(dlg->resultTexts(), before);
    test::click(*test::button(*dlg, "MF Pulse Dlg"));
    EXPECT_EQ(launchedPath, file.string());

    // Closed: the sliders do nothing until the dialog is shown again; the edits are kept.
    dlg->hide();
    dlg->shotSlider().slider().setValue(7);
    EXPECT_EQ(dlg->resultTexts(), before);
    EXPECT_DOUBLE_EQ(dlg->endEdit().value(), 30.0);
}

} // namespace
} // namespace quarv

namespace quarv {
namespace {

TEST(ProcGraphWindow, AReturnAtStartIsInsideAndOneAtEndIsOutside) {
    test::TempDir dir;
    const ConfigRoot root(dir.path() / "home");
    RecordingSink sink;
    ASSERT_TRUE(root.ensureCreated(sink));
    const auto file = test::makeRecording(dir.path(), "line.raw");
    ProcGraphModel model(root, sink);
    ASSERT_TRUE(model.load(file.string(), 0.5, 30.0));
    GroupView group;
    PulseView pulse;
    ASSERT_TRUE(model.showGroup(0, 0.5, 30.0, group, pulse));
    const float r = group.ranges[0][5];
    ASSERT_FALSE(std::isnan(r));

    ASSERT_TRUE(model.showGroup(0, r, 30.0, group, pulse));
    EXPECT_EQ(group.ranges[0][5], r);
    ASSERT_TRUE(model.showGroup(0, 0.5, r, group, pulse));
    EXPECT_TRUE(std::isnan(group.ranges[0][5]));
    EXPECT_TRUE(std::isnan(group.intensity[5]));
    // The shot slider's pulse 5 is then found but outside: the other cursor colour.
    ASSERT_TRUE(model.showPulse(5, 0.5, r, pulse));
    EXPECT_TRUE(pulse.found);
    EXPECT_FALSE(pulse.inWindow);
    EXPECT_EQ(pulse.range, r);
    ASSERT_TRUE(model.showPulse(5, r, 30.0, pulse));
    EXPECT_TRUE(pulse.inWindow);
}

} // namespace
} // namespace quarv
