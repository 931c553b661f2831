// The simulated scanner: its settings as an operator would give them (optical sweep angles in
// degrees, calibration factors, offsets, mount angles, digitiser and timing constants), the
// recording header they produce, and the mirror readings in volts of every shot.
#pragma once

#include "core/scanfile/scan_header.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

namespace quarv::sim {

struct ScannerOptions {
    std::uint8_t scanType = 0;           // 0..4
    std::uint16_t shotsPerLine = 256;    // W
    std::uint16_t lines = 200;           // L
    std::uint16_t samplesPerPulse = 560; // N
    std::uint16_t pulsesPerPosition = 4; // P of "Stop and Stare" scans
    double interpolation = 4.0;          // whole factor
    double refractiveIndex = 1.34;
    // Optical sweep, degrees; readings run linearly in volts from start to stop.
    float azStartDeg = -30, azStopDeg = 30;
    float elStartDeg = 20, elStopDeg = -20;
    // Calibration: degrees per volt for negative and non-negative readings.
    float azFactorNeg = 9.95f, azFactorPos = 10.05f;
    float elFactorNeg = 4.98f, elFactorPos = 5.02f;
    float xOffsetM = 0.012f, yOffsetM = 0.085f, zOffsetM = -0.021f;
    float frontGlassOffsetM = 0.034f;
    double panDeg = 0, tiltDeg = 0;
    double pitchDeg = 0, rollDeg = 0; // the housing's attitude (core/geo/attitude.hpp)
    float timeOffsetNs = 1.8f;
    float timeScale = 1.0f;
    double tempCoefC2 = 0.002, tempCoefC1 = -0.05, tempCoefC0 = 0.4; // interpolated samples
    float digitizerTemperatureC = 12.0f;
    std::optional<std::pair<float, float>> trailerTemperatures = std::make_pair(11.6f, 12.4f);
    double horPosNs = 0;                                // digitiser delay after the laser fire
    double horPosJitterNs = 0;                          // trigger jitter, Gaussian sigma per pulse
    double searchRangeMin = 0.5, searchRangeMax = 30.0; // ProcessingCfg search window, metres
    double snrThreshold = 5.0;
    std::string scanPos = "SIM", job = "quarv simulator", note, sensor = "SIM-1";
};

// Whether the options describe a recording the simulator can write; the first problem otherwise.
std::string validateScanner(const ScannerOptions& opt);

ScanHeader makeHeader(const ScannerOptions& opt, bool peakFile);

// The two temperatures the processing will hand to every waveform: the trailer's when it is
// valid (both within 0..55 degrees), else the digitiser's configured temperature twice.
std::pair<float, float> processingTemperatures(const ScannerOptions& opt);

// Readings in volts for optical angles, the inverse of the calibration factors of each sign.
float azimuthVolts(double opticalDeg, const CalibrationCfg& cal);
float elevationVolts(double opticalDeg, const CalibrationCfg& cal);

// Mirror readings of every shot of the scan pattern.
class ScanPattern {
public:
    ScanPattern(const ScannerOptions& opt, const CalibrationCfg& cal);
    // Line layouts and stare positions: the elevation of line l and the azimuth of column s.
    // "Moving Continuous" scans sweep back and forth, so every second line runs stop to start.
    float lineElevation(std::uint32_t line) const;
    float shotAzimuth(std::uint32_t line, std::uint32_t shot) const;
    // "Moving Bowtie": pulse j of the 4 W pulses of sweep `line` draws a bowtie around the line's
    // elevation: a diagonal, a vertical at the far side, the other diagonal, a vertical back.
    std::pair<float, float> bowtieReading(std::uint32_t line, std::uint32_t pulse) const;

private:
    std::uint8_t type_;
    std::uint32_t shots_, lines_;
    float az0_, az1_, el0_, el1_; // volts
};

} // namespace quarv::sim
