#include "core/waveform/waveform_processor.hpp"

#include "core/app/message_sink.hpp"
#include "core/config/config_root.hpp"
#include "core/waveform/peak_search.hpp"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>

namespace quarv {

namespace {

// The interpolation factor as a whole number: values below 1 (and NaN) give 0, which leaves
// nothing to process; absurdly large ones are held where the buffer size check refuses them.
int wholeFactor(double interpolation) {
    if (!(interpolation >= 1.0)) return 0;
    if (interpolation >= 65536.0) return 65536;
    return static_cast<int>(interpolation);
}

std::int32_t clamp32(std::int64_t v) {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(
        v, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

// Correlation is computed in chunks of this many outputs so that lazy extension stays cheap.
constexpr int kChunk = 64;

} // namespace

NoiseWindows noiseWindows(std::uint32_t peak, int samples) {
    const std::int64_t p = peak;
    auto inside = [&](std::int64_t start) {
        return static_cast<int>(
            std::max<std::int64_t>(std::min<std::int64_t>(start, samples - 10), 0));
    };
    return {inside(p - 20), inside(p + 10)};
}

int intensityBaselineStart(std::uint32_t peak) {
    const std::int64_t a = std::int64_t(peak) - 125;
    return a <= 0 ? 0 : static_cast<int>(a);
}

// The template the system ships with: what stands in for a missing template file, or for the
// values a short one lacks, so that a damaged calibration folder degrades to the stock pulse
// shape instead of a zero template that finds nothing.
static const std::array<double, TEMPLATE_LENGTH>& shippedTemplate() {
    static const std::array<double, TEMPLATE_LENGTH> shipped = [] {
        std::array<double, TEMPLATE_LENGTH> t{};
        std::size_t count = 0;
        const DefaultFile* files = shippedDefaults(count);
        for (std::size_t i = 0; i < count; ++i) {
            if (std::strcmp(files[i].name, kPulseTemplateName) != 0) continue;
            const std::size_t n = std::min<std::size_t>(TEMPLATE_LENGTH, files[i].size / 8);
            for (std::size_t j = 0; j < n; ++j) t[j] = le::load<double>(files[i].data + 8 * j);
        }
        return t;
    }();
    return shipped;
}

WaveformProcessor::WaveformProcessor(const ConfigRoot& root, MessageSink& sink)
    : pulseTemplate_(shippedTemplate()), sink_(sink) {
    loadPulseTemplate(root.pulseTemplatePath());
    digitizer_.setSamplesPerPulse(600);
    processing_.setInterpolation(4.0);
    allocateBuffers();
}

bool WaveformProcessor::configure(const DigitizerCfg& digitizer, const ProcessingCfg& processing,
                                  const CalibrationCfg& calibration) {
    digitizer_ = digitizer;
    processing_ = processing;
    calibration_ = calibration;
    tempCompEnabled_ = processing_.refractiveIndex() > WATER_INDEX_THRESHOLD;
    return allocateBuffers();
}

void WaveformProcessor::setRangeWindow(double rangeMin, double rangeMax) {
    processing_.setRangeMin(rangeMin);
    processing_.setRangeMax(rangeMax);
}

void WaveformProcessor::setAllocator(AllocateFn allocate, void* context) {
    allocate_ = allocate;
    allocateContext_ = context;
}

bool WaveformProcessor::loadPulseTemplate(const std::filesystem::path& path) {
    templateComplete_ = false;
    if (!isRegularFile(path)) return false;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    std::uint8_t bytes[TEMPLATE_LENGTH * 8];
    const std::size_t got = std::fread(bytes, 8, TEMPLATE_LENGTH, f);
    std::fclose(f);
    templateComplete_ = got == TEMPLATE_LENGTH;
    // Only whole values are taken; the rest of the template stays as it was.
    for (std::size_t i = 0; i < got; ++i) pulseTemplate_[i] = le::load<double>(bytes + 8 * i);
    return true;
}

void WaveformProcessor::report(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = formatMessageV(format, args);
    va_end(args);
    sink_.report(text);
}

bool WaveformProcessor::allocateBuffers() {
    ready_ = false;
    interp_ = wholeFactor(processing_.interpolation());
    const std::int64_t wanted = std::int64_t(samplesPerPulse()) * interp_;
    const std::size_t n = static_cast<std::size_t>(wanted);
    length_ = static_cast<int>(std::min<std::int64_t>(wanted, BUFFER_MAX_ENTRIES + 1));

    // Each buffer that is smaller than N is replaced, in the system's order; a buffer left
    // behind by an earlier failed attempt is retried even when capacity already says N.
    // (At least one entry each, so that every buffer exists even for an empty record.)
    const std::size_t need = std::max<std::size_t>(n, 1);
    auto grow = [&](auto& buffer, const char* message) {
        if (buffer.size() >= need) return true;
        if (buffer.allocate(need, allocate_, allocateContext_)) return true;
        report("%s", message);
        return false;
    };
    if (!grow(interpBuffer_, "ERROR, Processing, allocating data interpolation buffer!"))
        return false;
    capacity_ = std::max<std::uint32_t>(capacity_, static_cast<std::uint32_t>(n));
    if (!grow(xcBuffer_, "ERROR, Processing, allocating data cross correlation buffer!"))
        return false;
    if (!grow(templateBuffer_, "ERROR, Processing, allocating cross correlation gaussian buffer!"))
        return false;
    if (!grow(rawBuffer_, "ERROR, Processing, allocating return buffer!")) return false;
    if (!grow(rawWide_, "ERROR, Processing, allocating return buffer!")) return false;
    if (!grow(mfBuffer_, "ERROR, Processing, allocating MF buffer!")) return false;
    if (!grow(eligible_, "ERROR, Processing, allocating MF buffer!")) return false;
    if (!grow(validBuffer_, "ERROR, Processing, allocating Valid buffer!")) return false;

    // The template, zero-padded to the buffer length. A buffer shorter than the template (a
    // record of fewer than 25 samples) takes what fits; the correlation never reaches further.
    float* t = templateBuffer_.data();
    const std::size_t cap = templateBuffer_.size();
    std::fill(t, t + cap, 0.0f);
    for (std::size_t j = 0; j < std::min<std::size_t>(TEMPLATE_LENGTH, cap); ++j)
        t[j] = static_cast<float>(pulseTemplate_[j]);
    // The per-phase sums hold for a whole factor only: a fractional one (which the system does
    // not expect) steps by raw difference / factor but writes only `interp` entries per sample,
    // and goes through the direct sum over the interpolated waveform.
    if (processing_.interpolation() == static_cast<double>(interp_)) {
        xcorr::buildPhaseWeights(t, interp_, weights_);
        xcorr::buildTailWeights(t, interp_, length_, tail_);
    } else {
        weights_ = xcorr::PhaseWeights{};
        tail_.interp = 0;
    }
    // The correlation's tail reads past the interpolated waveform: zeros there, also when a
    // larger earlier setting left values behind (waveforms only write the first N entries).
    std::fill(interpBuffer_.data() + n,
              interpBuffer_.data() + interpBuffer_.size() + BUFFER_PAD_ENTRIES, 0.0f);

    computeSearchWindow();
    ready_ = true;
    return true;
}

void WaveformProcessor::computeSearchWindow() {
    // Range to a round-trip sample count: light covers cT metres in one raw sample; the index n
    // slows it, the factor 2 is the way back. Stored in 16 bits like the system's fields.
    // A range so far out that its count does not fit 16 bits (about 916 m in water) is held at
    // the record's end (or, below zero, before its start) instead of wrapping round into a
    // window that holds nothing; windowEndClamped() tells the caller.
    const double cT = SPEED_OF_LIGHT_MPS * RAW_SAMPLE_PERIOD_S;
    const double n = processing_.refractiveIndex();
    const int samples = samplesPerPulse();
    bool beyond = false;
    auto rawIndex = [&](double range) {
        beyond = false;
        const double twice = 2.0 * std::trunc(range * n / cT);
        if (std::isnan(twice)) return std::int16_t{0};
        if (twice < -32768.0) return std::numeric_limits<std::int16_t>::min();
        beyond = twice > 32767.0;
        if (beyond) return static_cast<std::int16_t>(std::min(samples, 32767));
        std::int16_t v = static_cast<std::int16_t>(twice);
        if (v > samples) v = static_cast<std::int16_t>(samples);
        return v;
    };
    rawStart_ = rawIndex(processing_.rangeMin());
    rawEnd_ = rawIndex(processing_.rangeMax());
    endClamped_ = beyond;
    std::int64_t start = std::int64_t(rawStart_) * interp_ - 100;
    std::int64_t end = std::int64_t(rawEnd_) * interp_ + 100;
    // A start close to the record's beginning is moved to 20, not 0: the candidate test looks 27
    // samples back.
    if (start <= 48) start = 20;
    const std::int64_t whole = std::int64_t(samples) * interp_;
    searchStart_ = clamp32(std::min(start, whole));
    searchEnd_ = clamp32(std::min(end, whole));
}

double WaveformProcessor::recordEndRange() const {
    return samplesPerPulse() * SPEED_OF_LIGHT_MPS * RAW_SAMPLE_PERIOD_S /
           (2.0 * processing_.refractiveIndex());
}

void WaveformProcessor::computeCorrelation(int from, int to) {
    const int n = length_;
    float* xc = xcBuffer_.data();
    const auto level = xcorr::activeSimdLevel();
    if (weights_.interp == 0) {
        xcorr::correlateDirect(interpBuffer_.data(), templateBuffer_.data(), from, to, xc, level);
        return;
    }
    // Per-phase sums where the template lies wholly on the record; where it hangs over the end,
    // per-output weights of the template cut at the record's end.
    const int interiorEnd = std::max(0, n - TEMPLATE_LENGTH + 1);
    xcorr::correlatePhases(rawWide_.data(), weights_, std::min(from, interiorEnd),
                           std::min(to, interiorEnd), xc, level);
    xcorr::correlateTail(rawWide_.data(), tail_, std::max(from, interiorEnd), to, xc, level);
}

void WaveformProcessor::ensureCorrelation(int from, int to) {
    from = std::max(from, 0) / kChunk * kChunk;
    to = std::min((std::min(to, length_) + kChunk - 1) / kChunk * kChunk, length_);
    if (to <= from) return;
    if (computedHi_ <= computedLo_) {
        computeCorrelation(from, to);
        computedLo_ = from;
        computedHi_ = to;
        return;
    }
    if (from < computedLo_) {
        computeCorrelation(from, computedLo_);
        computedLo_ = from;
    }
    if (to > computedHi_) {
        computeCorrelation(computedHi_, to);
        computedHi_ = to;
    }
}

int WaveformProcessor::extendDown(void* self, int index) {
    auto* p = static_cast<WaveformProcessor*>(self);
    // The walks go down one sample at a time: extend by a few chunks at once.
    p->ensureCorrelation(std::min(index, p->computedLo_ - 4 * kChunk), p->computedHi_);
    return p->computedLo_;
}

bool WaveformProcessor::matchedFilter(const std::int16_t* waveform, double& position,
                                      std::uint16_t& amplitude, bool& saturated, bool& found) {
    found = false;
    computedLo_ = computedHi_ = 0;
    const int samples = samplesPerPulse();
    const int n = length_;
    auto noReturn = [&] {
        position = 0.0;
        rawPeakIndex_ = 0;
        xcPeakIndexCopy_ = 0;
        return false;
    };
    if (!ready_ || samples <= 0 || n <= 0 || !waveform) return noReturn();

    float* raw = rawBuffer_.data();
    double* wide = rawWide_.data();
    xcorr::widen(waveform, samples, raw, wide, xcorr::activeSimdLevel());
    // After the record: the per-phase sums see the last sample repeated (as the interpolation
    // does), and the SNR noise windows of a record shorter than 10 samples see zeros.
    wide[samples] = wide[samples - 1];
    std::fill(raw + samples, raw + samples + 10, 0.0f);

    if (fullCorrelation_ || weights_.interp == 0)
        xcorr::interpolate(raw, samples, processing_.interpolation(), interp_, 0, n,
                           interpBuffer_.data());
    if (fullCorrelation_) {
        ensureCorrelation(0, n);
        std::memcpy(mfBuffer_.data(), xcBuffer_.data(),
                    static_cast<std::size_t>(n) * sizeof(float));
    } else if (searchEnd_ - searchStart_ > 2 * peak::CANDIDATE_SPAN) {
        ensureCorrelation(searchStart_, searchEnd_ + 1);
    }

    peak::Correlation c{xcBuffer_.data(), n, computedLo_, &WaveformProcessor::extendDown, this};
    int k = 0;
    if (!peak::findReturnPeak(c, searchStart_, searchEnd_, validBuffer_.data(), eligible_.data(), k,
                              &firstWidth_))
        return noReturn();

    found = true;
    xcPeakIndex_ = static_cast<std::uint32_t>(k);
    const double q = peak::quadraticVertex(xcBuffer_.data(), k);
    xcPeakIndexCopy_ = xcPeakIndex_;
    quadPeakCopy_ = q;
    quadPeak_ = q;
    rawPeakIndex_ = peak::rawPeakIndex(raw, samples, k, interp_);
    saturated_ = raw[rawPeakIndex_] >= SATURATION_LEVEL;
    saturated = saturated_;
    amplitude = static_cast<std::uint16_t>(static_cast<std::int32_t>(raw[rawPeakIndex_]));
    position = q + TEMPLATE_PEAK_OFFSET;
    return true;
}

void WaveformProcessor::applyHorizontalPosition(double& p, double horPos) {
    p = p + horPos * processing_.interpolation() / RAW_SAMPLE_PERIOD_S;
    horPosRange_ = SPEED_OF_LIGHT_MPS / (2.0 * processing_.refractiveIndex()) * horPos;
}

void WaveformProcessor::applyTemperatureCorrection(double& p, double tempA, double tempB) const {
    double corr = 0.0;
    if (tempCompAllowed_ && tempCompEnabled_) {
        const double tm = (tempA + tempB) / 2.0;
        corr = calibration_.tempCoefC2() * tm * tm + calibration_.tempCoefC1() * tm +
               calibration_.tempCoefC0();
    }
    p = p - corr;
}

float WaveformProcessor::rangeFromTime(double p) {
    const double t = static_cast<double>(calibration_.timeScale()) * p /
                     processing_.interpolation() * RAW_SAMPLE_PERIOD_S;
    lastTime_ = {t, t};
    const double range = SPEED_OF_LIGHT_MPS / (2.0 * processing_.refractiveIndex()) *
                         (t - static_cast<double>(calibration_.timeOffsetNs()) * 1e-9);
    lastRange_ = range;
    return static_cast<float>(range);
}

bool WaveformProcessor::processWaveform(const std::int16_t* waveform, float& range, double horPos,
                                        double tempA, double tempB, std::uint16_t& amplitude,
                                        bool& saturated, bool& found) {
    double p = 0.0;
    matchedFilter(waveform, p, amplitude, saturated, found);
    rangeFromPosition(p, range, horPos, tempA, tempB);
    return found;
}

bool WaveformProcessor::processWaveformPos(const std::int16_t* waveform, float& range,
                                           float& position, double horPos, double tempA,
                                           double tempB, std::uint16_t& amplitude, bool& saturated,
                                           bool& found) {
    double p = 0.0;
    matchedFilter(waveform, p, amplitude, saturated, found);
    rangeFromPosition(p, range, horPos, tempA, tempB);
    position = static_cast<float>(p);
    return found;
}

void WaveformProcessor::rangeFromPosition(double& position, float& range, double horPos,
                                          double tempA, double tempB) {
    applyHorizontalPosition(position, horPos);
    applyTemperatureCorrection(position, tempA, tempB);
    range = rangeFromTime(position);
}

double WaveformProcessor::computeSnr() {
    return snrAt(rawPeakIndex_, saturated_, noiseBuffer_);
}

double WaveformProcessor::snrAt(std::uint32_t peak, bool saturated,
                                std::array<float, NOISE_SAMPLES>& noise) const {
    if (saturated) return SATURATED_SNR;
    const int samples = samplesPerPulse();
    if (!ready_ || samples <= 0) return std::numeric_limits<double>::quiet_NaN();
    const float* raw = rawBuffer_.data();
    const int p = static_cast<int>(std::min<std::uint32_t>(peak, samples - 1));
    const NoiseWindows windows = noiseWindows(static_cast<std::uint32_t>(p), samples);
    const int a = windows.before, b = windows.after;
    float sum = 0.0f;
    for (int i = 0; i < 10; ++i) {
        noise[i] = raw[a + i];
        noise[10 + i] = raw[b + i];
    }
    for (float v : noise) sum += v;
    const float mean = sum / static_cast<float>(NOISE_SAMPLES);
    // Sample standard deviation (divisor n - 1), rounded to float like the library routine.
    double exactMean = 0.0;
    for (float v : noise) exactMean += v;
    exactMean /= NOISE_SAMPLES;
    double squares = 0.0;
    for (float v : noise) squares += (v - exactMean) * (v - exactMean);
    const float sd = static_cast<float>(std::sqrt(squares / (NOISE_SAMPLES - 1)));
    const double signal = static_cast<double>(raw[p]) - static_cast<double>(mean);
    return signal * signal / (static_cast<double>(sd) * static_cast<double>(sd));
}

double WaveformProcessor::recordNoiseSigma(const peak::RecordCounts& counts) {
    // Differences of neighbouring samples take out the baseline and the slow backscatter. Their
    // median absolute value gives a first scale that the few pulses of a record cannot move;
    // whole counts make that median coarse, so the noise is then the root mean square of the
    // differences within five of those scales (which leaves the pulses' edges out).
    const int samples = samplesPerPulse();
    if (samples < 2) return 0;
    const float* raw = rawBuffer_.data();
    const std::size_t size = static_cast<std::size_t>(samples - 1);
    // The median is the middle difference (the upper one of an even count). The differences
    // are whole counts: a median below 8, the usual case, is read off the counts.
    double median = -1;
    for (int t = 0; t < 8 && median < 0; ++t)
        if (static_cast<std::size_t>(counts.atMost[t]) > size / 2) median = t;
    if (median >= 0) {
        const double bound = 5.0 * std::max(1.4826 * median, 1.0); // below 52
        std::int64_t squares = 0;
        int count = 0;
        peak::squaredDifferences(raw, samples, static_cast<float>(std::floor(bound)), squares,
                                 count);
        return count ? std::sqrt(static_cast<double>(squares) / count / 2.0) : 0.0;
    }
    differences_.resize(size);
    for (std::size_t i = 0; i < size; ++i) differences_[i] = std::fabs(raw[i + 1] - raw[i]);
    std::vector<float>& sorted = sortedDifferences_;
    sorted.assign(differences_.begin(), differences_.end());
    const auto mid = sorted.begin() + static_cast<std::ptrdiff_t>(size / 2);
    std::nth_element(sorted.begin(), mid, sorted.end());
    const double bound = 5.0 * std::max(1.4826 * static_cast<double>(*mid), 1.0);
    double squares = 0;
    std::size_t count = 0;
    for (float d : differences_) {
        if (d > bound) continue;
        squares += static_cast<double>(d) * d;
        ++count;
    }
    return count ? std::sqrt(squares / static_cast<double>(count) / 2.0) : 0.0;
}

int WaveformProcessor::furtherReturns(int max, double snrLimit, FurtherReturn* out) {
    const int n = length_, samples = samplesPerPulse();
    const int first = searchStart_ + peak::CANDIDATE_SPAN;
    const int last = searchEnd_ - peak::CANDIDATE_SPAN;
    if (max <= 0 || !ready_ || n <= 0 || last <= first) return 0;
    const float* m = xcBuffer_.data();
    const float* raw = rawBuffer_.data();
    peak::Correlation c{xcBuffer_.data(), n, computedLo_, &WaveformProcessor::extendDown, this};
    const int firstK = static_cast<int>(xcPeakIndex_);
    const int firstWidth = firstWidth_; // measured by the first search

    // A further return must stand kFurtherSigmas noise deviations of the record above the mean
    // of its own noise windows, which is never below the mean of the record's quietest window
    // of ten: a candidate whose raw peak does not stand that far above the quietest window (a
    // hair of margin covers the roundings of the exact test) cannot pass, unless it is
    // saturated. Only the few samples that do (the pulses) are looked at, then the correlation
    // indices whose raw peak can be one of them, in increasing order, each tested as the first
    // search tests its candidates: a local maximum standing above the correlation 27 samples
    // either side.
    peak::RecordCounts counts;
    peak::countRecord(raw, samples, counts);
    const double sigma = recordNoiseSigma(counts);
    const double least = counts.lowestTen / 10.0 - 1e-3 + kFurtherSigmas * sigma;
    // The samples are whole counts: one that reaches the gate reaches its ceiling.
    const float gate = static_cast<float>(std::ceil(std::min<double>(least, SATURATION_LEVEL)));
    candidates_.clear();
    std::array<float, NOISE_SAMPLES> noise{};
    const auto consider = [&](int k) {
        const float h = m[k];
        if (!(h > m[k - peak::CANDIDATE_SPAN] && h > m[k + peak::CANDIDATE_SPAN] && h >= m[k - 1] &&
              h > m[k + 1]))
            return;
        const std::uint32_t peakSample = peak::rawPeakIndex(raw, samples, k, interp_);
        const bool saturated = raw[peakSample] >= SATURATION_LEVEL;
        if (!saturated && !(raw[peakSample] >= least)) return;
        const double snr = snrAt(peakSample, saturated, noise);
        if (!(snr >= snrLimit)) return;
        // Twenty noise samples can happen to lie close together, and a noise peak then shows a
        // high SNR: a further return must also stand clear of the whole record's noise.
        float mean = 0;
        for (float v : noise) mean += v;
        mean /= static_cast<float>(NOISE_SAMPLES);
        if (!saturated && !(raw[peakSample] - mean >= kFurtherSigmas * sigma)) return;
        candidates_.push_back({k, peakSample, saturated, snr});
    };
    // Most of the record is below the gate: the samples that reach it are flagged at vector
    // speed, then visited in order.
    if (flags_.size() < static_cast<std::size_t>(samples)) flags_.resize(std::size_t(samples));
    std::uint8_t* flag = flags_.data();
    peak::markAtLeast(raw, samples, gate, flag);
    std::int64_t next = first; // the first correlation index not yet looked at
    const std::int64_t skipFrom = std::int64_t(firstK) - firstWidth + 1;
    const std::int64_t skipTo = std::int64_t(firstK) + firstWidth;
    for (int r = 0; r < samples; ++r) {
        const void* found = std::memchr(flag + r, 1, static_cast<std::size_t>(samples - r));
        if (!found) break;
        // A run of samples at or above the gate (a pulse) is taken at once.
        r = static_cast<int>(static_cast<const std::uint8_t*>(found) - flag);
        const int runStart = r;
        while (r + 1 < samples && flag[r + 1]) ++r;
        // Index k's raw peak is (k + 48) / interp or the sample after; the last sample is also
        // the peak of every index beyond the record.
        const std::int64_t lo = std::max<std::int64_t>(
            next, (std::int64_t(runStart) - 1) * interp_ - TEMPLATE_PEAK_OFFSET);
        const std::int64_t hi = r == samples - 1
                                    ? last
                                    : std::min<std::int64_t>(last, (std::int64_t(r) + 1) * interp_ -
                                                                       TEMPLATE_PEAK_OFFSET);
        // The first return's own pulse holds no further return.
        for (std::int64_t k = lo; k < std::min(hi, skipFrom); ++k) consider(static_cast<int>(k));
        for (std::int64_t k = std::max(lo, skipTo); k < hi; ++k) consider(static_cast<int>(k));
        next = std::max(next, hi);
    }
    // Highest first; equal heights in index order.
    std::stable_sort(candidates_.begin(), candidates_.end(),
                     [m](const Candidate& a, const Candidate& b) { return m[a.k] > m[b.k]; });
    struct Taken {
        int k, width;
    };
    std::array<Taken, kMaxFurtherReturns + 1> taken{};
    taken[0] = {firstK, firstWidth};
    int count = 0;
    for (const Candidate& cand : candidates_) {
        if (count >= std::min(max, kMaxFurtherReturns)) break;
        const peak::Width w = peak::measureWidth(c, cand.k, searchEnd_, validBuffer_.data());
        if (!w.ok || !(w.width > peak::MIN_WIDTH && w.width < peak::MAX_WIDTH)) continue;
        bool apart = true;
        for (int t = 0; t <= count && apart; ++t)
            apart = std::abs(cand.k - taken[t].k) >= std::max(w.width, taken[t].width);
        if (!apart) continue;
        taken[++count] = {cand.k, w.width};
        FurtherReturn& r = out[count - 1];
        r.position = peak::quadraticVertex(m, cand.k) + TEMPLATE_PEAK_OFFSET;
        r.amplitude = static_cast<std::uint16_t>(static_cast<std::int32_t>(raw[cand.peakSample]));
        r.saturated = cand.saturated;
        r.snr = cand.snr;
    }
    return count;
}

double WaveformProcessor::computeXcIntensity() {
    if (!ready_ || length_ <= 0) return std::numeric_limits<double>::quiet_NaN();
    const int k = static_cast<int>(std::min<std::uint32_t>(xcPeakIndexCopy_, length_ - 1));
    // The baseline block of 25 ends 100 samples before the peak.
    const int a = intensityBaselineStart(static_cast<std::uint32_t>(k));
    ensureCorrelation(a, a + 25);
    ensureCorrelation(k, k + 1);
    const float* xc = xcBuffer_.data();
    double sum = 0.0;
    for (int i = 0; i < 25; ++i) sum += xc[a + i];
    return static_cast<double>(xc[k]) - sum / 25.0;
}

} // namespace quarv
