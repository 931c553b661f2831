// ScanProcessor: the engine that turns a recording into a layer of points. It holds one scan
// line at a time, spreads the line's waveforms over its workers, keeps the returns that pass the
// range gate and the SNR threshold, converts them into points with the scan geometry and cleans
// the layer with the clutter filters. It also rebuilds a layer from a 3DC file and loads one from
// a LAS file. Every operation runs on the processing thread.
//
// Workers: each takes a contiguous share of the line's shots, so the points that come out (order,
// sequence numbers, every field) are those of processing the shots one by one in order, whatever
// the number of workers.
//
// Capacities: the per-line arrays are sized from the header when a file is opened (never grown
// per line), so no header can make the engine write past them; a file whose line would not fit
// in memory, or that holds no complete line, is refused with a message.
#pragma once

#include "core/cloud/cloud_file.hpp"
#include "core/config/records.hpp"
#include "core/scan/geometry.hpp"
#include "core/scan/laser_scan_settings.hpp"
#include "core/scan/neighbour_filters.hpp"
#include "core/scan/scan_worker.hpp"
#include "core/scanfile/playback_file.hpp"
#include "core/waveform/waveform_processor.hpp"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <vector>

namespace quarv {

class CloudRenderer;
class CloudStore;
class ConfigRoot;
class LasFile;
class MessageSink;
class Notifier;

// Workers when the caller does not say: one per hardware thread, at most four. A caller may
// ask for 1 to 16.
unsigned defaultWorkerCount();

class ScanProcessor {
public:
    ScanProcessor(CloudStore& store, CloudRenderer& renderer, const ConfigRoot& root,
                  MessageSink& sink, Notifier& notifier, unsigned workers = 0);
    ~ScanProcessor();
    ScanProcessor(const ScanProcessor&) = delete;
    ScanProcessor& operator=(const ScanProcessor&) = delete;

    // Makes `layer` the layer that receives points and empties it (count 0, statistics reset).
    void setLayer(std::uint32_t layer);
    // Copies the settings; shots per line and lines from its second and third words; the main
    // processor's range window from its window.
    void loadSettings(const LaserScanSettings& settings);

    // Opens a raw recording for processing: header copy, mount rotation, the current layer's
    // range window and SNR threshold into the settings, processors configured, trailer
    // temperatures read. False (with a message) when the file cannot be opened or processed.
    bool openFile(const std::filesystem::path& path);
    void closeFile() { reader_.close(); }
    // One line of the open file into points: the waveforms of a line record, a bowtie sweep or
    // a stare line's positions on the workers, or a peak line's stored returns; then gate,
    // threshold and points (see LinePlacement for how a stare position becomes one point).
    // True unless the line could not be read.
    bool processLine(std::uint32_t line);
    // Points from the peak records of an open 3DC file; no gate or threshold is applied.
    bool rebuildFromCloudFile(CloudFile& file);
    // Points from the records of an open LAS file.
    bool importLas(LasFile& file);

    // Clutter filters on `layer`, with the line count recorded for it by the run that filled it.
    void buildLineTable(std::uint32_t layer);
    void isolatedPointFilter(std::uint32_t layer) { filters_.isolatedPointFilter(layer); }
    void neighbourCountFilter(std::uint32_t layer) { filters_.neighbourCountFilter(layer); }

    // The layer's display data from its settings: the layer filter decides which points are
    // visible, then they are coloured. Used while a layer fills and when it is re-filtered.
    void refreshDisplay(std::uint32_t layer);
    // Colours only, keeping the visibility the clutter filters left.
    void recolour(std::uint32_t layer);
    // The layer's centroid to the view as its centre of rotation.
    void centroidToView(std::uint32_t layer);

    // One decoded peak record of a cloud file into a point (no end-of-line steps).
    void peakToPoint(float elevationReading, std::uint16_t line, float azimuthReading, float range,
                     float intensity, bool saturated, double waterIndex);

    // Ends filters and record loops early (shutdown).
    void requestStop() { stop_.store(true, std::memory_order_relaxed); }

    // ---- state of the open file ----
    std::uint32_t shotsPerLine() const { return shotsPerLine_; }
    std::uint32_t lines() const { return lines_; }
    RecordKind recordKind() const { return kind_; }
    // Returns a shot may have in the open file (1 unless the layer asks for more and the file's
    // shots are waveforms of their own).
    std::uint32_t returnsPerShot() const { return returnsPerShot_; }
    std::uint32_t currentLayer() const { return currentLayer_; }
    std::uint32_t pointCounter() const { return pointCounter_; }
    std::uint32_t layerLines(std::uint32_t layer) const { return layerLines_[layer]; }
    // False for a layer filled from a LAS file: its points carry no scan lines, so the clutter
    // filters, which compare neighbours along and across lines, have nothing to work on.
    bool layerHasScanLines(std::uint32_t layer) const { return layerHasLines_[layer]; }
    const LaserScanSettings& settings() const { return settings_; }
    const ScannerCfg& scanner() const { return scanner_; }
    const DigitizerCfg& digitizer() const { return digitizer_; }
    const ProcessingCfg& processing() const { return processing_; }
    const CalibrationCfg& calibration() const { return calibration_; }
    const PanTiltCfg& panTilt() const { return panTilt_; }
    const MountRotation& mount() const { return mount_; }
    const TrailerTemperatures& temperatures() const { return temperatures_; }
    unsigned workerCount() const { return static_cast<unsigned>(workers_.size()); }
    const NeighbourFilters& filters() const { return filters_; }

