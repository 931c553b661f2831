// The processing thread under broken input and hurried operators: recordings cut short at every
// kind of place, a new file started while a run is in progress, and a hundred runs back to back
// on one engine.
#include "core/cloud/cloud_export.hpp"
#include "core/cloud/cloud_file.hpp"
#include "core/scan/pipeline_fixtures.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

namespace quarv {
namespace {

namespace fs = std::filesystem;
using test::Engine;
using test::HoldAtProgress;
using test::RecordingSpec;

// Every field of two points (NaN never occurs in these layers). The colour depends on the extent
// of the whole layer, so layers of different extent are compared without it.
void expectSamePoints(const std::vector<CloudPoint>& got, const std::vector<CloudPoint>& want,
                      bool withColour = true) {
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
        const CloudPoint& a = got[i];
        const CloudPoint& b = want[i];
        const bool same =
            a.x == b.x && a.y == b.y && a.z == b.z && (!withColour || a.color == b.color) &&
            a.azimuth == b.azimuth && a.elevation == b.elevation && a.range == b.range &&
            a.amplitude == b.amplitude && a.snr == b.snr && a.saturated == b.saturated &&
            a.valid == b.valid && a.sequence == b.sequence && a.line == b.line &&
            a.peakPosition == b.peakPosition;
        ASSERT_TRUE(same) << "point " << i << " differs";
    }
}

std::size_t entriesIn(const char* dir) {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir)) ++n;
    return n;
}

// ---- recordings cut short ----

struct Cut {
    const char* name;
    int line;             // the line in which the file ends
    std::size_t intoLine; // bytes of that line still in the file (0: ends at the line start)
    std::size_t completeLines;
};

class TruncatedRecording : public ::testing::TestWithParam<Cut> {};

// A recording copied off the vehicle and interrupted: the complete lines give exactly the points
// of the same lines of the whole recording, the run ends cleanly and the engine takes the next
// file as if nothing had happened.
TEST_P(TruncatedRecording, CompleteLinesAreProcessedAndTheRunEndsCleanly) {
    const Cut cut = GetParam();
    RecordingSpec spec;
    spec.shots = 8;
    spec.lines = 5;
    spec.samples = 300;
    spec.rangeOf = [](int line, int shot) { return 4.0 + 0.3 * line + 0.05 * shot; };
    Engine e(2);
    const fs::path whole = e.path("whole.raw"), part = e.path("part.raw");
    ASSERT_TRUE(test::writeRecording(whole, spec));
    ASSERT_TRUE(e.process(whole, 0)) << e.sink.last();
    const auto all = e.points(0);
    ASSERT_EQ(all.size(), 5u * 8u);

    const std::size_t lineBytes = 22 + 4 * 8 + 8 * (12 + 2 * 300);
    fs::copy_file(whole, part);
    fs::resize_file(part, kScanHeaderSize + cut.line * lineBytes + cut.intoLine);
    e.sink.clear();
    ASSERT_TRUE(e.process(part, 1)) << "the run must end";
    EXPECT_TRUE(e.sink.messages().empty()) << e.sink.last();
    EXPECT_FALSE(e.session->isBusy());
    const std::vector<CloudPoint> expected(
        all.begin(), all.begin() + static_cast<std::ptrdiff_t>(cut.completeLines * 8));
    expectSamePoints(e.points(1), expected, false);
    EXPECT_EQ(e.session->engine().lines(), cut.completeLines);

    // The engine is ready for the next file.
    ASSERT_TRUE(e.process(whole, 2));
    expectSamePoints(e.points(2), all);
}

// Offsets inside a line record of 8 shots: prefix 0..17, elevation 18, azimuths 22..53, positions
// 54..117, words 118..149, waveforms from 150.
INSTANTIATE_TEST_SUITE_P(
    Cuts, TruncatedRecording,
    ::testing::Values(Cut{"InsideThePrefix", 2, 7, 2}, Cut{"InsideTheAzimuths", 3, 30, 3},
                      Cut{"InsideThePositions", 1, 60, 1}, Cut{"InsideTheWaveforms", 4, 3000, 4},
                      Cut{"OneSampleShort", 4, 22 + 32 + 96 + 2 * 8 * 300 - 2, 4},
                      Cut{"AtALineStart", 3, 0, 3}, Cut{"InsideTheTrailer", 5, 6, 5},
                      Cut{"HalfASample", 2, 151, 2}),
    [](const ::testing::TestParamInfo<Cut>& param) { return std::string(param.param.name); });

