#include "core/cloud/las_header.hpp"

#include "core/config/bytes.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ctime>

namespace quarv {

namespace {

// Offsets of the public header fields common to every LAS version.
constexpr std::size_t kVersionMajorAt = 24, kVersionMinorAt = 25;
constexpr std::size_t kCreationDayAt = 90, kCreationYearAt = 92;
constexpr std::size_t kHeaderSizeAt = 94, kOffsetToPointsAt = 96, kVlrCountAt = 100;
constexpr std::size_t kFormatAt = 104, kRecordLengthAt = 105, kPointCountAt = 107;
constexpr std::size_t kByReturnAt = 111, kScaleAt = 131, kOffsetAt = 155, kExtentAt = 179;
constexpr std::size_t kHeader14Size = kLasHeader14Size, kPointCount64At = 247;

void putText(std::uint8_t* dst, std::size_t width, const char* text) {
    std::memset(dst, 0, width);
    std::memcpy(dst, text, std::min(width, std::strlen(text)));
}

} // namespace

std::size_t lasMinimumRecordLength(unsigned format) {
    static constexpr std::size_t kLengths[] = {20, 28, 26, 34, 57, 63, 30, 36, 38, 59, 67};
    return format < std::size(kLengths) ? kLengths[format] : 0;
}

LasDate LasDate::today() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return {local.tm_yday + 1, local.tm_year + 1900};
}

std::array<std::uint8_t, kLasHeaderSize> encodeLasHeader(const CloudBounds& bounds, LasDate date) {
    std::array<std::uint8_t, kLasHeaderSize> h{};
    std::uint8_t* b = h.data();
    std::memcpy(b, "LASF", 4);
    le::store<std::uint16_t>(b + 4, 0);   // file source ID
    le::store<std::uint16_t>(b + 6, 2);   // global encoding
    le::store<std::uint32_t>(b + 8, 3);   // project ID: GUID data 1
    le::store<std::uint16_t>(b + 12, 13); // GUID data 2
    le::store<std::uint16_t>(b + 14, 0);  // GUID data 3
    putText(b + 16, 8, "data");           // GUID data 4
    b[kVersionMajorAt] = 1;
    b[kVersionMinorAt] = 3; // announced as 1.3 with the 227-byte header of 1.0-1.2
    putText(b + 26, 32, "Vornsketh Sensor Data");
    putText(b + 58, 32, "Vornsketh quarv v5.0");
    le::store<std::uint16_t>(b + kCreationDayAt, static_cast<std::uint16_t>(date.dayOfYear));
    le::store<std::uint16_t>(b + kCreationYearAt, static_cast<std::uint16_t>(date.year));
    le::store<std::uint16_t>(b + kHeaderSizeAt, static_cast<std::uint16_t>(kLasHeaderSize));
    le::store<std::uint32_t>(b + kOffsetToPointsAt, kLasPointOffset);
    le::store<std::uint32_t>(b + kVlrCountAt, 1);
    b[kFormatAt] = 0;
    le::store<std::uint16_t>(b + kRecordLengthAt, static_cast<std::uint16_t>(kLasRecordLength));
    le::store<std::uint32_t>(b + kPointCountAt, bounds.count);
    // Points by return: 1, 0, 0, 0, 0 (the first entry is 1, not the point count).
    le::store<std::uint32_t>(b + kByReturnAt, 1);
    for (int axis = 0; axis < 3; ++axis) {
        le::store<double>(b + kScaleAt + 8 * axis, kLasScale);
        le::store<double>(b + kOffsetAt + 8 * axis, 0.0);
    }
    const float extent[6] = {bounds.maxX, bounds.minX, bounds.maxY,
                             bounds.minY, bounds.maxZ, bounds.minZ};
    for (int i = 0; i < 6; ++i) le::store<double>(b + kExtentAt + 8 * i, extent[i]);
    return h;
}

