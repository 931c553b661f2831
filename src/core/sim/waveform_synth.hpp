// Synthetic digitiser waveforms: a baseline with Gaussian noise, the laser pulse (a Gaussian of
// the same width as the shipped matched-filter template) for each echo, the water's volume
// backscatter decaying after the window, a weak reflection from the window itself, clipping at
// the digitiser's full scale and rounding to whole counts.
#pragma once

#include "core/sim/random.hpp"

#include <cstdint>
#include <span>

namespace quarv::sim {

struct WaveformOptions {
    double baseline = 8.0;          // counts
    double noiseSigma = 1.5;        // counts
    double pulseSigmaRaw = 2.5;     // raw samples (0.625 ns)
    double clipLevel = 820.0;       // counts; the processing calls 780 and above saturated
    double backscatter = 45.0;      // counts just after the window (water only)
    double backscatterDecayM = 0.7; // e-folding range of the backscatter, metres
    double windowEcho = 30.0;       // counts of the window reflection
};

// One pulse in the record: peak position in raw samples and height in counts above baseline.
struct Echo {
    double rawPosition = 0;
    double amplitude = 0;
};

// The water column after the window: where it starts (raw samples) and how fast it decays.
struct Backscatter {
    double startRaw = 0;
    double decayRaw = 1;
    double amplitude = 0;
};

// Writes samples.size() samples. Echoes and the backscatter are added to the baseline, then the
// noise; the sum is clipped to [-32768, clipLevel] and rounded to the nearest count.
void synthesizeWaveform(const WaveformOptions& opt, std::span<const Echo> echoes,
                        const Backscatter& water, Random& rng, std::span<std::int16_t> samples);

// The clean signal at raw sample i (no noise, no clipping, no rounding); shared with the tests.
double cleanSignal(const WaveformOptions& opt, std::span<const Echo> echoes,
                   const Backscatter& water, double i);

} // namespace quarv::sim
