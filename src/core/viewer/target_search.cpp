#include "core/viewer/target_search.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <unordered_map>
#include <vector>

namespace quarv {
namespace {

double squaredDistance(const CloudPoint& a, const CloudPoint& b) {
    const double dx = double{a.x} - b.x, dy = double{a.y} - b.y, dz = double{a.z} - b.z;
    return dx * dx + dy * dy + dz * dz;
}

// The typical distance between neighbouring returns round the pick: the median, over a few
// sampled points, of the distance to their nearest neighbour.
double typicalSpacing(const std::vector<const CloudPoint*>& near) {
    constexpr std::size_t kSamples = 64;
    const std::size_t step = std::max<std::size_t>(1, near.size() / kSamples);
    std::vector<double> nearest;
    for (std::size_t i = 0; i < near.size(); i += step) {
        double best = -1;
        for (std::size_t j = 0; j < near.size(); ++j) {
            if (j == i) continue;
            const double d = squaredDistance(*near[i], *near[j]);
            if (d > 0 && (best < 0 || d < best)) best = d;
        }
        if (best > 0) nearest.push_back(best);
    }
    if (nearest.empty()) return 0;
    auto mid = nearest.begin() + static_cast<std::ptrdiff_t>(nearest.size() / 2);
    std::nth_element(nearest.begin(), mid, nearest.end());
    return std::sqrt(*mid);
}

// Bright points linked to `start` by hops of at most `link` metres, over a hash grid of cells of
// that size.
std::vector<const CloudPoint*> connectedCluster(const std::vector<const CloudPoint*>& bright,
                                                const CloudPoint* start, double link) {
    const auto cellOf = [link](double v) {
        return static_cast<std::int64_t>(std::floor(v / link));
    };
    const auto key = [](std::int64_t cx, std::int64_t cy, std::int64_t cz) {
        return (static_cast<std::uint64_t>(cx & 0x1FFFFF) << 42) |
               (static_cast<std::uint64_t>(cy & 0x1FFFFF) << 21) |
               static_cast<std::uint64_t>(cz & 0x1FFFFF);
    };
    std::unordered_map<std::uint64_t, std::vector<std::size_t>> grid;
    std::size_t startIndex = 0;
    for (std::size_t i = 0; i < bright.size(); ++i) {
        const CloudPoint& p = *bright[i];
        grid[key(cellOf(p.x), cellOf(p.y), cellOf(p.z))].push_back(i);
        if (bright[i] == start) startIndex = i;
    }
    std::vector<char> taken(bright.size(), 0);
    std::vector<std::size_t> queue{startIndex};
    taken[startIndex] = 1;
    const double link2 = link * link;
    for (std::size_t q = 0; q < queue.size(); ++q) {
        const CloudPoint& p = *bright[queue[q]];
        const std::int64_t cx = cellOf(p.x), cy = cellOf(p.y), cz = cellOf(p.z);
        for (std::int64_t dx = -1; dx <= 1; ++dx) {
            for (std::int64_t dy = -1; dy <= 1; ++dy) {
                for (std::int64_t dz = -1; dz <= 1; ++dz) {
                    const auto it = grid.find(key(cx + dx, cy + dy, cz + dz));
                    if (it == grid.end()) continue;
                    for (std::size_t j : it->second) {
                        if (!taken[j] && squaredDistance(p, *bright[j]) <= link2) {
                            taken[j] = 1;
                            queue.push_back(j);
                        }
                    }
                }
            }
        }
    }
    std::vector<const CloudPoint*> cluster;
    cluster.reserve(queue.size());
    for (std::size_t i : queue) cluster.push_back(bright[i]);
    return cluster;
}

} // namespace

TargetResult findTarget(const CloudPoint* const* points, std::uint32_t count,
                        const CloudPoint& seed, const TargetSearchParams& params) {
    TargetResult result;
    if (!points || count == 0) return result;
    const double search2 = double{params.searchRadius} * params.searchRadius;

    std::vector<const CloudPoint*> near;
    float peak = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        const CloudPoint* p = points[i];
        if (!p || !(squaredDistance(*p, seed) <= search2)) continue;
        if (near.empty() || p->amplitude > peak) peak = p->amplitude;
        near.push_back(p);
    }
    if (near.size() < params.minPoints) return result;

    std::vector<float> amplitudes;
    amplitudes.reserve(near.size());
    for (const CloudPoint* p : near) amplitudes.push_back(p->amplitude);
    auto mid = amplitudes.begin() + static_cast<std::ptrdiff_t>(amplitudes.size() / 2);
    std::nth_element(amplitudes.begin(), mid, amplitudes.end());
    const float median = *mid;
    if (!(peak > 0) || !(peak >= params.contrast * std::max(median, 0.0f))) return result;
    const float threshold = median + (peak - median) * 0.5f;

    // The target the operator aimed at: the bright return nearest the pick.
    const CloudPoint* start = nullptr;
    double startDistance = 0;
    for (const CloudPoint* p : near) {
        if (!(p->amplitude >= threshold)) continue;
        const double d = squaredDistance(*p, seed);
        if (!start || d < startDistance) {
            start = p;
            startDistance = d;
        }
    }
    if (!start) return result;

    // Returns of one target lie next to each other; a hop of a few point spacings links them.
    const double spacing = typicalSpacing(near);
    const double link =
        std::clamp(2.5 * spacing, double{params.linkDistance}, double{params.clusterRadius} * 0.5);

    // Bright returns that a target reaching out of the searched neighbourhood may own.
    const double reach = double{params.searchRadius} + params.clusterRadius;
    std::vector<const CloudPoint*> bright;
    for (std::uint32_t i = 0; i < count; ++i) {
        const CloudPoint* p = points[i];
        if (p && p->amplitude >= threshold && squaredDistance(*p, seed) <= reach * reach) {
            bright.push_back(p);
        }
    }
    const std::vector<const CloudPoint*> cluster = connectedCluster(bright, start, link);
    if (cluster.size() < params.minPoints) return result;

    double cx = 0, cy = 0, cz = 0;
    for (const CloudPoint* p : cluster) {
        cx += p->x;
        cy += p->y;
        cz += p->z;
    }
    const double n = static_cast<double>(cluster.size());
    cx /= n;
    cy /= n;
    cz /= n;
    // A target is compact: bright ground or a bright edge running on is not one.
    CloudPoint centre;
    centre.x = static_cast<float>(cx);
    centre.y = static_cast<float>(cy);
    centre.z = static_cast<float>(cz);
    const double radius2 = double{params.clusterRadius} * params.clusterRadius;
    for (const CloudPoint* p : cluster) {
        if (squaredDistance(*p, centre) > radius2) return result;
    }

    result.found = true;
    result.x = centre.x;
    result.y = centre.y;
    result.z = centre.z;
    result.points = static_cast<std::uint32_t>(cluster.size());
    result.threshold = threshold;
    return result;
}

} // namespace quarv
