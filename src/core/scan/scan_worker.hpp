// One waveform worker of the scan pipeline: a long-lived thread with its own WaveformProcessor
// that processes a contiguous run of the current line's shots per job. The processing thread
// writes the job and releases the worker's start semaphore; the worker writes only the result
// slots of its own shots and releases its done semaphore. Both hand-overs block: nobody polls.
#pragma once

#include "core/cloud/cloud_point.hpp"
#include "core/scan/geometry.hpp"
#include "core/scan/laser_scan_settings.hpp"
#include "core/scan/thread.hpp"
#include "core/scanfile/playback_file.hpp"
#include "core/waveform/waveform_processor.hpp"

#include <atomic>
#include <cstdint>

namespace quarv {

class ConfigRoot;
class MessageSink;

// The per-shot arrays of one line, indexed by shot.
struct LineArrays {
    float* range = nullptr;
    float* position = nullptr;
    double* amplitude = nullptr;
    double* snr = nullptr;
    std::uint8_t* saturated = nullptr;
    std::uint8_t* valid = nullptr;
};

// What turns the returns of a line into points: the SNR threshold, the azimuth readings (one per
// point) and elevation (the line's in degrees, or one reading per point), the water's index, the
// calibration and the mount. A point that passes gets everything but its sequence number in
// points[i], its side record in extras[i] and valid[i] = 1.
//
// With pulsesPerPoint 0 every shot is a point (line records, bowtie sweeps, peak lines) and
// valid is the shots' own flag array. Otherwise (Stop and Stare) point i is the position whose
// pulses are shots [i P, (i + 1) P): the pulses that pass the gate and the threshold make one
// point at the mean of their ranges (and peak positions), with the amplitude and SNR of the
// strongest of them (the first of equals), saturated if any is; a position where none passes
// makes none.
struct LinePlacement {
    double snrThreshold = 0;
    const float* azimuth = nullptr;
    const float* elevation = nullptr; // readings per point; null: elevationDeg for all
    double elevationDeg = 0;
    double waterIndex = 1;
    const CalibrationCfg* calibration = nullptr;
    const MountRotation* mount = nullptr;
    CloudPoint* points = nullptr;
    PointExtra* extras = nullptr;
    std::uint8_t* valid = nullptr; // per point (positions); the shots' flags when per shot
    std::uint32_t pulsesPerPoint = 0;
    std::uint32_t firstPoint = 0; // index in the line of point 0 (its side record's shot)
    // Multi-return mode (shots only): shot s has up to returnsPerShot points, at
    // points[s R + r] ordered by range, and returnCount[s] of them.
    std::uint32_t returnsPerShot = 1;
    std::uint8_t* returnCount = nullptr;
};

// Shots [first, end) of a line: their waveforms (samples per waveform apart), horizontal
// positions, the two trailer temperatures and where the results go. With a source the worker
// first reads the samples of its own shots from record `record` (for Stop and Stare, where
// every point is a position of pulsesPerPoint pulses, the records from `record` on, one per
// position, and their angles and positions too); with a placement it also applies the SNR
// threshold and places the points of its shots.
struct LineJob {
    std::int16_t* waveforms = nullptr; // written only by the reads of a job with a source
    std::uint32_t samplesPerWaveform = 0;
    double* horPos = nullptr;         // written only by the stare reads
    std::uint32_t* words = nullptr;   // written only by the stare reads
    float* positionAzimuth = nullptr; // per position, written only by the stare reads
    float* positionElevation = nullptr;
    double tempA = 0, tempB = 0;
    std::uint32_t first = 0, end = 0;
    LineArrays out;
    const PlaybackFile* source = nullptr;
    std::uint64_t record = 0;
    const LinePlacement* placement = nullptr;
    // Multi-return mode: the returns after the first of shot s at further[s F + j], j < F, in
    // the order found (valid 0 after the last).
    LineArrays further;
    std::uint32_t furtherPerShot = 0;
};

// The four values a peak file stores per pulse instead of a waveform.
struct PeakValues {
    const double* position = nullptr;  // interpolated samples from the record start
    const double* horPos = nullptr;    // seconds
    const double* amplitude = nullptr; // counts
    const double* snr = nullptr;
};

// What a return must pass to be taken, and how it is stored: the range gate (when the settings
// switch it on), then range, position, SNR, saturated flag and the amplitude word read as signed
// 16 bits; a negative amplitude drops the shot again. Shots without a return are not taken. In
// multi-return mode the further returns of the same correlation follow (see
// WaveformProcessor::furtherReturns), each through the same gate and amplitude rule.
void takeShot(WaveformProcessor& processor, const LaserScanSettings& settings, const LineJob& job,
              std::uint32_t shot);
// A peak file's pulse: no return when its position and amplitude are both 0, or when any of its
// values is not a finite number, its position or amplitude is negative; otherwise the range from
// the position, the horizontal position and the temperatures, then the gate as for takeShot; the
// stored SNR and amplitude are taken as they are, saturated when the amplitude reaches the
// matched filter's saturation level.
void takePeak(WaveformProcessor& processor, const LaserScanSettings& settings,
              const PeakValues& values, double tempA, double tempB, const LineArrays& out,
              std::uint32_t shot);
// The threshold and the points of shots [first, end) (positions [first, end) when the placement
// has pulses per point).
// In multi-return mode `further` holds the shots' further returns (LineJob::further).
void placeShots(const LinePlacement& place, const LineArrays& out, std::uint32_t first,
                std::uint32_t end, const LineArrays* further = nullptr);
// The whole share of a job: its samples when the job names a source, every shot through
// takeShot, then the threshold and the points when it carries a placement.
void runJob(WaveformProcessor& processor, const LaserScanSettings& settings, const LineJob& job);

class ScanWorker {
public:
    ScanWorker(const ConfigRoot& root, MessageSink& sink);
    ~ScanWorker(); // ends the worker loop and joins the thread
    ScanWorker(const ScanWorker&) = delete;
    ScanWorker& operator=(const ScanWorker&) = delete;

    // Starts the thread; its first wait blocks until the first job.
    void startThread();
    // Settings copy (shots per line and lines mirrored), range window and processor
    // configuration. Only while the worker is idle. False when the processor refused.
    bool configureWorker(const LaserScanSettings& settings, const DigitizerCfg& digitizer,
                         const ProcessingCfg& processing, const CalibrationCfg& calibration);
    // Hands over the job and wakes the worker.
    void startJob(const LineJob& job);
    // Blocks until the job handed over last is finished; its result slots are then visible.
    void waitDone();
    bool isDone() const { return done_.load(std::memory_order_acquire); }

    WaveformProcessor& processor() { return processor_; }
    const Thread& thread() const { return thread_; }
    std::uint32_t shotsPerLine() const { return shotsPerLine_; }
    std::uint32_t lines() const { return lines_; }

private:
    static void loop(void* self);

    Thread thread_;
    Semaphore start_;
    Semaphore finished_;
    std::atomic<bool> run_{true};
    LineJob job_;
    std::atomic<bool> done_{false};
    WaveformProcessor processor_;
    LaserScanSettings settings_;
    std::uint32_t shotsPerLine_ = 0, lines_ = 0;
};

} // namespace quarv
