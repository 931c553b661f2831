#include "gui/waveform/pulse_analyser.hpp"

#include "core/waveform/constants.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace quarv {
namespace {

constexpr int kShape = static_cast<int>(TEMPLATE_LENGTH);
// Entries at the start of the template grid (36 or more interpolated samples before the peak of
// a pulse of the template's width) that stand for the baseline.
constexpr int kBaselineEntries = 8;

// Baseline to 0, peak to 1. False for a shape without height.
bool normalise(std::vector<float>& s) {
    double base = 0.0;
    for (int i = 0; i < kBaselineEntries; ++i) base += s[static_cast<std::size_t>(i)];
    base /= kBaselineEntries;
    const double peak = *std::max_element(s.begin(), s.end());
    if (!(peak - base > 0.0)) return false;
    for (float& v : s) v = static_cast<float>((v - base) / (peak - base));
    return true;
}

struct Candidate {
    double amplitude;
    std::vector<float> shape;
};

} // namespace

double widthAtHalfMaximum(const std::vector<float>& s) {
    if (s.size() < 3) return std::numeric_limits<double>::quiet_NaN();
    const auto top = std::max_element(s.begin(), s.end());
    const std::size_t m = static_cast<std::size_t>(top - s.begin());
    const double half = *top / 2.0;
    double left = std::numeric_limits<double>::quiet_NaN();
    for (std::size_t i = m; i > 0; --i)
        if (s[i - 1] < half) {
            left = static_cast<double>(i - 1) + (half - s[i - 1]) / (s[i] - s[i - 1]);
            break;
        }
    double right = std::numeric_limits<double>::quiet_NaN();
    for (std::size_t i = m; i + 1 < s.size(); ++i)
        if (s[i + 1] < half) {
            right = static_cast<double>(i) + (s[i] - half) / (s[i] - s[i + 1]);
            break;
        }
    return right - left;
}

PulseAnalyser::PulseAnalyser(const ConfigRoot& root, MessageSink& sink)
    : sink_(sink), reader_(sink), processor_(root, sink) {
    // The cut-outs are taken from the interpolated waveform, which must be complete.
    processor_.setFullCorrelation(true);
}

