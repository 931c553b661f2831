// Runs a campaign: every item through a RecordingJob, N at a time, each job slot with its share
// of the worker threads and one point store (one layer of it touched), its outputs written
// atomically under the item's name, then the stamp. An item whose stamp is up to date is
// skipped; a failure is recorded in its row and the others go on. The engine gives the same
// points whatever the number of workers, so the outputs are the same for any number of jobs.
#pragma once

#include "core/app/recording_job.hpp"
#include "core/campaign/campaign_inputs.hpp"
#include "core/campaign/campaign_report.hpp"

#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace quarv {

class ConfigRoot;

// One file a recording gives: NAME + suffix, written by `write` from the finished job. A writer
// reports its own failure to the sink and leaves no partial file.
struct CampaignOutput {
    std::string suffix; // ".las", ".xyz", ".points.csv", ...
    std::function<bool(RecordingJob&, const std::filesystem::path&, MessageSink&)> write;
};

struct CampaignSettings {
    std::uint32_t layer = 0;
    LayerOverrides overrides;
    // What the command's options make of a run (see recordingDigest); configurationText is
    // added by the runner.
    std::string settingsText;
    std::filesystem::path outDir;
    unsigned jobs = 1;
    unsigned workers = 0; // worker threads shared by the jobs; 0: as many as the engine's default
    bool force = false;
};

// Told from the job slots' threads, for progress.
class CampaignProgress {
public:
    virtual ~CampaignProgress() = default;
    virtual void started(std::size_t index, const CampaignItem& item) = 0;
    virtual void percent(std::size_t index, int percent) = 0;
    virtual void finished(std::size_t index, const CampaignRow& row) = 0;
};

// The rows, in the items' order. Messages of every run also go to `sink`.
std::vector<CampaignRow> runCampaign(const std::vector<CampaignItem>& items, const ConfigRoot& root,
                                     const CampaignSettings& settings,
                                     const std::vector<CampaignOutput>& outputs,
                                     CampaignProgress& progress, MessageSink& sink);

} // namespace quarv
