#include "core/scan/laser_scan_settings.hpp"

#include "core/config/atomic_file.hpp"
#include "core/config/config_root.hpp"

#include <cstdio>

namespace quarv {

LaserScanSettings LaserScanSettings::defaults() {
    LaserScanSettings s;
    s.setModeWord(2);
    s.setShotsPerLine(500);
    s.setLines(100);
    s.put<float>(12, 0.1f);
    s.setRangeGate(1);
    return s;
}

void LaserScanSettings::complete(std::uint32_t averageWindowValue, float rangeMinValue,
                                 float rangeMaxValue, float snrMinValue) {
    std::uint32_t window = averageWindowValue == 0 ? 1 : averageWindowValue;
    if (window > 255) window = 255;
    setAverageWindow(static_cast<std::uint8_t>(window));
    setRangeMin(rangeMinValue);
    setRangeMax(rangeMaxValue);
    setSnrThreshold(snrMinValue);
    if (rangeGate() == 0) {
        setRangeMin(0.0f);
        setRangeMax(100.0f);
    }
}

std::filesystem::path laserScanSettingsPath(const ConfigRoot& root) {
    return root.calFile(LaserScanSettings::kFileName);
}

bool loadLaserScanSettings(const ConfigRoot& root, LaserScanSettings& out) {
    out = LaserScanSettings::defaults();
    const auto path = laserScanSettingsPath(root);
    if (!isRegularFile(path)) return false;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    const std::size_t got = std::fread(out.data(), 1, LaserScanSettings::kSize, f);
    std::fclose(f);
    return got > 0;
}

bool saveLaserScanSettings(const ConfigRoot& root, const LaserScanSettings& settings) {
    return writeFileAtomically(laserScanSettingsPath(root), settings.data(),
                               LaserScanSettings::kSize);
}

} // namespace quarv
