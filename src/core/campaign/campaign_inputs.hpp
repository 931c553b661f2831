// Which files a campaign batch processes and under which names its outputs go. An input named
// on the command line is taken whatever it is (recording, cloud file or LAS, as quarv-cli process
// takes it); in a folder, a file is a recording when its name ends in ".raw" or ".pek" (any
// case), or when its header reads as a recording (version 3, a complete header the reader
// accepts). Hidden entries and the output folder are never looked into.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace quarv {

struct CampaignItem {
    std::filesystem::path source;
    // The outputs' path relative to the output folder, without extension: the recording's name
    // without its extension, below the sub-folders it was found in when the walk is recursive.
    std::filesystem::path name;
    // Non-empty: the item cannot be processed (missing input, unreadable folder, an output name
    // another recording already has); the batch reports it as failed.
    std::string problem;
};

// True when a file found in a folder is taken as a recording (see above).
bool isRecordingFile(const std::filesystem::path& path);

// The items of a batch in a fixed order: inputs in the order given, a folder's recordings in
// byte order of their relative paths. A recording reached twice is taken once. `notes` receives
// what the operator should know that is not a failure (a folder without recordings).
std::vector<CampaignItem> collectRecordings(const std::vector<std::filesystem::path>& inputs,
                                            bool recursive, const std::filesystem::path& outDir,
                                            std::vector<std::string>& notes);

} // namespace quarv
