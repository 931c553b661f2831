// The batch's up-to-date rule. Next to a recording's outputs the batch keeps NAME.done, written
// last, after every output is in place. It holds a digest of everything the outputs follow from
// (the command's settings, the configuration files the engine reads, the size and modification
// time of the recording and of its pose sidecar NAME.pose.json) and the run's summary, so that a
// recording skipped later is still reported with its numbers. A recording is up to date when its
// stamp holds the same digest and every output it lists exists. Nothing in a stamp depends on
// when or how fast it was made: a rerun writes the same bytes.
#pragma once

#include "core/app/recording_job.hpp"

#include <filesystem>
#include <string>
#include <vector>

namespace quarv {

class ConfigRoot;

struct CampaignStamp {
    std::string digest;
    std::vector<std::string> outputs; // file names beside the stamp
    JobSummary summary;               // seconds not kept
};

// The configuration files that change what the engine makes from a recording (layer list,
// pulse template, processing settings as a run completes them), as text for a digest.
std::string configurationText(const ConfigRoot& root);

// 16 hex digits: the digest of `settings` (the command's settings and configurationText) with
// the identity of `recording` and its pose sidecar.
std::string recordingDigest(const std::string& settings, const std::filesystem::path& recording);

std::filesystem::path stampPath(const std::filesystem::path& outputBase);
bool writeStamp(const std::filesystem::path& path, const CampaignStamp& stamp);
bool readStamp(const std::filesystem::path& path, CampaignStamp& stamp);

// The stamp at `path` carries `digest` and every output it lists exists beside it.
bool isUpToDate(const std::filesystem::path& path, const std::string& digest, CampaignStamp& stamp);

} // namespace quarv
