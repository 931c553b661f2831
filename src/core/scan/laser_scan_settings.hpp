// laserscan.cfg in CAL/: the 32-byte processing settings of the build dialog, stored as their
// byte image. The range window and SNR threshold are completed from the dialog's values each
// time a run starts.
#pragma once

#include "core/config/records.hpp"

#include <filesystem>

namespace quarv {

class ConfigRoot;

struct LaserScanSettings : ByteRecord<32> {
    static constexpr const char* kFileName = "laserscan.cfg";

    std::uint32_t modeWord() const { return get<std::uint32_t>(0); }
    void setModeWord(std::uint32_t v) { put<std::uint32_t>(0, v); }
    std::uint32_t shotsPerLine() const { return get<std::uint32_t>(4); }
    void setShotsPerLine(std::uint32_t v) { put<std::uint32_t>(4, v); }
    std::uint32_t lines() const { return get<std::uint32_t>(8); }
    void setLines(std::uint32_t v) { put<std::uint32_t>(8, v); }
    float unusedFloat() const { return get<float>(12); }
    std::uint8_t rangeGate() const { return bytes[16]; }
    void setRangeGate(std::uint8_t v) { bytes[16] = v; }
    std::uint8_t averageWindow() const { return bytes[17]; }
    void setAverageWindow(std::uint8_t v) { bytes[17] = v; }
    float rangeMin() const { return get<float>(18); }
    void setRangeMin(float v) { put<float>(18, v); }
    float rangeMax() const { return get<float>(22); }
    void setRangeMax(float v) { put<float>(22, v); }
    float snrThreshold() const { return get<float>(26); }
    void setSnrThreshold(float v) { put<float>(26, v); }
    std::uint16_t reserved() const { return get<std::uint16_t>(30); }

    // Mode word 2, 500 shots, 100 lines, 0.1, range gate on, everything else 0.
    static LaserScanSettings defaults();

    // The build dialog's values written in before a run is saved: the average window (0 is kept
    // as 1; the byte holds at most 255), the window and the threshold. With the range gate off
    // the saved window is 0 to 100 m whatever the dialog shows.
    void complete(std::uint32_t averageWindowValue, float rangeMinValue, float rangeMaxValue,
                  float snrMinValue);
};

std::filesystem::path laserScanSettingsPath(const ConfigRoot& root);
// The file's 32 bytes as they are; the defaults when it cannot be read. A file shorter than
// 32 bytes supplies the bytes it has and the defaults the rest. False when the defaults were
// used for the whole record.
bool loadLaserScanSettings(const ConfigRoot& root, LaserScanSettings& out);
// Through a temporary file; false (target untouched) when it cannot be written.
bool saveLaserScanSettings(const ConfigRoot& root, const LaserScanSettings& settings);

} // namespace quarv
