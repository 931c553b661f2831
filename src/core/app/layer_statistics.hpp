// The "Layer statistics" read-out of the workstation: means of the angles, range and peak
// position, and the spread of the range, over the later slots of layer 0, where a scan has
// settled past its first lines.
#pragma once

#include "core/cloud/cloud_store.hpp"

#include <cstdint>
#include <optional>
#include <string>

namespace quarv {

// Slots before this are skipped once a layer holds more points.
constexpr std::uint32_t kStatisticsSkip = 80'000;

struct LayerStatistics {
    std::uint32_t start = 0, end = 0; // slots start .. end - 1 were looked at
    std::uint32_t valid = 0;          // valid points among them
    double azimuth = 0, elevation = 0, peakPosition = 0, range = 0; // means
    float rangeStdDev = 0; // sample standard deviation (n - 1); 0 for a single point
};

// Statistics of layer l; none when the layer is not in use. start = 80,000 when the layer holds
// more than 80,000 points, else half of them.
std::optional<LayerStatistics> layerStatistics(const CloudStore& store, std::uint32_t l = 0);

// "Ave:  AZ:%.4f, EL:%.4f, Peak Cnt:%.4f, Rng:%.4f m, StdDev Rng: %.4f"; when no point in the
// slots looked at is valid there are no means to show, and the text says so instead.
std::string layerStatisticsMessage(const LayerStatistics& s);

} // namespace quarv