bool PulseAnalyser::analyse(const std::string& path, double rangeEnd, PulseAnalysis& out,
                            int maxPulses, int maxWaveforms, std::optional<double> rangeStart) {
    out = PulseAnalysis{};
    if (!reader_.open(path)) return false;
    if (reader_.layoutOf() == RecordLayout::Peak) {
        sink_.report(
            formatMessage("ERROR, Pulse Analysis, peak file has no waveforms: %s", path.c_str()));
        reader_.close();
        return false;
    }
    ScannerCfg scanner;
    DigitizerCfg digitizer;
    ProcessingCfg processing;
    EnvCfg environment;
    CalibrationCfg calibration;
    PanTiltCfg panTilt;
    AttitudeBlock attitude;
    reader_.copyHeader(scanner, digitizer, processing, environment, calibration, panTilt, attitude);
    out.rangeMin = rangeStart.value_or(processing.rangeMin());
    out.rangeMax = rangeEnd;
    processing.setRangeMin(out.rangeMin);
    processing.setRangeMax(out.rangeMax);
    if (!processor_.configure(digitizer, processing, calibration)) {
        reader_.close();
        return false;
    }
    TrailerTemperatures temps;
    reader_.readTrailer(temps);

    out.interpolatedSampleNs = RAW_SAMPLE_PERIOD_S * 1e9 / std::max(1, processor_.interp());
    out.templateShape.assign(processor_.pulseTemplate().begin(), processor_.pulseTemplate().end());
    normalise(out.templateShape);
    out.templateWidth = widthAtHalfMaximum(out.templateShape);

    const std::uint32_t n = digitizer.samplesPerPulse();
    const std::uint32_t w = scanner.shotsPerLine();
    const RecordKind kind = reader_.recordKind();
    const std::uint32_t perRecord =
        kind == RecordKind::Bowtie ? 4u * w : digitizer.pulsesPerRecord();
    const std::uint64_t records = reader_.recordCount();
    if (perRecord == 0 || n == 0 || records == 0) {
        reader_.close();
        return true;
    }
    // Whole records spread evenly over the file: at most about maxWaveforms waveforms.
    const std::uint64_t budget = static_cast<std::uint64_t>(std::max(1, maxWaveforms));
    const std::uint64_t recordsWanted =
        std::max<std::uint64_t>(1, (budget + perRecord - 1) / perRecord);
    const std::uint64_t recordStride =
        std::max<std::uint64_t>(1, (records + recordsWanted - 1) / recordsWanted);

    std::vector<std::int16_t> samples(static_cast<std::size_t>(perRecord) * n);
    std::vector<double> horPos(perRecord);
    std::vector<std::uint32_t> words(perRecord);
    std::array<std::uint8_t, 14> reserved{};
    std::vector<Candidate> best; // kept sorted, strongest first
    const std::span<const float> interp = processor_.interpBuffer();
    for (std::uint64_t r = 0; r < records; r += recordStride) {
        const auto record = static_cast<std::uint32_t>(r);
        float az = 0.0f, el = 0.0f;
        if (kind == RecordKind::Stare)
            reader_.readStarePosition(w ? record / w : 0, w ? record % w : 0, az, el, horPos, words,
                                      samples);
        else if (kind == RecordKind::Bowtie)
            reader_.readBowtieRecord(record, samples, horPos, words, reserved);
        else
            reader_.readLineRecord(record, samples, horPos, words, el);
        for (std::uint32_t i = 0; i < perRecord; ++i) {
            float range = 0.0f;
            std::uint16_t amplitude = 0;
            bool saturated = false, found = false;
            processor_.processWaveform(samples.data() + static_cast<std::size_t>(i) * n, range,
                                       horPos[i], temps.first, temps.second, amplitude, saturated,
                                       found);
            ++out.waveformsProcessed;
            if (!found || saturated || range < out.rangeMin || range >= out.rangeMax) continue;
            ++out.returnsFound;
            if (static_cast<int>(best.size()) >= maxPulses && amplitude <= best.back().amplitude)
                continue;
            // The template laid at the refined lag: its entry j falls on interpolated sample
            // quadPeak + j, read between samples by linear interpolation.
            std::vector<float> shape(kShape);
            bool inside = true;
            for (int j = 0; j < kShape && inside; ++j) {
                const double x = processor_.quadPeak() + j;
                const double i0 = std::floor(x);
                if (i0 < 0 || i0 + 1 >= static_cast<double>(interp.size())) {
                    inside = false;
                    break;
                }
                const auto k = static_cast<std::size_t>(i0);
                const double f = x - i0;
                shape[static_cast<std::size_t>(j)] =
                    static_cast<float>(interp[k] * (1.0 - f) + interp[k + 1] * f);
            }
            if (!inside || !normalise(shape)) continue;
            Candidate c{static_cast<double>(amplitude), std::move(shape)};
            auto at =
                std::upper_bound(best.begin(), best.end(), c.amplitude,
                                 [](double a, const Candidate& b) { return a > b.amplitude; });
            best.insert(at, std::move(c));
            if (static_cast<int>(best.size()) > maxPulses) best.pop_back();
        }
    }
    reader_.close();

    out.pulsesAveraged = static_cast<int>(best.size());
    out.averageWidth = std::numeric_limits<double>::quiet_NaN();
    if (best.empty()) return true;
    out.averageShape.assign(kShape, 0.0f);
    for (const Candidate& c : best)
        for (int j = 0; j < kShape; ++j)
            out.averageShape[static_cast<std::size_t>(j)] += c.shape[static_cast<std::size_t>(j)];
    for (float& v : out.averageShape) v /= static_cast<float>(best.size());
    normalise(out.averageShape);
    out.averageWidth = widthAtHalfMaximum(out.averageShape);
    return true;
}

} // namespace quarv
