// What the processing graphs dialog shows, computed without any widget: a recording opened with
// its own reader and waveform processor, the per-group plots of the line, stare and bowtie
// layouts and the numbers of one selected pulse. The dialog only turns these results into plots
// and texts, which keeps every rule here testable without a display.
//
// Decisions beyond the recording's own rules:
//   - Groups or positions that lie beyond the records in the file are shown as gaps (nothing is
//     read for them); a pulses-per-position count K of 0 is taken as 1.
//   - The shot slider runs to the last pulse of the group (count - 1) so that every position
//     addresses a pulse of the group; the bowtie line slider stops at the last record (at most 50).
//   - Peak files carry no waveforms: their groups plot the stored returns (range through the
//     file's temperatures, amplitude; a stare position the mean of its pulses' ranges and the
//     extremes of their amplitudes), and a pulse shows its stored numbers with no waveform.
//   - "peak XC" shows the correlation's height at the chosen peak (truncated), the number the
//     field's name promises; the processor's own word for it is never written.
//   - The standard deviation needs two valid ranges; with fewer the dialog says so in words.
//   - "Ave" is a gap for a pulse whose range is missing or outside the window in any record of
//     the group: an average of fewer records (or with a range outside) would be drawn as a
//     range that no record measured.
#pragma once

#include "core/app/message_sink.hpp"
#include "core/config/config_root.hpp"
#include "core/config/records.hpp"
#include "core/scanfile/playback_file.hpp"
#include "core/waveform/waveform_processor.hpp"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quarv {

struct SliderRange {
    double minimum = 0, maximum = 0;
};

// One selected pulse: the processor's numbers and buffers right after processing it.
struct PulseView {
    bool found = false;
    bool inWindow = false; // rangeMin <= range < rangeMax (as f32)
    std::uint32_t record = 0, pulse = 0;
    double cursor = 0.0;      // correlation graph: the peak index, or 0 without a return
    double rangeCursor = 0.0; // range graph: the selected pulse (stare: the position)
    std::uint32_t rawPeakIndex = 0;
    std::int32_t peakXc = 0; // the correlation height at the chosen peak, truncated
    std::uint32_t xcPeakIndex = 0;
    double quadPeak = 0.0;
    double horPosRange = 0.0;
    float range = 0.0f;
    double snr = 0.0;
    double intensity = 0.0;
    std::vector<float> correlation; // N x interp entries
    std::vector<float> raw;         // N entries
    bool noWaveform = false;        // a peak file's pulse: only its stored return
};

// One group: the plots of the angle, intensity and range graphs and the two elevation texts.
struct GroupView {
    std::vector<std::vector<float>> ranges;    // "Plot-%d", c + 1
    std::vector<std::vector<float>> angles;    // "Plot-%d", c + 1 (optical azimuth, degrees)
    std::vector<float> intensity;              // "Plot-1" (stare: minimum amplitude)
    std::vector<float> intensityMax;           // "Plot-2" of stare groups (maximum amplitude)
    std::optional<std::vector<float>> average; // "Ave", only for groups of more than one record
    std::optional<double> stdDev;              // line layouts with at least two valid ranges
    std::size_t validRanges = 0;               // ranges inside the window in the group
    bool showStdDev = false;                   // line layouts show the field at all
    bool showElevation = false;                // line and stare layouts show the two texts
    float elevationVolt = 0.0f;
    double elevationOpticalDeg = 0.0;
    std::uint32_t firstRecord = 0;
};

class ProcGraphModel {
public:
    ProcGraphModel(const ConfigRoot& root, MessageSink& sink);

    // Opens the recording, copies its records, writes the window into the processing copy and
    // configures the processor. False (the reader has reported why) leaves the model as it was
    // except that no file is open.
    bool load(const std::string& path, double rangeMin, double rangeMax);
    bool isOpen() const { return open_; }
    const std::string& path() const { return path_; }

    SliderRange shotSlider() const;
    SliderRange lineSlider() const;
    // The line slider's group and the shot slider's value that show shot `shot` of line `line`
    // as the processing numbers a point's line and shot (a stare position shows its pulse 0).
    void slidersFor(std::uint32_t line, std::uint32_t shot, std::uint32_t& group,
                    std::uint32_t& value) const;

    // The group of the line slider's value g (truncated by the caller), then the pulse routine
    // for pulse 1 of the group; `pulse` receives that pulse.
    bool showGroup(std::uint32_t g, double rangeMin, double rangeMax, GroupView& group,
                   PulseView& pulse);
    // The pulse of the shot slider's value v within the current group.
    bool showPulse(std::uint32_t v, double rangeMin, double rangeMax, PulseView& pulse);

    // The search window the recording's own ProcessingCfg carries (before the dialog's edits
    // replace it), metres.
    double fileRangeMin() const { return fileRangeMin_; }
    double fileRangeMax() const { return fileRangeMax_; }

    const ScannerCfg& scanner() const { return scanner_; }
    const DigitizerCfg& digitizer() const { return digitizer_; }
    const ProcessingCfg& processing() const { return processing_; }
    const CalibrationCfg& calibration() const { return calibration_; }
    std::uint32_t currentGroup() const { return group_; }
    std::uint32_t firstRecord() const { return firstRecord_; }
    // K of the line layouts (never 0).
    std::uint32_t recordsPerGroup() const;
    WaveformProcessor& processor() { return processor_; }

private:
    void applyWindow(double rangeMin, double rangeMax);
    double opticalDeg(float volt, float degPerVolt) const;
    bool haveRecord(std::uint64_t index) const { return index < records_; }
    void lineGroup(GroupView& group, double rangeMin, double rangeMax);
    void stareGroup(GroupView& group);
    void bowtieGroup(GroupView& group, double rangeMin, double rangeMax);
    void peakGroup(GroupView& group, double rangeMin, double rangeMax);
    // Reads the four values of every pulse of peak record (record, column) into peak_: a peak
    // line record when column is none, else the peak stare position. False when not in the file.
    bool readPeak(std::uint64_t record, std::optional<std::uint32_t> column);
    // Pulse i of peak_ as the engine takes it (no gate): false when it has no usable return.
    bool peakReturn(std::uint32_t i, float& range, double& amplitude, double& snr);
    void peakPulse(std::uint32_t v, double rangeMin, double rangeMax, PulseView& view);

    MessageSink& sink_;
    PlaybackFile reader_;
    WaveformProcessor processor_;
    bool open_ = false;
    std::string path_;
    ScannerCfg scanner_;
    DigitizerCfg digitizer_;
    ProcessingCfg processing_;
    CalibrationCfg calibration_;
    std::uint64_t records_ = 0;
    float tempA_ = 0, tempB_ = 0;
    double fileRangeMin_ = 0, fileRangeMax_ = 0;
    std::uint32_t group_ = 0;
    std::uint32_t firstRecord_ = 0;
    std::vector<std::int16_t> samples_;
    std::vector<double> horPos_;
    std::vector<std::uint32_t> words_;
    std::vector<float> azimuth_, elevation_;
    bool peak_ = false; // the file holds peak records
    std::array<std::vector<double>, 4> peakValues_;
    float peakElevation_ = 0, peakAzimuth_ = 0;
};

} // namespace quarv
