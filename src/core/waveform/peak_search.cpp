#include "core/waveform/peak_search.hpp"

#include "core/waveform/constants.hpp"
#include "core/waveform/correlation.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace quarv::peak {

Width measureWidth(Correlation& c, int k, int end, std::uint8_t* valid) {
    Width w;
    // Feet: where the fall away from the peak stops (a step that does not fall, looking one
    // and two samples out).
    int left = -1;
    for (int i = k; i >= 2; --i) {
        const float m2 = c.below(i - 2);
        const float m1 = c.below(i - 1);
        if (m1 >= c.m[i] || m2 >= m1) {
            left = i;
            break;
        }
    }
    int right = -1;
    for (int i = k; i <= end - 2; ++i) {
        const float m1 = c.above(i + 1);
        if (m1 >= c.above(i) || c.above(i + 2) >= m1) {
            right = i;
            break;
        }
    }
    if (left < 0 || right < 0) return w;

    // Half the pulse height above the mean of the two feet, in the float steps of the system.
    const float peak = c.m[k];
    const float d1 = peak - c.m[left];
    const float d2 = peak - c.above(right);
    const float h = static_cast<float>(static_cast<double>(d1 + d2) / 2.0 / 2.0);
    const float level = peak - h;

    int i = k;
    for (; i >= 2; --i)
        if (c.below(i) < level) break;
    if (i < 2) i = 1;
    int j = k;
    for (; j <= end - 2; ++j)
        if (c.above(j) < level) break;
    if (j > end - 2) j = end - 1;

    if (right > left) std::memset(valid + left, 0, static_cast<std::size_t>(right - left));
    w.ok = true;
    w.width = j - i;
    w.left = left;
    w.right = right;
    return w;
}

namespace {

constexpr float kIneligible = -std::numeric_limits<float>::infinity();

// The iterations re-scan for the highest candidate whose flags at k and k +- 27 are all still
// set. `eligible` holds m[k] for the points that pass the height test and still have their
// flags, -inf otherwise; clearing flags over [a, b) withdraws the points that look at them.
void withdraw(float* eligible, int first, int last, int a, int b) {
    for (int shift : {0, CANDIDATE_SPAN, -CANDIDATE_SPAN}) {
        const int lo = std::max(a + shift, first);
        const int hi = std::min(b + shift, last);
        for (int k = lo; k < hi; ++k) eligible[k] = kIneligible;
    }
}

enum ScanMode { Heights, Build, Stored };

// The scan, compiled once per instruction-set level: vector comparisons are lowered when a
// function is compiled, so each level needs its own copy of the code under its own target.
#pragma GCC push_options
#pragma GCC target("avx512f,avx512dq,avx512bw,avx512vl")
#define QUARV_SCAN_NAMESPACE scan512
#define QUARV_SCAN_LANES 16
#include "core/waveform/peak_scan_level.hpp"
#pragma GCC pop_options

#pragma GCC push_options
#pragma GCC target("avx2")
#define QUARV_SCAN_NAMESPACE scan256
#define QUARV_SCAN_LANES 8
#include "core/waveform/peak_scan_level.hpp"
#pragma GCC pop_options

#define QUARV_SCAN_NAMESPACE scan128
#define QUARV_SCAN_LANES 4
#include "core/waveform/peak_scan_level.hpp"

template <int mode> int strongestAt(const float* m, float* e, int first, int last) {
    switch (xcorr::activeSimdLevel()) {
    case xcorr::SimdLevel::Avx512:
        return scan512::strongest<mode>(m, e, first, last);
    case xcorr::SimdLevel::Avx2:
        return scan256::strongest<mode>(m, e, first, last);
    case xcorr::SimdLevel::Baseline:
        break;
    }
    return scan128::strongest<mode>(m, e, first, last);
}

} // namespace

bool findReturnPeak(Correlation& c, int searchStart, int searchEnd, std::uint8_t* valid,
                    float* eligible, int& index, int* width) {
    if (c.n > 0) std::memset(valid, 1, static_cast<std::size_t>(c.n));
    const int first = searchStart + CANDIDATE_SPAN;
    const int last = searchEnd - CANDIDATE_SPAN;
    if (last <= first) return false;
    const float* m = c.m;
    float best = START_HEIGHT;
    // The first scan works from the heights alone; only when a candidate is refused are the
    // eligible values stored, so that later scans see the withdrawn points.
    bool stored = false;
    for (int iteration = 0; iteration < MAX_ITERATIONS; ++iteration) {
        const int k = stored ? strongestAt<Stored>(m, eligible, first, last)
                             : strongestAt<Heights>(m, eligible, first, last);
        if (k < 0) break;
        const Width w = measureWidth(c, k, searchEnd, valid);
        // Without feet nothing is cleared, so the same candidate would come back in every
        // remaining iteration: the result is settled.
        if (!w.ok) break;
        if (w.width > MIN_WIDTH && w.width < MAX_WIDTH && best < m[k]) {
            // Later candidates are no higher, so none could replace this one.
            index = k;
            if (width) *width = w.width;
            return true;
        }
        const int a = std::max(k - CANDIDATE_SPAN, searchStart);
        const int b = std::min(k + CANDIDATE_SPAN, searchEnd);
        if (b > a) std::memset(valid + a, 0, static_cast<std::size_t>(b - a));
        if (!stored) {
            strongestAt<Build>(m, eligible, first, last);
            stored = true;
        }
        withdraw(eligible, first, last, w.left, w.right);
        withdraw(eligible, first, last, a, b);
    }
    return false;
}

