#include "core/viewer/target_search.hpp"

#include <algorithm>
#include <vector>

namespace quarv {
namespace {

double squaredDistance(const CloudPoint& p, double x, double y, double z) {
    const double dx = p.x - x, dy = p.y - y, dz = p.z - z;
    return dx * dx + dy * dy + dz * dz;
}

struct Centroid {
    double x = 0, y = 0, z = 0;
    std::uint32_t n = 0;
};

// The bright points round (cx, cy, cz), taken from the whole list: a target at the edge of the
// searched neighbourhood still counts with all its points.
Centroid brightAround(const CloudPoint* const* points, std::uint32_t count, float threshold,
                      double cx, double cy, double cz, double r2) {
    Centroid c;
    for (std::uint32_t i = 0; i < count; ++i) {
        const CloudPoint* p = points[i];
        if (p && p->amplitude >= threshold && squaredDistance(*p, cx, cy, cz) <= r2) {
            c.x += p->x;
            c.y += p->y;
            c.z += p->z;
            ++c.n;
        }
    }
    if (c.n > 0) {
        c.x /= c.n;
        c.y /= c.n;
        c.z /= c.n;
    }
    return c;
}

} // namespace

TargetResult findTarget(const CloudPoint* const* points, std::uint32_t count,
                        const CloudPoint& seed, const TargetSearchParams& params) {
    TargetResult result;
    if (!points || count == 0) return result;
    const double search2 = double{params.searchRadius} * params.searchRadius;
    const double cluster2 = double{params.clusterRadius} * params.clusterRadius;

    std::vector<const CloudPoint*> near;
    const CloudPoint* brightest = nullptr;
    for (std::uint32_t i = 0; i < count; ++i) {
        const CloudPoint* p = points[i];
        if (!p || !(squaredDistance(*p, seed.x, seed.y, seed.z) <= search2)) continue;
        near.push_back(p);
        if (!brightest || p->amplitude > brightest->amplitude) brightest = p;
    }
    if (near.size() < params.minPoints || !brightest) return result;

    std::vector<float> amplitudes;
    amplitudes.reserve(near.size());
    for (const CloudPoint* p : near) amplitudes.push_back(p->amplitude);
    auto mid = amplitudes.begin() + static_cast<std::ptrdiff_t>(amplitudes.size() / 2);
    std::nth_element(amplitudes.begin(), mid, amplitudes.end());
    const float median = *mid;
    const float peak = brightest->amplitude;
    if (!(peak > 0) || !(peak >= params.contrast * std::max(median, 0.0f))) return result;

    const float threshold = median + (peak - median) * 0.5f;
    Centroid c =
        brightAround(points, count, threshold, brightest->x, brightest->y, brightest->z, cluster2);
    if (c.n == 0) return result;
    c = brightAround(points, count, threshold, c.x, c.y, c.z, cluster2);
    if (c.n < params.minPoints) return result;

    // Bright points of the neighbourhood that are not part of the cluster.
    std::uint32_t brightOutside = 0;
    for (const CloudPoint* p : near) {
        if (p->amplitude >= threshold && !(squaredDistance(*p, c.x, c.y, c.z) <= cluster2)) {
            ++brightOutside;
        }
    }
    if (brightOutside > c.n) return result;

    result.found = true;
    result.x = static_cast<float>(c.x);
    result.y = static_cast<float>(c.y);
    result.z = static_cast<float>(c.z);
    result.points = c.n;
    result.threshold = threshold;
    return result;
}

} // namespace quarv