std::array<std::uint8_t, kLasVlrHeaderSize + kLasVlrDataSize> encodeLasProjectionRecord() {
    std::array<std::uint8_t, kLasVlrHeaderSize + kLasVlrDataSize> r{};
    std::uint8_t* b = r.data();
    putText(b + 2, 16, "LASF_Projection");
    le::store<std::uint16_t>(b + 18, 34735); // GeoKeyDirectoryTag
    le::store<std::uint16_t>(b + 20, static_cast<std::uint16_t>(kLasVlrDataSize));
    putText(b + 22, 32, "LASF Header");
    // Key directory version 1.1.0 with one key entry whose ID, location, count and value are 0.
    const std::uint16_t keys[8] = {1, 1, 0, 1, 0, 0, 0, 0};
    for (int i = 0; i < 8; ++i) le::store<std::uint16_t>(b + kLasVlrHeaderSize + 2 * i, keys[i]);
    return r;
}

bool decodeLasHeader(const std::uint8_t* b, std::size_t size, std::uint64_t fileSize,
                     LasHeaderInfo& info, std::string& why) {
    if (size < kLasHeaderSize || fileSize < kLasHeaderSize || std::memcmp(b, "LASF", 4) != 0) {
        why = "not a LAS file";
        return false;
    }
    LasHeaderInfo h;
    h.versionMajor = b[kVersionMajorAt];
    h.versionMinor = b[kVersionMinorAt];
    h.creationDay = le::u16(b + kCreationDayAt);
    h.creationYear = le::u16(b + kCreationYearAt);
    h.headerSize = le::u16(b + kHeaderSizeAt);
    h.offsetToPoints = le::u32(b + kOffsetToPointsAt);
    h.vlrCount = le::u32(b + kVlrCountAt);
    h.pointFormat = b[kFormatAt];
    h.recordLength = le::u16(b + kRecordLengthAt);
    h.pointCount = le::u32(b + kPointCountAt);
    for (std::size_t i = 0; i < 5; ++i) h.pointsByReturn[i] = le::u32(b + kByReturnAt + 4 * i);
    for (std::size_t axis = 0; axis < 3; ++axis) {
        h.scale[axis] = le::f64(b + kScaleAt + 8 * axis);
        h.offset[axis] = le::f64(b + kOffsetAt + 8 * axis);
    }
    h.maxX = le::f64(b + kExtentAt);
    h.minX = le::f64(b + kExtentAt + 8);
    h.maxY = le::f64(b + kExtentAt + 16);
    h.minY = le::f64(b + kExtentAt + 24);
    h.maxZ = le::f64(b + kExtentAt + 32);
    h.minZ = le::f64(b + kExtentAt + 40);

    if (h.versionMajor != 1 || h.versionMinor > 4) {
        why = "unsupported version " + std::to_string(h.versionMajor) + "." +
              std::to_string(h.versionMinor);
        return false;
    }
    // The top bits of the format byte mark compressed point data.
    if (h.pointFormat & 0xC0u) {
        why = "compressed point data";
        return false;
    }
    const std::size_t minimum = lasMinimumRecordLength(h.pointFormat);
    if (minimum == 0) {
        why = "unsupported point format " + std::to_string(h.pointFormat);
        return false;
    }
    if (h.recordLength < minimum) {
        why = "point record length " + std::to_string(h.recordLength) + " too short for format " +
              std::to_string(h.pointFormat);
        return false;
    }
    if (h.headerSize < kLasHeaderSize || h.headerSize > fileSize ||
        h.offsetToPoints < h.headerSize || h.offsetToPoints > fileSize) {
        why = "header does not match the file size";
        return false;
    }
    if (h.versionMinor >= 4 && h.headerSize >= kHeader14Size && size >= kHeader14Size) {
        const std::uint64_t wide = le::load<std::uint64_t>(b + kPointCount64At);
        if (wide != 0) h.pointCount = wide;
    }
    // count x length <= bytes after the offset, as a division so that it cannot overflow.
    if (h.pointCount > (fileSize - h.offsetToPoints) / h.recordLength) {
        why = "header does not match the file size";
        return false;
    }
    for (std::size_t axis = 0; axis < 3; ++axis) {
        if (!std::isfinite(h.scale[axis]) || h.scale[axis] == 0.0 ||
            !std::isfinite(h.offset[axis])) {
            why = "invalid scale or offset";
            return false;
        }
    }
    info = h;
    return true;
}

} // namespace quarv