namespace {

// The record passes, in whole numbers so that the sums may be taken in any order (and so in
// vectors); the samples are whole counts. One copy per instruction-set level like the scan
// above (chosen at run time with the same level, not by the loader: sanitizer runtimes must
// start first).
#define QUARV_RECORD_PASSES(name)                                                                  \
    void name##Counts(const float* raw, int samples, RecordCounts& out) {                          \
        int c0 = 0, c1 = 0, c2 = 0, c3 = 0, c4 = 0, c5 = 0, c6 = 0, c7 = 0;                        \
        for (int i = 0; i + 1 < samples; ++i) {                                                    \
            const float d = std::fabs(raw[i + 1] - raw[i]);                                        \
            c0 += d <= 0.0f, c1 += d <= 1.0f, c2 += d <= 2.0f, c3 += d <= 3.0f;                    \
            c4 += d <= 4.0f, c5 += d <= 5.0f, c6 += d <= 6.0f, c7 += d <= 7.0f;                    \
        }                                                                                          \
        out.atMost[0] = c0, out.atMost[1] = c1, out.atMost[2] = c2, out.atMost[3] = c3;            \
        out.atMost[4] = c4, out.atMost[5] = c5, out.atMost[6] = c6, out.atMost[7] = c7;            \
        int lowest = std::numeric_limits<int>::max();                                              \
        for (int i = 0; i + 10 <= samples; ++i) {                                                  \
            float sum = 0;                                                                         \
            for (int j = 0; j < 10; ++j) sum += raw[i + j];                                        \
            lowest = std::min(lowest, static_cast<int>(sum));                                      \
        }                                                                                          \
        out.lowestTen =                                                                            \
            samples >= 10 ? static_cast<float>(lowest) : -std::numeric_limits<float>::infinity();  \
    }                                                                                              \
    void name##Squares(const float* raw, int samples, float bound, std::int64_t& squares,          \
                       int& count) {                                                               \
        int sum = 0, n = 0;                                                                        \
        for (int i = 0; i + 1 < samples; ++i) {                                                    \
            const float d = std::fabs(raw[i + 1] - raw[i]);                                        \
            const int keep = d <= bound;                                                           \
            const int whole = static_cast<int>(std::min(d, 64.0f));                                \
            sum += keep * whole * whole;                                                           \
            n += keep;                                                                             \
        }                                                                                          \
        squares = sum;                                                                             \
        count = n;                                                                                 \
    }                                                                                              \
    void name##AtLeast(const float* raw, int samples, float gate, std::uint8_t* flag) {            \
        for (int i = 0; i < samples; ++i) flag[i] = raw[i] >= gate;                                \
    }
#pragma GCC push_options
#pragma GCC target("avx512f,avx512dq,avx512bw,avx512vl")
QUARV_RECORD_PASSES(record512)
#pragma GCC pop_options
#pragma GCC push_options
#pragma GCC target("avx2")
QUARV_RECORD_PASSES(record256)
#pragma GCC pop_options
QUARV_RECORD_PASSES(record128)
#undef QUARV_RECORD_PASSES

} // namespace

void countRecord(const float* raw, int samples, RecordCounts& out) {
    switch (xcorr::activeSimdLevel()) {
    case xcorr::SimdLevel::Avx512:
        return record512Counts(raw, samples, out);
    case xcorr::SimdLevel::Avx2:
        return record256Counts(raw, samples, out);
    case xcorr::SimdLevel::Baseline:
        break;
    }
    record128Counts(raw, samples, out);
}

void markAtLeast(const float* raw, int samples, float gate, std::uint8_t* flag) {
    switch (xcorr::activeSimdLevel()) {
    case xcorr::SimdLevel::Avx512:
        return record512AtLeast(raw, samples, gate, flag);
    case xcorr::SimdLevel::Avx2:
        return record256AtLeast(raw, samples, gate, flag);
    case xcorr::SimdLevel::Baseline:
        break;
    }
    record128AtLeast(raw, samples, gate, flag);
}

void squaredDifferences(const float* raw, int samples, float bound, std::int64_t& squares,
                        int& count) {
    switch (xcorr::activeSimdLevel()) {
    case xcorr::SimdLevel::Avx512:
        return record512Squares(raw, samples, bound, squares, count);
    case xcorr::SimdLevel::Avx2:
        return record256Squares(raw, samples, bound, squares, count);
    case xcorr::SimdLevel::Baseline:
        break;
    }
    record128Squares(raw, samples, bound, squares, count);
}

double quadraticVertex(const float* xc, int k) {
    const double a = k - 1, b = k, c = k + 1;
    const double ya = xc[k - 1], yb = xc[k], yc = xc[k + 1];
    return (a * a * (yb - yc) + b * b * (yc - ya) + c * c * (ya - yb)) /
           (2 * (a * (yb - yc) + b * (yc - ya) + c * (ya - yb)));
}

std::uint32_t rawPeakIndex(const float* raw, int samples, int k, int interp) {
    if (samples <= 0 || interp <= 0) return 0;
    int r = (k + TEMPLATE_PEAK_OFFSET) / interp;
    if (r >= samples - 1) return static_cast<std::uint32_t>(samples - 1);
    if (raw[r + 1] > raw[r]) ++r;
    return static_cast<std::uint32_t>(r);
}

} // namespace quarv::peak
