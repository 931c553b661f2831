#include "core/cloud/survey_records.hpp"

#include "core/cloud/las_record_codec.hpp"
#include "core/config/bytes.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace quarv {

namespace {

void putText(std::uint8_t* dst, std::size_t width, const std::string& text) {
    std::memset(dst, 0, width);
    std::memcpy(dst, text.data(), std::min(width, text.size()));
}

// Rounded to the nearest integer, halves away from zero, within [lo, hi]; NaN gives 0. A
// truncation of v +- 0.5 rather than a call to nearbyint, which without SSE4.1 is a library call
// per value: 2.25 M points make several such values each.
inline double roundedWithin(double v, double lo, double hi) {
    // Selects and sign copies rather than branches: the signs of coordinates are data.
    const double c = v == v ? std::min(std::max(v, lo), hi) : 0.0;
    return static_cast<double>(static_cast<std::int64_t>(c + std::copysign(0.5, c)));
}

constexpr double kInverseScale = 1.0 / kLas14Scale;

std::int32_t quantise(double v, double offset) {
    return static_cast<std::int32_t>(
        roundedWithin((v - offset) * kInverseScale, -2147483648.0, 2147483647.0));
}

template <typename T> T clampTo(double v) {
    return static_cast<T>(roundedWithin(v, 0.0, double(std::numeric_limits<T>::max())));
}

// Return number and number of returns: points that carry none (imports) are the one return of
// their pulse.
std::pair<unsigned, unsigned> returnsOf(const PointExtra& e) {
    const unsigned n = std::clamp<unsigned>(e.numberOfReturns == 0 ? 1 : e.numberOfReturns, 1, 15);
    const unsigned r = std::clamp<unsigned>(e.returnNumber == 0 ? 1 : e.returnNumber, 1, n);
    return {r, n};
}

std::uint8_t classificationOf(const SurveyPoint& p) {
    return p.hidden ? 7 : 1; // low noise : unclassified
}

struct ExtraField {
    const char* name;
    std::uint8_t type; // LAS extra bytes data type
    const char* description;
};
// Data types: 1 u8, 3 u16, 5 u32, 9 f32, 10 f64.
constexpr ExtraField kExtraFields[] = {
    {"range", 9, "corrected range, m"},
    {"snr", 9, "signal to noise ratio"},
    {"amplitude", 3, "peak amplitude, raw counts"},
    {"saturated", 1, "1: the digitiser saturated"},
    {"line", 5, "scan line"},
    {"shot", 5, "shot of the line"},
    {"peak position", 10, "peak, interpolated samples"},
    {"pulses", 3, "pulses averaged (stare), else 0"},
    {"range std dev", 9, "stare range std dev, m, else 0"},
};
constexpr std::size_t kDescriptorSize = 192;
constexpr std::size_t kVlrHeader = 54;

void putVlrHeader(std::uint8_t* b, const char* user, std::uint16_t id, std::size_t length,
                  const char* description) {
    putText(b + 2, 16, user);
    le::store<std::uint16_t>(b + 18, id);
    le::store<std::uint16_t>(b + 20, static_cast<std::uint16_t>(length));
    putText(b + 22, 32, description);
}

// The processing's attributes, packed in the same order in both formats (33 bytes): range,
// SNR, raw amplitude, saturated, line, shot, peak position, pulses, range spread.
void encodeAttributes(const SurveyPoint& s, std::uint8_t* e) {
    const CloudPoint& p = *s.point;
    le::store<float>(e, p.range);
    le::store<float>(e + 4, p.snr);
    le::store<std::uint16_t>(e + 8, clampTo<std::uint16_t>(p.amplitude));
    e[10] = p.saturated;
    le::store<std::uint32_t>(e + 11, p.line);
    le::store<std::uint32_t>(e + 15, s.extra.shot);
    le::store<double>(e + 19, p.peakPosition);
    le::store<std::uint16_t>(e + 27, s.extra.pulses);
    le::store<float>(e + 29, s.extra.rangeStdDev);
}

} // namespace

