// The attribute-rich export options of the commands that process recordings (process, batch):
// --export OUT.las|OUT.ply, --include-hidden, --level, and the scanner's pose (--position E,N,H
// --heading DEG --crs EPSG:X --position-crs EPSG:Y) on top of the recording's NAME.pose.json.
#pragma once

#include "cli/commands.hpp"
#include "core/geo/pose.hpp"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace quarv {
class CloudStore;
class MessageSink;
} // namespace quarv

namespace quarv::cli {

// Flags to hand to Args beside the command's own.
inline const std::vector<std::string> kOutputFlags = {"include-hidden", "level"};
// Usage lines of these options.
extern const char* const kOutputUsage;

struct OutputOptions {
    std::optional<std::filesystem::path> exportPath;
    bool includeHidden = false;
    bool level = false;
    PoseInput pose; // the command line's; a sidecar fills what it leaves out
};

// Reads the options from `args`. False with `why` when a value is malformed or an option needs
// --export.
bool parseOutputOptions(const Args& args, OutputOptions& out, std::string& why);
// The same without --export, for commands that name the export's file themselves (the batch);
// `exporting` says whether they export at all.
bool parseExportChoices(const Args& args, bool exporting, OutputOptions& out, std::string& why);

// Checks what can be checked before a recording is processed: the export's format, the sidecar
// and the coordinate systems. False with `why`.
bool checkOutputOptions(const OutputOptions& options, const std::filesystem::path& recording,
                        std::string& why);

// Writes the export of `layer`, processed from `recording`, as point source `sourceId`. True
// when there is nothing to export.
bool writeOutputs(const CloudStore& store, std::uint32_t layer,
                  const std::filesystem::path& recording, const OutputOptions& options,
                  std::uint16_t sourceId, MessageSink& sink);

} // namespace quarv::cli
