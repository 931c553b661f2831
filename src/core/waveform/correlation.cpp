#include "core/waveform/correlation.hpp"

// No fused multiply-add anywhere in this file: the instruction-set levels must round alike.
#pragma GCC optimize("fp-contract=off")

#include <algorithm>
#include <atomic>
#include <cstring>

namespace quarv::xcorr {

SimdLevel bestSimdLevel() {
    static const SimdLevel level = [] {
        __builtin_cpu_init();
        if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") &&
            __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl"))
            return SimdLevel::Avx512;
        if (__builtin_cpu_supports("avx2")) return SimdLevel::Avx2;
        return SimdLevel::Baseline;
    }();
    return level;
}

namespace {
std::atomic<int> activeLevel{-1};
}

SimdLevel activeSimdLevel() {
    const int level = activeLevel.load(std::memory_order_relaxed);
    return level < 0 ? bestSimdLevel() : static_cast<SimdLevel>(level);
}

void limitSimdLevel(SimdLevel maximum) {
    activeLevel.store(std::min(static_cast<int>(maximum), static_cast<int>(bestSimdLevel())),
                      std::memory_order_relaxed);
}

const char* simdLevelName(SimdLevel level) {
    switch (level) {
    case SimdLevel::Avx512:
        return "avx512";
    case SimdLevel::Avx2:
        return "avx2";
    case SimdLevel::Baseline:
        break;
    }
    return "baseline";
}

bool buildPhaseWeights(const float* tmpl, int interp, PhaseWeights& out) {
    out = PhaseWeights{};
    if (interp != 1 && interp != 2 && interp != 4 && interp != 8) return false;
    // Output I*q + r sees interpolated entry r + j at raw step i = (r + j) / I, fraction
    // s / I: (1 - s/I) of raw[q + i] and s/I of raw[q + i + 1].
    // The last raw sample any phase reaches (with a non-zero share) sets the number of taps.
    int taps = 0;
    for (int r = 0; r < interp; ++r) {
        const int m = r + TEMPLATE_LENGTH - 1;
        taps = std::max(taps, m / interp + (m % interp ? 2 : 1));
    }
    out.interp = interp;
    out.taps = taps;
    for (int r = 0; r < interp; ++r) {
        double* w = out.w.data() + r * taps;
        for (int j = 0; j < TEMPLATE_LENGTH; ++j) {
            const int i = (r + j) / interp;
            const int s = (r + j) % interp;
            const double t = tmpl[j];
            w[i] += t * (static_cast<double>(interp - s) / interp);
            if (s) w[i + 1] += t * (static_cast<double>(s) / interp);
        }
    }
    return true;
}

bool buildTailWeights(const float* tmpl, int interp, int n, TailWeights& out) {
    PhaseWeights phases;
    if (!buildPhaseWeights(tmpl, interp, phases) || n <= 0) {
        out.interp = 0;
        return false;
    }
    out.interp = interp;
    out.taps = phases.taps;
    out.n = n;
    out.start = std::max(0, n - TEMPLATE_LENGTH + 1);
    int perPhase = 0;
    for (int r = 0; r < interp; ++r) {
        out.first[r] = out.start + ((r - out.start % interp) % interp + interp) % interp;
        out.count[r] = out.first[r] < n ? (n - out.first[r] + interp - 1) / interp : 0;
        perPhase = std::max(perPhase, out.count[r]);
    }
    out.groups = (perPhase + TailWeights::GROUP - 1) / TailWeights::GROUP;
    out.stride = out.groups * TailWeights::GROUP;
    out.w.assign(static_cast<std::size_t>(interp) * out.taps * out.stride, 0.0);
    out.groupTaps.assign(static_cast<std::size_t>(out.groups), 0);
    for (int r = 0; r < interp; ++r) {
        for (int j = 0; j < out.count[r]; ++j) {
            const int k = out.first[r] + interp * j;
            // Only the template entries that still lie on the record.
            const int last = std::min(TEMPLATE_LENGTH, n - k);
            int& groupTaps = out.groupTaps[static_cast<std::size_t>(j / TailWeights::GROUP)];
            for (int t = 0; t < last; ++t) {
                const int i = (r + t) / interp;
                const int s = (r + t) % interp;
                const double v = tmpl[t];
                out.w[static_cast<std::size_t>((r * out.taps + i) * out.stride + j)] +=
                    v * (static_cast<double>(interp - s) / interp);
                groupTaps = std::max(groupTaps, i + 1);
                if (s) {
                    out.w[static_cast<std::size_t>((r * out.taps + i + 1) * out.stride + j)] +=
                        v * (static_cast<double>(s) / interp);
                    groupTaps = std::max(groupTaps, i + 2);
                }
            }
        }
    }
    return true;
}

void interpolate(const float* raw, int samples, double interpolation, int interp, int j0, int j1,
                 float* out) {
    if (samples <= 0 || interp <= 0 || j1 <= j0) return;
    const float factor = static_cast<float>(interpolation);
    int i = j0 / interp;
    int s = j0 % interp;
    int j = j0;
    while (j < j1) {
        if (i >= samples - 1) {
            // The last raw sample has no successor: it is repeated.
            out[j++] = raw[samples - 1];
            continue;
        }
        const float step = (raw[i + 1] - raw[i]) / factor;
        for (; s < interp && j < j1; ++s) out[j++] = static_cast<float>(s) * step + raw[i];
        s = 0;
        ++i;
    }
}

namespace {

// Vector types by lane count (GCC vector extensions; the target attribute of the calling
// function decides which registers they live in).
template <int L> struct Lanes;
template <> struct Lanes<2> {
    typedef double D __attribute__((vector_size(16)));
    typedef float F __attribute__((vector_size(8)));
};
template <> struct Lanes<4> {
    typedef double D __attribute__((vector_size(32)));
    typedef float F __attribute__((vector_size(16)));
    typedef int M __attribute__((vector_size(16)));
};
template <> struct Lanes<8> {
    typedef double D __attribute__((vector_size(64)));
    typedef float F __attribute__((vector_size(32)));
    typedef int M __attribute__((vector_size(32)));
};

// Four phase vectors of L lanes (rounded to float) interleaved into 4L consecutive outputs:
// out[4l + r] = phase r, lane l.
template <int L>
[[gnu::always_inline]] inline void interleave4(const typename Lanes<L>::D* acc, int stride,
                                               float* out) {
    using F = typename Lanes<L>::F;
    // __builtin_shufflevector rather than __builtin_shuffle: GCC 12 and clang both have it.
    const F f0 = __builtin_convertvector(acc[0], F), f1 = __builtin_convertvector(acc[stride], F),
            f2 = __builtin_convertvector(acc[2 * stride], F),
            f3 = __builtin_convertvector(acc[3 * stride], F);
    F o0, o1, o2, o3;
    if constexpr (L == 8) {
        const F lo01 = __builtin_shufflevector(f0, f1, 0, 8, 1, 9, 2, 10, 3, 11);
        const F hi01 = __builtin_shufflevector(f0, f1, 4, 12, 5, 13, 6, 14, 7, 15);
        const F lo23 = __builtin_shufflevector(f2, f3, 0, 8, 1, 9, 2, 10, 3, 11);
        const F hi23 = __builtin_shufflevector(f2, f3, 4, 12, 5, 13, 6, 14, 7, 15);
        o0 = __builtin_shufflevector(lo01, lo23, 0, 1, 8, 9, 2, 3, 10, 11);
        o1 = __builtin_shufflevector(lo01, lo23, 4, 5, 12, 13, 6, 7, 14, 15);
        o2 = __builtin_shufflevector(hi01, hi23, 0, 1, 8, 9, 2, 3, 10, 11);
        o3 = __builtin_shufflevector(hi01, hi23, 4, 5, 12, 13, 6, 7, 14, 15);
    } else {
        const F lo01 = __builtin_shufflevector(f0, f1, 0, 4, 1, 5);
        const F hi01 = __builtin_shufflevector(f0, f1, 2, 6, 3, 7);
        const F lo23 = __builtin_shufflevector(f2, f3, 0, 4, 1, 5);
        const F hi23 = __builtin_shufflevector(f2, f3, 2, 6, 3, 7);
        o0 = __builtin_shufflevector(lo01, lo23, 0, 1, 4, 5);
        o1 = __builtin_shufflevector(lo01, lo23, 2, 3, 6, 7);
        o2 = __builtin_shufflevector(hi01, hi23, 0, 1, 4, 5);
        o3 = __builtin_shufflevector(hi01, hi23, 2, 3, 6, 7);
    }
    std::memcpy(out, &o0, sizeof(F));
    std::memcpy(out + L, &o1, sizeof(F));
    std::memcpy(out + 2 * L, &o2, sizeof(F));
    std::memcpy(out + 3 * L, &o3, sizeof(F));
}

// Per-phase sums for a block of Q = L*B consecutive raw positions q and all I phases. Each
// lane accumulates its taps in order u = 0, 1, ..., whatever L is.
template <int I, int L, int B>
[[gnu::always_inline]] inline void phaseKernel(const double* raw, const double* w, int taps, int k0,
                                               int k1, float* xc) {
    using D = typename Lanes<L>::D;
    constexpr int Q = L * B;
    constexpr int K = I * Q;
    for (int q = k0 / I; I * q < k1; q += Q) {
        D acc[I][B];
        for (int r = 0; r < I; ++r)
            for (int b = 0; b < B; ++b) acc[r][b] = D{};
        for (int u = 0; u < taps; ++u) {
            D x[B];
            for (int b = 0; b < B; ++b) std::memcpy(&x[b], raw + q + u + b * L, sizeof(D));
            for (int r = 0; r < I; ++r) {
                const double wv = w[r * taps + u];
                for (int b = 0; b < B; ++b) acc[r][b] += wv * x[b];
            }
        }
        const int kb = I * q;
        const int lo = std::max(k0, kb);
        const int hi = std::min(k1, kb + K);
        alignas(64) float out[K];
        // A whole block inside the span is written in place.
        float* dst = lo == kb && hi == kb + K ? xc + kb : out;
        if constexpr (I == 4 && L >= 4) {
            for (int b = 0; b < B; ++b) interleave4<L>(&acc[0][b], B, dst + 4 * L * b);
        } else {
            for (int b = 0; b < B; ++b)
                for (int l = 0; l < L; ++l)
                    for (int r = 0; r < I; ++r)
                        dst[(b * L + l) * I + r] = static_cast<float>(acc[r][b][l]);
        }
        if (dst == out)
            std::memcpy(xc + lo, out + (lo - kb),
                        static_cast<std::size_t>(hi - lo) * sizeof(float));
    }
}

template <int L, int B>
[[gnu::always_inline]] inline void phases(const double* raw, const PhaseWeights& pw, int k0, int k1,
                                          float* xc) {
    switch (pw.interp) {
    case 1:
        phaseKernel<1, L, B * 2>(raw, pw.w.data(), pw.taps, k0, k1, xc);
        break;
    case 2:
        phaseKernel<2, L, B>(raw, pw.w.data(), pw.taps, k0, k1, xc);
        break;
    case 4:
        phaseKernel<4, L, B>(raw, pw.w.data(), pw.taps, k0, k1, xc);
        break;
    case 8:
        phaseKernel<8, L, 1>(raw, pw.w.data(), pw.taps, k0, k1, xc);
        break;
    default:
        break;
    }
}

// The tail: groups of 8 consecutive outputs of one phase, each lane with its own weights (the
// template is cut at the end of the record), all phases side by side to keep several sums in
// flight. A group only runs over the taps its first (longest) output needs.
template <int I, int L>
[[gnu::always_inline]] inline void tailKernel(const double* raw, const TailWeights& tw, int k0,
                                              int k1, float* xc) {
    using D = typename Lanes<L>::D;
    constexpr int V = TailWeights::GROUP / L;
    for (int g = 0; g < tw.groups; ++g) {
        const int j = g * TailWeights::GROUP;
        // Skip groups wholly outside [k0, k1).
        bool needed = false;
        for (int r = 0; r < I; ++r) {
            const int lo = tw.first[r] + I * j, hi = tw.first[r] + I * (j + TailWeights::GROUP);
            needed = needed || (j < tw.count[r] && lo < k1 && hi > k0);
        }
        if (!needed) continue;
        D acc[I][V];
        for (int r = 0; r < I; ++r)
            for (int v = 0; v < V; ++v) acc[r][v] = D{};
        const int taps = tw.groupTaps[g];
        for (int u = 0; u < taps; ++u) {
            for (int r = 0; r < I; ++r) {
                const double* w =
                    tw.w.data() + static_cast<std::size_t>(r * tw.taps + u) * tw.stride + j;
                const double* x = raw + tw.first[r] / I + j + u;
                for (int v = 0; v < V; ++v) {
                    D xv, wv;
                    std::memcpy(&xv, x + v * L, sizeof(D));
                    std::memcpy(&wv, w + v * L, sizeof(D));
                    acc[r][v] += wv * xv;
                }
            }
        }
        for (int r = 0; r < I; ++r)
            for (int l = 0; l < TailWeights::GROUP && j + l < tw.count[r]; ++l) {
                const int k = tw.first[r] + I * (j + l);
                if (k >= k0 && k < k1) xc[k] = static_cast<float>(acc[r][l / L][l % L]);
            }
    }
}

template <int L>
[[gnu::always_inline]] inline void tails(const double* raw, const TailWeights& tw, int k0, int k1,
                                         float* xc) {
    switch (tw.interp) {
    case 1:
        tailKernel<1, L>(raw, tw, k0, k1, xc);
        break;
    case 2:
        tailKernel<2, L>(raw, tw, k0, k1, xc);
        break;
    case 4:
        tailKernel<4, L>(raw, tw, k0, k1, xc);
        break;
    case 8:
        tailKernel<8, L>(raw, tw, k0, k1, xc);
        break;
    default:
        break;
    }
}

// Direct sum over the interpolated waveform for a block of L*B consecutive outputs.
template <int L, int B>
[[gnu::always_inline]] inline void directKernel(const float* x, const float* t, int k0, int k1,
                                                float* xc) {
    using D = typename Lanes<L>::D;
    using F = typename Lanes<L>::F;
    constexpr int K = L * B;
    for (int k = k0; k < k1; k += K) {
        D acc[B];
        for (int b = 0; b < B; ++b) acc[b] = D{};
        for (int j = 0; j < TEMPLATE_LENGTH; ++j) {
            const double tv = t[j];
            for (int b = 0; b < B; ++b) {
                F xf;
                std::memcpy(&xf, x + k + j + b * L, sizeof(F));
                acc[b] += tv * __builtin_convertvector(xf, D);
            }
        }
        alignas(64) float out[K];
        for (int b = 0; b < B; ++b)
            for (int l = 0; l < L; ++l) out[b * L + l] = static_cast<float>(acc[b][l]);
        const int hi = std::min(k1, k + K);
        std::memcpy(xc + k, out, static_cast<std::size_t>(hi - k) * sizeof(float));
    }
}

QUARV_TARGET_AVX512 void phases512(const double* raw, const PhaseWeights& pw, int k0, int k1,
                                   float* xc) {
    phases<8, 3>(raw, pw, k0, k1, xc);
}
QUARV_TARGET_AVX2 void phases256(const double* raw, const PhaseWeights& pw, int k0, int k1,
                                 float* xc) {
    phases<4, 2>(raw, pw, k0, k1, xc);
}
void phases128(const double* raw, const PhaseWeights& pw, int k0, int k1, float* xc) {
    phases<2, 2>(raw, pw, k0, k1, xc);
}

QUARV_TARGET_AVX512 void tail512(const double* raw, const TailWeights& tw, int k0, int k1,
                                 float* xc) {
    tails<8>(raw, tw, k0, k1, xc);
}
QUARV_TARGET_AVX2 void tail256(const double* raw, const TailWeights& tw, int k0, int k1,
                               float* xc) {
    tails<4>(raw, tw, k0, k1, xc);
}
void tail128(const double* raw, const TailWeights& tw, int k0, int k1, float* xc) {
    tails<2>(raw, tw, k0, k1, xc);
}

QUARV_TARGET_AVX512 void direct512(const float* x, const float* t, int k0, int k1, float* xc) {
    directKernel<8, 2>(x, t, k0, k1, xc);
}
QUARV_TARGET_AVX2 void direct256(const float* x, const float* t, int k0, int k1, float* xc) {
    directKernel<4, 2>(x, t, k0, k1, xc);
}
void direct128(const float* x, const float* t, int k0, int k1, float* xc) {
    directKernel<2, 2>(x, t, k0, k1, xc);
}

} // namespace

namespace {

[[gnu::always_inline]] inline void widenLoop(const std::int16_t* w, int samples, float* raw,
                                             double* wide) {
    for (int i = 0; i < samples; ++i) raw[i] = static_cast<float>(w[i]);
    for (int i = 0; i < samples; ++i) wide[i] = static_cast<double>(w[i]);
}
QUARV_TARGET_AVX512 void widen512(const std::int16_t* w, int samples, float* raw, double* wide) {
    widenLoop(w, samples, raw, wide);
}
QUARV_TARGET_AVX2 void widen256(const std::int16_t* w, int samples, float* raw, double* wide) {
    widenLoop(w, samples, raw, wide);
}

} // namespace

void widen(const std::int16_t* waveform, int samples, float* raw, double* wide, SimdLevel level) {
    switch (level) {
    case SimdLevel::Avx512:
        widen512(waveform, samples, raw, wide);
        break;
    case SimdLevel::Avx2:
        widen256(waveform, samples, raw, wide);
        break;
    case SimdLevel::Baseline:
        widenLoop(waveform, samples, raw, wide);
        break;
    }
}

void correlatePhases(const double* rawWide, const PhaseWeights& weights, int k0, int k1, float* xc,
                     SimdLevel level) {
    if (k1 <= k0 || weights.interp == 0) return;
    switch (level) {
    case SimdLevel::Avx512:
        phases512(rawWide, weights, k0, k1, xc);
        break;
    case SimdLevel::Avx2:
        phases256(rawWide, weights, k0, k1, xc);
        break;
    case SimdLevel::Baseline:
        phases128(rawWide, weights, k0, k1, xc);
        break;
    }
}

void correlateTail(const double* rawWide, const TailWeights& tail, int k0, int k1, float* xc,
                   SimdLevel level) {
    k0 = std::max(k0, tail.start);
    k1 = std::min(k1, tail.n);
    if (k1 <= k0 || tail.interp == 0) return;
    switch (level) {
    case SimdLevel::Avx512:
        tail512(rawWide, tail, k0, k1, xc);
        break;
    case SimdLevel::Avx2:
        tail256(rawWide, tail, k0, k1, xc);
        break;
    case SimdLevel::Baseline:
        tail128(rawWide, tail, k0, k1, xc);
        break;
    }
}

void correlateDirect(const float* interpolated, const float* tmpl, int k0, int k1, float* xc,
                     SimdLevel level) {
    if (k1 <= k0) return;
    switch (level) {
    case SimdLevel::Avx512:
        direct512(interpolated, tmpl, k0, k1, xc);
        break;
    case SimdLevel::Avx2:
        direct256(interpolated, tmpl, k0, k1, xc);
        break;
    case SimdLevel::Baseline:
        direct128(interpolated, tmpl, k0, k1, xc);
        break;
    }
}

} // namespace quarv::xcorr
