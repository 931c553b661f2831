// Small builders for point layers shared by the point cloud tests.
#pragma once

#include "core/cloud/cloud_store.hpp"

namespace quarv::test {

struct PointSpec {
    float x = 0, y = 0, z = 0;
    float range = 1.0f, amplitude = 0.0f, snr = 0.0f;
    bool saturated = false;
    bool valid = true;
};

// Appends one point to layer l through the pipeline's calls.
inline CloudPoint& addPoint(CloudStore& store, std::uint32_t l, const PointSpec& s) {
    CloudPoint& p = store.nextSlot(l);
    p = CloudPoint{};
    p.x = s.x;
    p.y = s.y;
    p.z = s.z;
    p.range = s.range;
    p.amplitude = s.amplitude;
    p.snr = s.snr;
    p.saturated = s.saturated ? 1 : 0;
    p.valid = s.valid ? 1 : 0;
    store.addStatistics(l, s.saturated, s.range, s.amplitude, s.snr, p);
    store.commit(l);
    return p;
}

} // namespace quarv::test
