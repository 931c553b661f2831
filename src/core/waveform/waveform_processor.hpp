// The per-user waveform processing state: private copies of the digitiser, processing and
// calibration records, the matched-filter pulse template, the work buffers of the matched filter
// and the peak search, the range search window and the results of the last waveform. Each thread
// or dialog that processes waveforms owns one; an instance is used by one thread at a time.
#pragma once

#include "core/config/records.hpp"
#include "core/waveform/aligned_buffer.hpp"
#include "core/waveform/constants.hpp"
#include "core/waveform/correlation.hpp"
#include "core/waveform/peak_search.hpp"

#include <array>
#include <cstdint>
#include <filesystem>
#include <span>
#include <utility>
#include <vector>

namespace quarv {

class ConfigRoot;
class MessageSink;

// The result of one waveform: what the matched filter found and what the range step made of it.
struct ReturnPulse {
    bool found = false;
    double position = 0.0;       // interpolated samples from the start of the digitiser record
    std::uint16_t amplitude = 0; // raw counts at the peak sample (truncated)
    bool saturated = false;
    float range = 0.0f; // metres
    double snr = 0.0;
};

// The two 10-sample noise windows of the SNR around raw peak index p of a record of `samples`
// samples: 20 before and 10 after the peak, each moved inside the record.
struct NoiseWindows {
    int before = 0;
    int after = 0;
};
NoiseWindows noiseWindows(std::uint32_t peak, int samples);
// First entry of the 25-entry correlation baseline of the intensity: 125 before the peak, or 0.
int intensityBaselineStart(std::uint32_t peak);

class WaveformProcessor {
public:
    // Reads the pulse template from the root's calibration folder (a missing file leaves an
    // all-zero template), sets the default digitiser setting (600 samples, interpolation 4) and
    // sizes the buffers for it.
    WaveformProcessor(const ConfigRoot& root, MessageSink& sink);
    ~WaveformProcessor() = default;
    WaveformProcessor(const WaveformProcessor&) = delete;
    WaveformProcessor& operator=(const WaveformProcessor&) = delete;

    // Copies the three records, switches temperature compensation on for water (refractive
    // index above 1.1), then allocateBuffers(). False (with a message) when a buffer could not
    // be obtained; no waveform is processed until a later allocation succeeds.
    bool configure(const DigitizerCfg& digitizer, const ProcessingCfg& processing,
                   const CalibrationCfg& calibration);
    // Grows the work buffers to N = samplesPerPulse x interp entries (never shrinks them),
    // refreshes the zero-padded template buffer and recomputes the search window.
    bool allocateBuffers();
    // Reads 100 little-endian doubles. False, template unchanged, when the file cannot be
    // opened. A short file replaces only the values it holds. The template buffer that the
    // correlation uses follows at the next allocateBuffers()/configure(). Before any file the
    // template is the shipped one.
    bool loadPulseTemplate(const std::filesystem::path& path);
    // Whether the last template file read held all 100 values.
    bool templateComplete() const { return templateComplete_; }
    // Replaces rangeMin/rangeMax (metres) of the processing copy. The search window follows at
    // the next allocateBuffers()/configure().
    void setRangeWindow(double rangeMin, double rangeMax);

    // printf-style message through the sink, never cut; never waits for the operator.
    void report(const char* format, ...) __attribute__((format(printf, 2, 3)));

    // On (the default): every waveform's correlation and interpolation are computed whole, for
    // callers that read the buffers (the analysis dialogs, quarv-cli shot). Off: only the part
    // of the correlation that the peak search, the refinement and the intensity read is computed
    // (the scan pipeline). The results are identical either way.
    void setFullCorrelation(bool whole) { fullCorrelation_ = whole; }
    bool fullCorrelation() const { return fullCorrelation_; }

