// The request protocol between the operator's side and the processing thread.
#include "core/cloud/cloud_export.hpp"
#include "core/scan/laser_scan_settings.hpp"
#include "core/scan/pipeline_fixtures.hpp"
#include "core/scan/processing_session.hpp"
#include "support/golden.hpp"

#include <gtest/gtest.h>

#include <sstream>
#include <thread>
#include <tuple>

namespace quarv {
namespace {

using test::Engine;
using test::RecordingSpec;

// A run of 10 lines held in its progress post before line 3. The Process command for a second
// file stops it at its next line and is held until it ends; a third start replaces the held one.
// Destroying the session instead ends the run at its next line and joins the thread.
TEST(RequestProtocol, ANewFileStopsTheHeldRunAndTheLastStartWins) {
    const RecordingSpec first{.shots = 8, .lines = 10},
        second{.shots = 8, .lines = 4, .rangeOf = [](int, int) { return 7.0; }};
    for (const bool destroy : {false, true}) {
        Engine e(2, 40);
        ASSERT_TRUE(test::writeRecording(e.path("first.raw"), first));
        ASSERT_TRUE(test::writeRecording(e.path("second.raw"), second));
        ASSERT_TRUE(e.open(e.path("first.raw")) && e.session->startProcessing(0));
        ASSERT_TRUE(e.notifier.waitHeld());
        EXPECT_TRUE(e.session->isBusy());
        if (destroy) {
            std::thread destroyer([&] { e.session.reset(); });
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            e.notifier.release();
            destroyer.join(); // returns: the thread ended and was joined
            EXPECT_EQ(e.store->pointCount(0), 4u * 8u);
            continue;
        }
        ASSERT_TRUE(e.session->openPlayback(e.path("second.raw")));
        EXPECT_FALSE(e.session->continueFlag());
        ASSERT_TRUE(e.session->startProcessing(1)); // held
        ASSERT_TRUE(e.open(e.path("second.raw")) && e.session->startProcessing(2));
        e.notifier.release();
        ASSERT_TRUE(e.session->waitUntilIdle(std::chrono::seconds(60)));
        const auto firstPoints = e.points(0), secondPoints = e.points(2);
        ASSERT_EQ(firstPoints.size(), 4u * 8u) << "lines 0..3 of the first file";
        EXPECT_EQ(firstPoints.back().line, 3u);
        EXPECT_FALSE(e.store->layer(1).inUse);
        EXPECT_EQ(e.store->pointCount(1), 0u);
        ASSERT_EQ(secondPoints.size(), 4u * 8u);
        for (const auto& p : secondPoints) EXPECT_GT(p.range, 6.5f);
        EXPECT_EQ(e.store->current(), 2u);
        EXPECT_EQ(std::string(e.store->layer(2).name.data()), e.path("second.raw").string());
        EXPECT_TRUE(e.store->layer(0).inUse);
        EXPECT_FALSE(e.session->isBusy());
    }
}

TEST(RequestProtocol, NothingStartsWithoutAnOpenFile) {
    Engine e(2);
    EXPECT_FALSE(e.session->startProcessing(0));
    EXPECT_EQ(e.sink.last(), "ERROR: no file open for processing!");
    const auto missing = e.path("missing.raw");
    EXPECT_FALSE(e.session->openPlayback(missing));
    EXPECT_EQ(e.sink.last(), "ERROR opening playback file: " + missing.string());
    EXPECT_FALSE(e.session->startProcessing(0));
    // A cloud-file request needs a cloud file, not just any open file.
    ASSERT_TRUE(test::writeRecording(e.path("ok.raw"), RecordingSpec{}));
    ASSERT_TRUE(e.session->openPlayback(e.path("ok.raw")));
    e.session->setRequest(ProcessRequest::ProcessCloudFile);
    EXPECT_FALSE(e.session->startProcessing(0));
    EXPECT_EQ(e.sink.last(), "ERROR: no file open for processing!");
    EXPECT_TRUE(e.session->waitUntilIdle(std::chrono::seconds(1)));
    EXPECT_FALSE(e.store->layer(0).inUse);
}

// The dialog starts from laserscan.cfg (the defaults, range gate on, when there is none); a start
// completes it with the dialog's average window (0 kept as 1, at most 255), window and threshold,
// the window 0 .. 100 m with the range gate off, and writes it.
TEST(RequestSettings, StartCompletesAndWritesTheSettingsFile) {
    std::ostringstream t;
    for (const auto& [gate, window, lo, hi] :
         {std::tuple<int, std::uint32_t, float, float>{-1, 0, 2, 9},
          {1, 12, 2, 9},
          {1, 1000, 2, 9},
          {0, 3, 2, 9},
          {0, 0, 50, 60}}) {
        Engine e(0);
        if (gate >= 0) {
            LaserScanSettings s = LaserScanSettings::defaults();
            s.setRangeGate(static_cast<std::uint8_t>(gate));
            s.setAverageWindow(7);
            s.setRangeMin(1.0f);
            s.setRangeMax(2.0f);
            ASSERT_TRUE(saveLaserScanSettings(e.root, s));
        }
        e.start(1);
        t << "file gate " << gate << ", dialog " << e.session->averageWindow() << " "
          << e.session->rangeMin() << " " << e.session->rangeMax() << " gate "
          << int(e.session->settings().rangeGate());
        ASSERT_TRUE(test::writeRecording(e.path("s.raw"), RecordingSpec{}));
        e.session->setAverageWindow(window);
        e.session->setRangeWindow(lo, hi);
        e.session->setSnrMin(4.5f);
        ASSERT_TRUE(e.process(e.path("s.raw"), 0));
        LaserScanSettings saved;
        ASSERT_TRUE(loadLaserScanSettings(e.root, saved));
        t << "; given " << window << " " << lo << " " << hi << " 4.5, saved "
          << int(saved.averageWindow()) << " " << saved.rangeMin() << " " << saved.rangeMax() << " "
          << saved.snrThreshold() << " gate " << int(saved.rangeGate()) << "\n";
    }
    test::expectGolden("scan_settings_completion.txt", t.str());
}

// A fish in front of a wall: the clutter filter hides it after the run; re-filtering with
// edited settings applies the layer filter first and then, where the clutter filter is on,
// the clutter filters again. Progress runs over the lines, then the filters.
TEST(RequestFilter, ClutterRemovalsStayHiddenAndRefilterFollowsTheSettings) {
    Engine e(2);
    RecordingSpec spec{.shots = 24, .lines = 5};
    spec.rangeOf = [](int line, int shot) { return line == 2 && shot == 11 ? 2.5 : 5.0; };
    ASSERT_TRUE(test::writeRecording(e.path("wall.raw"), spec));
    PointLayer& layer = e.store->layer(0);
    layer.neighbourFilter = 1;
    layer.filterDistance = 0.3;
    ASSERT_TRUE(e.process(e.path("wall.raw"), 0));
    const CloudPoint& fish = e.store->point(0, 2 * 24 + 11);
    ASSERT_LT(fish.range, 3.0f);
    const std::uint32_t total = e.store->pointCount(0);
    EXPECT_EQ(total, 24u * 5u);
    EXPECT_LT(layer.rangeMin, 3.0f) << "the run's window spans what it saw, fish included";
    // 0, trunc((line + 1) / lines x 100) before each line, 0; then the filters: 1 ... 0.
    EXPECT_EQ(e.notifier.values(), (std::vector<int>{0, 20, 40, 60, 80, 100, 0, 1, 0}));
    EXPECT_GE(e.notifier.changes.load(), 4);
    EXPECT_GE(e.notifier.targets.load(), 1);
    const auto expectVisible = [&](std::uint32_t visible) {
        EXPECT_EQ(e.store->countVisible(0, true), visible);
        EXPECT_EQ(fish.isValid(), visible == total);
        EXPECT_FALSE(layer.filterPending);
    };
    expectVisible(total - 1);
    for (const auto& [snrMin, clutter, visible] :
         {std::tuple{1e12f, 1, 0u}, std::tuple{0.0f, 0, total}, std::tuple{0.0f, 1, total - 1}}) {
        SCOPED_TRACE(testing::Message() << snrMin << " " << clutter);
        layer.snrMin = snrMin;
        layer.neighbourFilter = static_cast<std::uint8_t>(clutter);
        e.session->requestFilter();
        ASSERT_TRUE(e.session->waitUntilIdle(std::chrono::seconds(60)));
        expectVisible(visible);
    }
}

// A 3DC file of two lines with known readings, ranges and amplitudes is rebuilt into points
// (placed by the same ray trace as a recording's; the layer's window follows the extent seen);
// it and a LAS import wait for the next re-filter, which takes both.
TEST(RequestKinds, CloudFileRebuildAndLasImportWaitForTheFilters) {
    Engine e(2);
    const ScanHeader h = test::headerFor({.lines = 2});
    CloudFileHeader ch;
    ch.scanner = h.scanner, ch.digitizer = h.digitizer, ch.processing = h.processing;
    ch.calibration = h.calibration;
    CloudFileWriter writer;
    const auto cloudPath = e.path("peaks.3DC"), lasPath = e.path("export.las");
    ASSERT_TRUE(writer.create(cloudPath, ch));
    ASSERT_TRUE(writer.writeLine(
        0, 0.4f, std::vector<CloudPeak>{{4.0, -0.5, 100.0f, false}, {4.25, 0.25, 900.0f, true}}));
    ASSERT_TRUE(writer.writeLine(1, -0.3f, std::vector<CloudPeak>{{6.5, 0.75, 437.5f, false}}));
    ASSERT_TRUE(writer.close());
    ASSERT_TRUE(e.process(cloudPath, 2)) << e.sink.last();
    const PointLayer &cloud = e.store->layer(2), &las = e.store->layer(4);
    std::ostringstream window;
    window.precision(9);
    window << "window " << cloud.rangeMin << " " << cloud.rangeMax << "\n";
    test::expectGolden("scan_cloud_file_rebuild.txt", e.text(2) + window.str());
    ASSERT_TRUE(exportLas(*e.store, lasPath, e.sink));
    ASSERT_TRUE(e.process(lasPath, 4)) << e.sink.last();
    EXPECT_EQ(e.store->pointCount(4), 3u);
    EXPECT_TRUE(cloud.filterPending && las.filterPending);
    e.session->requestFilter();
    ASSERT_TRUE(e.session->waitUntilIdle(std::chrono::seconds(60)));
    EXPECT_FALSE(cloud.filterPending || las.filterPending);
}

} // namespace
} // namespace quarv
