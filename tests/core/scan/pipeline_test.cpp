// End-to-end runs of the engine through the request protocol: recordings in, points out. The
// worker-count equality runs under the thread sanitizer (suite PipelineWorkers); the other runs
// check what comes out and stay out of that slow pass.
#include "core/scan/pipeline_fixtures.hpp"
#include "core/scan/processing_session.hpp"
#include "support/golden.hpp"

#include <gtest/gtest.h>

#include <cmath>

namespace quarv {
namespace {

using test::Engine;
using test::RecordingSpec;

// The shots of a line are shared out in contiguous runs; the result must not depend on how
// many workers share them: every field of every point, the order and the sequence numbers,
// also after the clutter filters (which hide the saturated shots and the fish).
TEST(PipelineWorkers, PointsAreIdenticalWhateverTheWorkerCount) {
    RecordingSpec spec{.shots = 37, .lines = 7}; // shares of unequal size for 2, 3 and 4 workers
    spec.rangeOf = [](int line, int shot) {
        if ((line * 37 + shot) % 11 == 0) return -1.0; // no return
        if (line == 3 && shot == 18) return 2.0;       // a fish
        return 4.0 + 0.01 * shot + 0.003 * line;
    };
    spec.amplitudeOf = [](int line, int shot) { return shot == 5 ? 900.0 : 150.0 + 10 * line; };
    std::string reference;
    for (unsigned workers : {1u, 2u, 3u, 4u}) {
        Engine e(workers);
        ASSERT_TRUE(test::writeRecording(e.path("scan.raw"), spec));
        e.store->layer(0).neighbourFilter = 1;
        e.store->layer(0).filterDistance = 0.5;
        e.store->layer(0).showSaturated = 0;
        ASSERT_TRUE(e.process(e.path("scan.raw"), 0)) << e.sink.last();
        EXPECT_EQ(e.session->engine().workerCount(), workers);
        if (workers == 1) test::expectGolden("scan_pipeline_points.txt", reference = e.text(0));
        EXPECT_EQ(e.text(0), reference) << workers << " workers";
    }
}

// The gate compares the measured range (before the housing path is taken off, as the engine's
// line arrays hold it) and keeps both ends; the points carry the corrected range. The SNR
// threshold keeps a shot whose SNR equals it (a saturated shot's SNR is a float exactly).
TEST(EngineRun, RangeGateIncludesItsEndsAndThresholdItsValue) {
    RecordingSpec spec{.shots = 5, .lines = 1}; // with two workers: shares of 2 and 3 shots
    spec.rangeOf = [](int, int shot) { return 3.0 + 0.5 * shot; };
    spec.amplitudeOf = [](int, int shot) { return shot == 2 ? 900.0 : 400.0; }; // 2 saturates
    Engine e(2);
    const auto file = e.path("gate.raw");
    ASSERT_TRUE(test::writeRecording(file, spec));
    ASSERT_TRUE(e.process(file, 0));
    const auto all = e.points(0);
    ASSERT_EQ(all.size(), 5u);
    const auto& engine = e.session->engine();
    const float m1 = engine.range(1), m3 = engine.range(3);
    ASSERT_TRUE(all[2].saturated && engine.snr(2) == SATURATED_SNR);
    // A window that leaves a pulse outside lets the peak search settle on noise inside it; an
    // SNR limit of 10 keeps that out (the pulses have SNRs in the thousands).
    struct Case {
        float rangeMin, rangeMax, snrMin;
        std::vector<std::uint32_t> shots; // the shots that make points, in order
    };
    for (const Case& c :
         {Case{m1, m3, 10.0f, {1, 2, 3}}, Case{std::nextafter(m1, 100.0f), m3, 10.0f, {2, 3}},
          Case{m1, std::nextafter(m3, 0.0f), 10.0f, {1, 2}},
          Case{0.5f, 30.0f, static_cast<float>(SATURATED_SNR), {2}}}) {
        e.openWindow(0);
        e.store->layer(0).rangeMin = c.rangeMin;
        e.store->layer(0).rangeMax = c.rangeMax;
        e.store->layer(0).snrMin = c.snrMin;
        ASSERT_TRUE(e.process(file, 0));
        const auto points = e.points(0);
        ASSERT_EQ(points.size(), c.shots.size()) << c.rangeMin << " " << c.rangeMax;
        for (std::size_t i = 0; i < points.size(); ++i) {
            EXPECT_EQ(points[i].sequence, i);
            EXPECT_EQ(points[i].range, all[c.shots[i]].range);
        }
    }
}

TEST(EngineRun, NegativeAmplitudeWordDropsTheShot) {
    // A baseline far below zero: the pulse is found, but its peak sample is negative, which the
    // amplitude word carries as 32768 or more.
    RecordingSpec spec{.shots = 6, .lines = 2, .baseline = -3000};
    spec.amplitudeOf = [](int, int shot) { return shot < 3 ? 400.0 : 3400.0; };
    Engine e(2);
    ASSERT_TRUE(test::writeRecording(e.path("negative.raw"), spec));
    ASSERT_TRUE(e.process(e.path("negative.raw"), 0));
    const auto points = e.points(0);
    ASSERT_EQ(points.size(), 6u); // shots 3..5 of both lines
    for (const auto& p : points) EXPECT_GT(p.amplitude, 0.0f);
}

// A damaged calibration folder: the run goes ahead on the shipped pulse shape, and says so
// once per file opened.
TEST(EngineRun, MissingPulseTemplateIsReportedAndTheShippedOneUsed) {
    Engine e(2);
    ASSERT_TRUE(test::writeRecording(e.path("scan.raw"), RecordingSpec{}));
    ASSERT_TRUE(e.process(e.path("scan.raw"), 0));
    const std::string expected = e.text(0);
    std::filesystem::remove(e.root.pulseTemplatePath());
    e.start(2);
    e.openWindow(0); // a run leaves the extent it saw
    ASSERT_TRUE(e.process(e.path("scan.raw"), 0));
    EXPECT_EQ(e.store->pointCount(0), 16u * 6u);
    EXPECT_EQ(e.text(0), expected);
    EXPECT_EQ(e.sink.messages(),
              std::vector<std::string>{"ERROR, Processing, pulse template " +
                                       e.root.pulseTemplatePath().string() +
                                       " missing or short, the shipped one is used"});
}

// The original engine held 2048 shots, 3,072,000 samples per line and 2047 lines for the
// filters; here the arrays follow the header, so larger files run in full.
TEST(EngineRun, FilesBeyondTheOldCapacitiesAreSizedFromTheHeader) {
    for (const auto& [shots, lines, samples, clutter] :
         {std::tuple<std::uint16_t, std::uint16_t, std::uint16_t, std::uint8_t>{2100, 2, 1500, 0},
          {3, 2100, 300, 1}}) {
        Engine e(2);
        const RecordingSpec spec{.shots = shots, .lines = lines, .samples = samples};
        ASSERT_TRUE(test::writeRecording(e.path("big.raw"), spec));
        e.store->layer(0).neighbourFilter = clutter;
        e.store->layer(0).filterDistance = 10.0;
        ASSERT_TRUE(e.process(e.path("big.raw"), 0));
        EXPECT_TRUE(e.sink.messages().empty()) << e.sink.last();
        const auto points = e.points(0);
        ASSERT_EQ(points.size(), std::size_t(shots) * lines);
        EXPECT_EQ(points.back().line, lines - 1);
        EXPECT_EQ(points.back().sequence, points.size() - 1);
        if (clutter) {
            EXPECT_EQ(e.session->engine().filters().lineStart()[lines - 1], 3u * (lines - 1));
        }
    }
}

} // namespace
} // namespace quarv
