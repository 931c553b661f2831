#include "core/config/viewer_settings.hpp"

#include "core/config/atomic_file.hpp"
#include "core/config/bytes.hpp"
#include "core/config/config_root.hpp"

#include <cmath>
#include <fstream>
#include <limits>

namespace quarv {
namespace {

void putRgb(std::uint8_t* p, const Rgb& c) {
    p[0] = c.r, p[1] = c.g, p[2] = c.b;
}
Rgb getRgb(const std::uint8_t* p) {
    return {p[0], p[1], p[2]};
}

// Zero the block, then take as many bytes as the file holds, as a whole-block read into a
// zeroed buffer does.
template <std::size_t N>
bool readBlock(const std::filesystem::path& file, std::array<std::uint8_t, N>& block) {
    block.fill(0);
    if (!isRegularFile(file)) return false;
    std::ifstream in(file, std::ios::binary);
    if (!in) return false;
    in.read(reinterpret_cast<char*>(block.data()), static_cast<std::streamsize>(N));
    return true;
}

} // namespace

std::array<std::uint8_t, kQuarvSettingsSize> QuarvSettings::encode() const {
    std::array<std::uint8_t, kQuarvSettingsSize> b{};
    le::store<float>(b.data() + 0, lowIntensityCutoff);
    le::store<float>(b.data() + 4, highIntensityCutoff);
    putRgb(b.data() + 8, startRgb);
    putRgb(b.data() + 11, midRgb);
    putRgb(b.data() + 14, highRgb);
    return b;
}

QuarvSettings QuarvSettings::decode(const std::array<std::uint8_t, kQuarvSettingsSize>& b) {
    QuarvSettings s;
    s.lowIntensityCutoff = le::f32(b.data() + 0);
    s.highIntensityCutoff = le::f32(b.data() + 4);
    s.startRgb = getRgb(b.data() + 8);
    s.midRgb = getRgb(b.data() + 11);
    s.highRgb = getRgb(b.data() + 14);
    return s;
}

std::array<std::uint8_t, kColorSettingsSize> ColorSettings::encode() const {
    std::array<std::uint8_t, kColorSettingsSize> b{};
    le::store<std::int32_t>(b.data() + 0, lowIntensity);
    le::store<std::int32_t>(b.data() + 4, mediumIntensity);
    le::store<std::int32_t>(b.data() + 8, highIntensity);
    putRgb(b.data() + 12, lowIntensityRgb);
    putRgb(b.data() + 15, lowStartRgb);
    putRgb(b.data() + 18, lowEndRgb);
    putRgb(b.data() + 21, mediumStartRgb);
    putRgb(b.data() + 24, mediumEndRgb);
    putRgb(b.data() + 27, highIntensityRgb);
    putRgb(b.data() + 30, saturationRgb);
    b[33] = pointSize;
    return b;
}

ColorSettings ColorSettings::decode(const std::array<std::uint8_t, kColorSettingsSize>& b) {
    ColorSettings s;
    s.lowIntensity = le::i32(b.data() + 0);
    s.mediumIntensity = le::i32(b.data() + 4);
    s.highIntensity = le::i32(b.data() + 8);
    s.lowIntensityRgb = getRgb(b.data() + 12);
    s.lowStartRgb = getRgb(b.data() + 15);
    s.lowEndRgb = getRgb(b.data() + 18);
    s.mediumStartRgb = getRgb(b.data() + 21);
    s.mediumEndRgb = getRgb(b.data() + 24);
    s.highIntensityRgb = getRgb(b.data() + 27);
    s.saturationRgb = getRgb(b.data() + 30);
    s.pointSize = b[33];
    return s;
}

std::filesystem::path quarvSettingsPath(const ConfigRoot& root) {
    return root.cfgFile("quarv.mcfg");
}
std::filesystem::path colorSettingsPath(const ConfigRoot& root) {
    return root.cfgFile("colorcfg.mcfg");
}

bool loadQuarvSettings(const std::filesystem::path& file, QuarvSettings& out) {
    std::array<std::uint8_t, kQuarvSettingsSize> block;
    const bool opened = readBlock(file, block);
    out = QuarvSettings::decode(block);
    return opened;
}

bool loadColorSettings(const std::filesystem::path& file, ColorSettings& out) {
    std::array<std::uint8_t, kColorSettingsSize> block;
    const bool opened = readBlock(file, block);
    out = ColorSettings::decode(block);
    return opened;
}

bool saveQuarvSettings(const std::filesystem::path& file, const QuarvSettings& settings) {
    const auto block = settings.encode();
    return writeFileAtomically(file, block.data(), block.size());
}

bool saveColorSettings(const std::filesystem::path& file, const ColorSettings& settings) {
    const auto block = settings.encode();
    return writeFileAtomically(file, block.data(), block.size());
}

std::uint8_t controlToByte(double value) {
    if (!std::isfinite(value)) return 0;
    // The remainder of the truncated value modulo 256, made non-negative, is the low byte of
    // its two's complement for every magnitude, including those beyond 64-bit integers.
    double r = std::fmod(std::trunc(value), 256.0);
    if (r < 0) r += 256.0;
    return static_cast<std::uint8_t>(r);
}

float controlToCutoff(double value) {
    return static_cast<float>(controlToByte(value));
}

std::int32_t controlToThreshold(double value) {
    if (std::isnan(value)) return 0;
    const double t = std::trunc(value);
    constexpr double lo = std::numeric_limits<std::int32_t>::min();
    constexpr double hi = std::numeric_limits<std::int32_t>::max();
    if (t <= lo) return std::numeric_limits<std::int32_t>::min();
    if (t >= hi) return std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(t);
}

} // namespace quarv
