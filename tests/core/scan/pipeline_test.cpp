// End-to-end runs of the engine through the request protocol: recordings in, points out. The
// worker-count equality runs under the thread sanitizer (suite PipelineWorkers); the other runs
// check what comes out and stay out of that slow pass.
#include "core/scan/pipeline_fixtures.hpp"
#include "core/scan/processing_session.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

namespace quarv {
namespace {

using test::Engine;
using test::RecordingSpec;

bool samePoint(const CloudPoint& a, const CloudPoint& b) {
    return a.x == b.x && a.y == b.y && a.z == b.z && a.color == b.color && a.azimuth == b.azimuth &&
           a.elevation == b.elevation && a.range == b.range && a.amplitude == b.amplitude &&
           a.snr == b.snr && a.saturated == b.saturated && a.valid == b.valid &&
           a.sequence == b.sequence && a.line == b.line && a.peakPosition == b.peakPosition;
}

// The shots of a line are shared out in contiguous runs; the result must not depend on how
// many workers share them: every field of every point, the order and the sequence numbers,
// also after the clutter filters.
TEST(PipelineWorkers, PointsAreIdenticalWhateverTheWorkerCount) {
    RecordingSpec spec;
    spec.shots = 37; // shares of unequal size for 2, 3 and 4 workers
    spec.lines = 7;
    spec.rangeOf = [](int line, int shot) {
        if ((line * 37 + shot) % 11 == 0) return -1.0; // no return
        if (line == 3 && shot == 18) return 2.0;       // a fish
        return 4.0 + 0.01 * shot + 0.003 * line;
    };
    spec.amplitudeOf = [](int line, int shot) { return shot == 5 ? 900.0 : 150.0 + 10 * line; };
    std::vector<std::vector<CloudPoint>> results;
    for (unsigned workers : {1u, 2u, 3u, 4u}) {
        Engine e(workers);
        const auto file = e.path("scan.raw");
        ASSERT_TRUE(test::writeRecording(file, spec));
        e.store->layer(0).neighbourFilter = 1;
        e.store->layer(0).filterDistance = 0.5;
        e.store->layer(0).showSaturated = 0;
        ASSERT_TRUE(e.process(file, 0)) << e.sink.last();
        EXPECT_EQ(e.session->engine().workerCount(), workers);
        results.push_back(e.points(0));
    }
    ASSERT_GT(results[0].size(), 150u);
    std::size_t hidden = 0;
    for (const CloudPoint& p : results[0]) hidden += p.valid ? 0 : 1;
    EXPECT_GT(hidden, 0u) << "the saturated shots and the fish should be hidden";
    for (std::size_t r = 1; r < results.size(); ++r) {
        ASSERT_EQ(results[r].size(), results[0].size()) << r + 1 << " workers";
        for (std::size_t i = 0; i < results[0].size(); ++i) {
            ASSERT_TRUE(samePoint(results[r][i], results[0][i]))
                << r + 1 << " workers, point " << i;
            EXPECT_EQ(results[r][i].sequence, i);
        }
    }
}

TEST(EngineRun, RangeGateIncludesItsEndsAndThresholdItsValue) {
    RecordingSpec spec;
    spec.shots = 5; // with two workers: shares of 2 and 3 shots
    spec.lines = 1;
    spec.rangeOf = [](int, int shot) { return 3.0 + 0.5 * shot; };
    Engine e(2);
    const auto file = e.path("gate.raw");
    ASSERT_TRUE(test::writeRecording(file, spec));
    ASSERT_TRUE(e.process(file, 0));
    const auto all = e.points(0);
    ASSERT_EQ(all.size(), 5u);

    struct Case {
        float rangeMin, rangeMax, snrMin;
        std::vector<std::uint32_t> expectedSequence; // shots that make points, in order
    };
    // The gate compares the measured range (before the housing path is taken off, as the
    // engine's line arrays hold it); the points carry the corrected range.
    const auto& engine = e.session->engine();
    EXPECT_EQ(engine.shotsPerLine(), 5u);
    const float m1 = engine.range(1), m3 = engine.range(3);
    // The threshold is an f32: the largest one not above shot 2's SNR must keep shot 2.
    float snr2 = static_cast<float>(engine.snr(2));
    if (static_cast<double>(snr2) > engine.snr(2)) snr2 = std::nextafter(snr2, 0.0f);
    std::size_t belowShot2 = 0;
    for (const auto& p : all) belowShot2 += p.snr < snr2 ? 1 : 0;
    ASSERT_GT(belowShot2, 0u);
    // A window that leaves a pulse outside lets the peak search settle on noise inside it; an
    // SNR limit of 10 keeps that out (the pulses have SNRs in the thousands).
    for (const Case& c :
         {Case{m1, m3, 10.0f, {1, 2, 3}}, Case{std::nextafter(m1, 100.0f), m3, 10.0f, {2, 3}},
          Case{m1, std::nextafter(m3, 0.0f), 10.0f, {1, 2}}, Case{0.5f, 30.0f, snr2, {}}}) {
        e.openWindow(0);
        e.store->layer(0).rangeMin = c.rangeMin;
        e.store->layer(0).rangeMax = c.rangeMax;
        e.store->layer(0).snrMin = c.snrMin;
        ASSERT_TRUE(e.process(file, 0));
        const auto points = e.points(0);
        if (c.expectedSequence.empty()) {
            // Shot 2 sits on the threshold and stays; those below it go.
            EXPECT_EQ(points.size(), all.size() - belowShot2);
            bool hasShot2 = false;
            for (const auto& p : points) hasShot2 = hasShot2 || p.range == all[2].range;
            EXPECT_TRUE(hasShot2);
            continue;
        }
        ASSERT_EQ(points.size(), c.expectedSequence.size()) << c.rangeMin << " " << c.rangeMax;
        for (std::size_t i = 0; i < points.size(); ++i) {
            EXPECT_EQ(points[i].sequence, i);
            EXPECT_FLOAT_EQ(points[i].range, all[c.expectedSequence[i]].range);
        }
    }
}

TEST(EngineRun, NegativeAmplitudeWordDropsTheShot) {
    RecordingSpec spec;
    spec.shots = 6;
    spec.lines = 2;
    // A baseline far below zero: the pulse is found, but its peak sample is negative, which the
    // amplitude word carries as 32768 or more.
    spec.baseline = -3000;
    spec.amplitudeOf = [](int, int shot) { return shot < 3 ? 400.0 : 3400.0; };
    Engine e(2);
    const auto file = e.path("negative.raw");
    ASSERT_TRUE(test::writeRecording(file, spec));
    ASSERT_TRUE(e.process(file, 0));
    const auto points = e.points(0);
    ASSERT_EQ(points.size(), 6u); // shots 3..5 of both lines
    for (const auto& p : points) EXPECT_GT(p.amplitude, 0.0f);
}

TEST(EngineRun, TruncatedFileStopsAtItsLastCompleteLine) {
    RecordingSpec spec;
    spec.shots = 8;
    spec.lines = 5;
    Engine e(2);
    const auto file = e.path("cut.raw");
    ASSERT_TRUE(test::writeRecording(file, spec, false));
    const auto size = std::filesystem::file_size(file);
    const auto lineBytes = (size - kScanHeaderSize) / 5;
    std::filesystem::resize_file(file, size - lineBytes / 2); // half of line 4 is missing
    ASSERT_TRUE(e.process(file, 0));
    const auto points = e.points(0);
    ASSERT_EQ(points.size(), 4u * 8u);
    EXPECT_EQ(points.back().line, 3);
    EXPECT_EQ(e.session->engine().lines(), 4u);

    // Not even one complete line: refused with a message, the layer stays empty.
    std::filesystem::resize_file(file, kScanHeaderSize + lineBytes / 2);
    e.sink.clear();
    ASSERT_TRUE(e.process(file, 0));
    EXPECT_EQ(e.store->pointCount(0), 0u);
    EXPECT_EQ(e.sink.last(), "ERROR, Processing, no complete scan line in file: " + file.string());
}

// A damaged calibration folder: the run goes ahead on the shipped pulse shape, and says so
// once per file opened.
TEST(EngineRun, MissingPulseTemplateIsReportedAndTheShippedOneUsed) {
    RecordingSpec spec;
    spec.shots = 8;
    spec.lines = 3;
    test::TempDir dir;
    const auto file = dir.path() / "scan.raw";
    ASSERT_TRUE(test::writeRecording(file, spec, false));
    std::vector<CloudPoint> expected;
    {
        Engine e(2);
        ASSERT_TRUE(e.process(file, 0));
        expected = e.points(0);
    }
    Engine e(0);
    std::filesystem::remove(e.root.pulseTemplatePath());
    e.start(2);
    ASSERT_TRUE(e.process(file, 0));
    const auto points = e.points(0);
    ASSERT_EQ(points.size(), expected.size());
    EXPECT_EQ(points.size(), 3u * 8u);
    for (std::size_t i = 0; i < points.size(); ++i) EXPECT_TRUE(samePoint(points[i], expected[i]));
    const auto messages = e.sink.messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], "ERROR, Processing, pulse template " +
                               e.root.pulseTemplatePath().string() +
                               " missing or short, the shipped one is used");
}

