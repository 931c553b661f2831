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

// What turns the returns of a line into points: the SNR threshold, the line's azimuth readings
// (one per shot) and elevation, the water's index, the calibration and the mount. A shot that
// passes gets its point (all but the sequence number) in points[shot].
struct LinePlacement {
    double snrThreshold = 0;
    const float* azimuth = nullptr;
    double elevationDeg = 0;
    double waterIndex = 1;
    const CalibrationCfg* calibration = nullptr;
    const MountRotation* mount = nullptr;
    CloudPoint* points = nullptr;
};

// Shots [first, end) of a line: their waveforms (samples per waveform apart), horizontal
// positions, the two trailer temperatures and where the results go. With a source the worker
// first reads the samples of its own shots from that record; with a placement it also applies
// the SNR threshold and places the points of its shots.
struct LineJob {
    std::int16_t* waveforms = nullptr; // written only by the reads of a job with a source
    std::uint32_t samplesPerWaveform = 0;
    const double* horPos = nullptr;
    double tempA = 0, tempB = 0;
    std::uint32_t first = 0, end = 0;
    LineArrays out;
    const PlaybackFile* source = nullptr;
    std::uint32_t record = 0;
    const LinePlacement* placement = nullptr;
};

// What a return must pass to be taken, and how it is stored: the range gate (when the settings
// switch it on), then range, position, SNR, saturated flag and the amplitude word read as signed
// 16 bits; a negative amplitude drops the shot again. Shots without a return are not taken.
void takeShot(WaveformProcessor& processor, const LaserScanSettings& settings, const LineJob& job,
              std::uint32_t shot);
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
