// The public header block of LAS files: the fields the reader uses, whatever version wrote them,
// and the 227-byte version 1.3 header with its projection record that our LAS exports carry.
#pragma once

#include "core/cloud/cloud_store.hpp"

#include <array>
#include <cstdint>
#include <string>

namespace quarv {

// The single-precision value of 0.00001 widened to double: our scale on all three axes.
constexpr double kLasScale = 9.999999747378752e-6;
constexpr std::size_t kLasHeaderSize = 227;
constexpr std::size_t kLasVlrHeaderSize = 54;
constexpr std::size_t kLasVlrDataSize = 16;
constexpr std::uint32_t kLasPointOffset = kLasHeaderSize + kLasVlrHeaderSize + kLasVlrDataSize;
constexpr std::size_t kLasRecordLength = 20;
// Version 1.4 carries a 64-bit point count in a 375-byte header.
constexpr std::size_t kLasHeader14Size = 375;

// Smallest record length of point formats 0 to 10; 0 for formats that do not exist.
std::size_t lasMinimumRecordLength(unsigned format);

// The fields of a public header that the reader uses, whatever version wrote it.
struct LasHeaderInfo {
    unsigned versionMajor = 0, versionMinor = 0;
    std::uint16_t headerSize = 0;
    std::uint32_t offsetToPoints = 0;
    std::uint32_t vlrCount = 0;
    unsigned pointFormat = 0;
    std::uint16_t recordLength = 0;
    std::uint64_t pointCount = 0;
    std::array<std::uint32_t, 5> pointsByReturn{};
    std::array<double, 3> scale{};
    std::array<double, 3> offset{};
    double maxX = 0, minX = 0, maxY = 0, minY = 0, maxZ = 0, minZ = 0;
    std::uint16_t creationDay = 0, creationYear = 0;
};

// Decodes and checks a public header. `bytes` holds the first `size` bytes of a file of
// `fileSize` bytes. On failure `why` names the problem for the operator and false is returned.
bool decodeLasHeader(const std::uint8_t* bytes, std::size_t size, std::uint64_t fileSize,
                     LasHeaderInfo& info, std::string& why);

// Local date of a file's creation: day of the year 1..366 and the four-digit year.
struct LasDate {
    int dayOfYear = 1;
    int year = 1970;
    static LasDate today();
};

// The 227-byte header of our exports for `bounds` (its count and extent) created on `date`.
std::array<std::uint8_t, kLasHeaderSize> encodeLasHeader(const CloudBounds& bounds, LasDate date);
// The projection record that follows it: record header and its 16 data bytes.
std::array<std::uint8_t, kLasVlrHeaderSize + kLasVlrDataSize> encodeLasProjectionRecord();

} // namespace quarv
