#include "gui/scan/quality_view.hpp"

#include "core/app/message_sink.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace quarv {
namespace {

constexpr float kGap = std::numeric_limits<float>::quiet_NaN();
const double kPi = 4.0 * std::atan(1.0);

double stdDevOf(const std::vector<float>& v) {
    std::vector<double> x;
    for (float f : v)
        if (!std::isnan(f)) x.push_back(f);
    if (x.size() < 2) return std::numeric_limits<double>::quiet_NaN();
    double mean = 0.0;
    for (double d : x) mean += d;
    mean /= static_cast<double>(x.size());
    double ss = 0.0;
    for (double d : x) ss += (d - mean) * (d - mean);
    return std::sqrt(ss / static_cast<double>(x.size() - 1));
}

} // namespace

std::string QualityGroup::stdDevText() const {
    std::string text = "Std Dev: ";
    for (double sd : lineStdDev)
        text += std::isnan(sd) ? std::string("--- ") : formatMessage("%.3f ", sd);
    return text;
}

std::string QualityGroup::averageText() const {
    if (std::isnan(averageStdDev)) return "Of Ave: --- meters";
    return formatMessage("Of Ave: %.3f meters", averageStdDev);
}

std::uint32_t linesPerGroup(const ScannerCfg& scanner) {
    return std::max<std::uint32_t>(1, scanner.pulsesPerPosition());
}

std::uint32_t lastQualityGroup(const ScannerCfg& scanner) {
    const std::uint32_t groups = scanner.lines() / linesPerGroup(scanner);
    return groups > 0 ? groups - 1 : 0;
}

bool computeQualityGroup(PlaybackFile& reader, WaveformProcessor& processor,
                         const ScannerCfg& scanner, const DigitizerCfg& digitizer,
                         const ProcessingCfg& processing, const CalibrationCfg& calibration,
                         std::uint32_t g, float rangeMin, float rangeMax, QualityGroup& out) {
    out = QualityGroup{};
    const RecordKind kind = reader.recordKind();
    if (kind != RecordKind::Line && kind != RecordKind::PeakLine) return false;
    const std::uint32_t lpg = linesPerGroup(scanner);
    const std::uint32_t w = scanner.shotsPerLine();
    // One value per shot of a line record: the digitiser's pulses per record.
    const std::uint32_t shots = digitizer.pulsesPerRecord();
    const std::uint32_t n = digitizer.samplesPerPulse();
    out.firstLine = g * lpg;
    out.linesPerGroup = lpg;

    processor.setRangeWindow(rangeMin, rangeMax);
    processor.allocateBuffers();
    TrailerTemperatures temps;
    reader.readTrailer(temps);
    const double water = processing.refractiveIndex();
    const double factor = calibration.azVoltToDegNeg();

    std::vector<double> sum(shots, 0.0);
    std::vector<int> hits(shots, 0);
    std::vector<float> azimuth(w);
    std::vector<std::int16_t> samples; // sized at the first record the file holds
    std::vector<double> horPos(shots), a(shots), b(shots), c(shots), d(shots);
    std::vector<std::uint32_t> words(shots);
    const std::uint64_t records = reader.recordCount();
    for (std::uint32_t k = 0; k < lpg; ++k) {
        const std::uint64_t line = static_cast<std::uint64_t>(out.firstLine) + k;
        std::vector<float> range(shots, kGap), angle(shots, kGap);
        if (line < records) {
            const auto record = static_cast<std::uint32_t>(line);
            float elevation = 0.0f;
            if (kind == RecordKind::Line) {
                samples.resize(static_cast<std::size_t>(shots) * n);
                reader.readLineAngles(record, azimuth, elevation);
                reader.readLineRecord(record, samples, horPos, words, elevation);
            } else {
                reader.readPeakLine(record, elevation, azimuth, a, b, c, d);
            }
            for (std::uint32_t s = 0; s < shots; ++s) {
                if (s < w) {
                    const double mirror = azimuth[s] * factor * kPi / 180.0;
                    angle[s] =
                        static_cast<float>(std::asin(std::sin(mirror) / water) * 180.0 / kPi);
                }
                float r = 0.0f;
                bool found = false;
                if (kind == RecordKind::Line) {
                    std::uint16_t amplitude = 0;
                    bool saturated = false;
                    processor.processWaveform(samples.data() + static_cast<std::size_t>(s) * n, r,
                                              horPos[s], temps.first, temps.second, amplitude,
                                              saturated, found);
                } else {
                    // A peak record's first value is the matched filter's position; 0 means no
                    // return was detected.
                    double position = a[s];
                    found = position > 0.0;
                    if (found)
                        processor.rangeFromPosition(position, r, b[s], temps.first, temps.second);
                }
                if (found && r >= rangeMin && r <= rangeMax) {
                    range[s] = r;
                    sum[s] += r;
                    ++hits[s];
                }
            }
        }
        out.lineStdDev.push_back(stdDevOf(range));
        out.ranges.push_back(std::move(range));
        out.angles.push_back(std::move(angle));
    }
    out.average.assign(shots, kGap);
    for (std::uint32_t s = 0; s < shots; ++s)
        if (hits[s] > 0) out.average[s] = static_cast<float>(sum[s] / lpg);
    out.averageAngles = out.angles.empty() ? std::vector<float>() : out.angles.front();
    out.averageStdDev = stdDevOf(out.average);
    return true;
}

} // namespace quarv
