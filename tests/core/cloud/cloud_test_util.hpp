// Small builders shared by the point cloud tests: a point added through the pipeline's calls, and
// the text of a golden transcript.
#pragma once

#include "core/cloud/cloud_store.hpp"

#include <cstdio>
#include <sstream>
#include <string>

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
    p.x = s.x, p.y = s.y, p.z = s.z, p.range = s.range, p.amplitude = s.amplitude, p.snr = s.snr;
    p.saturated = s.saturated ? 1 : 0;
    p.valid = s.valid ? 1 : 0;
    store.addStatistics(l, s.saturated, s.range, s.amplitude, s.snr, p);
    store.commit(l);
    return p;
}

inline std::string hex(Rgb c) {
    char b[8];
    std::snprintf(b, sizeof b, "%02x%02x%02x", c.r, c.g, c.b);
    return b;
}

// put(a, b, ...) writes one line of values separated by spaces: numbers with 9 significant
// digits, bytes as numbers, colours in hex.
struct Transcript {
    std::ostringstream out;
    Transcript() { out.precision(9); }
    static std::string show(Rgb c) { return hex(c); }
    static int show(std::uint8_t v) { return v; }
    template <typename T> static const T& show(const T& v) { return v; }
    template <typename... T> void put(const T&... v) {
        ((out << show(v) << ' '), ...);
        out << '\n';
    }
    std::string str() const { return out.str(); }
};

} // namespace quarv::test
