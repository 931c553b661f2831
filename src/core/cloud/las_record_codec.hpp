// The coding of LAS point records: quantised coordinates, intensity from amplitude, and the
// decoding of any file's records into points. Shared by the reader, the writer and the exports.
#pragma once

#include "core/cloud/cloud_point.hpp"
#include "core/cloud/int_convert.hpp"
#include "core/cloud/las_header.hpp"

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>

namespace quarv {

// Amplitudes from 0 to this value map linearly onto intensities 0 to 65535.
constexpr double kLasFullScaleAmplitude = 875.0;

// Intensity of a written record: amplitudes at or above full scale saturate at 65535.
std::uint16_t lasIntensity(float amplitude, double intensityScale);

// Stored coordinate of v at `scale`: v / scale + 0.5 truncated toward zero. A coordinate beyond
// the i32 range (+-21 km at 10 um) is clamped to the nearest storable value instead of wrapping,
// and NaN is stored 0. Written as selects rather than early returns so that column loops over it
// compile to vector code.
inline std::int32_t lasQuantise(double v, double scale) {
    const double q = v / scale + 0.5;
    double c = q >= 2147483647.0 ? 2147483647.0 : q;
    c = q <= -2147483648.0 ? -2147483648.0 : c;
    c = q != q ? 0.0 : c; // NaN fails both comparisons above and is caught here
    return static_cast<std::int32_t>(c);
}

// lasQuantise(v, kLasScale) for a single-precision v, with a product by the reciprocal instead of
// the division. A product with a reciprocal does not round like a division in general; for this
// scale and every one of the 2^32 float values the stored integer is the same (the slow tests
// enumerate them all), and the product is several times cheaper than the division.
constexpr double kLasInverseScale = 1.0 / kLasScale;
inline std::int32_t lasQuantiseOwnScale(float v) {
    const double q = static_cast<double>(v) * kLasInverseScale + 0.5;
    double c = q >= 2147483647.0 ? 2147483647.0 : q;
    c = q <= -2147483648.0 ? -2147483648.0 : c;
    c = q != q ? 0.0 : c;
    return static_cast<std::int32_t>(c);
}

// The conversion of one file's point records into points, shared by LasFile::readPoint and the
// bulk import so that both give the same values. Each reading thread keeps its own decoder: it
// remembers the last angle words and their angles.
// The byte of a scan angle rank or user data argument: v + 0.5 truncated, low 8 bits.
inline std::uint8_t lasLowByteOfRounded(double v) {
    return static_cast<std::uint8_t>(static_cast<std::uint32_t>(truncToInt32(v + 0.5)) & 255u);
}

// The range a layer import gives a point: its distance from the origin, in double precision.
inline float lasRangeOf(float x, float y, float z) {
    const double dx = x, dy = y, dz = z;
    return static_cast<float>(std::sqrt(dx * dx + dy * dy + dz * dz));
}

// lasQuantise of n single-precision coordinates; our own scale takes the exact product path.
void lasQuantiseColumn(const float* v, std::size_t n, double scale, std::int32_t* out);
// lasIntensity of n amplitudes.
void lasIntensityColumn(const float* amplitude, std::size_t n, double scale, std::uint16_t* out);

class LasRecordDecoder {
public:
    LasRecordDecoder() = default;
    explicit LasRecordDecoder(const LasHeaderInfo& info);
    // The point of record r, as readPoint documents it (valid 1, range 0).
    void decode(const std::uint8_t* r, CloudPoint& p);
    // decode of n consecutive records `length` bytes apart into out[0] to out[n - 1], each with
    // range = |(x, y, z)| as a layer import stores it.
    void decodeWithRange(const std::uint8_t* records, std::size_t length, std::size_t n,
                         CloudPoint* out);

private:
    float coordinate(const std::uint8_t* r, std::size_t axis) const;
    // The words the azimuth and elevation of record r are made of.
    std::int16_t azimuthWord(const std::uint8_t* r) const;
    std::int16_t sourceWord(const std::uint8_t* r) const;
    bool anglesAsBefore(const std::uint8_t* r) const {
        return azimuthWord(r) == lastAzimuthWord_ && sourceWord(r) == lastSourceWord_;
    }
    void angles(const std::uint8_t* r);
    // Every field of p is written exactly once, straight from registers.
    void put(const std::uint8_t* r, CloudPoint& p, float x, float y, float z, float range,
             float amplitude);

    std::array<double, 3> scale_{1.0, 1.0, 1.0}, offset_{};
    std::size_t rankAt_ = 16, sourceAt_ = 18; // the formats 6-10 move them to 18 and 20
    // The angle words rarely change from record to record (never in our files): the last
    // division is reused.
    std::int16_t lastAzimuthWord_ = 0, lastSourceWord_ = 0;
    float lastAzimuth_ = 0.0f, lastElevation_ = 0.0f; // their angles: 0 / 1485 = 0
};

} // namespace quarv
