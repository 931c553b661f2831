// The request protocol between the operator's side and the processing thread.
#include "core/cloud/cloud_export.hpp"
#include "core/scan/laser_scan_settings.hpp"
#include "core/scan/pipeline_fixtures.hpp"
#include "core/scan/processing_session.hpp"
#include "support/golden.hpp"

#include <gtest/gtest.h>

#include <sstream>
#include <thread>

namespace quarv {
namespace {

using test::Engine;
using test::HoldAtProgress;
using test::RecordingSpec;

std::uint32_t maxLine(const std::vector<CloudPoint>& points) {
    std::uint32_t m = 0;
    for (const auto& p : points) m = std::max<std::uint32_t>(m, p.line);
    return m;
}

TEST(RequestProtocol, SecondFileStopsTheFirstAtItsNextLine) {
    HoldAtProgress gate(40); // progress 40 is posted before line 3 of 10
    Engine e(0);
    e.start(2, &gate);
    RecordingSpec first;
    first.shots = 8;
    first.lines = 10;
    RecordingSpec second = first;
    second.lines = 4;
    second.rangeOf = [](int, int) { return 7.0; };
    ASSERT_TRUE(test::writeRecording(e.path("first.raw"), first));
    ASSERT_TRUE(test::writeRecording(e.path("second.raw"), second));

    ASSERT_TRUE(e.session->openPlayback(e.path("first.raw")));
    e.session->setRequest(ProcessRequest::ProcessPlayback);
    ASSERT_TRUE(e.session->startProcessing(0));
    ASSERT_TRUE(gate.waitHeld());
    EXPECT_TRUE(e.session->isBusy());

    // The Process command for the second file while the first runs.
    ASSERT_TRUE(e.session->openPlayback(e.path("second.raw")));
    EXPECT_FALSE(e.session->continueFlag());
    e.session->setRequest(ProcessRequest::ProcessPlayback);
    ASSERT_TRUE(e.session->startProcessing(1)); // held until the first run ends
    gate.release();
    ASSERT_TRUE(e.session->waitUntilIdle(std::chrono::seconds(60)));

    const auto firstPoints = e.points(0);
    EXPECT_EQ(firstPoints.size(), 4u * 8u) << "lines 0..3 of the first file";
    EXPECT_EQ(maxLine(firstPoints), 3u);
    const auto secondPoints = e.points(1);
    EXPECT_EQ(secondPoints.size(), 4u * 8u);
    EXPECT_EQ(maxLine(secondPoints), 3u);
    for (const auto& p : secondPoints) EXPECT_GT(p.range, 6.5f);
    EXPECT_EQ(e.store->current(), 1u);
    EXPECT_EQ(std::string(e.store->layer(1).name.data()), e.path("second.raw").string());
    EXPECT_TRUE(e.store->layer(0).inUse);
    EXPECT_FALSE(e.session->isBusy());
}

TEST(RequestProtocol, AThirdStartReplacesTheHeldOne) {
    HoldAtProgress gate(50);
    Engine e(0);
    e.start(1, &gate);
    RecordingSpec spec;
    spec.shots = 4;
    spec.lines = 4;
    ASSERT_TRUE(test::writeRecording(e.path("a.raw"), spec));
    ASSERT_TRUE(e.session->openPlayback(e.path("a.raw")));
    ASSERT_TRUE(e.session->startProcessing(0));
    ASSERT_TRUE(gate.waitHeld());
    ASSERT_TRUE(e.session->openPlayback(e.path("a.raw")));
    ASSERT_TRUE(e.session->startProcessing(2)); // held
    ASSERT_TRUE(e.session->openPlayback(e.path("a.raw")));
    ASSERT_TRUE(e.session->startProcessing(3)); // replaces the held start
    gate.release();
    ASSERT_TRUE(e.session->waitUntilIdle(std::chrono::seconds(60)));
    EXPECT_EQ(e.store->pointCount(2), 0u);
    EXPECT_FALSE(e.store->layer(2).inUse);
    EXPECT_EQ(e.store->pointCount(3), 16u);
    EXPECT_EQ(e.store->pointCount(0), 2u * 4u); // stopped after line 1 (progress 50)
}

TEST(RequestProtocol, NothingStartsWithoutAnOpenFile) {
    Engine e(2);
    EXPECT_FALSE(e.session->startProcessing(0));
    EXPECT_EQ(e.sink.last(), "ERROR: no file open for processing!");
    const auto missing = e.path("missing.raw");
    EXPECT_FALSE(e.session->openPlayback(missing));
    EXPECT_EQ(e.sink.last(), "ERROR opening playback file: " + missing.string());
    EXPECT_FALSE(e.session->startProcessing(0));
    EXPECT_EQ(e.sink.last(), "ERROR: no file open for processing!");
    // A cloud-file request needs a cloud file, not just any open file.
    RecordingSpec spec;
    ASSERT_TRUE(test::writeRecording(e.path("ok.raw"), spec));
    ASSERT_TRUE(e.session->openPlayback(e.path("ok.raw")));
    e.session->setRequest(ProcessRequest::ProcessCloudFile);
    EXPECT_FALSE(e.session->startProcessing(0));
    EXPECT_TRUE(e.session->waitUntilIdle(std::chrono::seconds(1)));
    EXPECT_FALSE(e.store->layer(0).inUse);
}

TEST(RequestSettings, StartCompletesAndWritesTheSettingsFile) {
    struct Case {
        std::uint8_t gate; // 255: no file at start
        std::uint32_t averageWindow;
        std::uint8_t savedWindow;
        float savedMin, savedMax;
    };
    for (const Case& c :
         {Case{255, 0, 1, 2.0f, 9.0f}, Case{1, 6, 6, 2.0f, 9.0f}, Case{0, 3, 3, 0.0f, 100.0f}}) {
        Engine e(0);
        if (c.gate != 255) {
            LaserScanSettings s = LaserScanSettings::defaults();
            s.setRangeGate(c.gate);
            s.setRangeMin(1.0f);
            s.setRangeMax(2.0f);
            ASSERT_TRUE(saveLaserScanSettings(e.root, s));
        } else {
            EXPECT_FALSE(std::filesystem::exists(laserScanSettingsPath(e.root)));
        }
        e.start(1);
        if (c.gate == 255) {
            EXPECT_EQ(e.session->settings().rangeGate(), 1);
            EXPECT_EQ(e.session->rangeMin(), 0.0f);
            EXPECT_EQ(e.session->averageWindow(), 0u);
        } else {
            EXPECT_EQ(e.session->rangeMin(), 1.0f); // the dialog starts from the file
        }
        RecordingSpec spec;
        spec.lines = 1;
        ASSERT_TRUE(test::writeRecording(e.path("s.raw"), spec));
        e.session->setAverageWindow(c.averageWindow);
        e.session->setRangeWindow(2.0f, 9.0f);
        e.session->setSnrMin(4.5f);
        ASSERT_TRUE(e.session->openPlayback(e.path("s.raw")));
        ASSERT_TRUE(e.session->startProcessing(0));
        ASSERT_TRUE(e.session->waitUntilIdle(std::chrono::seconds(60)));
        LaserScanSettings saved;
        ASSERT_TRUE(loadLaserScanSettings(e.root, saved));
        EXPECT_EQ(saved.averageWindow(), c.savedWindow);
        EXPECT_EQ(saved.rangeMin(), c.savedMin);
        EXPECT_EQ(saved.rangeMax(), c.savedMax);
        EXPECT_EQ(saved.snrThreshold(), 4.5f);
        EXPECT_EQ(saved.rangeGate(), c.gate == 255 ? 1 : c.gate);
        EXPECT_EQ(test::readBytes(laserScanSettingsPath(e.root)).size(), 32u);
    }
}

// A fish in front of a wall: the clutter filter hides it after the run; re-filtering with
// edited settings applies the layer filter first and then, where the clutter filter is on,
// the clutter filters again.
TEST(RequestFilter, ClutterRemovalsStayHiddenAndRefilterFollowsTheSettings) {
    Engine e(2);
    RecordingSpec spec;
    spec.shots = 24;
    spec.lines = 5;
    spec.rangeOf = [](int line, int shot) { return line == 2 && shot == 11 ? 2.5 : 5.0; };
    ASSERT_TRUE(test::writeRecording(e.path("wall.raw"), spec));
    PointLayer& layer = e.store->layer(0);
    layer.neighbourFilter = 1;
    layer.filterDistance = 0.3;
    ASSERT_TRUE(e.process(e.path("wall.raw"), 0));

    const auto fishIndex = [&] {
        for (std::uint32_t i = 0; i < e.store->pointCount(0); ++i)
            if (e.store->point(0, i).range < 3.0f) return i;
        return ~0u;
    }();
    ASSERT_NE(fishIndex, ~0u);
    const auto visible = [&] { return e.store->countVisible(0, true); };
    const std::uint32_t total = e.store->pointCount(0);
    EXPECT_EQ(total, 24u * 5u);
    EXPECT_FALSE(e.store->point(0, fishIndex).isValid());
    EXPECT_EQ(visible(), total - 1);
    EXPECT_FALSE(layer.filterPending);
    // The run's window now spans what it saw, fish included.
    EXPECT_LT(layer.rangeMin, 3.0f);

    struct Step {
        float snrMin;
        std::uint8_t clutter;
        std::uint32_t expectedVisible;
        bool fishVisible;
    };
    for (const Step& s :
         {Step{1e12f, 1, 0, false}, Step{0.0f, 0, total, true}, Step{0.0f, 1, total - 1, false}}) {
        layer.snrMin = s.snrMin;
        layer.neighbourFilter = s.clutter;
        e.session->requestFilter();
        ASSERT_TRUE(e.session->waitUntilIdle(std::chrono::seconds(60)));
        EXPECT_EQ(visible(), s.expectedVisible) << s.snrMin << " " << int(s.clutter);
        EXPECT_EQ(e.store->point(0, fishIndex).isValid(), s.fishVisible);
        EXPECT_FALSE(layer.filterPending);
    }
}

TEST(RequestKinds, CloudFileRebuildAndLasImportWaitForTheFilters) {
    Engine e(2);
    // A cloud file by hand: two lines with known readings, ranges and amplitudes.
    ScanHeader h = test::headerFor(RecordingSpec{});
    CloudFileHeader ch;
    ch.scanner = h.scanner;
    ch.scanner.setLines(2);
    ch.digitizer = h.digitizer;
    ch.processing = h.processing;
    ch.calibration = h.calibration;
    ch.panTilt = h.panTilt;
    CloudFileWriter writer;
    const auto cloudPath = e.path("peaks.3DC");
    ASSERT_TRUE(writer.create(cloudPath, ch));
    const std::vector<CloudPeak> line0 = {{4.0, -0.5, 100.0f, false}, {4.25, 0.25, 900.0f, true}};
    const std::vector<CloudPeak> line1 = {{6.5, 0.75, 437.5f, false}};
    ASSERT_TRUE(writer.writeLine(0, 0.4f, line0));
    ASSERT_TRUE(writer.writeLine(1, -0.3f, line1));
    ASSERT_TRUE(writer.close());

    ASSERT_TRUE(e.process(cloudPath, 2)) << e.sink.last();
    EXPECT_TRUE(e.store->layer(2).filterPending);
    // The rebuilt points (placed by the same ray trace as a recording's) and the layer's window,
    // which follows the extent seen.
    std::ostringstream t;
    t.precision(9);
    for (const CloudPoint& p : e.points(2))
        t << p.x << " " << p.y << " " << p.z << " " << p.range << " " << p.elevation << " "
          << p.azimuth << " " << p.amplitude << " " << p.snr << " " << int(p.saturated) << " "
          << p.line << " " << p.sequence << " " << int(p.valid) << "\n";
    t << "window " << e.store->layer(2).rangeMin << " " << e.store->layer(2).rangeMax << "\n";
    test::expectGolden("scan_cloud_file_rebuild.txt", t.str());

    // A LAS import waits for the filters too.
    const auto lasPath = e.path("export.las");
    ASSERT_TRUE(exportLas(*e.store, lasPath, e.sink));
    ASSERT_TRUE(e.process(lasPath, 4)) << e.sink.last();
    EXPECT_EQ(e.store->pointCount(4), 3u);
    EXPECT_TRUE(e.store->layer(4).filterPending);
    // The next re-filter takes both waiting layers.
    e.session->requestFilter();
    ASSERT_TRUE(e.session->waitUntilIdle(std::chrono::seconds(60)));
    EXPECT_FALSE(e.store->layer(2).filterPending);
    EXPECT_FALSE(e.store->layer(4).filterPending);
}

TEST(RequestProtocol, DestroyingTheSessionDuringARunEndsIt) {
    HoldAtProgress gate(20);
    Engine e(0);
    e.start(2, &gate);
    RecordingSpec spec;
    spec.shots = 8;
    spec.lines = 10;
    ASSERT_TRUE(test::writeRecording(e.path("long.raw"), spec));
    ASSERT_TRUE(e.session->openPlayback(e.path("long.raw")));
    ASSERT_TRUE(e.session->startProcessing(0));
    ASSERT_TRUE(gate.waitHeld());
    std::thread destroyer([&] { e.session.reset(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    gate.release();
    destroyer.join(); // returns: the thread ended and was joined
    EXPECT_LE(e.store->pointCount(0), 10u * 8u);
}

} // namespace
} // namespace quarv
