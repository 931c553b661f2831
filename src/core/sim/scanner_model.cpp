#include "core/sim/scanner_model.hpp"

#include <cmath>

namespace quarv::sim {

std::string validateScanner(const ScannerOptions& o) {
    if (o.scanType > 4) return "scan type must be 0 to 4";
    if (o.shotsPerLine < 2) return "at least 2 shots per line";
    if (o.lines < 1) return "at least 1 line";
    if (o.samplesPerPulse < 64) return "at least 64 samples per pulse";
    if (o.scanType == kScanTypeStopAndStare && o.pulsesPerPosition < 1)
        return "at least 1 pulse per stare position";
    if (!(o.interpolation >= 1.0) || o.interpolation > 64.0 ||
        o.interpolation != std::floor(o.interpolation))
        return "the interpolation factor must be a whole number from 1 to 64";
    if (!(o.refractiveIndex >= 1.0) || o.refractiveIndex > 2.0)
        return "refractive index must lie between 1 and 2";
    if (!(o.azFactorNeg > 0) || !(o.azFactorPos > 0) || !(o.elFactorNeg > 0) ||
        !(o.elFactorPos > 0))
        return "calibration factors must be positive";
    if (std::fabs(o.azStartDeg) > 60 || std::fabs(o.azStopDeg) > 60 ||
        std::fabs(o.elStartDeg) > 60 || std::fabs(o.elStopDeg) > 60)
        return "optical sweep angles must lie within +-60 degrees";
    if (!(o.timeScale > 0.5f) || o.timeScale > 2.0f) return "time scale must lie between 0.5 and 2";
    ScanHeader h = makeHeader(o, false);
    if (!withinReaderCapacity(ScanGeometry::of(h))) return "scan geometry beyond reader capacity";
    return {};
}

ScanHeader makeHeader(const ScannerOptions& o, bool peakFile) {
    ScanHeader h;
    h.version = kScanFileVersion;
    h.fileKind = peakFile ? kFileKindPeak : kFileKindWaveform;
    h.scanner.setShotsPerLine(o.shotsPerLine);
    h.scanner.setPulsesPerPosition(o.scanType == kScanTypeStopAndStare ? o.pulsesPerPosition : 1);
    h.scanner.setLines(o.lines);
    h.scanner.setAzStartOpt(o.azStartDeg);
    h.scanner.setAzStopOpt(o.azStopDeg);
    h.scanner.setElStartOpt(o.elStartDeg);
    h.scanner.setElStopOpt(o.elStopDeg);
    h.scanner.setScanType(o.scanType);

    h.digitizer.setSamplesPerPulse(o.samplesPerPulse);
    // Waveforms per record: a line's shots, or the pulses of one stare position.
    h.digitizer.setPulsesPerRecord(o.scanType == kScanTypeStopAndStare ? o.pulsesPerPosition
                                                                       : o.shotsPerLine);
    h.digitizer.setTemperatureC(o.digitizerTemperatureC);
    h.digitizer.setGainCode(5);

    h.processing.setRefractiveIndex(o.refractiveIndex);
    h.processing.setSnrThreshold(o.snrThreshold);
    h.processing.setInterpolation(o.interpolation);
    h.processing.setCtdTemperatureC(o.refractiveIndex > 1.1 ? 11.8 : 0.0);
    h.processing.setCtdSalinityPsu(o.refractiveIndex > 1.1 ? 31.5 : 0.0);
    h.processing.setCtdPressureDbar(o.refractiveIndex > 1.1 ? 4.2 : 0.0);
    h.processing.setRangeMin(o.searchRangeMin);
    h.processing.setRangeMax(o.searchRangeMax);

    h.environment.setScanPos(o.scanPos);
    h.environment.setScanNum(1);
    h.environment.setJob(o.job);
    h.environment.setNote(o.note);
    h.environment.setSensor(o.sensor);

    CalibrationCfg& c = h.calibration;
    c.setTimeOffsetNs(o.timeOffsetNs);
    c.setTimeScale(o.timeScale);
    c.setAzVoltToDegNeg(o.azFactorNeg);
    c.setAzVoltToDegPos(o.azFactorPos);
    c.setElVoltToDegNeg(o.elFactorNeg);
    c.setElVoltToDegPos(o.elFactorPos);
    c.setTempCoefC2(o.tempCoefC2);
    c.setTempCoefC1(o.tempCoefC1);
    c.setTempCoefC0(o.tempCoefC0);
    c.setXOffsetM(o.xOffsetM);
    c.setYOffsetM(o.yOffsetM);
    c.setZOffsetM(o.zOffsetM);
    c.setFrontGlassOffsetM(o.frontGlassOffsetM);

    h.panTilt.setPanAngle(o.panDeg);
    h.panTilt.setTiltAngle(o.tiltDeg);
    h.attitude.setPitchAngle(o.pitchDeg);
    h.attitude.setRollAngle(o.rollDeg);
    return h;
}

std::pair<float, float> processingTemperatures(const ScannerOptions& o) {
    if (o.trailerTemperatures) {
        const auto [a, b] = *o.trailerTemperatures;
        if (a >= 0.0f && a <= 55.0f && b >= 0.0f && b <= 55.0f) return {a, b};
    }
    return {o.digitizerTemperatureC, o.digitizerTemperatureC};
}

// The geometry turns a reading A into -A x factor(sign of A) degrees of optical azimuth, and an
// elevation reading E into E x factor(sign of E).
float azimuthVolts(double deg, const CalibrationCfg& cal) {
    if (deg == 0) return 0.0f;
    return static_cast<float>(deg > 0 ? -deg / cal.azVoltToDegNeg() : -deg / cal.azVoltToDegPos());
}

float elevationVolts(double deg, const CalibrationCfg& cal) {
    if (deg == 0) return 0.0f;
    return static_cast<float>(deg > 0 ? deg / cal.elVoltToDegPos() : deg / cal.elVoltToDegNeg());
}

ScanPattern::ScanPattern(const ScannerOptions& o, const CalibrationCfg& cal)
    : type_(o.scanType), shots_(o.shotsPerLine), lines_(o.lines),
      az0_(azimuthVolts(o.azStartDeg, cal)), az1_(azimuthVolts(o.azStopDeg, cal)),
      el0_(elevationVolts(o.elStartDeg, cal)), el1_(elevationVolts(o.elStopDeg, cal)) {}

namespace {
float lerp(float a, float b, double f) {
    return static_cast<float>(static_cast<double>(a) + (static_cast<double>(b) - a) * f);
}
double fraction(std::uint32_t i, std::uint32_t count) {
    return count > 1 ? static_cast<double>(i) / (count - 1) : 0.5;
}
} // namespace

float ScanPattern::lineElevation(std::uint32_t line) const {
    return lerp(el0_, el1_, fraction(line, lines_));
}

float ScanPattern::shotAzimuth(std::uint32_t line, std::uint32_t shot) const {
    double f = fraction(shot, shots_);
    if (type_ == 2 && line % 2 == 1) f = 1.0 - f;
    return lerp(az0_, az1_, f);
}

std::pair<float, float> ScanPattern::bowtieReading(std::uint32_t line, std::uint32_t pulse) const {
    // The bowtie spans one line spacing above and below the line's elevation.
    const double step =
        lines_ > 1 ? std::fabs(static_cast<double>(el1_) - el0_) / (lines_ - 1) : 0.0;
    const double centre = static_cast<double>(lineElevation(line));
    const float lo = static_cast<float>(centre - step), hi = static_cast<float>(centre + step);
    const std::uint32_t pass = pulse / shots_;
    const double f = fraction(pulse % shots_, shots_);
    switch (pass) {
    case 0:
        return {lerp(az0_, az1_, f), lerp(lo, hi, f)};
    case 1:
        return {az1_, lerp(hi, lo, f)};
    case 2:
        return {lerp(az1_, az0_, f), lerp(lo, hi, f)};
    default:
        return {az0_, lerp(hi, lo, f)};
    }
}

} // namespace quarv::sim
