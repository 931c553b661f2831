// Shared pieces of the waveform tests: every instruction-set level, a temporary configuration
// root holding the shipped pulse template, records for a given setting, and synthetic waveforms
// (baseline, Gaussian noise, Gaussian pulses, clipping at the digitiser's top).
#pragma once

#include "core/app/message_sink.hpp"
#include "core/config/config_root.hpp"
#include "core/config/records.hpp"
#include "core/waveform/correlation.hpp"
#include "core/waveform/waveform_processor.hpp"
#include "support/test_support.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

namespace quarv::test {

// Every instruction-set level this CPU can run, lowest first; SimdLimit runs the processing at
// one of them for the scope's lifetime.
inline std::vector<xcorr::SimdLevel> supportedLevels() {
    const xcorr::SimdLevel best = xcorr::bestSimdLevel();
    std::vector<xcorr::SimdLevel> levels{xcorr::SimdLevel::Baseline};
    if (best != xcorr::SimdLevel::Baseline) levels.push_back(xcorr::SimdLevel::Avx2);
    if (best == xcorr::SimdLevel::Avx512) levels.push_back(xcorr::SimdLevel::Avx512);
    return levels;
}
struct SimdLimit {
    explicit SimdLimit(xcorr::SimdLevel level) { xcorr::limitSimdLevel(level); }
    ~SimdLimit() { xcorr::limitSimdLevel(xcorr::SimdLevel::Avx512); }
};

struct Setting {
    int samples = 600;
    double interpolation = 4.0, index = 1.34, rangeMin = 0.0, rangeMax = 100.0;
};

// No time scaling; `tempC0` the constant of the temperature correction.
inline bool configure(WaveformProcessor& p, const Setting& s, double tempC0 = 0.0) {
    CalibrationCfg cal;
    cal.setTimeScale(1.0f);
    cal.setTempCoefC0(tempC0);
    DigitizerCfg d;
    d.setSamplesPerPulse(static_cast<std::uint16_t>(s.samples));
    ProcessingCfg r;
    r.setRefractiveIndex(s.index);
    r.setInterpolation(s.interpolation);
    r.setRangeMin(s.rangeMin);
    r.setRangeMax(s.rangeMax);
    return p.configure(d, r, cal);
}

// A configuration root with the shipped defaults (mf_pulse.bin among them).
class WaveformFixture : public ::testing::Test {
protected:
    WaveformFixture() : root_(dir_ / "home") { root_.ensureCreated(sink_); }
    TempDir dir_;
    RecordingSink sink_;
    ConfigRoot root_;
};

struct Pulse {
    double position = 300.0, amplitude = 400.0, sigma = 2.5; // raw samples, counts, raw samples
};

inline std::vector<std::int16_t> synthWaveform(int samples, double baseline, double noise,
                                               const std::vector<Pulse>& pulses,
                                               std::mt19937_64* rng, double clip = 32767.0) {
    std::normal_distribution<double> gauss(0.0, 1.0);
    std::vector<std::int16_t> w(static_cast<std::size_t>(samples));
    for (int i = 0; i < samples; ++i) {
        double v = baseline + (noise > 0 && rng ? noise * gauss(*rng) : 0.0);
        for (const Pulse& p : pulses)
            v += p.amplitude * std::exp(-0.5 * std::pow((i - p.position) / p.sigma, 2));
        w[std::size_t(i)] = static_cast<std::int16_t>(std::clamp(std::round(v), -32768.0, clip));
    }
    return w;
}

} // namespace quarv::test
