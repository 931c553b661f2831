// The matched filter's numerical core: linear interpolation of the raw waveform and its
// cross-correlation with the 100-entry pulse template,
//     xc[k] = sum over j of tmpl[j] * x[k + j]   (j + k < n, x the interpolated waveform).
// For a whole factor I of 1, 2, 4 or 8 the interpolated waveform is exactly piecewise linear
// between raw samples, so output k = I*q + r is a weighted sum of raw samples q, q+1, ... with
// weights that depend only on the phase r (about 27 products per output for I = 4 instead of
// 100). Sums run in double and are rounded once to float, which makes them more accurate than a
// float direct sum and keeps a flat waveform's correlation exactly flat. The per-lane order of
// operations is the same for every instruction set, so all dispatch levels give identical bits.
#pragma once

#include "core/waveform/constants.hpp"

#include <array>
#include <cstdint>

namespace quarv::xcorr {

enum class SimdLevel { Baseline, Avx2, Avx512 };
// The widest level this CPU (and operating system) supports; detected once.
SimdLevel bestSimdLevel();
const char* simdLevelName(SimdLevel level);

constexpr int MAX_PHASE_WEIGHTS = 128;

struct PhaseWeights {
    int interp = 0; // 0: the factor has no per-phase form (use the direct sum)
    int taps = 0;   // weights per phase
    alignas(64) std::array<double, MAX_PHASE_WEIGHTS> w{}; // w[r * taps + u]
};

// Weights of the template (TEMPLATE_LENGTH floats) for whole factors 1, 2, 4 and 8. Other
// factors leave `out.interp` at 0 and return false.
bool buildPhaseWeights(const float* tmpl, int interp, PhaseWeights& out);

// Entries [j0, j1) of the interpolated waveform of `samples` raw values: `interp` entries per
// raw step, entry s of step i = float(s * step + raw[i]) with step = float(raw[i+1] - raw[i]) /
// float(interpolation); the last raw sample is repeated `interp` times.
void interpolate(const float* raw, int samples, double interpolation, int interp, int j0, int j1,
                 float* out);

// Outputs [k0, k1) of the correlation, all with k + TEMPLATE_LENGTH <= n (the template lies
// wholly on the waveform). `rawWide` holds the raw samples as doubles with raw[S] repeated once
// after the last one and finite padding after that; reads go up to 128 entries past raw[S].
// Only entries [k0, k1) of xc are written.
void correlatePhases(const double* rawWide, const PhaseWeights& weights, int k0, int k1, float* xc,
                     SimdLevel level);
// The same outputs from the interpolated waveform itself (any factor); reads up to 128 entries
// past the last interior window.
void correlateInterior(const float* interpolated, const float* tmpl, int k0, int k1, float* xc,
                       SimdLevel level);
// Any outputs [k0, k1) with the template cut at the end of the n interpolated entries.
void correlateTail(const float* interpolated, int n, const float* tmpl, int k0, int k1, float* xc);

} // namespace quarv::xcorr
