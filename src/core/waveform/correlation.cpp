#include "core/waveform/correlation.hpp"

#include <algorithm>
#include <cstring>

namespace quarv::xcorr {

SimdLevel bestSimdLevel() {
    static const SimdLevel level = [] {
        __builtin_cpu_init();
        if (__builtin_cpu_supports("avx512f")) return SimdLevel::Avx512;
        if (__builtin_cpu_supports("avx2")) return SimdLevel::Avx2;
        return SimdLevel::Baseline;
    }();
    return level;
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
};
template <> struct Lanes<8> {
    typedef double D __attribute__((vector_size(64)));
    typedef float F __attribute__((vector_size(32)));
};

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
                const D wv = D{} + w[r * taps + u];
                for (int b = 0; b < B; ++b) acc[r][b] += wv * x[b];
            }
        }
        alignas(64) float out[K];
        for (int b = 0; b < B; ++b)
            for (int l = 0; l < L; ++l)
                for (int r = 0; r < I; ++r)
                    out[(b * L + l) * I + r] = static_cast<float>(acc[r][b][l]);
        const int kb = I * q;
        const int lo = std::max(k0, kb);
        const int hi = std::min(k1, kb + K);
        std::memcpy(xc + lo, out + (lo - kb), static_cast<std::size_t>(hi - lo) * sizeof(float));
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
            const D tv = D{} + static_cast<double>(t[j]);
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

__attribute__((target("avx512f"))) void phases512(const double* raw, const PhaseWeights& pw, int k0,
                                                  int k1, float* xc) {
    phases<8, 2>(raw, pw, k0, k1, xc);
}
__attribute__((target("avx2"))) void phases256(const double* raw, const PhaseWeights& pw, int k0,
                                               int k1, float* xc) {
    phases<4, 2>(raw, pw, k0, k1, xc);
}
void phases128(const double* raw, const PhaseWeights& pw, int k0, int k1, float* xc) {
    phases<2, 2>(raw, pw, k0, k1, xc);
}

__attribute__((target("avx512f"))) void direct512(const float* x, const float* t, int k0, int k1,
                                                  float* xc) {
    directKernel<8, 2>(x, t, k0, k1, xc);
}
__attribute__((target("avx2"))) void direct256(const float* x, const float* t, int k0, int k1,
                                               float* xc) {
    directKernel<4, 2>(x, t, k0, k1, xc);
}
void direct128(const float* x, const float* t, int k0, int k1, float* xc) {
    directKernel<2, 2>(x, t, k0, k1, xc);
}

} // namespace

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

void correlateInterior(const float* interpolated, const float* tmpl, int k0, int k1, float* xc,
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

void correlateTail(const float* interpolated, int n, const float* tmpl, int k0, int k1, float* xc) {
    for (int k = std::max(k0, 0); k < k1 && k < n; ++k) {
        double sum = 0.0;
        const int last = std::min(TEMPLATE_LENGTH, n - k);
        for (int j = 0; j < last; ++j)
            sum += static_cast<double>(tmpl[j]) * static_cast<double>(interpolated[k + j]);
        xc[k] = static_cast<float>(sum);
    }
}

} // namespace quarv::xcorr
