// ProcessingSession: the request protocol between the operator's side and the processing thread.
// It owns the long-lived processing thread, its semaphore, the request byte, the busy, continue
// and file-open flags, the processing settings (laserscan.cfg), its own PlaybackFile and
// WaveformProcessor for the build dialog, and the ScanProcessor that does the work. The build
// dialog owns one; quarv-cli process drives the same object.
//
// Calling order of a run (operator side):
//   1. only the filters: requestFilter(); done.
//   2. wait while isBusy() (bounded), then open the file by its kind: openPlayback,
//      openCloudFile or openLas (each first clears the continue flag, so that a running playback
//      stops before its next line), and setRequest with the matching request;
//   3. if the open succeeded: startProcessing(layer).
// The processing thread makes the layer current (emptied, in use, named after the file) when the
// run starts, so the point store is only ever written by the processing thread.
//
// "Refresh the layer's display data" means: the layer filter decides from the layer's settings
// which points are visible, then the layer is coloured. While a layer fills it is refreshed at
// most once a second; after a playback the clutter filters run on it at once. The clutter
// filters' removals stay hidden: after them the layer is only recoloured. requestFilter()
// (settings edited, no file) re-filters every layer in use: layer filter, then for a layer whose
// clutter filter is on the clutter filters again, then colours.
#pragma once

#include "core/cloud/cloud_file.hpp"
#include "core/cloud/cloud_store.hpp"
#include "core/cloud/las_file.hpp"
#include "core/scan/laser_scan_settings.hpp"
#include "core/scan/process_request.hpp"
#include "core/scan/scan_processor.hpp"
#include "core/scan/thread.hpp"
#include "core/scanfile/playback_file.hpp"
#include "core/waveform/waveform_processor.hpp"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>

namespace quarv {

class CloudRenderer;
class CloudStore;
class ConfigRoot;
class MessageSink;
class Notifier;

class ProcessingSession {
public:
    // Loads laserscan.cfg (defaults when missing), builds the engine with `workers` workers
    // (0: the default) and starts the processing thread, which then waits for the first run.
    ProcessingSession(CloudStore& store, CloudRenderer& renderer, const ConfigRoot& root,
                      MessageSink& sink, Notifier& notifier, unsigned workers = 0);
    // Stops a running line loop at its next line, ends the thread and joins it.
    ~ProcessingSession();
    ProcessingSession(const ProcessingSession&) = delete;
    ProcessingSession& operator=(const ProcessingSession&) = delete;

    // ---- preparing a file (operator side) ----
    // The dialog's own reader: header copied, the dialog's processor configured with the
    // dialog's window and threshold. False (the reader reports why) when it cannot be opened.
    bool openPlayback(const std::filesystem::path& path);
    // A 3DC file for the next run: header copied for the dialog, processor configured.
    bool openCloudFile(const std::filesystem::path& path);
    // A LAS file for the next run.
    bool openLas(const std::filesystem::path& path);
    // Request of the next run; sets the continue flag.
    void setRequest(ProcessRequest request);

    // Completes the settings from the dialog's values, writes laserscan.cfg (a folder that
    // cannot be written is skipped silently) and releases the processing thread for `layer`.
    // "ERROR: no file open for processing!" and false when no file was opened. While a run is
    // in progress one start is held and runs when the current one ends; a start beyond that
    // replaces the held one.
    bool startProcessing(std::uint32_t layer);
    // Re-filters the layers in use with their current settings (request FilterLayers).
    void requestFilter();

    bool isBusy() const { return busy_.load(std::memory_order_acquire); }
    bool fileOpen() const { return fileOpen_.load(std::memory_order_acquire); }
    bool continueFlag() const { return continue_.load(std::memory_order_acquire); }
    ProcessRequest request() const;
    std::uint32_t currentLayer() const { return currentLayer_.load(std::memory_order_acquire); }
    // Blocks until no run is in progress and none is held (false on timeout). Everything the
    // runs wrote is then visible to the caller.
    bool waitUntilIdle(std::chrono::milliseconds timeout);
    // Playback runs whose file the engine refused (it reported why). A run may also report
    // problems it works around; this tells the two apart.
    std::uint32_t refusedRuns() const { return refusedRuns_.load(std::memory_order_acquire); }

