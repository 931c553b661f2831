// The viewer's two small settings files in CFG/: "quarv.mcfg" (intensity cut-offs and a
// three-colour scale, 17 bytes) and "colorcfg.mcfg" (intensity colour map and point size,
// 34 bytes). Both are packed little-endian images, loaded whole and written whole.
#pragma once

#include "core/cloud/cloud_point.hpp"

#include <array>
#include <cstdint>
#include <filesystem>

namespace quarv {

class ConfigRoot;

constexpr std::size_t kQuarvSettingsSize = 17;
constexpr std::size_t kColorSettingsSize = 34;

// quarv.mcfg
struct QuarvSettings {
    float lowIntensityCutoff = 0;
    float highIntensityCutoff = 0;
    Rgb startRgb, midRgb, highRgb;

    std::array<std::uint8_t, kQuarvSettingsSize> encode() const;
    static QuarvSettings decode(const std::array<std::uint8_t, kQuarvSettingsSize>& bytes);
    bool operator==(const QuarvSettings&) const = default;
};

// colorcfg.mcfg
struct ColorSettings {
    std::int32_t lowIntensity = 0;
    std::int32_t mediumIntensity = 0;
    std::int32_t highIntensity = 0;
    Rgb lowIntensityRgb;
    Rgb lowStartRgb, lowEndRgb;
    Rgb mediumStartRgb, mediumEndRgb;
    Rgb highIntensityRgb;
    Rgb saturationRgb;
    std::uint8_t pointSize = 0; // pixels

    std::array<std::uint8_t, kColorSettingsSize> encode() const;
    static ColorSettings decode(const std::array<std::uint8_t, kColorSettingsSize>& bytes);
    bool operator==(const ColorSettings&) const = default;
};

std::filesystem::path quarvSettingsPath(const ConfigRoot& root);
std::filesystem::path colorSettingsPath(const ConfigRoot& root);

// Load: the block starts zeroed and takes whatever bytes the file holds (all of them for a
// well-formed file). A missing file leaves every value 0; nothing is reported. Returns whether
// the file could be opened.
bool loadQuarvSettings(const std::filesystem::path& file, QuarvSettings& out);
bool loadColorSettings(const std::filesystem::path& file, ColorSettings& out);

// Save: the whole block replaces the file (through a temporary file). A file that cannot be
// written is not reported to the operator; the result tells the caller.
bool saveQuarvSettings(const std::filesystem::path& file, const QuarvSettings& settings);
bool saveColorSettings(const std::filesystem::path& file, const ColorSettings& settings);

// Conversions from an edit control's double to the stored field. Every control value is
// truncated toward zero first.
// Colour component and point size: the low 8 bits of the integer (256 -> 0, -1 -> 255).
std::uint8_t controlToByte(double value);
// quarv.mcfg cut-offs: the low 8 bits as an unsigned number, stored as a float (300.7 -> 44.0).
float controlToCutoff(double value);
// colorcfg.mcfg thresholds: the integer, held within the i32 range.
std::int32_t controlToThreshold(double value);

} // namespace quarv