// The original engine held 2048 shots, 3,072,000 samples per line and 2047 lines for the
// filters; here the arrays follow the header, so larger files run in full.
TEST(EngineRun, FilesBeyondTheOldCapacitiesAreSizedFromTheHeader) {
    struct Case {
        std::uint16_t shots, lines, samples;
        std::uint8_t clutter;
    };
    for (const Case& c : {Case{2100, 2, 1500, 0}, Case{3, 2100, 300, 1}}) {
        Engine e(2);
        RecordingSpec spec;
        spec.shots = c.shots;
        spec.lines = c.lines;
        spec.samples = c.samples;
        const auto file = e.path("big.raw");
        ASSERT_TRUE(test::writeRecording(file, spec));
        e.store->layer(0).neighbourFilter = c.clutter;
        e.store->layer(0).filterDistance = 10.0;
        ASSERT_TRUE(e.process(file, 0));
        EXPECT_TRUE(e.sink.messages().empty()) << e.sink.last();
        const auto points = e.points(0);
        ASSERT_EQ(points.size(), std::size_t{c.shots} * c.lines);
        EXPECT_EQ(points.back().line, c.lines - 1);
        EXPECT_EQ(points.back().sequence, points.size() - 1);
        if (c.clutter) {
            EXPECT_EQ(e.session->engine().filters().lineStart().size(), c.lines + 2u);
            EXPECT_EQ(e.session->engine().filters().lineStart()[c.lines - 1], 3u * (c.lines - 1));
        }
    }
}

TEST(EngineRun, ProgressRunsOverTheLinesThenTheFilters) {
    RecordingSpec spec;
    spec.shots = 6;
    spec.lines = 3;
    Engine e(2);
    e.store->layer(0).neighbourFilter = 1;
    const auto file = e.path("progress.raw");
    ASSERT_TRUE(test::writeRecording(file, spec));
    ASSERT_TRUE(e.process(file, 0));
    // 0, trunc((line + 1) / lines x 100) before each line, 0; then the filters: 1 ... 0.
    const std::vector<int> expected = {0, 33, 66, 100, 0, 1, 0};
    EXPECT_EQ(e.notifier.values(), expected);
    EXPECT_GE(e.notifier.changes.load(), 4);
    EXPECT_GE(e.notifier.targets.load(), 1);
    EXPECT_FALSE(e.session->isBusy());
}

} // namespace
} // namespace quarv
