// The configuration root: one folder holding CFG/ (layer list, viewer settings) and CAL/ (pulse
// template, processing settings). Every component receives it as a value, so tests run against a
// temporary root and never touch the operator's own settings.
#pragma once

#include <filesystem>
#include <string>

namespace quarv {

// Settings and calibration files are read only when they are regular files: a folder in their
// place reads as missing, and a FIFO or a device would block the read for ever.
inline bool isRegularFile(const std::filesystem::path& path) {
    std::error_code ec;
    return std::filesystem::is_regular_file(path, ec);
}

// The matched-filter pulse template in the calibration folder.
inline constexpr const char* kPulseTemplateName = "mf_pulse.bin";

class MessageSink;

class ConfigRoot {
public:
    ConfigRoot() = default;
    explicit ConfigRoot(std::filesystem::path root) : root_(std::move(root)) {}

    // $QUARV_HOME if set, else $XDG_CONFIG_HOME/quarv, else ~/.config/quarv.
    static ConfigRoot fromEnvironment();

    const std::filesystem::path& root() const { return root_; }
    std::filesystem::path cfgDir() const { return root_ / "CFG"; }
    std::filesystem::path calDir() const { return root_ / "CAL"; }
    std::filesystem::path cfgFile(const std::string& fileName) const { return cfgDir() / fileName; }
    std::filesystem::path calFile(const std::string& fileName) const { return calDir() / fileName; }
    std::filesystem::path pulseTemplatePath() const { return calFile(kPulseTemplateName); }

    // On the very first start (root absent, or a folder holding neither CFG/ nor CAL/) create
    // CFG/ and CAL/ with the shipped defaults. A root with either folder is left alone: a file the
    // operator removed stays removed, and the system's own rules for a missing file apply. Returns
    // false (with a message) when the folders cannot be created.
    bool ensureCreated(MessageSink& sink) const;

private:
    std::filesystem::path root_;
};

// The shipped default files (embedded at build time from data/defaults/).
struct DefaultFile {
    const char* folder; // "CFG" or "CAL"
    const char* name;
    const unsigned char* data;
    std::size_t size;
};
const DefaultFile* shippedDefaults(std::size_t& count);

} // namespace quarv
