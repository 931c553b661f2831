// The processing thread under broken input and hurried operators: recordings cut short at every
// kind of place, a new file started while a run is in progress, and many runs on one engine.
#include "core/cloud/cloud_export.hpp"
#include "core/cloud/cloud_file.hpp"
#include "core/scan/pipeline_fixtures.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>
#include <tuple>

namespace quarv {
namespace {

namespace fs = std::filesystem;
using test::Engine;
using test::RecordingSpec;

// Every field of two point lists, the colour (which depends on the layer's extent) optionally.
void expectSamePoints(std::vector<CloudPoint> got, std::vector<CloudPoint> want,
                      bool withColour = true) {
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
        if (!withColour) got[i].color = want[i].color;
        const auto fields = [](const CloudPoint& c) {
            return std::tuple(c.x, c.y, c.z, c.color, c.azimuth, c.elevation, c.range, c.amplitude,
                              c.snr, c.saturated, c.valid, c.sequence, c.line, c.peakPosition);
        };
        ASSERT_TRUE(fields(got[i]) == fields(want[i])) << "point " << i;
    }
}

std::size_t entriesIn(const char* dir) {
    return static_cast<std::size_t>(
        std::distance(fs::directory_iterator(dir), fs::directory_iterator{}));
}

// A recording cut short at every kind of place in a line record of 8 shots (prefix 0..17,
// elevation 18, azimuths 22..53, positions 54..117, words 118..149, waveforms from 150; line 5
// is the trailer): the complete lines give exactly the points of the same lines of the whole
// recording, the run ends cleanly and the engine takes the next file as if nothing happened.
TEST(TruncatedRecording, CompleteLinesAreProcessedAndTheRunEndsCleanly) {
    RecordingSpec spec;
    spec.shots = 8, spec.lines = 5, spec.samples = 300;
    spec.rangeOf = [](int line, int shot) { return 4.0 + 0.3 * line + 0.05 * shot; };
    Engine e(2);
    const fs::path whole = e.path("whole.raw"), part = e.path("part.raw");
    ASSERT_TRUE(test::writeRecording(whole, spec));
    ASSERT_TRUE(e.process(whole, 0)) << e.sink.last();
    const auto all = e.points(0);
    ASSERT_EQ(all.size(), 40u);
    const std::size_t lineBytes = 22 + 4 * 8 + 8 * (12 + 2 * 300);
    const std::pair<int, std::size_t> cuts[] = {
        {2, 7}, {3, 30}, {1, 60}, {4, 3000}, {3, 0}, {4, lineBytes - 2}, {5, 6}, {2, 151}};
    for (const auto& [line, into] : cuts) {
        SCOPED_TRACE(testing::Message() << "cut " << into << " bytes into line " << line);
        e.openWindow(1), e.openWindow(2); // a run leaves the extent it saw as the window
        fs::copy_file(whole, part, fs::copy_options::overwrite_existing);
        fs::resize_file(part, kScanHeaderSize + line * lineBytes + into);
        ASSERT_TRUE(e.process(part, 1)) << "the run must end";
        EXPECT_TRUE(e.sink.messages().empty()) << e.sink.last();
        EXPECT_FALSE(e.session->isBusy());
        expectSamePoints(e.points(1), {all.begin(), all.begin() + line * 8}, false);
        EXPECT_EQ(e.session->engine().lines(), static_cast<std::size_t>(line));
        ASSERT_TRUE(e.process(whole, 2));
        expectSamePoints(e.points(2), all);
    }
}

// Two recordings told apart by amplitude; the first spreads its ranges over 3 to 6.5 m, so the
// range window it leaves in a layer lets the second, at 5 m, through.
RecordingSpec recording(std::uint16_t lines, bool first) {
    RecordingSpec r;
    r.shots = 6, r.lines = lines, r.samples = 300;
    r.rangeOf = [first](int, int shot) { return first ? 3.0 + 0.7 * shot : 5.0; };
    r.amplitudeOf = [first](int, int) { return first ? 700.0 : 200.0; };
    return r;
}

// A second file started while the first one's run is held before a given line: its run takes
// every one of its points, numbered from 0, and its layer holds no point of the first file,
// whether it fills the layer the first run was filling or another.
TEST(NewFileDuringARun, LosesNoPointOfTheNewRunAndNeverMixesRuns) {
    const std::pair<int, std::uint32_t> cases[] = {{0, 0}, {4, 0}, {9, 0}, {0, 3}, {5, 2}};
    for (const auto& [heldBeforeLine, layer] : cases) {
        SCOPED_TRACE(testing::Message()
                     << "held before line " << heldBeforeLine << ", layer " << layer);
        test::HoldAtProgress hold((heldBeforeLine + 1) * 10); // 10 lines: line k posts (k + 1) x 10
        Engine e(0);
        e.start(2, &hold);
        ASSERT_TRUE(test::writeRecording(e.path("first.raw"), recording(10, true)));
        ASSERT_TRUE(test::writeRecording(e.path("second.raw"), recording(7, false)));
        ASSERT_TRUE(e.session->openPlayback(e.path("first.raw")));
        e.session->setRequest(ProcessRequest::ProcessPlayback);
        ASSERT_TRUE(e.session->startProcessing(0));
        ASSERT_TRUE(hold.waitHeld());
        ASSERT_TRUE(e.session->openPlayback(e.path("second.raw")));
        e.session->setRequest(ProcessRequest::ProcessPlayback);
        ASSERT_TRUE(e.session->startProcessing(layer));
        hold.release();
        ASSERT_TRUE(e.session->waitUntilIdle(std::chrono::seconds(60)));
        const auto points = e.points(layer);
        ASSERT_EQ(points.size(), 7u * 6u);
        for (std::size_t i = 0; i < points.size(); ++i) {
            EXPECT_LT(points[i].amplitude, 450.0f) << "point " << i << " is not of the new file";
            EXPECT_NEAR(points[i].range, 5.0f, 0.3f) << i;
            EXPECT_EQ(points[i].sequence, i);
            EXPECT_EQ(points[i].line, i / 6);
        }
        if (layer == 0) continue;
        const auto first = e.points(0); // the first run ends after the line it was held before
        EXPECT_EQ(first.size(), std::size_t(heldBeforeLine + 1) * 6u);
        for (const auto& p : first) EXPECT_GT(p.amplitude, 450.0f);
    }
}

// Playback runs, LAS imports and cloud-file rebuilds on one session: every run of a file gives the
// layer of its first run, and no file handle or thread accumulates (memory: the sanitizer build's
// leak checker).
TEST(BackToBackRuns, RepeatedRunsGiveIdenticalLayersAndLeakNothing) {
    Engine e(2);
    RecordingSpec spec;
    spec.shots = 8, spec.lines = 4, spec.samples = 200;
    spec.rangeOf = [](int line, int shot) { return 3.0 + 0.2 * line + 0.02 * shot; };
    const fs::path raw = e.path("scan.raw"), las = e.path("scan.las"), cloud = e.path("scan.3DC");
    ASSERT_TRUE(test::writeRecording(raw, spec));
    e.store->layer(0).filterDistance = 0.5;
    ASSERT_TRUE(e.process(raw, 0) && exportLas(*e.store, las, e.sink) && e.process(las, 1));
    const auto first = e.points(0), firstLas = e.points(1);
    const ScanHeader h = test::headerFor(spec);
    CloudFileHeader ch;
    ch.scanner = h.scanner, ch.digitizer = h.digitizer, ch.processing = h.processing;
    ch.calibration = h.calibration, ch.panTilt = h.panTilt;
    std::vector<CloudPeak> peaks;
    for (const CloudPoint& p : first) peaks.push_back({p.range, 0.1 * p.line, p.amplitude, false});
    CloudFileWriter writer;
    ASSERT_TRUE(writer.create(cloud, ch) && writer.writeLine(0, 0.2f, peaks) && writer.close());
    ASSERT_TRUE(e.process(cloud, 3));
    const auto firstCloud = e.points(3);
    ASSERT_EQ(first.size(), 32u);
    ASSERT_EQ(firstCloud.size(), 32u);
    ASSERT_EQ(firstLas.size(), 32u);
    const std::size_t fds = entriesIn("/proc/self/fd"), threads = entriesIn("/proc/self/task");
    for (int run = 0; run < 30; ++run) {
        // The layer dialog rewrites the window before each run: a run leaves the extent it saw.
        e.openWindow(0), e.openWindow(1), e.openWindow(3);
        e.store->layer(0).neighbourFilter = 1;
        ASSERT_TRUE(e.process(raw, 0) && e.process(las, 1) && e.process(cloud, 3)) << run;
        ASSERT_NO_FATAL_FAILURE(expectSamePoints(e.points(3), firstCloud)) << run;
        ASSERT_NO_FATAL_FAILURE(expectSamePoints(e.points(0), first)) << run;
        ASSERT_NO_FATAL_FAILURE(expectSamePoints(e.points(1), firstLas)) << run;
    }
    EXPECT_EQ(entriesIn("/proc/self/fd"), fds) << "a file handle is left open";
    EXPECT_EQ(entriesIn("/proc/self/task"), threads) << "threads are created per run";
    EXPECT_TRUE(e.sink.messages().empty()) << e.sink.last();
}

} // namespace
} // namespace quarv
