// The target search of the measuring pick modes: from a picked point, find the reflective target
// the operator aimed at. A target is a small, bright patch: a compact cluster of points whose
// amplitude stands well above the surrounding returns. The result is the cluster's centroid,
// which measures between target centres far more repeatably than any single return.
#pragma once

#include "core/cloud/cloud_point.hpp"

#include <cstdint>

namespace quarv {

struct TargetSearchParams {
    float searchRadius = 0.5f;  // metres round the picked point that are searched
    float clusterRadius = 0.2f; // metres: how far a target's points lie from its centre
    float contrast = 2.0f;      // brightest return / median return of the neighbourhood
    float linkDistance = 0.05f; // metres between linked returns, at least (grows with spacing)
    std::uint32_t minPoints = 3;
};

struct TargetResult {
    bool found = false;
    float x = 0, y = 0, z = 0; // centroid of the cluster
    std::uint32_t points = 0;  // points in the cluster
    float threshold = 0;       // amplitude that separated target from background
};

// Walks the visible points (the select list) round `seed`:
// 1. the neighbourhood is every point within searchRadius of the seed;
// 2. its brightest return must reach `contrast` times the neighbourhood's median amplitude,
//    else there is nothing bright to find;
// 3. returns at or above half way between that median and the brightest amplitude are bright;
//    the target starts at the bright return nearest the seed, so that of two targets in reach
//    the one clicked at is found;
// 4. the cluster is every bright return linked to the start by hops of at most 2.5 point
//    spacings (at least linkDistance, at most half of clusterRadius);
// 5. it needs minPoints returns, all within clusterRadius of their centroid: a bright edge or
//    bright ground running on is not a target.
TargetResult findTarget(const CloudPoint* const* points, std::uint32_t count,
                        const CloudPoint& seed, const TargetSearchParams& params = {});

} // namespace quarv