    // Per-shot results of the current line (shot < shotsPerLine()).
    float range(std::uint32_t s) const { return range_[s]; }
    float position(std::uint32_t s) const { return position_[s]; }
    double amplitude(std::uint32_t s) const { return amplitude_[s]; }
    double snr(std::uint32_t s) const { return snr_[s]; }
    bool saturated(std::uint32_t s) const { return saturated_[s] != 0; }
    bool valid(std::uint32_t s) const { return valid_[s] != 0; }

private:
    // Pulse arrays for `pulses`, waveforms for `samples`, point arrays for `points`.
    bool sizeLineArrays(std::uint32_t pulses, std::uint64_t samples, std::uint32_t points);
    void clearShots(std::uint32_t shots);
    bool isMultiReturn() const { return returnsPerShot_ > 1 && pulsesPerPoint_ == 0; }
    bool isPeakKind() const {
        return kind_ == RecordKind::PeakLine || kind_ == RecordKind::PeakStare;
    }
    // How the points from `firstPoint` on are placed.
    LinePlacement placement(std::uint32_t firstPoint);
    // The job on the workers, units [0, units) in contiguous shares.
    void runOnWorkers(LineJob job, std::uint32_t units);
    // The current line's points: the ones the workers placed (scan geometry with the water
    // index of the file) go into the layer in shot order with their sequence numbers, then the
    // end-of-line steps (range window from the observed extent, 1-second refresh).
    void lineToPoints(std::uint32_t line, const std::uint8_t* valid);
    void endOfLayer(std::uint32_t layer);
    void copyHeader(const ScannerCfg&, const DigitizerCfg&, const ProcessingCfg&, const EnvCfg&,
                    const CalibrationCfg&, const PanTiltCfg&, const AttitudeBlock&);
    LineArrays arrays();
    // The job over the line just read: its waveforms, delays, temperatures and result arrays.
    LineJob lineJob(std::uint32_t samplesPerWaveform);
    bool stopping() const { return stop_.load(std::memory_order_relaxed); }

    CloudStore& store_;
    CloudRenderer& renderer_;
    MessageSink& sink_;
    Notifier& notifier_;

    std::uint32_t shotsPerLine_ = 1000;
    std::uint32_t lines_ = 1000;
    std::vector<std::int16_t> waveforms_;
    std::vector<float> range_;
    std::vector<float> position_;
    std::vector<double> horPos_;
    std::vector<std::uint32_t> shotWords_;
    std::vector<std::uint8_t> valid_;
    std::vector<double> amplitude_;
    std::vector<double> snr_;
    std::vector<std::uint8_t> saturated_;
    std::vector<float> azimuth_;
    std::vector<float> elevation_;            // per point readings of bowtie sweeps and stare lines
    std::vector<CloudPoint> shotPoints_;      // the placed point of each point of the current line
    std::vector<PointExtra> extras_;          // and its side record
    std::vector<std::uint8_t> pointValid_;    // stare lines: the positions that made a point
    std::array<std::vector<double>, 4> peak_; // peak files: the four values of each pulse
    RecordKind kind_ = RecordKind::Line;
    std::uint32_t pulsesPerPoint_ = 0; // stare: P pulses per position; else 0 (a shot a point)
    std::uint32_t batchPoints_ = 1;    // stare positions handed to the workers at once
    // Multi-return mode: returns a shot may have (the layer's setting, 1 to 4), their count per
    // shot, and the returns after the first (shot s at s (R - 1) + j).
    std::uint32_t returnsPerShot_ = 1;
    std::vector<std::uint8_t> returnCount_;
    std::vector<float> furtherRange_, furtherPosition_;
    std::vector<double> furtherAmplitude_, furtherSnr_;
    std::vector<std::uint8_t> furtherSaturated_, furtherValid_;
    LaserScanSettings settings_ = LaserScanSettings::defaults();

    ScannerCfg scanner_;
    DigitizerCfg digitizer_;
    ProcessingCfg processing_;
    EnvCfg environment_;
    CalibrationCfg calibration_;
    PanTiltCfg panTilt_;
    AttitudeBlock attitude_;
    TrailerTemperatures temperatures_;

    WaveformProcessor mainProcessor_;
    PlaybackFile reader_;
    std::uint32_t currentLayer_ = 0;
    std::uint32_t pointCounter_ = 0;
    std::chrono::steady_clock::time_point refreshTimer_{};
    MountRotation mount_;
    std::array<std::uint32_t, LAYER_COUNT> layerLines_{};
    std::array<bool, LAYER_COUNT> layerHasLines_{true, true, true, true, true};
    NeighbourFilters filters_;
    std::filesystem::path templatePath_;
    std::vector<std::unique_ptr<ScanWorker>> workers_;
    std::atomic<bool> stop_{false};
};

} // namespace quarv