std::vector<std::uint8_t> encodeLas14Prologue(const Las14Layout& l, int dayOfYear, int year) {
    const std::size_t extraLength = std::size(kExtraFields) * kDescriptorSize;
    // The WKT record holds a null-terminated string.
    const std::size_t wktLength = l.wkt.empty() ? 0 : l.wkt.size() + 1;
    const std::size_t vlrs = l.wkt.empty() ? 1 : 2;
    const std::size_t total =
        kLas14HeaderSize + kVlrHeader + extraLength + (l.wkt.empty() ? 0 : kVlrHeader + wktLength);
    std::vector<std::uint8_t> out(total, 0);
    std::uint8_t* b = out.data();
    std::memcpy(b, "LASF", 4);
    // Global encoding: bit 4, the coordinate system is WKT. GPS time type (bit 0) stays 0: the
    // recordings carry no time and every point has GPS time 0.
    le::store<std::uint16_t>(b + 6, l.wkt.empty() ? 0 : 16);
    b[24] = 1;
    b[25] = 4;
    putText(b + 26, 32, "Vornsketh Sensor Data");
    putText(b + 58, 32, "Vornsketh quarv v5.0");
    le::store<std::uint16_t>(b + 90, static_cast<std::uint16_t>(dayOfYear));
    le::store<std::uint16_t>(b + 92, static_cast<std::uint16_t>(year));
    le::store<std::uint16_t>(b + 94, static_cast<std::uint16_t>(kLas14HeaderSize));
    le::store<std::uint32_t>(b + 96, static_cast<std::uint32_t>(total));
    le::store<std::uint32_t>(b + 100, static_cast<std::uint32_t>(vlrs));
    b[104] = 7;
    le::store<std::uint16_t>(b + 105, static_cast<std::uint16_t>(kLas14RecordLength));
    // Legacy counts as well as the 64-bit ones: every count of ours fits 32 bits.
    le::store<std::uint32_t>(b + 107, static_cast<std::uint32_t>(l.pointCount));
    for (std::size_t i = 0; i < 5; ++i)
        le::store<std::uint32_t>(b + 111 + 4 * i, static_cast<std::uint32_t>(l.byReturn[i]));
    for (std::size_t a = 0; a < 3; ++a) {
        le::store<double>(b + 131 + 8 * a, kLas14Scale);
        le::store<double>(b + 155 + 8 * a, l.offset[a]);
    }
    const double extent[6] = {l.maxX, l.minX, l.maxY, l.minY, l.maxZ, l.minZ};
    for (std::size_t i = 0; i < 6; ++i) le::store<double>(b + 179 + 8 * i, extent[i]);
    // 227: start of waveform data, 235: first extended record, 243: their number (all 0).
    le::store<std::uint64_t>(b + 247, l.pointCount);
    for (std::size_t i = 0; i < 15; ++i) le::store<std::uint64_t>(b + 255 + 8 * i, l.byReturn[i]);

    std::uint8_t* v = b + kLas14HeaderSize;
    putVlrHeader(v, "LASF_Spec", 4, extraLength, "quarv point attributes");
    v += kVlrHeader;
    for (const ExtraField& f : kExtraFields) {
        // reserved[2], data type, options (no no-data, min, max, scale or offset), name[32],
        // unused[4], no data, min, max, scale, offset with their deprecated gaps, description.
        v[2] = f.type;
        putText(v + 4, 32, f.name);
        putText(v + 160, 32, f.description);
        v += kDescriptorSize;
    }
    if (!l.wkt.empty()) {
        putVlrHeader(v, "LASF_Projection", 2112, wktLength, "OGC coordinate system WKT");
        std::memcpy(v + kVlrHeader, l.wkt.c_str(), wktLength);
    }
    return out;
}

void encodeLas14Record(const SurveyPoint& s, const std::array<double, 3>& offset,
                       std::uint8_t* out) {
    const CloudPoint& p = *s.point;
    const Rgb c = p.loadColor();
    const auto [r, n] = returnsOf(s.extra);
    le::store<std::int32_t>(out, quantise(s.x, offset[0]));
    le::store<std::int32_t>(out + 4, quantise(s.y, offset[1]));
    le::store<std::int32_t>(out + 8, quantise(s.z, offset[2]));
    le::store<std::uint16_t>(out + 12, lasIntensity(p.amplitude, 65535.0 / kLasFullScaleAmplitude));
    out[14] = static_cast<std::uint8_t>(r | n << 4);
    out[15] = 0; // classification flags, channel 0, scan direction 0, not an edge
    out[16] = classificationOf(s);
    out[17] = s.layer;
    // Scan angle in steps of 0.006 degrees from the azimuth, within +-180 degrees.
    const double angle = roundedWithin(double(p.azimuth) / 0.006, -30000.0, 30000.0);
    le::store<std::int16_t>(out + 18, static_cast<std::int16_t>(angle));
    le::store<std::uint16_t>(out + 20, s.sourceId);
    le::store<double>(out + 22, 0.0); // GPS time: recordings carry none
    // 8-bit colours spread over 16 bits (255 -> 65535).
    le::store<std::uint16_t>(out + 30, static_cast<std::uint16_t>(c.r * 257));
    le::store<std::uint16_t>(out + 32, static_cast<std::uint16_t>(c.g * 257));
    le::store<std::uint16_t>(out + 34, static_cast<std::uint16_t>(c.b * 257));
    encodeAttributes(s, out + kLas14CoreRecord);
}

std::string plyHeader(std::uint64_t vertices, const std::vector<std::string>& comments) {
    std::string h = "ply\nformat binary_little_endian 1.0\n";
    for (const std::string& c : comments) {
        std::string line = c;
        std::replace(line.begin(), line.end(), '\n', ' ');
        h += "comment " + line + "\n";
    }
    h += "element vertex " + std::to_string(vertices) + "\n";
    h += "property double x\nproperty double y\nproperty double z\n"
         "property uchar red\nproperty uchar green\nproperty uchar blue\n"
         "property float range\nproperty float snr\nproperty ushort amplitude\n"
         "property uchar saturated\nproperty uint line\nproperty uint shot\n"
         "property double peak_position\nproperty ushort pulses\nproperty float range_std_dev\n"
         "property ushort intensity\nproperty uchar return_number\n"
         "property uchar number_of_returns\nproperty uchar classification\n"
         "property uchar layer\nproperty ushort point_source_id\nproperty float scan_angle\n"
         "end_header\n";
    return h;
}

void encodePlyRecord(const SurveyPoint& s, std::uint8_t* out) {
    const CloudPoint& p = *s.point;
    const Rgb c = p.loadColor();
    const auto [r, n] = returnsOf(s.extra);
    le::store<double>(out, s.x);
    le::store<double>(out + 8, s.y);
    le::store<double>(out + 16, s.z);
    out[24] = c.r;
    out[25] = c.g;
    out[26] = c.b;
    encodeAttributes(s, out + 27);
    le::store<std::uint16_t>(out + 60, lasIntensity(p.amplitude, 65535.0 / kLasFullScaleAmplitude));
    out[62] = static_cast<std::uint8_t>(r);
    out[63] = static_cast<std::uint8_t>(n);
    out[64] = classificationOf(s);
    out[65] = s.layer;
    le::store<std::uint16_t>(out + 66, s.sourceId);
    le::store<float>(out + 68, p.azimuth);
}

} // namespace quarv
