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

TEST(ProcessingRoundTrip, CleanPulsesComeBackAtTheirRange) {
    test::TempDir dir;
    RecordingSink sink;
    ConfigRoot root(dir / "home");
    ASSERT_TRUE(root.ensureCreated(sink));
    const struct {
        const char* name;
        double index, interpolation, horPosNs;
        float timeOffsetNs, timeScale;
        double c2, c1, c0;
        float tempA, tempB;
        std::vector<double> ranges; // corrected ranges R', metres
    } cases[] = {
        {"water, plain", 1.34, 4, 0, 0, 1, 0, 0, 0, 12, 12, {1.2, 5.55, 14.0}},
        {"water, all", 1.34, 4, 20, 1.8f, 1.0004f, 0.002, -0.05, 0.4, 11.6f, 12.4f, {3.1, 17.9}},
        {"water, temperature", 1.337, 4, 5, -2.5f, 0.9993f, 0, 1, 0, 10, 20, {2.5, 11.0}},
        {"air", 1.000293, 4, 20, 3.0f, 1.0f, 0.0, 5.0, 7.0, 10, 30, {5.0, 27.3}},
        {"interpolation 1", 1.34, 1, 0, 1.0f, 1.0f, 0, 0, 0.5, 12, 12, {4.0, 10.1}},
        {"interpolation 2", 1.34, 2, 0, 1.0f, 1.0f, 0, 0, 0.5, 12, 12, {4.0, 10.1}},
        {"interpolation 8", 1.34, 8, 0, 1.0f, 1.0f, 0, 0, 0.5, 12, 12, {4.0, 10.1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScannerOptions o;
        o.samplesPerPulse = 800, o.refractiveIndex = c.index, o.interpolation = c.interpolation;
        o.timeOffsetNs = c.timeOffsetNs, o.timeScale = c.timeScale;
        o.tempCoefC2 = c.c2, o.tempCoefC1 = c.c1, o.tempCoefC0 = c.c0;
        const ScanHeader h = makeHeader(o, false);
        const ForwardModel model(h, c.tempA, c.tempB);
        WaveformProcessor proc(root, sink);
        ASSERT_TRUE(proc.configure(h.digitizer, h.processing, h.calibration));
        WaveformOptions w; // clean: no noise and no window echo, only the rounding to counts
        w.noiseSigma = 0, w.windowEcho = 0;
        const double horPos = c.horPosNs * 1e-9, excess = 0.0123;
        Random rng(1);
        std::vector<std::int16_t> wave(o.samplesPerPulse);
        double worst = 0;
        for (double r : c.ranges) {
            for (int k = 0; k < 10; ++k) { // the pulse across a raw sample in tenths
                const double rr = r + k * 0.1 * kSpeedOfLight * kRawSamplePeriod / (2 * c.index);
                const Echo echo{model.recordPosition(rr, excess, horPos) / c.interpolation, 400.0};
                synthesizeWaveform(w, std::span(&echo, 1), Backscatter{}, rng, wave);
                float range = 0;
                std::uint16_t amplitude = 0;
                bool saturated = false, found = false;
                proc.processWaveform(wave.data(), range, horPos, c.tempA, c.tempB, amplitude,
                                     saturated, found);
                ASSERT_TRUE(found && !saturated) << rr;
                EXPECT_NEAR(amplitude, 408, 12);
                worst = std::max(worst, std::fabs(range - (rr + excess)));
            }
        }
        // A quarter of a millimetre is about a thirtieth of an interpolated sample in water.
        EXPECT_LT(worst, 0.25e-3);
        EXPECT_NEAR(proc.horPosRange(), kSpeedOfLight / (2 * c.index) * horPos, 1e-12);
    }
    EXPECT_TRUE(sink.messages().empty());
}

} // namespace
} // namespace quarv::sim