// ---- a new file while a run is in progress ----

struct Interruption {
    const char* name;
    int heldBeforeLine; // the first file's run is held just before this line
    std::uint32_t secondLayer;
};

// Two recordings told apart by their amplitude. The first spreads its ranges over 3 to 6.5 m, so
// the range window its points leave in a layer (the extent seen) lets the second, at 5 m,
// through. 300 samples reach about 8 m in water.
constexpr double kFirstAmplitude = 700.0, kSecondAmplitude = 200.0, kTellApart = 450.0;

RecordingSpec firstRecording(std::uint16_t lines) {
    RecordingSpec r;
    r.shots = 6;
    r.lines = lines;
    r.samples = 300;
    r.rangeOf = [](int, int shot) { return 3.0 + 0.7 * shot; };
    r.amplitudeOf = [](int, int) { return kFirstAmplitude; };
    return r;
}
RecordingSpec secondRecording(std::uint16_t lines) {
    RecordingSpec r = firstRecording(lines);
    r.rangeOf = [](int, int) { return 5.0; };
    r.amplitudeOf = [](int, int) { return kSecondAmplitude; };
    return r;
}

class NewFileDuringARun : public ::testing::TestWithParam<Interruption> {};

// The second file's run takes every one of its points, numbered from 0, and its layer holds no
// point of the first file, whether it fills the layer the first run was filling or another one.
TEST_P(NewFileDuringARun, LosesNoPointOfTheNewRunAndNeverMixesRuns) {
    const Interruption c = GetParam();
    HoldAtProgress hold((c.heldBeforeLine + 1) * 10); // 10 lines: line k posts (k + 1) * 10
    Engine e(0);
    e.start(2, &hold);
    ASSERT_TRUE(test::writeRecording(e.path("first.raw"), firstRecording(10)));
    ASSERT_TRUE(test::writeRecording(e.path("second.raw"), secondRecording(7)));

    ASSERT_TRUE(e.session->openPlayback(e.path("first.raw")));
    e.session->setRequest(ProcessRequest::ProcessPlayback);
    ASSERT_TRUE(e.session->startProcessing(0));
    ASSERT_TRUE(hold.waitHeld());
    ASSERT_TRUE(e.session->openPlayback(e.path("second.raw")));
    e.session->setRequest(ProcessRequest::ProcessPlayback);
    ASSERT_TRUE(e.session->startProcessing(c.secondLayer));
    hold.release();
    ASSERT_TRUE(e.session->waitUntilIdle(std::chrono::seconds(60)));

    const auto points = e.points(c.secondLayer);
    ASSERT_EQ(points.size(), 7u * 6u);
    for (std::size_t i = 0; i < points.size(); ++i) {
        EXPECT_LT(points[i].amplitude, kTellApart) << "point " << i << " is not of the new file";
        EXPECT_NEAR(points[i].range, 5.0f, 0.3f) << i;
        EXPECT_EQ(points[i].sequence, i);
        EXPECT_EQ(points[i].line, i / 6);
    }
    if (c.secondLayer != 0) {
        // The first run ends after the line it was held before.
        const auto firstPoints = e.points(0);
        EXPECT_EQ(firstPoints.size(), std::size_t(c.heldBeforeLine + 1) * 6u);
        for (const auto& p : firstPoints) EXPECT_GT(p.amplitude, kTellApart);
    }
}

INSTANTIATE_TEST_SUITE_P(Interruptions, NewFileDuringARun,
                         ::testing::Values(Interruption{"FirstLineSameLayer", 0, 0},
                                           Interruption{"MiddleSameLayer", 4, 0},
                                           Interruption{"LastLineSameLayer", 9, 0},
                                           Interruption{"FirstLineOtherLayer", 0, 3},
                                           Interruption{"MiddleOtherLayer", 5, 2}),
                         [](const ::testing::TestParamInfo<Interruption>& param) {
                             return std::string(param.param.name);
                         });

