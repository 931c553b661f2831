// The simulator's waveforms through the real waveform processing: the range that comes back is
// the range the forward model put in, to a small fraction of a sample.
#include "core/app/message_sink.hpp"
#include "core/config/config_root.hpp"
#include "core/sim/forward_model.hpp"
#include "core/sim/scanner_model.hpp"
#include "core/sim/waveform_synth.hpp"
#include "core/waveform/waveform_processor.hpp"
#include "support/test_support.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace quarv::sim {
namespace {

struct RoundTripCase {
    const char* name;
    double index;
    double interpolation;
    double horPosNs;
    float timeOffsetNs, timeScale;
    double c2, c1, c0;
    float tempA, tempB;
    std::vector<double> ranges; // corrected ranges R', metres
};

class ProcessingRoundTrip : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = ConfigRoot(dir_.path() / "home");
        ASSERT_TRUE(root_.ensureCreated(sink_));
    }
    test::TempDir dir_;
    ConfigRoot root_;
    RecordingSink sink_;
};

TEST_F(ProcessingRoundTrip, CleanPulsesComeBackAtTheirRange) {
    const RoundTripCase cases[] = {
        {"water, plain", 1.34, 4, 0, 0, 1, 0, 0, 0, 12, 12, {1.2, 2.0, 5.55, 9.87, 14.0}},
        {"water, everything",
         1.34,
         4,
         20,
         1.8f,
         1.0004f,
         0.002,
         -0.05,
         0.4,
         11.6f,
         12.4f,
         {3.1, 6.0, 12.345, 17.9}},
        {"water, strong temperature term",
         1.337,
         4,
         5,
         -2.5f,
         0.9993f,
         0.0,
         1.0,
         0.0,
         10,
         20,
         {2.5, 7.25, 11.0}},
        {"air", 1.000293, 4, 20, 3.0f, 1.0f, 0.0, 5.0, 7.0, 10, 30, {5.0, 12.0, 20.0, 27.3}},
        {"interpolation 1", 1.34, 1, 0, 1.0f, 1.0f, 0, 0, 0.5, 12, 12, {4.0, 6.66, 10.1}},
        {"interpolation 2", 1.34, 2, 0, 1.0f, 1.0f, 0, 0, 0.5, 12, 12, {4.0, 6.66, 10.1}},
        {"interpolation 8", 1.34, 8, 0, 1.0f, 1.0f, 0, 0, 0.5, 12, 12, {4.0, 6.66, 10.1}},
    };
    for (const RoundTripCase& c : cases) {
        SCOPED_TRACE(c.name);
        ScannerOptions o;
        o.samplesPerPulse = 800;
        o.refractiveIndex = c.index;
        o.interpolation = c.interpolation;
        o.timeOffsetNs = c.timeOffsetNs;
        o.timeScale = c.timeScale;
        o.tempCoefC2 = c.c2;
        o.tempCoefC1 = c.c1;
        o.tempCoefC0 = c.c0;
        const ScanHeader h = makeHeader(o, false);
        const ForwardModel model(h, c.tempA, c.tempB);
        WaveformProcessor proc(root_, sink_);
        ProcessingCfg processing = h.processing;
        processing.setRangeMin(0.0);
        processing.setRangeMax(100.0);
        ASSERT_TRUE(proc.configure(h.digitizer, processing, h.calibration));

        // Clean: no noise, no backscatter, no window echo; only the rounding to whole counts.
        WaveformOptions w;
        w.noiseSigma = 0;
        w.windowEcho = 0;
        const double horPos = c.horPosNs * 1e-9;
        const double excess = 0.0123;
        Random rng(1);
        std::vector<std::int16_t> wave(o.samplesPerPulse);
        double worst = 0;
        for (double r : c.ranges) {
            // Sweep the pulse across a raw sample in tenths.
            for (int k = 0; k < 10; ++k) {
                const double rr = r + k * 0.1 * kSpeedOfLight * kRawSamplePeriod / (2 * c.index);
                const double pos = model.recordPosition(rr, excess, horPos);
                const Echo echo{pos / c.interpolation, 400.0};
                synthesizeWaveform(w, std::span(&echo, 1), Backscatter{}, rng, wave);
                float range = 0, position = 0;
                std::uint16_t amplitude = 0;
                bool saturated = false, found = false;
                proc.processWaveformPos(wave.data(), range, position, horPos, c.tempA, c.tempB,
                                        amplitude, saturated, found);
                ASSERT_TRUE(found) << rr;
                EXPECT_FALSE(saturated);
                EXPECT_NEAR(amplitude, 408, 12);
                worst = std::max(worst, std::fabs(range - (rr + excess)));
            }
        }
        // A quarter of a millimetre is about a thirtieth of an interpolated sample in water.
        EXPECT_LT(worst, 0.25e-3);
    }
    EXPECT_TRUE(sink_.messages().empty());
}

TEST_F(ProcessingRoundTrip, NoisyAndClippedPulsesStayWithinAMillimetre) {
    ScannerOptions o;
    const ScanHeader h = makeHeader(o, false);
    const ForwardModel model(h, 11.6f, 12.4f);
    WaveformProcessor proc(root_, sink_);
    ASSERT_TRUE(proc.configure(h.digitizer, h.processing, h.calibration));
    WaveformOptions w; // the simulator's defaults: noise 1.5 counts, clipping at 820
    Random rng(3);
    std::vector<std::int16_t> wave(o.samplesPerPulse);
    for (double amp : {150.0, 400.0, 2000.0}) {
        SCOPED_TRACE(amp);
        double sum2 = 0, worst = 0;
        int saturatedCount = 0;
        constexpr int kShots = 200;
        for (int i = 0; i < kShots; ++i) {
            const double r = 2.0 + 0.05 * i;
            const double pos = model.recordPosition(r, 0.0, 0.0);
            const Echo echo{pos / 4.0, amp};
            const Backscatter water{model.recordPosition(0, 0, 0) / 4.0, 25.0, 45.0};
            synthesizeWaveform(w, std::span(&echo, 1), water, rng, wave);
            float range = 0, position = 0;
            std::uint16_t amplitude = 0;
            bool saturated = false, found = false;
            proc.processWaveformPos(wave.data(), range, position, 0.0, 11.6, 12.4, amplitude,
                                    saturated, found);
            ASSERT_TRUE(found);
            saturatedCount += saturated;
            const double err = range - r;
            sum2 += err * err;
            worst = std::max(worst, std::fabs(err));
        }
        EXPECT_EQ(saturatedCount, amp > 1000 ? kShots : 0);
        // A clipped pulse has a flat top: its correlation peak is broad and noise moves it more.
        EXPECT_LT(std::sqrt(sum2 / kShots), amp > 1000 ? 1.0e-3 : 0.5e-3);
        EXPECT_LT(worst, amp > 1000 ? 3e-3 : 2e-3);
    }
}

} // namespace
} // namespace quarv::sim