    // ---- one waveform (samplesPerPulse signed 16-bit samples) ----
    // Matched filter and peak search. Returns found. Without a return: position 0.0,
    // rawPeakIndex 0, xcPeakIndexCopy 0, amplitude and saturated untouched.
    bool matchedFilter(const std::int16_t* waveform, double& position, std::uint16_t& amplitude,
                       bool& saturated, bool& found);
    // Matched filter, then horizontal position, temperature correction and range. horPos is the
    // delay of the record after the laser fire (s); tempA/tempB in degrees Celsius. Returns found.
    bool processWaveform(const std::int16_t* waveform, float& range, double horPos, double tempA,
                         double tempB, std::uint16_t& amplitude, bool& saturated, bool& found);
    // The same, also giving the final corrected position (interpolated samples).
    bool processWaveformPos(const std::int16_t* waveform, float& range, float& position,
                            double horPos, double tempA, double tempB, std::uint16_t& amplitude,
                            bool& saturated, bool& found);
    // For records that already carry a peak position: the horizontal position, temperature
    // correction and range steps on it (position in/out, interpolated samples).
    void rangeFromPosition(double& position, float& range, double horPos, double tempA,
                           double tempB);
    // Quality of the return of the last waveform call (call only when it found one, before the
    // next waveform): SNR of the raw peak against 20 noise samples (saturated: 8999999488.0),
    // and the correlation peak above its local baseline.
    double computeSnr();
    double computeXcIntensity();

    // A return after the first of one waveform (multi-return mode).
    struct FurtherReturn {
        double position = 0; // interpolated samples from the record start, as matchedFilter
        std::uint16_t amplitude = 0;
        bool saturated = false;
        double snr = 0;
    };
    // After a waveform call that found a return, and before the next waveform: up to `max`
    // further returns in the same correlation, strongest first. A further return is a
    // candidate of the same kind as the first (it stands above the correlation 27 samples either
    // side and is a local maximum), passes the same width test, lies at least one pulse width
    // (the larger half-height width of the two) from every return already taken, and reaches
    // `snrLimit` by its own peak. The first return is left exactly as the waveform call found
    // it. It must also stand kFurtherSigmas noise deviations of the whole record above its local
    // noise mean (saturated peaks aside). Returns how many were written to out.
    int furtherReturns(int max, double snrLimit, FurtherReturn* out);
    static constexpr int kMaxFurtherReturns = 7;
    // How far above its local noise mean a further return's peak must stand, in units of the
    // record's noise (a normal noise sample reaches this about three times in ten million; the
    // measure, taken over the neighbouring differences, also feels the pulses' flanks a little).
    static constexpr double kFurtherSigmas = 5.0;

    // ---- state (the names of the processing state) ----
    std::uint32_t rawPeakIndex() const { return rawPeakIndex_; }
    std::uint32_t peakXc() const {
        return peakXc_;
    } // shown as "peak XC"; processing never writes it
    std::uint32_t xcPeakIndex() const { return xcPeakIndex_; }
    double quadPeak() const { return quadPeak_; }
    double horPosRange() const { return horPosRange_; }
    const DigitizerCfg& digitizer() const { return digitizer_; }
    const ProcessingCfg& processing() const { return processing_; }
    const CalibrationCfg& calibration() const { return calibration_; }
    bool tempCompEnabled() const { return tempCompEnabled_; }
    bool tempCompAllowed() const { return tempCompAllowed_; }
    const std::array<double, TEMPLATE_LENGTH>& pulseTemplate() const { return pulseTemplate_; }
    std::uint32_t capacity() const { return capacity_; }
    double lastRange() const { return lastRange_; }
    double lastTime() const { return lastTime_[0]; }
    double lastTimeCopy() const { return lastTime_[1]; }
    std::int32_t searchStart() const { return searchStart_; }
    std::int32_t searchEnd() const { return searchEnd_; }
    std::int16_t rawStart() const { return rawStart_; }
    std::int16_t rawEnd() const { return rawEnd_; }
    // The window's end lay beyond what the 16-bit sample count holds and was held at the end of
    // the record, which lies recordEndRange() metres out.
    bool windowEndClamped() const { return endClamped_; }
    double recordEndRange() const;
    std::uint32_t xcPeakIndexCopy() const { return xcPeakIndexCopy_; }
    double quadPeakCopy() const { return quadPeakCopy_; }
    bool saturated() const { return saturated_; }
    std::uint32_t sinkTag() const { return sinkTag_; }

    // S = samplesPerPulse, interp = whole interpolation factor, N = S x interp.
    int samplesPerPulse() const { return digitizer_.samplesPerPulse(); }
    int interp() const { return interp_; }
    int length() const { return length_; }
    // True when the buffers hold the current N (the last allocation succeeded).
    bool ready() const { return ready_; }

