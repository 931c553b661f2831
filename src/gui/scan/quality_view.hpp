// The build dialog's quick quality view of a recording, computed without widgets: for one group
// of scan lines, each line's ranges against the refracted beam angle, the standard deviation of
// each line's ranges, and the per-shot average over the group's lines with its own standard
// deviation. Waveform files are processed shot by shot; peak files carry each shot's peak
// position and are only turned into ranges. Stare and bowtie recordings have no scan lines to
// compare: their groups stay empty.
#pragma once

#include "core/config/records.hpp"
#include "core/scanfile/playback_file.hpp"
#include "core/waveform/waveform_processor.hpp"

#include <cstdint>
#include <string>
#include <vector>

namespace quarv {

struct QualityGroup {
    std::uint32_t firstLine = 0;
    std::uint32_t linesPerGroup = 0;
    std::vector<std::vector<float>> ranges; // per line of the group: "Plot-%d", n = line + 1
    std::vector<std::vector<float>> angles; // beam angle of each shot, degrees
    std::vector<double> lineStdDev;         // NaN for a line with fewer than two ranges
    std::vector<float> average;             // "Ave": per shot, NaN where no line had a value
    std::vector<float> averageAngles;       // the first line's beam angles
    double averageStdDev = 0.0;             // NaN with fewer than two values
    // "Std Dev: " with "%.3f " per line, and "Of Ave: %.3f meters".
    std::string stdDevText() const;
    std::string averageText() const;
};

// Lines per group: the scanner record's second u16, at least 1.
std::uint32_t linesPerGroup(const ScannerCfg& scanner);
// The slide's last group for a recording.
std::uint32_t lastQualityGroup(const ScannerCfg& scanner);

// Group g of the open recording in `reader`, through `processor` (configured with the file's
// records) with the window [rangeMin, rangeMax] in metres. False when no line record kind.
bool computeQualityGroup(PlaybackFile& reader, WaveformProcessor& processor,
                         const ScannerCfg& scanner, const DigitizerCfg& digitizer,
                         const ProcessingCfg& processing, const CalibrationCfg& calibration,
                         std::uint32_t g, float rangeMin, float rangeMax, QualityGroup& out);

} // namespace quarv
