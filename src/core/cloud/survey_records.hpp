// The records of the attribute-rich export: one point with everything it carries, and its
// encodings as a LAS 1.4 format 7 record with extra bytes and as a binary PLY vertex. The
// layouts do not depend on the data: the stare attributes (pulses, range standard deviation)
// are always present, 0 for points that are not stare points.
#pragma once

#include "core/cloud/cloud_point.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quarv {

struct SurveyPoint {
    double x = 0, y = 0, z = 0; // after levelling and placement
    const CloudPoint* point = nullptr;
    PointExtra extra;
    std::uint8_t layer = 0;
    std::uint16_t sourceId = 0;
    bool hidden = false;
};

// ---- LAS 1.4, point format 7 (36 bytes) + extra bytes ----
constexpr std::size_t kLas14HeaderSize = 375;
constexpr std::size_t kLas14CoreRecord = 36;
constexpr std::size_t kLasExtraBytes = 33; // range .. range std dev
constexpr std::size_t kLas14RecordLength = kLas14CoreRecord + kLasExtraBytes;
constexpr double kLas14Scale = 0.0001; // 0.1 mm

struct Las14Layout {
    std::uint64_t pointCount = 0;
    std::array<std::uint64_t, 15> byReturn{};
    std::array<double, 3> offset{};
    double minX = 0, maxX = 0, minY = 0, maxY = 0, minZ = 0, maxZ = 0;
    std::string wkt; // empty: no coordinate system record, WKT bit clear
};

// Header and variable length records, up to the first point record.
std::vector<std::uint8_t> encodeLas14Prologue(const Las14Layout& layout, int dayOfYear, int year);
void encodeLas14Record(const SurveyPoint& p, const std::array<double, 3>& offset,
                       std::uint8_t* out);

// ---- PLY, binary little endian ----
constexpr std::size_t kPlyRecordLength = 72;
std::string plyHeader(std::uint64_t vertices, const std::vector<std::string>& comments);
void encodePlyRecord(const SurveyPoint& p, std::uint8_t* out);

} // namespace quarv
