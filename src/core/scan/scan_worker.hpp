// One waveform worker of the scan pipeline: a long-lived thread with its own WaveformProcessor
// that processes a contiguous run of the current line's shots per job. The processing thread
// writes the job and releases the worker's start semaphore; the worker writes only the result
// slots of its own shots and releases its done semaphore. Both hand-overs block: nobody polls.
#pragma once

#include "core/scan/laser_scan_settings.hpp"
#include "core/scan/thread.hpp"
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

// Shots [first, end) of a line: their waveforms (samples per waveform apart), horizontal
// positions, the two trailer temperatures and where the results go.
struct LineJob {
    const std::int16_t* waveforms = nullptr;
    std::uint32_t samplesPerWaveform = 0;
    const double* horPos = nullptr;
    double tempA = 0, tempB = 0;
    std::uint32_t first = 0, end = 0;
    LineArrays out;
};

// What a return must pass to be taken, and how it is stored: the range gate (when the settings
// switch it on), then range, position, SNR, saturated flag and the amplitude word read as signed
// 16 bits; a negative amplitude drops the shot again. Shots without a return are not taken.
void takeShot(WaveformProcessor& processor, const LaserScanSettings& settings, const LineJob& job,
              std::uint32_t shot);

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
