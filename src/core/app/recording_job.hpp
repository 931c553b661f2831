// RecordingJob: one file (a recording of any kind, a cloud file or a LAS file) processed into a
// layer of a point store of its own, without a workstation. quarv-cli process, the campaign batch
// and the Python module all go through it, so they run the same engine, request protocol and
// clutter filters as the workstation's Process command and agree to the bit.
//
// The store reserves the address space of five layers but only the pages of the one layer a job
// fills are ever touched, so a job costs the memory of one layer.
#pragma once

#include "core/app/message_sink.hpp"
#include "core/scan/process_request.hpp"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace quarv {

class CloudRenderer;
class CloudStore;
class ConfigRoot;
class Notifier;

// What the caller sets on top of the layer's settings from the layer list.
struct LayerOverrides {
    std::optional<float> rangeMin, rangeMax, snrMin;
    std::optional<double> filterDistance;
    bool noFilter = false;
    bool showSaturated = false;
    std::optional<std::uint8_t> returns;      // returns per pulse, 1 to 4
    std::optional<std::uint8_t> returnsShown; // kShowAllReturns ...
};

// What a finished job did, for reports.
struct JobSummary {
    ProcessRequest request = ProcessRequest::None;
    std::string kind; // "line", "stare", "bowtie", "peak line", "peak stare", "cloud file", "LAS"
    std::uint32_t lines = 0;
    std::uint32_t shotsPerLine = 0;
    std::uint64_t waveforms = 0; // lines x shots per line: what the engine went through
    std::uint32_t points = 0;
    std::uint32_t visible = 0;
    std::uint32_t removedByFilter = 0; // pass the layer's settings but hidden by the clutter filter
    float rangeMin = 0, rangeMax = 0, snrMin = 0; // the layer's window and limit after the run
    double seconds = 0;
};

class RecordingJob {
public:
    // `workers` 0: the engine's default. The sink receives every message of the run.
    RecordingJob(const ConfigRoot& root, MessageSink& sink, Notifier& notifier,
                 unsigned workers = 0);
    ~RecordingJob();
    RecordingJob(const RecordingJob&) = delete;
    RecordingJob& operator=(const RecordingJob&) = delete;

    // False when the point layers could not be allocated (nothing can run).
    bool allocated() const;

    // Processes `file` into `layer` (0 to 4) with the layer list's settings and the overrides.
    // False, with a message in the sink, when the file could not be opened or the engine
    // refused it. The summary describes the run either way.
    bool run(const std::filesystem::path& file, std::uint32_t layer,
             const LayerOverrides& overrides = {});

    CloudStore& store() { return *store_; }
    const CloudStore& store() const { return *store_; }
    CloudRenderer& renderer() { return *renderer_; }
    const JobSummary& summary() const { return summary_; }

private:
    class CountingSink final : public MessageSink {
    public:
        explicit CountingSink(MessageSink& inner) : inner_(inner) {}
        void report(const std::string& text) override {
            count.fetch_add(1);
            inner_.report(text);
        }
        std::atomic<int> count{0};

    private:
        MessageSink& inner_;
    };

    const ConfigRoot& root_;
    CountingSink sink_;
    Notifier& notifier_;
    unsigned workers_;
    std::unique_ptr<CloudStore> store_;
    std::unique_ptr<CloudRenderer> renderer_;
    JobSummary summary_;
};

// Every committed slot of a layer as CSV (the columns of quarv-cli process --points, with
// returnNumber,numberOfReturns at the end when `returns` is set), written atomically. False, with
// "ERROR writing points file: PATH", when it cannot be written.
bool writePointsCsv(const CloudStore& store, std::uint32_t layer, const std::filesystem::path& path,
                    MessageSink& sink, bool returns = false);

} // namespace quarv