// The same without holding anything: the operator starts file after file while runs are in
// progress, at whatever moment. Whatever ran before, the last file's layer is exactly that file.
TEST(ConcurrentRuns, RestartsAtAnyMomentLeaveTheLastFileWholeInItsLayer) {
    Engine e(2);
    ASSERT_TRUE(test::writeRecording(e.path("a.raw"), firstRecording(12)));
    ASSERT_TRUE(test::writeRecording(e.path("b.raw"), secondRecording(5)));
    for (int round = 0; round < 12; ++round) {
        SCOPED_TRACE(round);
        const std::uint32_t target = round % 2 == 0 ? 0u : 1u;
        // The operator's layer settings for the round (the layer dialog writes them).
        e.openWindow(0);
        e.openWindow(1);
        ASSERT_TRUE(e.session->openPlayback(e.path("a.raw")));
        ASSERT_TRUE(e.session->startProcessing(0));
        std::this_thread::sleep_for(std::chrono::microseconds(300 * round));
        ASSERT_TRUE(e.session->openPlayback(e.path("b.raw")));
        ASSERT_TRUE(e.session->startProcessing(target));
        ASSERT_TRUE(e.session->waitUntilIdle(std::chrono::seconds(60)));
        const auto points = e.points(target);
        ASSERT_EQ(points.size(), 5u * 6u);
        for (std::size_t i = 0; i < points.size(); ++i) {
            ASSERT_LT(points[i].amplitude, kTellApart) << i;
            ASSERT_EQ(points[i].sequence, i);
        }
    }
}

// ---- many runs on one engine ----

// A hundred playback runs, then cloud-file rebuilds and LAS imports, on one session: every run
// of a file gives the layer of its first run, and nothing accumulates: no file handle, no
// thread (memory is checked by the leak checker of the sanitizer build).
TEST(BackToBackRuns, HundredRunsGiveIdenticalLayersAndLeakNothing) {
    Engine e(2);
    RecordingSpec spec;
    spec.shots = 8;
    spec.lines = 4;
    spec.samples = 200;
    spec.rangeOf = [](int line, int shot) { return 3.0 + 0.2 * line + 0.02 * shot; };
    const fs::path raw = e.path("scan.raw");
    ASSERT_TRUE(test::writeRecording(raw, spec));
    PointLayer& layer = e.store->layer(0);
    layer.neighbourFilter = 1;
    layer.filterDistance = 0.5;

    ASSERT_TRUE(e.process(raw, 0));
    const auto first = e.points(0);
    ASSERT_EQ(first.size(), 4u * 8u);
    const std::size_t fds = entriesIn("/proc/self/fd");
    const std::size_t threads = entriesIn("/proc/self/task");
    for (int run = 1; run < 100; ++run) {
        // The operator's layer settings, as the layer dialog writes them before each run: a
        // run leaves the extent it saw as the layer's window, which would narrow the next one.
        e.openWindow(0);
        layer.neighbourFilter = 1;
        ASSERT_TRUE(e.process(raw, 0)) << run;
        ASSERT_NO_FATAL_FAILURE(expectSamePoints(e.points(0), first)) << "run " << run;
    }

    // The other two kinds of run: a cloud file and a LAS file made from the layer.
    const ScanHeader h = test::headerFor(spec);
    CloudFileHeader ch;
    ch.scanner = h.scanner;
    ch.digitizer = h.digitizer;
    ch.processing = h.processing;
    ch.calibration = h.calibration;
    ch.panTilt = h.panTilt;
    CloudFileWriter writer;
    const fs::path cloud = e.path("scan.3DC"), las = e.path("scan.las");
    ASSERT_TRUE(writer.create(cloud, ch));
    std::vector<CloudPeak> peaks;
    for (const CloudPoint& p : first) peaks.push_back({p.range, 0.1 * p.line, p.amplitude, false});
    ASSERT_TRUE(writer.writeLine(0, 0.2f, peaks) && writer.close());
    ASSERT_TRUE(exportLas(*e.store, las, e.sink));
    ASSERT_TRUE(e.process(cloud, 1) && e.process(las, 2));
    const auto firstCloud = e.points(1), firstLas = e.points(2);
    ASSERT_EQ(firstCloud.size(), first.size());
    ASSERT_EQ(firstLas.size(), first.size());
    for (int run = 0; run < 10; ++run) {
        e.openWindow(1);
        e.openWindow(2);
        ASSERT_TRUE(e.process(cloud, 1) && e.process(las, 2)) << run;
        ASSERT_NO_FATAL_FAILURE(expectSamePoints(e.points(1), firstCloud)) << run;
        ASSERT_NO_FATAL_FAILURE(expectSamePoints(e.points(2), firstLas)) << run;
    }

    EXPECT_EQ(entriesIn("/proc/self/fd"), fds) << "a file handle is left open";
    EXPECT_EQ(entriesIn("/proc/self/task"), threads) << "threads are created per run";
    EXPECT_TRUE(e.sink.messages().empty()) << e.sink.last();
}

} // namespace
} // namespace quarv