    // ---- the dialog's values and what it shows ----
    void setAverageWindow(std::uint32_t v) { averageWindow_ = v; }
    void setRangeWindow(float rangeMin, float rangeMax) {
        rangeMin_ = rangeMin;
        rangeMax_ = rangeMax;
    }
    void setSnrMin(float v) { snrMin_ = v; }
    // Returns per pulse the build dialog asks of the next run (1 to 4); it starts from the
    // current layer's own setting and goes to the layer with the window and limit.
    void setReturns(std::uint8_t v) { returns_ = v; }
    std::uint8_t layerReturns() const { return store_.layer(currentLayer()).returns; }
    // The range gate byte of laserscan.cfg (the build dialog's "Perform Range Exclusion").
    void setRangeGate(bool on) { settings_.setRangeGate(on ? 1 : 0); }
    // Makes the dialog's window and SNR limit those of `layer`, from which a run takes them:
    // with the range gate off the window is 0 to 100 m, as laserscan.cfg then records it.
    void giveLayerDialogValues(std::uint32_t layer);
    std::uint32_t averageWindow() const { return averageWindow_; }
    float rangeMin() const { return rangeMin_; }
    float rangeMax() const { return rangeMax_; }
    float snrMin() const { return snrMin_; }
    // The settings as loaded, or as last completed by startProcessing.
    const LaserScanSettings& settings() const { return settings_; }
    const std::string& filePath() const { return filePath_; }
    const ScannerCfg& scanner() const { return scanner_; }
    const DigitizerCfg& digitizer() const { return digitizer_; }
    const ProcessingCfg& processing() const { return processing_; }
    const CalibrationCfg& calibration() const { return calibration_; }
    const PanTiltCfg& panTilt() const { return panTilt_; }
    PlaybackFile& reader() { return reader_; }
    WaveformProcessor& processor() { return processor_; }
    // The engine; read its state only while the session is idle.
    const ScanProcessor& engine() const { return *engine_; }

private:
    struct Run {
        ProcessRequest request = ProcessRequest::None;
        std::uint32_t layer = 0;
        std::string path;
        LaserScanSettings settings;
        std::unique_ptr<CloudFile> cloud;
        std::unique_ptr<LasFile> las;
        std::uint32_t preparation = 0; // preparations seen when the run was started
        bool refilterAll = false;
    };

    static void threadBody(void* self);
    bool release(Run run);
    void execute(Run& run);
    void makeCurrent(const Run& run);
    void processPlayback(Run& run);
    void processCloudFile(Run& run);
    void importLas(Run& run);
    void filterLayers(bool refilterAll);
    bool keepGoing(const Run& run) const;
    void beginPreparation();
    void takeHeader(const ScannerCfg&, const DigitizerCfg&, const ProcessingCfg&,
                    const CalibrationCfg&, const PanTiltCfg&);

    CloudStore& store_;
    CloudRenderer& renderer_;
    const ConfigRoot& root_;
    MessageSink& sink_;
    Notifier& notifier_;

    // Operator side.
    LaserScanSettings settings_;
    std::uint32_t averageWindow_ = 0;
    float rangeMin_ = 0, rangeMax_ = 0, snrMin_ = 0;
    std::uint8_t returns_ = 0; // 0: not set by the dialog, the layer keeps its own
    std::string filePath_;
    ScannerCfg scanner_;
    DigitizerCfg digitizer_;
    ProcessingCfg processing_;
    CalibrationCfg calibration_;
    PanTiltCfg panTilt_;
    PlaybackFile reader_;
    WaveformProcessor processor_;
    std::unique_ptr<CloudFile> cloud_;
    std::unique_ptr<LasFile> las_;

    // Shared flags: single values written by one side and read by the other.
    std::atomic<ProcessRequest> request_{ProcessRequest::ProcessPlayback};
    std::atomic<bool> busy_{false};
    std::atomic<bool> continue_{true};
    std::atomic<bool> fileOpen_{false};
    std::atomic<std::uint32_t> refusedRuns_{0};
    std::atomic<std::uint32_t> currentLayer_{0};
    std::atomic<std::uint32_t> preparations_{0};
    std::atomic<bool> stopping_{false};

    // The hand-over: the run to start next, and how many releases are not finished yet.
    mutable std::mutex mutex_;
    std::condition_variable idle_;
    Run next_;
    int outstanding_ = 0;

    std::unique_ptr<ScanProcessor> engine_; // processing thread only
    Semaphore semaphore_;
    Thread thread_;
};

} // namespace quarv