    // Buffer contents of the last waveform: N entries (rawBuffer: S entries). The correlation
    // and the interpolated waveform are complete only with full correlation on.
    std::span<const float> interpBuffer() const { return view(interpBuffer_, length_); }
    std::span<const float> xcBuffer() const { return view(xcBuffer_, length_); }
    std::span<const float> templateBuffer() const { return view(templateBuffer_, length_); }
    std::span<const float> rawBuffer() const { return view(rawBuffer_, samplesPerPulse()); }
    std::span<const float> mfBuffer() const { return view(mfBuffer_, length_); }
    std::span<const std::uint8_t> validBuffer() const { return view(validBuffer_, length_); }
    const std::array<float, NOISE_SAMPLES>& noiseBuffer() const { return noiseBuffer_; }

    // Replaces the allocator of the work buffers (memory must be releasable with std::free); a
    // null function restores the default. Lets the allocation failure paths be exercised.
    void setAllocator(AllocateFn allocate, void* context);

private:
    template <typename T> static std::span<const T> view(const AlignedBuffer<T>& b, int n) {
        const std::size_t count = n > 0 ? static_cast<std::size_t>(n) : 0;
        return b.size() >= count ? std::span<const T>(b.data(), count) : std::span<const T>();
    }
    void computeSearchWindow();
    void applyHorizontalPosition(double& p, double horPos);
    void applyTemperatureCorrection(double& p, double tempA, double tempB) const;
    float rangeFromTime(double p);
    // SNR of raw peak sample p (saturated: the fixed value), the noise samples into noise.
    double snrAt(std::uint32_t p, bool saturated, std::array<float, NOISE_SAMPLES>& noise) const;
    // Makes xcBuffer valid over [from, to) (clipped to [0, N)), growing the computed span.
    void ensureCorrelation(int from, int to);
    void computeCorrelation(int from, int to);
    static int extendDown(void* self, int index);

    // Result words of the last waveform.
    std::uint32_t rawPeakIndex_ = 0;
    std::uint32_t peakXc_ = 0;
    std::uint32_t xcPeakIndex_ = 0;
    double quadPeak_ = 0.0;
    double horPosRange_ = 0.0;

    DigitizerCfg digitizer_;
    ProcessingCfg processing_;
    CalibrationCfg calibration_;
    bool tempCompEnabled_ = true;
    bool tempCompAllowed_ = true;
    std::array<double, TEMPLATE_LENGTH> pulseTemplate_{};
    bool templateComplete_ = false;
    MessageSink& sink_;

    AlignedBuffer<float> interpBuffer_;
    AlignedBuffer<float> xcBuffer_;
    AlignedBuffer<float> templateBuffer_;
    AlignedBuffer<float> rawBuffer_;
    std::array<float, NOISE_SAMPLES> noiseBuffer_{};
    std::uint32_t capacity_ = 0;
    double lastRange_ = 0.0;
    std::array<double, 2> lastTime_{};
    std::int32_t searchStart_ = 0;
    std::int32_t searchEnd_ = 0;
    std::int16_t rawStart_ = 0;
    std::int16_t rawEnd_ = 1500;
    bool endClamped_ = false;
    std::uint32_t xcPeakIndexCopy_ = 0;
    double quadPeakCopy_ = 0.0;
    bool saturated_ = false;
    std::uint32_t sinkTag_ = 0;
    AlignedBuffer<std::uint8_t> validBuffer_;
    AlignedBuffer<float> mfBuffer_;

    // Our own working state beside the system's fields: the waveform as doubles for the
    // per-phase correlation, the peak search's candidate heights, the per-phase weights.
    AlignedBuffer<double> rawWide_;
    AlignedBuffer<float> eligible_;
    // Scratch of furtherReturns.
    struct Candidate {
        int k;
        std::uint32_t peakSample;
        bool saturated;
        double snr;
    };
    std::vector<Candidate> candidates_;
    std::vector<std::uint8_t> flags_;
    std::vector<float> differences_, sortedDifferences_;
    int firstWidth_ = 0; // half-height width of the last first return's pulse
    // Robust noise of the last waveform's record (counts), from its difference counts.
    double recordNoiseSigma(const peak::RecordCounts& counts);
    xcorr::PhaseWeights weights_;
    xcorr::TailWeights tail_;
    AllocateFn allocate_ = nullptr;
    void* allocateContext_ = nullptr;
    int interp_ = 0;
    int length_ = 0;
    bool ready_ = false;
    bool fullCorrelation_ = true;
    // Span of xcBuffer computed for the current waveform: [computedLo_, computedHi_).
    int computedLo_ = 0;
    int computedHi_ = 0;
};

} // namespace quarv
