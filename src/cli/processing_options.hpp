// The processing options that quarv-cli process and quarv-cli batch share: the configuration
// root, the layer and what is set on top of its settings. Both commands parse them here, so an
// option added to processing reaches both, and the batch's up-to-date rule sees it through
// settingsText().
#pragma once

#include "cli/commands.hpp"
#include "core/app/recording_job.hpp"
#include "core/config/config_root.hpp"

#include <cstdint>
#include <string>
#include <vector>

namespace quarv::cli {

// Usage lines of the shared options (indented to follow a command's first usage line).
extern const char* const kProcessingUsage;

// The option names among them that take no value; a command adds them to its own flags.
std::vector<std::string> processingFlags(std::vector<std::string> own);

struct ProcessingOptions {
    ConfigRoot root;
    std::uint32_t layer = 0;
    LayerOverrides overrides;

    // Every parsed value that changes what a run produces, as canonical text ("layer 0\n...").
    std::string settingsText() const;
};

// Fills `out` from the options; false with the problem (for the usage message) otherwise.
bool parseProcessingOptions(const Args& args, ProcessingOptions& out, std::string& problem);

} // namespace quarv::cli
