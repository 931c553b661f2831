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
// 3. the threshold is half way between that median and the brightest amplitude; the cluster is
//    the points at or above it within clusterRadius of the brightest one, re-centred once on
//    their centroid;
// 4. the cluster needs minPoints points, and at least as many of the neighbourhood's bright
//    points must lie in it as outside it: bright ground spread over the whole neighbourhood is
//    not a target.
TargetResult findTarget(const CloudPoint* const* points, std::uint32_t count,
                        const CloudPoint& seed, const TargetSearchParams& params = {});

} // namespace quarv
