// The attribute-rich export of layers: LAS 1.4 point format 7 with an Extra Bytes record, or
// binary PLY, chosen by the file's extension. Points may be levelled by the attitude in their
// recording's header and placed by the scanner's heading and position in a coordinate system.
// One function shared by the workstation, quarv-cli process, the batch and the Python module.
#pragma once

#include "core/cloud/cloud_store.hpp"
#include "core/geo/attitude.hpp"
#include "core/geo/pose.hpp"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace quarv {

class MessageSink;

enum class SurveyFormat { Las, Ply };

// ".las" or ".ply" in any case; nullopt for anything else.
std::optional<SurveyFormat> surveyFormatOf(const std::filesystem::path& path);

// One layer of the export and the recording behind it.
struct SurveySource {
    std::uint32_t layer = 0;
    // The recording's attitude; nullopt: read from the header of the file named in the layer's
    // record (raw, peak or 3DC files; an imported LAS file has none and counts as level).
    std::optional<Attitude> attitude;
};

struct SurveyExportOptions {
    // Hidden points (the layer's filters cleared them) too, classified 7 (low noise);
    // otherwise only visible points, classified 1.
    bool includeHidden = false;
    bool level = false; // rotate by the recording's pitch and roll
    PoseInput pose;     // empty: the points stay in the scanner's (or levelled) frame
    // Point source ID of sources[0]; sources[k] get firstSourceId + k (the recording's index in
    // the export when the caller numbers its recordings).
    std::uint16_t firstSourceId = 0;
};

// Writes the points of `sources` in that order (slot order within a layer) to `path` through a
// temporary file. On failure reports "ERROR writing point cloud: PATH: WHY" (or the pose's
// problem) and returns false, leaving an existing file untouched.
bool exportSurvey(const CloudStore& store, const std::vector<SurveySource>& sources,
                  const std::filesystem::path& path, const SurveyExportOptions& options,
                  MessageSink& sink);

// The attitude in the header of a recording (raw, peak or 3DC); level when it has none.
Attitude recordingAttitude(const std::filesystem::path& recording);

} // namespace quarv
