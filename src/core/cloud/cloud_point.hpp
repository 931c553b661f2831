// One point of a layer and the settings/statistics record of a layer. The field order is the one
// every reader of points uses; the persisted subset of PointLayer travels through layers.lcfg.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

namespace quarv {

constexpr std::uint32_t LAYER_COUNT = 5;
constexpr std::uint32_t LAYER_CAPACITY = 2'250'000;
constexpr std::uint32_t SELECT_CAPACITY = LAYER_COUNT * LAYER_CAPACITY;

// Reset values of the running statistics: the f32 values nearest to +-9e9.
constexpr float kStatReset = 8999999488.0f;

struct Rgb {
    std::uint8_t r = 0, g = 0, b = 0;
    bool operator==(const Rgb&) const = default;
};

struct CloudPoint {
    float x = 0, y = 0, z = 0; // metres
    Rgb color;
    float azimuth = 0;   // degrees
    float elevation = 0; // degrees
    float range = 0;     // corrected range, metres
    float amplitude = 0;
    float snr = 0;
    std::uint8_t saturated = 0;
    std::uint8_t valid = 0; // passes the layer filter (visible)
    std::uint32_t sequence = 0;
    std::uint16_t line = 0;
    float peakPosition = 0; // interpolated samples

    // A committed point is immutable except for `valid` and `color`: the layer filter, the
    // neighbour filters and the colourings rewrite them on the processing thread while the view
    // and the exports read them on another. Those four bytes are therefore touched as relaxed
    // byte atomics by every code path that may run concurrently (plain byte moves on the target,
    // no ordering needed: a reader tolerates a flag or colour that changes under it, and the
    // rest of the point is published by the release store of the layer's count). Writing a
    // fresh slot before it is committed may use the plain fields.
    bool isValid() const { return loadByte(valid) != 0; }
    void storeValid(std::uint8_t v) { storeByte(valid, v); }
    Rgb loadColor() const { return {loadByte(color.r), loadByte(color.g), loadByte(color.b)}; }
    void storeColor(Rgb c) {
        storeByte(color.r, c.r);
        storeByte(color.g, c.g);
        storeByte(color.b, c.b);
    }

private:
    static std::uint8_t loadByte(const std::uint8_t& b) {
        // atomic_ref needs a non-const referent; a load never writes through it.
        return std::atomic_ref<std::uint8_t>(const_cast<std::uint8_t&>(b))
            .load(std::memory_order_relaxed);
    }
    static void storeByte(std::uint8_t& b, std::uint8_t v) {
        std::atomic_ref<std::uint8_t>(b).store(v, std::memory_order_relaxed);
    }
};

// What a point carries beyond its slot, in a side array parallel to the layer's slots (the slot
// layout stays the one every reader of points uses): where in the recording the point came from
// and how it was made. All zero for points that did not come from a recording (LAS imports,
// rebuilt cloud files): nothing is known there.
struct PointExtra {
    std::uint32_t shot = 0;        // shot of the line; column of a stare position; pulse of a sweep
    float rangeStdDev = 0;         // standard deviation of the ranges a stare point averages
    std::uint16_t pulses = 0;      // pulses behind the point: 1 for a shot, up to P for a stare
    std::uint8_t returnNumber = 0; // 1 = first return of its pulse, by range
    std::uint8_t numberOfReturns = 0; // returns found in the pulse
    std::uint8_t strongestReturn = 0; // the number of its pulse's strongest return
    bool operator==(const PointExtra&) const = default;
};

// Which returns of a pulse a layer shows.
constexpr std::uint8_t kShowAllReturns = 0;
constexpr std::uint8_t kShowFirstReturn = 1;
constexpr std::uint8_t kShowLastReturn = 2;
constexpr std::uint8_t kShowStrongestReturn = 3;
constexpr std::uint32_t kMaxReturns = 4;

// Colour modes of a layer.
constexpr std::uint32_t kColorByRange = 1;
constexpr std::uint32_t kColorBySnrRank = 2;
constexpr std::uint32_t kColorByAmplitudeRank = 3;

struct PointLayer {
    Rgb colorFrom;
    Rgb colorTo;
    std::uint8_t colorFromExtra = 0; // fourth colour byte of the layer list, carried unchanged
    std::uint8_t colorToExtra = 0;
    std::uint32_t colorMode = 0;
    std::uint8_t inUse = 0;
    std::uint8_t showSaturated = 0;
    std::uint8_t pointSize = 0;
    double sumX = 0, sumY = 0, sumZ = 0;
    float maxX = -kStatReset, minX = kStatReset;
    float maxY = -kStatReset, minY = kStatReset;
    float maxZ = -kStatReset, minZ = kStatReset;
    float rangeSeenMin = kStatReset, rangeSeenMax = -kStatReset;
    float rangeMin = 0, rangeMax = 0;
    float snrMin = 0;
    // The file last processed into the layer. Room for any path the system can open (PATH_MAX),
    // so a name is never cut; a fixed buffer because the processing thread writes it while the
    // operator's side may read it.
    std::array<char, 4096> name{};
    std::uint8_t neighbourFilter = 1;
    double filterDistance = 0.05;
    std::uint8_t filterPending = 0;
    // Returns per pulse the next run looks for (1 to 4; 1: the first found only) and which of
    // a pulse's returns the layer filter shows. Kept beside the layer list, not in it.
    std::uint8_t returns = 1;
    std::uint8_t returnsShown = 0; // kShowAllReturns ...
    CloudPoint* points = nullptr; // the layer's slots, fixed when the store is built
    PointExtra* extras = nullptr; // their side records, same indices

    // Zeroes the persisted fields and the statistics, as a missing layer list does.
    void clearSettingsAndStatistics();
};

} // namespace quarv
