#include "core/scanfile/file_info.hpp"

#include "core/scanfile/windows1252.hpp"

#include <cstdarg>
#include <cstdio>

namespace quarv {

namespace {

std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

std::string format(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    va_list again;
    va_copy(again, args);
    const int n = std::vsnprintf(nullptr, 0, fmt, args);
    va_end(args);
    std::string out(n > 0 ? std::size_t(n) : 0, '\0');
    if (n > 0) std::vsnprintf(out.data(), out.size() + 1, fmt, again);
    va_end(again);
    return out;
}

const char* const kScanTypeTexts[] = {
    "Scan Type: \tStable Raster", "Scan Type: \tStop and Stare", "Scan Type: \tMoving Continuous",
    "Scan Type: \tMoving Raster", "Scan Type: \tMoving Bowtie",
};

} // namespace

int displayedGain(std::uint8_t gainCode) {
    if (gainCode < 5) return gainCode;
    if (gainCode <= 8) return gainCode * 100;
    return gainCode * 1000;
}

std::vector<std::string> fileInformationLines(const std::string& path, const HeaderImage& image) {
    const ScannerCfg sc = image.scanner();
    const DigitizerCfg dg = image.digitizer();
    const ProcessingCfg pr = image.processing();
    const EnvCfg env = image.environment();
    const PanTiltCfg pt = image.panTilt();
    const AttitudeBlock at = image.attitude();

    const std::uint8_t type = sc.scanType();
    // A bowtie sweep holds four passes of the line's shots.
    const int width = type == kScanTypeMovingBowtie ? 4 * sc.shotsPerLine() : sc.shotsPerLine();

    std::vector<std::string> lines;
    lines.reserve(kFileInfoLineCount);
    lines.push_back("\t File Configuration Parameters");
    lines.emplace_back();
    lines.push_back(path);
    lines.emplace_back();
    lines.push_back(type < std::size(kScanTypeTexts) ? kScanTypeTexts[type] : path);
    lines.push_back(format("Sensor: \t\t%s", windows1252ToUtf8(env.sensor()).c_str()));
    lines.push_back(format("Job: \t\t%s", windows1252ToUtf8(env.job()).c_str()));
    lines.push_back(format("Scan Pos: \t%s", windows1252ToUtf8(env.scanPos()).c_str()));
    lines.push_back(format("Scan Num: \t%02d", int(env.scanNum())));
    lines.push_back(format("Note: \t\t%s", windows1252ToUtf8(env.note()).c_str()));
    lines.emplace_back();
    lines.push_back(format("Scan Size\t\t\t%d X %d", width, int(sc.lines())));
    lines.push_back(format("Az Start Opt\t\t%.3f deg", double(sc.azStartOpt())));
    lines.push_back(format("Az Stop Opt\t\t%.3f deg", double(sc.azStopOpt())));
    lines.push_back(format("El Start Opt\t\t%.3f deg", double(sc.elStartOpt())));
    lines.push_back(format("El Stop Opt\t\t%.3f deg", double(sc.elStopOpt())));
    lines.push_back(format("Samples Per Pulse\t\t%d", int(dg.samplesPerPulse())));
    lines.emplace_back();
    lines.push_back(format("Gain\t\t\t%d", displayedGain(dg.gainCode())));
    lines.push_back(format("CTD Index\t\t%.6f", pr.refractiveIndex()));
    lines.push_back(format("CTD Temp C\t\t%.1f", pr.ctdTemperatureC()));
    lines.push_back(format("CTD Salinity psu\t\t%.1f", pr.ctdSalinityPsu()));
    lines.push_back(format("CTD Pressure dbar\t\t%.1f", pr.ctdPressureDbar()));
    lines.emplace_back();
    lines.push_back(format("Pan Angle\t\t%.3f", pt.panAngle()));
    lines.push_back(format("Tilt Angle\t\t\t%.3f", pt.tiltAngle()));
    lines.emplace_back();
    lines.push_back(format("Pitch Angle\t\t%.3f", at.pitchAngle()));
    lines.push_back(format("Roll Angle\t\t%.3f", at.rollAngle()));
    lines.emplace_back();
    return lines;
}

bool fillInfo(PlaybackFile& reader, const std::filesystem::path& path,
              std::vector<std::string>& lines) {
    const bool opened = reader.open(path);
    reader.close();
    lines = fileInformationLines(path.string(), reader.headerImage());
    return opened;
}

} // namespace quarv
