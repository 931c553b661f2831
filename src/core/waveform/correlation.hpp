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
#include <vector>

namespace quarv::xcorr {

enum class SimdLevel { Baseline, Avx2, Avx512 };
// Target attribute of the functions compiled for each level above the baseline (AVX-512 as
// every CPU with it since 2017 has it: foundation, DQ, BW and VL).
#define QUARV_TARGET_AVX2 __attribute__((target("avx2")))
#define QUARV_TARGET_AVX512 __attribute__((target("avx512f,avx512dq,avx512bw,avx512vl")))
// The widest level this CPU (and operating system) supports; detected once.
SimdLevel bestSimdLevel();
// The level the waveform processing runs at: the best one unless limited, which lets tests and
// benchmarks run every level on one machine (the levels give identical results).
SimdLevel activeSimdLevel();
void limitSimdLevel(SimdLevel maximum);
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

// The raw waveform as floats (the return buffer) and as doubles for the per-phase sums.
void widen(const std::int16_t* waveform, int samples, float* raw, double* wide, SimdLevel level);

// The last outputs of a correlation of length n, where the template hangs over the end of the
// record and only its first n - k entries count: weights per output, grouped by phase so that
// consecutive outputs of one phase are consecutive lanes.
struct TailWeights {
    static constexpr int GROUP = 8; // outputs of one phase computed together
    int interp = 0;                 // 0: not usable
    int taps = 0;
    int n = 0;                  // the correlation length they were made for
    int start = 0;              // first such output: max(0, n - TEMPLATE_LENGTH + 1)
    std::array<int, 8> first{}; // first such output of each phase
    std::array<int, 8> count{}; // such outputs of each phase
    int groups = 0;             // groups of GROUP outputs per phase
    int stride = 0;             // entries per tap row: groups * GROUP
    std::vector<double> w;      // w[(r * taps + u) * stride + j]: tap u of output j of phase r
    std::vector<int> groupTaps; // taps the outputs of each group need
};
// Made whenever the length or the factor changes (configuration time); false for factors
// without a per-phase form.
bool buildTailWeights(const float* tmpl, int interp, int n, TailWeights& out);

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
// Outputs [k0, k1) with k >= tail.start (the template over the end), from the same raw doubles.
void correlateTail(const double* rawWide, const TailWeights& tail, int k0, int k1, float* xc,
                   SimdLevel level);
// Outputs [k0, k1) straight from the interpolated waveform (any factor): the template hanging
// over the end of the record meets the zeros that must follow the n interpolated entries (at
// least 128 of them past the last output's window). Only entries [k0, k1) of xc are written.
void correlateDirect(const float* interpolated, const float* tmpl, int k0, int k1, float* xc,
                     SimdLevel level);

} // namespace quarv::xcorr
