// The peak search on the correlation: candidates are points that stand above the correlation 27
// samples either side; the strongest one whose pulse (between its feet) has a plausible width at
// half height wins. Also the parabolic refinement and the raw peak sample.
#pragma once

#include <cstdint>

namespace quarv::peak {

constexpr int CANDIDATE_SPAN = 27; // a candidate stands above m[k - 27] and m[k + 27]
constexpr int MAX_ITERATIONS = 25;
constexpr float START_HEIGHT = -9.0e12f; // -9000000159744 as a float
constexpr int MIN_WIDTH = 18;            // plausible widths lie strictly between these
constexpr int MAX_WIDTH = 100;

// The correlation as the search reads it: n entries of which [lo, n) are valid. A walk that
// needs an entry below lo calls extend(context, index), which makes the entries from index up
// valid and returns the new lo (null when lo is 0). Entry n and beyond read as 0: the
// correlation at a lag past the record is an empty sum.
struct Correlation {
    const float* m = nullptr;
    int n = 0;
    int lo = 0;
    int (*extend)(void* context, int index) = nullptr;
    void* context = nullptr;

    float below(int i) {
        if (i < lo) lo = extend(context, i);
        return m[i];
    }
    float above(int i) const { return i < n ? m[i] : 0.0f; }
};

struct Width {
    bool ok = false; // both feet found
    int width = 0;   // interpolated samples between the half-height crossings
    int left = 0;    // feet: the pulse occupies [left, right)
    int right = 0;
};

// Feet and half-height width of the pulse around candidate k, the right walks bounded by `end`
// (the window's end). When both feet exist, clears valid over [left, right).
Width measureWidth(Correlation& c, int k, int end, std::uint8_t* valid);

// The chosen correlation index, or false. `valid` holds n flags; `eligible` is scratch of n
// floats. Needs the entries [searchStart, min(searchEnd + 1, n)) valid.
// `width`, when given, receives the half-height width of the chosen peak's pulse.
bool findReturnPeak(Correlation& c, int searchStart, int searchEnd, std::uint8_t* valid,
                    float* eligible, int& index, int* width = nullptr);

// What the cheap tests of further returns need to know of a record of whole-count samples, in
// two passes that run at vector speed: how many neighbouring-sample differences
// |raw[i + 1] - raw[i]| are at most 0, 1, ..., 7, and the lowest sum of ten consecutive samples
// (the record's quietest noise window; minus infinity for a record of fewer than ten).
struct RecordCounts {
    int atMost[8] = {};
    float lowestTen = 0;
};
void countRecord(const float* raw, int samples, RecordCounts& out);
// Flags (1) the samples that are at least `gate`.
void markAtLeast(const float* raw, int samples, float gate, std::uint8_t* flag);
// The sum of the squares and the count of the differences that are at most `bound` (below 64).
void squaredDifferences(const float* raw, int samples, float bound, std::int64_t& squares,
                        int& count);

// Vertex of the parabola through (k-1, xc[k-1]), (k, xc[k]), (k+1, xc[k+1]).
double quadraticVertex(const float* xc, int k);

// Raw sample of the peak of correlation index k: (k + 48) / interp, moved on by one when the
// next raw sample is strictly higher. A candidate within 48 interpolated samples of the end
// would point at or past the last sample: it is held at the last sample, and the sample after
// the record is never looked at.
std::uint32_t rawPeakIndex(const float* raw, int samples, int k, int interp);

} // namespace quarv::peak
