// A literal, unoptimised matched filter written straight from the processing rules: float linear
// interpolation, the direct correlation sum (k outer, j inner), and the peak search that rescans
// its window in every one of its 25 iterations. The tests and the benchmark hold the product's
// fast implementation against it.
#pragma once

#include "core/waveform/constants.hpp"

#include <cstdint>
#include <vector>

namespace quarv::test {

struct PlainResult {
    bool found = false;
    int xcPeakIndex = 0;
    std::uint32_t rawPeakIndex = 0;
    double quadPeak = 0.0;
    double position = 0.0;
    std::uint16_t amplitude = 0;
    bool saturated = false;
};

// The literal width measure on m (n + 1 entries: m[n] is 0, the empty sum past the record).
inline bool plainMeasureWidth(const float* m, int k, int end, std::uint8_t* valid, int& width) {
    int left = -1, right = -1;
    for (int i = k; i >= 2; --i)
        if (m[i - 1] >= m[i] || m[i - 2] >= m[i - 1]) {
            left = i;
            break;
        }
    for (int i = k; i <= end - 2; ++i)
        if (m[i + 1] >= m[i] || m[i + 2] >= m[i + 1]) {
            right = i;
            break;
        }
    if (left < 0 || right < 0) return false;
    const float d1 = m[k] - m[left];
    const float d2 = m[k] - m[right];
    const float h = static_cast<float>((d1 + d2) / 2.0 / 2.0);
    const float level = m[k] - h;
    int i = k;
    while (i >= 2 && !(m[i] < level)) --i;
    if (i < 2) i = 1;
    int j = k;
    while (j <= end - 2 && !(m[j] < level)) ++j;
    if (j > end - 2) j = end - 1;
    width = j - i;
    for (int c = left; c < right; ++c) valid[c] = 0;
    return true;
}

// The literal search: 25 iterations, each rescanning the whole window.
inline bool plainFindReturnPeak(const float* m, int n, int searchStart, int searchEnd,
                                std::uint8_t* valid, int& bestIndex) {
    for (int i = 0; i < n; ++i) valid[i] = 1;
    float best = -9.0e12f;
    bool found = false;
    for (int iteration = 0; iteration < 25; ++iteration) {
        float top = -9.0e12f;
        int k = -1;
        for (int i = searchStart + 27; i < searchEnd - 27; ++i)
            if (valid[i] && valid[i - 27] && valid[i + 27] && m[i - 27] < m[i] &&
                m[i + 27] < m[i] && m[i] > top) {
                top = m[i];
                k = i;
            }
        if (k < 0) break;
        int width = 0;
        const bool ok = plainMeasureWidth(m, k, searchEnd, valid, width);
        if (ok && width > 18 && width < 100 && best < m[k]) {
            bestIndex = k;
            best = m[k];
            found = true;
        } else if (ok) {
            const int a = k - 27 < searchStart ? searchStart : k - 27;
            const int b = k + 27 >= searchEnd ? searchEnd : k + 27;
            for (int i = a; i < b; ++i) valid[i] = 0;
        }
    }
    return found;
}

class PlainMatchedFilter {
public:
    // `tmpl`: the 100 template values as floats. Acc is the accumulator of the correlation sum.
    PlainMatchedFilter(int samples, double interpolation, const float* tmpl)
        : samples_(samples), factor_(interpolation), interp_(static_cast<int>(interpolation)),
          n_(samples * interp_), raw_(samples + 1), x_(n_), xc_(n_ + 1), valid_(n_),
          tmpl_(tmpl, tmpl + TEMPLATE_LENGTH) {}

    const std::vector<float>& correlation() const { return xc_; }
    const std::vector<float>& interpolated() const { return x_; }

    template <typename Acc>
    PlainResult run(const std::int16_t* waveform, int searchStart, int searchEnd) {
        for (int i = 0; i < samples_; ++i) raw_[i] = static_cast<float>(waveform[i]);
        interpolate();
        correlate<Acc>();
        PlainResult r;
        int k = 0;
        if (!plainFindReturnPeak(xc_.data(), n_, searchStart, searchEnd, valid_.data(), k))
            return r;
        r.found = true;
        r.xcPeakIndex = k;
        const double a = k - 1, b = k, c = k + 1;
        const double ya = xc_[k - 1], yb = xc_[k], yc = xc_[k + 1];
        r.quadPeak = (a * a * (yb - yc) + b * b * (yc - ya) + c * c * (ya - yb)) /
                     (2 * (a * (yb - yc) + b * (yc - ya) + c * (ya - yb)));
        int p = (k + TEMPLATE_PEAK_OFFSET) / interp_;
        if (p >= samples_ - 1)
            p = samples_ - 1;
        else if (raw_[p + 1] > raw_[p])
            ++p;
        r.rawPeakIndex = static_cast<std::uint32_t>(p);
        r.saturated = raw_[p] >= SATURATION_LEVEL;
        r.amplitude = static_cast<std::uint16_t>(static_cast<int>(raw_[p]));
        r.position = r.quadPeak + TEMPLATE_PEAK_OFFSET;
        return r;
    }

    void interpolate() {
        int j = 0;
        for (int i = 0; i <= samples_ - 2; ++i) {
            const float step = (raw_[i + 1] - raw_[i]) / static_cast<float>(factor_);
            for (int k = 0; k < interp_; ++k) x_[j++] = k * step + raw_[i];
        }
        for (int k = 0; k < interp_; ++k) x_[j++] = raw_[samples_ - 1];
    }

    template <typename Acc> void correlate() {
        for (int k = 0; k < n_; ++k) {
            Acc sum = 0;
            for (int j = 0; j < TEMPLATE_LENGTH && j + k < n_; ++j)
                sum += static_cast<Acc>(tmpl_[j]) * static_cast<Acc>(x_[j + k]);
            xc_[k] = static_cast<float>(sum);
        }
        xc_[n_] = 0.0f; // the empty sum one lag past the record
    }

private:
    int samples_;
    double factor_;
    int interp_;
    int n_;
    std::vector<float> raw_, x_, xc_;
    std::vector<std::uint8_t> valid_;
    std::vector<float> tmpl_;
};

} // namespace quarv::test
