#include "gui/dialogs/proc_graph_model.hpp"

#include "core/scan/scan_worker.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

namespace quarv {
namespace {

const double kPi = 4.0 * std::atan(1.0);
constexpr float kGap = std::numeric_limits<float>::quiet_NaN();

// Sample standard deviation (divisor n - 1), accumulated in double.
double sampleStdDev(const std::vector<float>& v) {
    const double n = static_cast<double>(v.size());
    const double mean = std::accumulate(v.begin(), v.end(), 0.0) / n;
    double ss = 0.0;
    for (float x : v) ss += (x - mean) * (x - mean);
    return std::sqrt(ss / (n - 1.0));
}

// The window test of the dialogs: inside when min <= range < max, compared as 32-bit floats.
// Written as a positive test so that a gap (NaN) is never inside.
bool insideWindow(float range, double rangeMin, double rangeMax) {
    return range >= static_cast<float>(rangeMin) && range < static_cast<float>(rangeMax);
}

std::int32_t truncatedHeight(float v) {
    if (!std::isfinite(v)) return 0;
    if (v >= 2147483647.0f) return std::numeric_limits<std::int32_t>::max();
    if (v <= -2147483648.0f) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(v);
}

template <typename T> std::span<T> sized(std::vector<T>& v, std::size_t n) {
    if (v.size() < n) v.resize(n);
    return std::span<T>(v.data(), n);
}

} // namespace

ProcGraphModel::ProcGraphModel(const ConfigRoot& root, MessageSink& sink)
    : sink_(sink), reader_(sink), processor_(root, sink) {
    // The dialog plots the whole correlation, not only the part the peak search reads.
    processor_.setFullCorrelation(true);
}

std::uint32_t ProcGraphModel::recordsPerGroup() const {
    return std::max<std::uint32_t>(1, scanner_.pulsesPerPosition());
}

bool ProcGraphModel::load(const std::string& path, double rangeMin, double rangeMax) {
    const std::string previous = open_ ? path_ : std::string();
    auto restore = [&] {
        // The reader closes the old file before it tries the new one; take the old one up again
        // so that the dialog stays as it was.
        open_ = !previous.empty() && reader_.open(previous);
        return false;
    };
    if (!reader_.open(path)) return restore();
    peak_ = reader_.layoutOf() == RecordLayout::Peak;
    EnvCfg environment;
    PanTiltCfg panTilt;
    AttitudeBlock attitude;
    reader_.copyHeader(scanner_, digitizer_, processing_, environment, calibration_, panTilt,
                       attitude);
    records_ = reader_.recordCount();
    TrailerTemperatures t;
    reader_.readTrailer(t);
    tempA_ = t.first;
    tempB_ = t.second;
    fileRangeMin_ = processing_.rangeMin();
    fileRangeMax_ = processing_.rangeMax();
    processing_.setRangeMin(static_cast<float>(rangeMin));
    processing_.setRangeMax(static_cast<float>(rangeMax));
    processor_.configure(digitizer_, processing_, calibration_);
    path_ = path;
    open_ = true;
    group_ = 0;
    firstRecord_ = 0;
    return true;
}

SliderRange ProcGraphModel::shotSlider() const {
    const double w = scanner_.shotsPerLine();
    const double p = digitizer_.pulsesPerRecord();
    double count;
    if (scanner_.scanType() == kScanTypeStopAndStare)
        count = p * w;
    else if (scanner_.scanType() == kScanTypeMovingBowtie)
        count = 4.0 * w;
    else
        count = p * recordsPerGroup();
    return {0.0, std::max(0.0, count - 1.0)};
}

SliderRange ProcGraphModel::lineSlider() const {
    const double last = std::max(0.0, static_cast<double>(scanner_.lines()) - 1.0);
    if (scanner_.scanType() == kScanTypeMovingBowtie) return {0.0, std::min(50.0, last)};
    return {0.0, last};
}

void ProcGraphModel::slidersFor(std::uint32_t line, std::uint32_t shot, std::uint32_t& group,
                                std::uint32_t& value) const {
    const std::uint32_t p = digitizer_.pulsesPerRecord();
    const std::uint8_t type = scanner_.scanType();
    if (type == kScanTypeStopAndStare) {
        group = line;
        value = shot * p;
    } else if (type == kScanTypeMovingBowtie) {
        group = line;
        value = shot;
    } else {
        const std::uint32_t k = recordsPerGroup();
        group = line / k;
        value = (line % k) * p + shot;
    }
}

void ProcGraphModel::applyWindow(double rangeMin, double rangeMax) {
    const float lo = static_cast<float>(rangeMin), hi = static_cast<float>(rangeMax);
    processing_.setRangeMin(lo);
    processing_.setRangeMax(hi);
    processor_.setRangeWindow(lo, hi);
    processor_.allocateBuffers();
}

double ProcGraphModel::opticalDeg(float volt, float degPerVolt) const {
    // Mirror angle, then refraction at the window into the water.
    return std::asin(std::sin(volt * degPerVolt * kPi / 180.0) / processing_.refractiveIndex()) *
           180.0 / kPi;
}

bool ProcGraphModel::showGroup(std::uint32_t g, double rangeMin, double rangeMax, GroupView& group,
                               PulseView& pulse) {
    if (!open_) return false;
    group = GroupView{};
    group_ = g;
    applyWindow(rangeMin, rangeMax);
    const std::uint8_t type = scanner_.scanType();
    if (peak_) {
        peakGroup(group, rangeMin, rangeMax);
    } else if (type == kScanTypeStopAndStare) {
        stareGroup(group);
    } else if (type == kScanTypeMovingBowtie) {
        bowtieGroup(group, rangeMin, rangeMax);
    } else {
        lineGroup(group, rangeMin, rangeMax);
    }
    group.firstRecord = firstRecord_;
    return showPulse(1, rangeMin, rangeMax, pulse);
}

void ProcGraphModel::lineGroup(GroupView& group, double rangeMin, double rangeMax) {
    const std::uint32_t k = recordsPerGroup();
    const std::uint32_t p = digitizer_.pulsesPerRecord();
    const std::uint32_t w = scanner_.shotsPerLine();
    const std::uint32_t n = digitizer_.samplesPerPulse();
    firstRecord_ = k * group_;
    const float azFactor = calibration_.azVoltToDegPos();

    // A pulse's average needs its range inside the window in every one of the K records; one gap
    // makes the average a gap too, never the mean of fewer ranges nor one with a range outside.
    std::vector<double> sum(p, 0.0);
    std::vector<std::uint32_t> inside(p, 0);
    std::vector<float> validRanges;
    std::vector<float> range(p), intensity(p), angle(p);
    const std::span<std::int16_t> samples = sized(samples_, n);
    const std::span<float> azimuth = sized(azimuth_, w);
    group.showStdDev = true;
    for (std::uint32_t c = 0; c < k; ++c) {
        const std::uint64_t record = static_cast<std::uint64_t>(firstRecord_) + c;
        std::fill(range.begin(), range.end(), kGap);
        std::fill(intensity.begin(), intensity.end(), kGap);
        std::fill(angle.begin(), angle.end(), kGap);
        if (haveRecord(record)) {
            float elevation = 0.0f;
            reader_.readLineAngles(static_cast<std::uint32_t>(record), azimuth, elevation);
            group.elevationVolt = elevation;
            group.elevationOpticalDeg = opticalDeg(elevation, calibration_.elVoltToDegPos());
            group.showElevation = true;
            for (std::uint32_t i = 0; i < p; ++i) {
                double horPos = 0.0;
                std::uint32_t word = 0;
                float el = 0.0f;
                reader_.readPulse(i, static_cast<std::uint32_t>(record), samples, horPos, word, el);
                if (i < w) angle[i] = static_cast<float>(opticalDeg(azimuth[i], azFactor));
                float r = 0.0f;
                std::uint16_t amplitude = 0;
                bool saturated = false, found = false;
                processor_.processWaveform(samples.data(), r, horPos, tempA_, tempB_, amplitude,
                                           saturated, found);
                if (found && insideWindow(r, rangeMin, rangeMax)) {
                    range[i] = r;
                    intensity[i] = amplitude;
                    validRanges.push_back(r);
                    sum[i] += r;
                    ++inside[i];
                }
            }
        }
        // The first two shots of a line are not trusted: they repeat the third.
        if (p >= 3) range[1] = range[2], range[0] = range[1];
        group.ranges.push_back(range);
        group.angles.push_back(angle);
        group.intensity = intensity;
    }
    group.validRanges = validRanges.size();
    if (validRanges.size() >= 2) group.stdDev = sampleStdDev(validRanges);

    if (p >= 3) sum[1] = sum[2], sum[0] = sum[1], inside[1] = inside[2], inside[0] = inside[1];
    std::vector<float> average(p, kGap);
    for (std::uint32_t i = 0; i < p; ++i)
        if (inside[i] == k) average[i] = static_cast<float>(sum[i] / k);
    if (k > 1) group.average = std::move(average);
}

void ProcGraphModel::stareGroup(GroupView& group) {
    const std::uint32_t w = scanner_.shotsPerLine();
    const std::uint32_t p = digitizer_.pulsesPerRecord();
    const std::uint32_t n = digitizer_.samplesPerPulse();
    const std::uint32_t line = group_;
    firstRecord_ = line;
    std::vector<float> average(w, kGap), minimum(w, kGap), maximum(w, kGap), angle(w, kGap);
    // Like the system's amplitude variable, a shot without a return leaves the last amplitude.
    std::uint16_t amplitude = 0;
    for (std::uint32_t c = 0; c < w; ++c) {
        if (!haveRecord(static_cast<std::uint64_t>(line) * w + c)) continue;
        // Sized only for a record the file holds: the buffer never outgrows the file.
        const std::span<std::int16_t> samples = sized(samples_, static_cast<std::size_t>(p) * n);
        const std::span<double> horPos = sized(horPos_, p);
        const std::span<std::uint32_t> words = sized(words_, p);
        float az = 0.0f, el = 0.0f;
        reader_.readStarePosition(line, c, az, el, horPos, words, samples);
        angle[c] = static_cast<float>(opticalDeg(az, calibration_.azVoltToDegPos()));
        group.elevationVolt = el;
        group.elevationOpticalDeg = opticalDeg(el, calibration_.elVoltToDegPos());
        group.showElevation = true;
        // Pulse 0 of a position is left out of the extremes.
        int lo = 9999, hi = -9999;
        double sum = 0.0;
        for (std::uint32_t d = 0; d < p; ++d) {
            float r = 0.0f;
            bool saturated = false, found = false;
            processor_.processWaveform(samples.data() + static_cast<std::size_t>(d) * n, r,
                                       horPos[d], tempA_, tempB_, amplitude, saturated, found);
            if (d >= 1) {
                const int a = static_cast<std::int16_t>(amplitude);
                lo = std::min(lo, a);
                hi = std::max(hi, a);
            }
            sum += r;
        }
        average[c] = static_cast<float>(sum / p);
        minimum[c] = static_cast<float>(lo);
        maximum[c] = static_cast<float>(hi);
    }
    if (w >= 2) average[0] = average[1], minimum[0] = minimum[1], maximum[0] = maximum[1];
    group.ranges.push_back(std::move(average));
    group.angles.push_back(std::move(angle));
    group.intensity = std::move(minimum);
    group.intensityMax = std::move(maximum);
}

void ProcGraphModel::bowtieGroup(GroupView& group, double rangeMin, double rangeMax) {
    const std::uint32_t q = 4u * scanner_.shotsPerLine();
    const std::uint32_t n = digitizer_.samplesPerPulse();
    const std::uint32_t record = group_;
    firstRecord_ = record;
    std::vector<float> range(q, kGap), intensity(q, kGap), angle(q, kGap);
    const std::span<std::int16_t> samples = sized(samples_, n);
    if (haveRecord(record)) {
        reader_.readBowtieAngles(record, sized(azimuth_, q), sized(elevation_, q));
        const std::vector<float> az(azimuth_.begin(), azimuth_.begin() + q);
        for (std::uint32_t b = 0; b < q; ++b) {
            double horPos = 0.0;
            std::uint32_t word = 0;
            reader_.readBowtiePulse(b, record, samples, horPos, word);
            angle[b] = static_cast<float>(opticalDeg(az[b], calibration_.azVoltToDegPos()));
            float r = 0.0f;
            std::uint16_t amplitude = 0;
            bool saturated = false, found = false;
            processor_.processWaveform(samples.data(), r, horPos, tempA_, tempB_, amplitude,
                                       saturated, found);
            if (found && insideWindow(r, rangeMin, rangeMax)) {
                range[b] = r;
                intensity[b] = amplitude;
            }
        }
    }
    if (q >= 3) range[1] = range[2], range[0] = range[1];
    group.ranges.push_back(std::move(range));
    group.angles.push_back(std::move(angle));
    group.intensity = std::move(intensity);
}

bool ProcGraphModel::readPeak(std::uint64_t record, std::optional<std::uint32_t> column) {
    const std::uint32_t p = digitizer_.pulsesPerRecord(), w = scanner_.shotsPerLine();
    const std::uint64_t index = column ? record * w + *column : record;
    if (!haveRecord(index) || (column && *column >= w)) return false;
    auto& v = peakValues_;
    for (auto& a : v) a.assign(p, 0.0);
    if (column)
        return reader_.readPeakStare(*column, static_cast<std::uint32_t>(record), peakAzimuth_,
                                     peakElevation_, v[0], v[1], v[2], v[3]);
    return reader_.readPeakLine(static_cast<std::uint32_t>(record), peakElevation_,
                                sized(azimuth_, w), v[0], v[1], v[2], v[3]);
}

bool ProcGraphModel::peakReturn(std::uint32_t i, float& range, double& amplitude, double& snr) {
    // The engine's own rule for a stored return; the dialog applies its window itself.
    LaserScanSettings settings = LaserScanSettings::defaults();
    settings.setRangeGate(0);
    float r = 0, position = 0;
    double a = 0, s = 0;
    std::uint8_t saturated = 0, valid = 0;
    const LineArrays out{&r, &position, &a, &s, &saturated, &valid};
    const auto& v = peakValues_;
    const PeakValues values{v[0].data() + i, v[1].data() + i, v[2].data() + i, v[3].data() + i};
    takePeak(processor_, settings, values, tempA_, tempB_, out, 0);
    range = r, amplitude = a, snr = s;
    return valid != 0;
}

void ProcGraphModel::peakGroup(GroupView& group, double rangeMin, double rangeMax) {
    const std::uint32_t p = digitizer_.pulsesPerRecord(), w = scanner_.shotsPerLine();
    const float azFactor = calibration_.azVoltToDegPos();
    const bool stare = scanner_.scanType() == kScanTypeStopAndStare;
    const std::uint32_t k = stare ? 1 : recordsPerGroup();
    firstRecord_ = stare ? group_ : k * group_;
    const std::uint32_t points = stare ? w : p;
    std::vector<float> angle(points, kGap), intensity(points, kGap), maximum(points, kGap);
    const auto elevation = [&] {
        group.elevationVolt = peakElevation_;
        group.elevationOpticalDeg = opticalDeg(peakElevation_, calibration_.elVoltToDegPos());
        group.showElevation = true;
    };
    // The returns of pulses [from, to) inside the window: their ranges' sum and count, and the
    // extremes of their amplitudes into point i.
    const auto take = [&](std::uint32_t from, std::uint32_t to, std::uint32_t i, double& sum) {
        std::uint32_t used = 0;
        for (std::uint32_t d = from; d < to; ++d) {
            float r = 0;
            double amplitude = 0, snr = 0;
            if (!peakReturn(d, r, amplitude, snr) || !insideWindow(r, rangeMin, rangeMax)) continue;
            sum += r;
            ++used;
            const float a = static_cast<float>(amplitude);
            intensity[i] = std::isnan(intensity[i]) ? a : std::min(intensity[i], a);
            maximum[i] = std::isnan(maximum[i]) ? a : std::max(maximum[i], a);
        }
        return used;
    };
    for (std::uint32_t c = 0; c < k; ++c) {
        std::vector<float> range(points, kGap);
        if (stare) {
            for (std::uint32_t i = 0; i < w; ++i) {
                if (!readPeak(firstRecord_, i)) continue;
                angle[i] = static_cast<float>(opticalDeg(peakAzimuth_, azFactor));
                elevation();
                double sum = 0;
                if (const std::uint32_t used = take(0, p, i, sum)) range[i] = float(sum / used);
            }
        } else if (readPeak(std::uint64_t{firstRecord_} + c, std::nullopt)) {
            elevation();
            for (std::uint32_t d = 0; d < p; ++d) {
                if (d < w) angle[d] = static_cast<float>(opticalDeg(azimuth_[d], azFactor));
                double sum = 0;
                if (take(d, d + 1, d, sum)) range[d] = static_cast<float>(sum);
            }
        }
        group.ranges.push_back(std::move(range));
    }
    group.angles.push_back(std::move(angle));
    group.intensity = std::move(intensity);
    if (stare) group.intensityMax = std::move(maximum);
}

void ProcGraphModel::peakPulse(std::uint32_t v, double rangeMin, double rangeMax, PulseView& view) {
    const std::uint32_t p = digitizer_.pulsesPerRecord();
    const bool stare = scanner_.scanType() == kScanTypeStopAndStare;
    view.noWaveform = true;
    if (p == 0) return;
    const std::uint32_t pulse = v % p;
    view.record = stare ? v / p : firstRecord_ + v / p;
    view.pulse = pulse;
    view.rangeCursor = stare ? view.record : pulse;
    if (!(stare ? readPeak(firstRecord_, view.record) : readPeak(view.record, std::nullopt)))
        return;
    double amplitude = 0;
    view.found = peakReturn(pulse, view.range, amplitude, view.snr);
    view.inWindow = view.found && insideWindow(view.range, rangeMin, rangeMax);
    view.intensity = amplitude;
    view.horPosRange = processor_.horPosRange();
    view.quadPeak = peakValues_[0][pulse];
}

bool ProcGraphModel::showPulse(std::uint32_t v, double rangeMin, double rangeMax, PulseView& view) {
    if (!open_) return false;
    view = PulseView{};
    applyWindow(rangeMin, rangeMax);
    const std::uint32_t n = digitizer_.samplesPerPulse();
    const std::uint32_t p = digitizer_.pulsesPerRecord();
    const std::uint32_t w = scanner_.shotsPerLine();
    const std::uint8_t type = scanner_.scanType();

    if (peak_) {
        peakPulse(v, rangeMin, rangeMax, view);
        return true;
    }
    const std::int16_t* waveform = nullptr;
    double horPos = 0.0;
    if (type == kScanTypeStopAndStare) {
        const std::uint32_t column = p ? v / p : 0, pulse = p ? v % p : 0;
        view.record = column;
        view.pulse = pulse;
        view.rangeCursor = column;
        if (p && haveRecord(static_cast<std::uint64_t>(firstRecord_) * w + std::min(column, w))) {
            const std::span<std::int16_t> samples =
                sized(samples_, static_cast<std::size_t>(p) * n);
            float az = 0.0f, el = 0.0f;
            reader_.readStarePosition(firstRecord_, column, az, el, sized(horPos_, p),
                                      sized(words_, p), samples);
            horPos = horPos_[pulse];
            waveform = samples.data() + static_cast<std::size_t>(pulse) * n;
        }
    } else {
        const std::uint32_t perRecord = type == kScanTypeMovingBowtie ? 4u * w : p;
        const std::uint64_t record =
            static_cast<std::uint64_t>(firstRecord_) + (perRecord ? v / perRecord : 0);
        const std::uint32_t pulse = perRecord ? v % perRecord : 0;
        view.record = static_cast<std::uint32_t>(record);
        view.pulse = pulse;
        view.rangeCursor = pulse;
        if (perRecord && haveRecord(record)) {
            const std::span<std::int16_t> samples = sized(samples_, n);
            std::uint32_t word = 0;
            if (type == kScanTypeMovingBowtie) {
                reader_.readBowtiePulse(pulse, view.record, samples, horPos, word);
            } else {
                float el = 0.0f;
                reader_.readPulse(pulse, view.record, samples, horPos, word, el);
            }
            waveform = samples.data();
        }
    }

    view.correlation.assign(static_cast<std::size_t>(std::max(0, processor_.length())), 0.0f);
    view.raw.assign(n, 0.0f);
    if (waveform == nullptr || !processor_.ready()) return true;

    std::uint16_t amplitude = 0;
    bool saturated = false, found = false;
    processor_.processWaveform(waveform, view.range, horPos, tempA_, tempB_, amplitude, saturated,
                               found);
    const std::span<const float> xc = processor_.xcBuffer();
    std::copy(xc.begin(), xc.end(), view.correlation.begin());
    const std::span<const float> raw = processor_.rawBuffer();
    std::copy(raw.begin(), raw.end(), view.raw.begin());
    view.found = found;
    view.rawPeakIndex = processor_.rawPeakIndex();
    view.xcPeakIndex = processor_.xcPeakIndex();
    view.quadPeak = processor_.quadPeak();
    view.horPosRange = processor_.horPosRange();
    if (found) {
        view.cursor = processor_.xcPeakIndexCopy();
        view.inWindow = insideWindow(view.range, rangeMin, rangeMax);
        view.peakXc = processor_.xcPeakIndex() < xc.size()
                          ? truncatedHeight(xc[processor_.xcPeakIndex()])
                          : 0;
        view.snr = processor_.computeSnr();
        view.intensity = processor_.computeXcIntensity();
    }
    return true;
}

} // namespace quarv
