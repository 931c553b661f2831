#include "core/cloud/cloud_point.hpp"

namespace quarv {

void PointLayer::clearSettingsAndStatistics() {
    CloudPoint* keep = points;
    PointExtra* keepExtras = extras;
    auto keepName = name;
    *this = PointLayer{};
    colorFrom = colorTo = Rgb{};
    neighbourFilter = 0;
    filterDistance = 0.0;
    maxX = minX = maxY = minY = maxZ = minZ = 0.0f;
    rangeSeenMin = rangeSeenMax = 0.0f;
    name = keepName;
    points = keep;
    extras = keepExtras;
}

} // namespace quarv
