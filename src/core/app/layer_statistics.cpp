#include "core/app/layer_statistics.hpp"

#include "core/app/message_sink.hpp"

#include <cmath>
#include <vector>

namespace quarv {

std::optional<LayerStatistics> layerStatistics(const CloudStore& store, std::uint32_t l) {
    if (l >= LAYER_COUNT || !store.layer(l).inUse || !store.layer(l).points) return std::nullopt;
    LayerStatistics s;
    const std::uint32_t n = store.pointCount(l);
    s.start = n > kStatisticsSkip ? kStatisticsSkip : n / 2;
    s.end = n;
    for (std::uint32_t i = s.start; i < n; ++i) s.valid += store.point(l, i).isValid() ? 1u : 0u;
    std::vector<float> ranges;
    ranges.reserve(s.valid);
    double az = 0, el = 0, rng = 0, peak = 0;
    for (std::uint32_t i = s.start; i < n; ++i) {
        const CloudPoint& p = store.point(l, i);
        // The processing thread may hide points meanwhile; the buffer never outgrows its count.
        if (!p.isValid() || ranges.size() == s.valid) continue;
        az += p.azimuth;
        el += p.elevation;
        rng += p.range;
        peak += p.peakPosition;
        ranges.push_back(p.range);
    }
    s.valid = static_cast<std::uint32_t>(ranges.size());
    if (s.valid == 0) return s;
    s.azimuth = az / s.valid;
    s.elevation = el / s.valid;
    s.range = rng / s.valid;
    s.peakPosition = peak / s.valid;
    if (s.valid > 1) {
        double mean = 0;
        for (float r : ranges) mean += r;
        mean /= static_cast<double>(ranges.size());
        double sum2 = 0;
        for (float r : ranges) sum2 += (r - mean) * (r - mean);
        s.rangeStdDev =
            static_cast<float>(std::sqrt(sum2 / static_cast<double>(ranges.size() - 1)));
    }
    return s;
}

std::string layerStatisticsMessage(const LayerStatistics& s) {
    if (s.valid == 0) {
        return formatMessage("Ave:  no valid point from slot %u of layer 1", s.start);
    }
    return formatMessage("Ave:  AZ:%.4f, EL:%.4f, Peak Cnt:%.4f, Rng:%.4f m, StdDev Rng: %.4f",
                         s.azimuth, s.elevation, s.peakPosition, s.range,
                         static_cast<double>(s.rangeStdDev));
}

} // namespace quarv
