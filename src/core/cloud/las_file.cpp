#include "core/cloud/las_file.hpp"

#include "core/app/message_sink.hpp"
#include "core/cloud/cloud_export.hpp"
#include "core/cloud/int_convert.hpp"
#include "core/config/bytes.hpp"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <cstddef>
#include <cstring>
#include <ctime>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <unistd.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quarv {

namespace {

// Offsets of the public header fields common to every LAS version.
constexpr std::size_t kVersionMajorAt = 24, kVersionMinorAt = 25;
constexpr std::size_t kCreationDayAt = 90, kCreationYearAt = 92;
constexpr std::size_t kHeaderSizeAt = 94, kOffsetToPointsAt = 96, kVlrCountAt = 100;
constexpr std::size_t kFormatAt = 104, kRecordLengthAt = 105, kPointCountAt = 107;
constexpr std::size_t kByReturnAt = 111, kScaleAt = 131, kOffsetAt = 155, kExtentAt = 179;
// Version 1.4 carries a 64-bit point count in a 375-byte header.
constexpr std::size_t kHeader14Size = 375, kPointCount64At = 247;

constexpr std::size_t kReadChunkBytes = 1 << 16;
// Records per write: a quarter megabyte, two such buffers stay in the cache while one is being
// encoded and the other written.
constexpr std::size_t kWriteChunkRecords = 12800;

void putText(std::uint8_t* dst, std::size_t width, const char* text) {
    std::memset(dst, 0, width);
    std::memcpy(dst, text, std::min(width, std::strlen(text)));
}

std::uint8_t lowByteOfRounded(double v) {
    return static_cast<std::uint8_t>(static_cast<std::uint32_t>(truncToInt32(v + 0.5)) & 255u);
}

// lasQuantise of n single-precision coordinates; our own scale takes the exact product path.
void quantiseColumn(const float* v, std::size_t n, double scale, std::int32_t* out) {
    std::size_t i = 0;
    if (scale != kLasScale) {
        for (; i < n; ++i) out[i] = lasQuantise(v[i], scale);
        return;
    }
#if defined(__SSE2__)
    // Four values at a time, each as lasQuantiseOwnScale computes it: widened, multiplied and
    // rounded up by a half in double precision, then truncated. The truncation gives INT32_MIN
    // where the clamps of the scalar rule would apply (NaN, out of range, and the few values
    // whose truncation is INT32_MIN anyway); such groups, rare in a cloud, are redone one by one.
    const __m128d inverse = _mm_set1_pd(kLasInverseScale), half = _mm_set1_pd(0.5);
    const __m128i indefinite = _mm_set1_epi32(std::numeric_limits<std::int32_t>::min());
    for (; i + 4 <= n; i += 4) {
        const __m128 f = _mm_loadu_ps(v + i);
        const __m128d lo = _mm_add_pd(_mm_mul_pd(_mm_cvtps_pd(f), inverse), half);
        const __m128d hi = _mm_add_pd(_mm_mul_pd(_mm_cvtps_pd(_mm_movehl_ps(f, f)), inverse), half);
        const __m128i q = _mm_unpacklo_epi64(_mm_cvttpd_epi32(lo), _mm_cvttpd_epi32(hi));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), q);
        if (_mm_movemask_epi8(_mm_cmpeq_epi32(q, indefinite)) != 0) {
            for (std::size_t j = i; j < i + 4; ++j) out[j] = lasQuantiseOwnScale(v[j]);
        }
    }
#endif
    for (; i < n; ++i) out[i] = lasQuantiseOwnScale(v[i]);
}

// lasIntensity of n amplitudes.
void intensityColumn(const float* amplitude, std::size_t n, double scale, std::uint16_t* out) {
    std::size_t i = 0;
#if defined(__SSE2__)
    // Four at a time: the truncation's INT32_MIN for NaN and out-of-range products has the low
    // 16 bits 0 that lasIntensity gives them, and saturated lanes are set to all ones.
    const __m128d factor = _mm_set1_pd(scale), top = _mm_set1_pd(65535.0);
    const __m128 full = _mm_set1_ps(static_cast<float>(kLasFullScaleAmplitude));
    for (; i + 4 <= n; i += 4) {
        const __m128 a = _mm_loadu_ps(amplitude + i);
        const __m128d lo = _mm_mul_pd(_mm_cvtps_pd(a), factor);
        const __m128d hi = _mm_mul_pd(_mm_cvtps_pd(_mm_movehl_ps(a, a)), factor);
        const __m128i t = _mm_unpacklo_epi64(_mm_cvttpd_epi32(lo), _mm_cvttpd_epi32(hi));
        // The 64-bit masks of the double comparisons narrowed to one 32-bit mask per lane.
        const __m128 above =
            _mm_shuffle_ps(_mm_castpd_ps(_mm_cmpgt_pd(lo, top)),
                           _mm_castpd_ps(_mm_cmpgt_pd(hi, top)), _MM_SHUFFLE(2, 0, 2, 0));
        const __m128i saturated = _mm_castps_si128(_mm_or_ps(above, _mm_cmpge_ps(a, full)));
        // The low 16 bits of each lane, sign-extended so that the signed pack keeps them.
        const __m128i low = _mm_srai_epi32(_mm_slli_epi32(_mm_or_si128(t, saturated), 16), 16);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i), _mm_packs_epi32(low, low));
    }
#endif
    for (; i < n; ++i) out[i] = lasIntensity(amplitude[i], scale);
}

// The amplitude a record's intensity stands for: intensity / 65535 of full scale.
inline float amplitudeOf(std::uint16_t intensity) {
    return static_cast<float>(intensity / 65535.0 * kLasFullScaleAmplitude);
}

std::string fileName(const std::filesystem::path& path) {
    return path.string();
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

std::uint16_t lasIntensity(float amplitude, double intensityScale) {
    const double w = amplitude * intensityScale;
    // Low 16 bits of the truncated value: a negative amplitude wraps; NaN and values outside the
    // i32 range give 0, the low bits of truncToInt32's INT32_MIN. Selects, not branches, so that
    // the column loop of writePoints vectorises.
    const double t = (w > -2147483649.0 && w < 2147483648.0) ? w : 0.0;
    const auto low = static_cast<std::uint16_t>(
        static_cast<std::uint32_t>(static_cast<std::int32_t>(t)) & 0xFFFFu);
    // Amplitudes at or above full scale and values above 65535 after scaling saturate.
    return amplitude >= static_cast<float>(kLasFullScaleAmplitude) || w > 65535.0 ? 65535 : low;
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

LasFile::LasFile() = default;

LasFile::~LasFile() {
    writer_.abandon();
    if (in_) std::fclose(in_);
}

bool LasFile::create(const std::filesystem::path& path, const CloudBounds& bounds) {
    close();
    if (!writer_.open(path)) return false;
    path_ = path;
    // The header announces our scale; a reader that loaded a foreign file before must not
    // quantise with that file's.
    scale_ = {kLasScale, kLasScale, kLasScale};
    stamp_ = LasDate::today();
    header_ = encodeLasHeader(bounds, stamp_);
    const auto vlr = encodeLasProjectionRecord();
    buffer_.assign(kWriteChunkRecords * kLasRecordLength, 0);
    bufferUsed_ = 0;
    if (!writer_.write(header_.data(), header_.size()) || !writer_.write(vlr.data(), vlr.size())) {
        writer_.abandon();
        return false;
    }
    return true;
}

bool LasFile::writePoint(double x, double y, double z, float amplitude, bool edge, double scanAngle,
                         double userData) {
    if (!writer_.isOpen()) return false;
    if (bufferUsed_ + kLasRecordLength > buffer_.size() && !flushPoints()) return false;
    std::uint8_t* r = buffer_.data() + bufferUsed_;
    le::store<std::int32_t>(r, lasQuantise(x, scale_[0]));
    le::store<std::int32_t>(r + 4, lasQuantise(y, scale_[1]));
    le::store<std::int32_t>(r + 8, lasQuantise(z, scale_[2]));
    le::store<std::uint16_t>(r + 12, lasIntensity(amplitude, intensityScale_));
    // Return 1 of 1, scan direction flag set; the edge of flight line bit on request.
    r[14] = edge ? 0xC9 : 0x49;
    r[15] = 0; // classification
    r[16] = lowByteOfRounded(scanAngle);
    r[17] = lowByteOfRounded(userData);
    le::store<std::uint16_t>(r + 18, 1); // point source ID
    bufferUsed_ += kLasRecordLength;
    return true;
}

void LasFile::encodeRecords(const float* x, const float* y, const float* z, const float* amplitude,
                            std::size_t n, bool edge, double scanAngle, double userData,
                            std::uint8_t* out) const {
    // Bytes 14 to 19 are the same in every record of the call: flags and classification 0, then
    // scan angle rank, user data and point source ID 1.
    const std::uint64_t flags = edge ? 0xC9 : 0x49;
    const std::uint32_t tail = lowByteOfRounded(scanAngle) |
                               static_cast<std::uint32_t>(lowByteOfRounded(userData)) << 8 |
                               std::uint32_t{1} << 16;
    // The columns are converted a block at a time into integer columns (vector code), then
    // interleaved into records.
    constexpr std::size_t kBlock = 512;
    std::array<std::int32_t, kBlock> qx, qy, qz;
    std::array<std::uint16_t, kBlock> qi;
    while (n > 0) {
        const std::size_t m = std::min(n, kBlock);
        quantiseColumn(x, m, scale_[0], qx.data());
        quantiseColumn(y, m, scale_[1], qy.data());
        quantiseColumn(z, m, scale_[2], qz.data());
        intensityColumn(amplitude, m, intensityScale_, qi.data());
        // A record as two 64-bit words and one 32-bit word, composed in registers.
        for (std::size_t i = 0; i < m; ++i, out += kLasRecordLength) {
            le::store<std::uint64_t>(out,
                                     static_cast<std::uint32_t>(qx[i]) |
                                         std::uint64_t{static_cast<std::uint32_t>(qy[i])} << 32);
            le::store<std::uint64_t>(out + 8, static_cast<std::uint32_t>(qz[i]) |
                                                  std::uint64_t{qi[i]} << 32 | flags << 48);
            le::store<std::uint32_t>(out + 16, tail);
        }
        x += m, y += m, z += m, amplitude += m;
        n -= m;
    }
}

bool LasFile::writeRecords(const std::uint8_t* records, std::size_t bytes) {
    if (!writer_.isOpen()) return false;
    const bool ok = flushPoints();
    return writer_.write(records, bytes) && ok;
}

bool LasFile::flushPoints() {
    const bool ok = writer_.write(buffer_.data(), bufferUsed_);
    bufferUsed_ = 0;
    return ok;
}

bool LasFile::updateHeader(const CloudBounds& bounds) {
    if (!writer_.isOpen() || !flushPoints()) return false;
    header_ = encodeLasHeader(bounds, stamp_);
    std::FILE* f = writer_.stream();
    if (std::fseek(f, 0, SEEK_SET) != 0) return false;
    const bool ok = writer_.write(header_.data(), header_.size());
    return std::fseek(f, 0, SEEK_END) == 0 && ok;
}

bool LasFile::openRead(const std::filesystem::path& path, MessageSink& sink) {
    close();
    info_ = LasHeaderInfo{};
    header_.fill(0);
    recordsRead_ = recordsBuffered_ = 0;
    bufferUsed_ = bufferPos_ = 0;
    ended_ = false;

    std::error_code ec;
    const bool regular = std::filesystem::is_regular_file(path, ec);
    // Only a regular file is opened: opening a FIFO or a device can block for ever.
    if (!regular && !std::filesystem::exists(path, ec)) return false;
    std::FILE* f = regular ? std::fopen(path.c_str(), "rb") : nullptr;
    if (regular && !f) return false;
    const std::uintmax_t fileSize = regular ? std::filesystem::file_size(path, ec) : 0;
    auto refuse = [&](const std::string& why) {
        if (f) std::fclose(f);
        sink.report(
            formatMessage("ERROR: Loading LAS file, %s: %s", why.c_str(), fileName(path).c_str()));
        return false;
    };
    if (!regular || ec) return refuse("not a LAS file");

    std::array<std::uint8_t, kHeader14Size> head{};
    const std::size_t got = std::fread(head.data(), 1, head.size(), f);
    LasHeaderInfo info;
    std::string why;
    if (!decodeLasHeader(head.data(), got, fileSize, info, why)) return refuse(why);
    if (fseeko(f, static_cast<off_t>(info.offsetToPoints), SEEK_SET) != 0)
        return refuse("header does not match the file size");

    std::memcpy(header_.data(), head.data(), kLasHeaderSize);
    info_ = info;
    scale_ = info.scale;
    decoder_ = LasRecordDecoder(info);
    path_ = path;
    in_ = f;
    const std::size_t records = std::max<std::size_t>(1, kReadChunkBytes / info.recordLength);
    buffer_.resize(records * info.recordLength);
    return true;
}

bool LasFile::refill() {
    if (ended_) return false;
    const std::size_t length = info_.recordLength;
    const std::uint64_t left = info_.pointCount - recordsBuffered_;
    const std::size_t want =
        static_cast<std::size_t>(std::min<std::uint64_t>(left, buffer_.size() / length));
    if (want == 0) return false;
    const std::size_t got = std::fread(buffer_.data(), 1, want * length, in_);
    // A file that shrank since it was opened ends at its last complete record.
    bufferUsed_ = got - got % length;
    bufferPos_ = 0;
    recordsBuffered_ += bufferUsed_ / length;
    return bufferUsed_ > 0;
}

LasRecordDecoder::LasRecordDecoder(const LasHeaderInfo& info)
    : scale_(info.scale), offset_(info.offset), rankAt_(info.pointFormat >= 6 ? 18 : 16),
      sourceAt_(info.pointFormat >= 6 ? 20 : 18) {}

inline float LasRecordDecoder::coordinate(const std::uint8_t* r, std::size_t axis) const {
    return static_cast<float>(le::i32(r + 4 * axis) * scale_[axis] + offset_[axis]);
}

// Our files carry the azimuth bytes in the scan angle rank (low) and user data (high), the
// elevation in the point source ID. The extended formats 6-10 keep user data at 17 but move the
// scan angle to a 16-bit field at 18 (its low byte stands in for the rank) and the source ID to 20.
inline std::int16_t LasRecordDecoder::azimuthWord(const std::uint8_t* r) const {
    return static_cast<std::int16_t>(r[rankAt_] | (r[17] << 8));
}

inline std::int16_t LasRecordDecoder::sourceWord(const std::uint8_t* r) const {
    return le::i16(r + sourceAt_);
}

inline void LasRecordDecoder::angles(const std::uint8_t* r) {
    const std::int16_t azimuth = azimuthWord(r), source = sourceWord(r);
    if (azimuth != lastAzimuthWord_) {
        lastAzimuthWord_ = azimuth;
        lastAzimuth_ = static_cast<float>(azimuth / 1485.0);
    }
    if (source != lastSourceWord_) {
        lastSourceWord_ = source;
        lastElevation_ = static_cast<float>(source / 1485.0);
    }
}

inline void LasRecordDecoder::put(const std::uint8_t* r, CloudPoint& p, float x, float y, float z,
                                  float range, float amplitude) {
    angles(r);
    const std::uint16_t intensity = le::u16(r + 12);
    p.x = x;
    p.y = y;
    p.z = z;
    p.color = Rgb{};
    p.azimuth = lastAzimuth_;
    p.elevation = lastElevation_;
    p.range = range;
    p.amplitude = amplitude;
    p.snr = static_cast<float>(intensity);
    p.saturated = intensity > 65534 ? 1 : 0;
    p.valid = 1;
    p.sequence = 0;
    p.line = 0;
    p.peakPosition = 0.0f;
}

void LasRecordDecoder::decode(const std::uint8_t* r, CloudPoint& p) {
    put(r, p, coordinate(r, 0), coordinate(r, 1), coordinate(r, 2), 0.0f,
        amplitudeOf(le::u16(r + 12)));
}

namespace {
// The range a layer import gives a point: its distance from the origin, in double precision.
inline float rangeOf(float x, float y, float z) {
    const double dx = x, dy = y, dz = z;
    return static_cast<float>(std::sqrt(dx * dx + dy * dy + dz * dz));
}
} // namespace

void LasRecordDecoder::decodeWithRange(const std::uint8_t* records, std::size_t length,
                                       std::size_t n, CloudPoint* out) {
    std::size_t i = 0;
#if defined(__SSE2__)
    // Four records at a time, each value computed as the scalar rules below compute it (the same
    // double-precision operations in the same order), the points written as three 16-byte stores
    // and one 4-byte store each.
    const __m128d scaleX = _mm_set1_pd(scale_[0]), scaleY = _mm_set1_pd(scale_[1]);
    const __m128d scaleZ = _mm_set1_pd(scale_[2]), offsetX = _mm_set1_pd(offset_[0]);
    const __m128d offsetY = _mm_set1_pd(offset_[1]), offsetZ = _mm_set1_pd(offset_[2]);
    const __m128d fullCount = _mm_set1_pd(65535.0);
    const __m128d fullScale = _mm_set1_pd(kLasFullScaleAmplitude);
    const __m128i low16 = _mm_set1_epi32(0xFFFF), saturatedCount = _mm_set1_epi32(65535);
    const __m128i saturatedBit = _mm_set1_epi32(0x0001), validBit = _mm_set1_epi32(0x0100);
    // Four int32 lanes as two pairs of doubles, scaled and offset, narrowed back to four floats.
    const auto coordinates = [](__m128i v, __m128d scale, __m128d offset) {
        const __m128d lo = _mm_add_pd(_mm_mul_pd(_mm_cvtepi32_pd(v), scale), offset);
        const __m128d hi =
            _mm_add_pd(_mm_mul_pd(_mm_cvtepi32_pd(_mm_srli_si128(v, 8)), scale), offset);
        return _mm_movelh_ps(_mm_cvtpd_ps(lo), _mm_cvtpd_ps(hi));
    };
    const auto squares = [](__m128d x, __m128d y, __m128d z) {
        return _mm_add_pd(_mm_add_pd(_mm_mul_pd(x, x), _mm_mul_pd(y, y)), _mm_mul_pd(z, z));
    };
    for (; i + 4 <= n; i += 4, records += 4 * length) {
        // Bytes 0-15 of every point format: X, Y, Z, intensity and two more bytes. Transposed,
        // one register per field.
        const std::uint8_t* r = records;
        __m128 f0 = _mm_loadu_ps(reinterpret_cast<const float*>(r));
        __m128 f1 = _mm_loadu_ps(reinterpret_cast<const float*>(r + length));
        __m128 f2 = _mm_loadu_ps(reinterpret_cast<const float*>(r + 2 * length));
        __m128 f3 = _mm_loadu_ps(reinterpret_cast<const float*>(r + 3 * length));
        _MM_TRANSPOSE4_PS(f0, f1, f2, f3);
        __m128 x = coordinates(_mm_castps_si128(f0), scaleX, offsetX);
        __m128 y = coordinates(_mm_castps_si128(f1), scaleY, offsetY);
        __m128 z = coordinates(_mm_castps_si128(f2), scaleZ, offsetZ);
        const __m128i intensity = _mm_and_si128(_mm_castps_si128(f3), low16);
        const __m128d rangeLo =
            _mm_sqrt_pd(squares(_mm_cvtps_pd(x), _mm_cvtps_pd(y), _mm_cvtps_pd(z)));
        const __m128d rangeHi = _mm_sqrt_pd(squares(_mm_cvtps_pd(_mm_movehl_ps(x, x)),
                                                    _mm_cvtps_pd(_mm_movehl_ps(y, y)),
                                                    _mm_cvtps_pd(_mm_movehl_ps(z, z))));
        __m128 range = _mm_movelh_ps(_mm_cvtpd_ps(rangeLo), _mm_cvtpd_ps(rangeHi));
        const __m128d amplitudeLo =
            _mm_mul_pd(_mm_div_pd(_mm_cvtepi32_pd(intensity), fullCount), fullScale);
        const __m128d amplitudeHi = _mm_mul_pd(
            _mm_div_pd(_mm_cvtepi32_pd(_mm_srli_si128(intensity, 8)), fullCount), fullScale);
        __m128 amplitude = _mm_movelh_ps(_mm_cvtpd_ps(amplitudeLo), _mm_cvtpd_ps(amplitudeHi));
        const __m128 snr = _mm_cvtepi32_ps(intensity);
        // The angle words rarely change (never in our files): then the last angles serve all
        // four points, straight from registers.
        bool unchanged = true;
        for (std::size_t j = 0; j < 4; ++j) unchanged = unchanged & anglesAsBefore(r + j * length);
        __m128 az = _mm_set1_ps(lastAzimuth_), el = _mm_set1_ps(lastElevation_);
        if (!unchanged) {
            float azimuth[4], elevation[4];
            for (std::size_t j = 0; j < 4; ++j) {
                angles(r + j * length);
                azimuth[j] = lastAzimuth_;
                elevation[j] = lastElevation_;
            }
            az = _mm_setr_ps(azimuth[0], azimuth[1], azimuth[2], azimuth[3]);
            el = _mm_setr_ps(elevation[0], elevation[1], elevation[2], elevation[3]);
        }
        // Back to one register per point: x, y, z, colour and pad 0 / azimuth, elevation, range,
        // amplitude / snr, saturated and valid bytes, sequence 0, line 0.
        __m128 pad = _mm_setzero_ps();
        _MM_TRANSPOSE4_PS(x, y, z, pad);
        _MM_TRANSPOSE4_PS(az, el, range, amplitude);
        const __m128i flags = _mm_or_si128(
            validBit, _mm_and_si128(_mm_cmpeq_epi32(intensity, saturatedCount), saturatedBit));
        const __m128i lo = _mm_unpacklo_epi32(_mm_castps_si128(snr), flags);
        const __m128i hi = _mm_unpackhi_epi32(_mm_castps_si128(snr), flags);
        const __m128 first[4] = {x, y, z, pad};
        const __m128 second[4] = {az, el, range, amplitude};
        const __m128i third[4] = {_mm_move_epi64(lo), _mm_srli_si128(lo, 8), _mm_move_epi64(hi),
                                  _mm_srli_si128(hi, 8)};
        for (std::size_t j = 0; j < 4; ++j) {
            auto* p = reinterpret_cast<std::uint8_t*>(out + i + j);
            _mm_storeu_ps(reinterpret_cast<float*>(p), first[j]);
            _mm_storeu_ps(reinterpret_cast<float*>(p + 16), second[j]);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 32), third[j]);
            out[i + j].peakPosition = 0.0f;
        }
    }
#endif
    for (; i < n; ++i, records += length) {
        const float x = coordinate(records, 0), y = coordinate(records, 1);
        const float z = coordinate(records, 2);
        put(records, out[i], x, y, z, rangeOf(x, y, z), amplitudeOf(le::u16(records + 12)));
    }
}

#if defined(__SSE2__)
static_assert(sizeof(CloudPoint) == 52 && offsetof(CloudPoint, x) == 0 &&
                  offsetof(CloudPoint, y) == 4 && offsetof(CloudPoint, z) == 8 &&
                  offsetof(CloudPoint, color) == 12 && offsetof(CloudPoint, azimuth) == 16 &&
                  offsetof(CloudPoint, elevation) == 20 && offsetof(CloudPoint, range) == 24 &&
                  offsetof(CloudPoint, amplitude) == 28 && offsetof(CloudPoint, snr) == 32 &&
                  offsetof(CloudPoint, saturated) == 36 && offsetof(CloudPoint, valid) == 37 &&
                  offsetof(CloudPoint, sequence) == 40 && offsetof(CloudPoint, line) == 44 &&
                  offsetof(CloudPoint, peakPosition) == 48,
              "the vector stores of decodeWithRange follow this layout");
#endif

bool LasFile::readPoint(CloudPoint& p) {
    if (!in_ || recordsRead_ >= info_.pointCount) return false;
    if (bufferPos_ >= bufferUsed_ && !refill()) return false;
    const std::uint8_t* r = buffer_.data() + bufferPos_;
    bufferPos_ += info_.recordLength;
    ++recordsRead_;
    decoder_.decode(r, p);
    return true;
}

std::size_t LasFile::readRecords(std::size_t count, std::uint8_t* out) {
    if (!in_ || recordsRead_ >= info_.pointCount) return 0;
    const std::size_t length = info_.recordLength;
    count =
        static_cast<std::size_t>(std::min<std::uint64_t>(count, info_.pointCount - recordsRead_));
    const std::size_t fromBuffer = std::min(count, (bufferUsed_ - bufferPos_) / length);
    if (fromBuffer > 0) std::memcpy(out, buffer_.data() + bufferPos_, fromBuffer * length);
    bufferPos_ += fromBuffer * length;
    recordsRead_ += fromBuffer;
    std::size_t done = fromBuffer;
    if (done < count && !ended_) {
        const std::size_t want = (count - done) * length;
        const std::size_t got = std::fread(out + done * length, 1, want, in_);
        // As in refill: the file ends at its last complete record and stays ended.
        const std::size_t records = got / length;
        recordsRead_ += records;
        recordsBuffered_ += records;
        done += records;
        ended_ = got < want;
    }
    return done;
}

std::size_t LasFile::readRecordsAt(std::uint64_t first, std::size_t count,
                                   std::uint8_t* out) const {
    if (!in_ || first >= info_.pointCount) return 0;
    const std::size_t length = info_.recordLength;
    count = static_cast<std::size_t>(std::min<std::uint64_t>(count, info_.pointCount - first));
    const int fd = ::fileno(in_);
    // Below the file size checked by openRead: the offsets cannot overflow.
    auto at = static_cast<off_t>(info_.offsetToPoints + first * length);
    const std::size_t want = count * length;
    std::size_t got = 0;
    while (got < want) {
        const ssize_t n = ::pread(fd, out + got, want - got, at);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break; // end of a file that shrank, or a read error: ends here
        got += static_cast<std::size_t>(n);
        at += n;
    }
    return got / length;
}

void LasFile::continueAt(std::uint64_t next, bool ended) {
    if (!in_) return;
    recordsRead_ = recordsBuffered_ = std::min(next, info_.pointCount);
    bufferUsed_ = bufferPos_ = 0;
    const auto at = static_cast<off_t>(info_.offsetToPoints + recordsRead_ * info_.recordLength);
    ended_ = ended || fseeko(in_, at, SEEK_SET) != 0;
}

bool LasFile::close() {
    bool ok = true;
    if (writer_.isOpen()) {
        ok = flushPoints();
        ok = writer_.commit() && ok;
    }
    if (in_) {
        std::fclose(in_);
        in_ = nullptr;
    }
    return ok;
}

namespace {

// Positions and amplitudes of visible points, gathered from the slots for encoding.
struct VisibleColumns {
    static constexpr std::size_t kBlock = 2048;
    std::array<float, kBlock> x, y, z, amplitude;
    std::size_t n = 0;

    // Appends the visible points of points[i] to points[end - 1] until the columns are full,
    // widening `box` (position and count) as CloudBounds::add would. Returns the next slot.
    std::uint32_t gather(const CloudPoint* points, std::uint32_t i, std::uint32_t end,
                         CloudBounds& box) {
        // The box in locals: the stores into the columns could otherwise alias it, and the
        // loop would keep it in memory.
        float minX = box.minX, maxX = box.maxX, minY = box.minY, maxY = box.maxY;
        float minZ = box.minZ, maxZ = box.maxZ;
        // Without a branch on the valid flag: every point is stored at k, which only a visible
        // point moves on, and a hidden point widens the box by the box's own values (no change).
        std::size_t k = n;
        for (; i < end && k < kBlock; ++i) {
            const CloudPoint& p = points[i];
            const bool visible = p.isValid();
            const float px = p.x, py = p.y, pz = p.z;
            x[k] = px, y[k] = py, z[k] = pz, amplitude[k] = p.amplitude;
            const float loX = visible ? px : minX, hiX = visible ? px : maxX;
            const float loY = visible ? py : minY, hiY = visible ? py : maxY;
            const float loZ = visible ? pz : minZ, hiZ = visible ? pz : maxZ;
            minX = loX < minX ? loX : minX;
            maxX = hiX > maxX ? hiX : maxX;
            minY = loY < minY ? loY : minY;
            maxY = hiY > maxY ? hiY : maxY;
            minZ = loZ < minZ ? loZ : minZ;
            maxZ = hiZ > maxZ ? hiZ : maxZ;
            k += visible ? 1 : 0;
        }
        box.minX = minX, box.maxX = maxX, box.minY = minY, box.maxY = maxY;
        box.minZ = minZ, box.maxZ = maxZ;
        box.count += static_cast<std::uint32_t>(k - n);
        n = k;
        return i;
    }
};

// Widens `into` by a box gathered after the points it covers, with the rule of CloudBounds::add:
// a tie keeps the earlier value (so of +0 and -0 the one met first), as one pass over all the
// points would.
void widen(CloudBounds& into, const CloudBounds& later) {
    if (later.minX < into.minX) into.minX = later.minX;
    if (later.maxX > into.maxX) into.maxX = later.maxX;
    if (later.minY < into.minY) into.minY = later.minY;
    if (later.maxY > into.maxY) into.maxY = later.maxY;
    if (later.minZ < into.minZ) into.minZ = later.minZ;
    if (later.maxZ > into.maxZ) into.maxZ = later.maxZ;
    into.count += later.count;
}

// The point records of an export, encoded by two threads and written in order. The slots are cut
// into chunks; each thread takes the next chunk, encodes its visible points into its own buffer
// and, when the chunks before it are out, writes the buffer itself and takes the next one. The
// copy into the file thus reads records still in the cache of the core that encoded them, and
// one thread's write overlaps the other's encoding.
class RecordExport {
public:
    RecordExport(const CloudStore& store, LasFile& las) : las_(las) {
        store.forEachLayerInUse([this](std::uint32_t, const CloudPoint* points, std::uint32_t n) {
            for (std::uint32_t first = 0; first < n; first += kChunkSlots)
                chunks_.push_back({points, first, std::min(n, first + kChunkSlots)});
        });
    }

    // False once a write failed. `bounds` receives the box of the points written.
    bool run(CloudBounds& bounds) {
        std::thread helper;
        if (chunks_.size() > 1) {
            try {
                helper = std::thread([this] {
                    try {
                        work();
                    } catch (const std::bad_alloc&) {
                        // Refused its buffers before taking a chunk: the caller does them all.
                    }
                });
            } catch (const std::system_error&) {
                // No second thread to be had: this one does all the chunks.
            }
        }
        work();
        if (helper.joinable()) helper.join();
        bounds = bounds_;
        return !failed_;
    }

private:
    // Slots per chunk: the records of a chunk (a quarter megabyte at most) stay in the cache
    // between their encoding and their copy into the file.
    static constexpr std::uint32_t kChunkSlots = 12800;

    struct Chunk {
        const CloudPoint* points;
        std::uint32_t first, end;
    };

    // Takes, encodes and writes chunks until none is left. Allocates only before taking the
    // first, so that a refused allocation leaves no chunk without its turn.
    void work() {
        auto columns = std::make_unique<VisibleColumns>();
        std::vector<std::uint8_t> records(std::size_t{kChunkSlots} * kLasRecordLength);
        for (;;) {
            if (stopped_.load(std::memory_order_relaxed)) return;
            const std::size_t k = next_.fetch_add(1, std::memory_order_relaxed);
            if (k >= chunks_.size()) return;
            const Chunk& chunk = chunks_[k];
            CloudBounds box;
            std::size_t bytes = 0;
            for (std::uint32_t i = chunk.first; i < chunk.end;) {
                i = columns->gather(chunk.points, i, chunk.end, box);
                if (columns->n == VisibleColumns::kBlock || i == chunk.end) {
                    VisibleColumns& c = *columns;
                    las_.encodeRecords(c.x.data(), c.y.data(), c.z.data(), c.amplitude.data(), c.n,
                                       false, 1.0, 1.0, records.data() + bytes);
                    bytes += c.n * kLasRecordLength;
                    c.n = 0;
                }
            }
            std::unique_lock lock(mutex_);
            turn_.wait(lock, [&] { return written_ == k; });
            // The chunks before this one are out: the file is this thread's until written_
            // moves on. A failed write leaves the remaining chunks unwritten.
            if (!failed_) {
                lock.unlock();
                const bool ok = las_.writeRecords(records.data(), bytes);
                lock.lock();
                failed_ = !ok;
                widen(bounds_, box);
                // Chunks already taken still pass their turn; no further one is encoded.
                if (!ok) stopped_.store(true, std::memory_order_relaxed);
            }
            ++written_;
            turn_.notify_all();
        }
    }

    LasFile& las_;
    std::vector<Chunk> chunks_;
    std::atomic<std::size_t> next_{0}; // the next chunk to take
    std::atomic<bool> stopped_{false}; // a write failed
    std::mutex mutex_;
    std::condition_variable turn_;
    std::size_t written_ = 0; // chunks written (or skipped after a failure)
    bool failed_ = false;
    CloudBounds bounds_;
};

} // namespace

// The loops of the export and the import live here, next to the record coding, so that the
// compiler inlines it: one full layer is 2.25 M records.
bool exportLas(const CloudStore& store, const std::filesystem::path& path, MessageSink& sink) {
    auto fail = [&] {
        sink.report(formatMessage("ERROR writing LAS file: %s", path.c_str()));
        return false;
    };
    LasFile las;
    // The header is written first with no point and rewritten once the points are out, so the
    // points are enumerated once and the header always matches the records.
    if (!las.create(path, CloudBounds{})) return fail();
    las.setIntensityScale();
    CloudBounds written;
    bool ok = RecordExport(store, las).run(written);
    ok = ok && las.updateHeader(written);
    if (!ok || !las.close()) return fail();
    return true;
}

namespace {

// The records of a layer import are decoded in chunks of about this many bytes: a chunk's records
// and the points made of them stay in the cache until the statistics pass has read them.
constexpr std::size_t kImportChunkBytes = 1 << 18;
// Threads decoding at once, the calling thread included. Beyond that the sequential statistics
// pass and the memory bandwidth limit the import.
constexpr unsigned kMaxImportThreads = 4;

// A bulk import of the `count` records from record `first` on (where readPoint stands) into the
// slots from nextSlot on. Chunks are claimed in order by the calling thread and any helpers, each
// read with positioned reads (the first through the stream) and decoded straight into its slots;
// the calling thread adds the statistics of the decoded chunks in slot order and publishes each
// chunk with one commit, so readers on other threads only ever see complete points and the sums are
// those of a sequential pass.
class LayerImport {
public:
    LayerImport(LasFile& las, CloudStore& store, std::uint32_t layer, std::uint64_t first,
                std::uint64_t count)
        : las_(las), store_(store), layer_(layer), slots_(&store.nextSlot(layer)), first_(first),
          count_(count), length_(las.info().recordLength),
          chunkRecords_(std::max<std::size_t>(1, kImportChunkBytes / length_)),
          chunks_(static_cast<std::size_t>((count + chunkRecords_ - 1) / chunkRecords_)),
          decoded_(std::make_unique<std::atomic<std::uint32_t>[]>(chunks_)) {}

    // Returns the records imported; `ended` when the file ended before `count` records.
    std::uint64_t run(bool& ended) {
        // The first chunk is read here, before any helper starts, through the stream readPoint
        // reads from: the import begins exactly where readPoint would have continued, with the
        // records it already fetched (and what the stream holds of a file that has since shrunk).
        Decoding own(*this);
        own.decodeNext();
        std::vector<std::thread> helpers;
        const unsigned threads =
            std::min(std::max(1u, std::thread::hardware_concurrency()), kMaxImportThreads);
        // A helper only pays off when there are chunks for it to take.
        for (unsigned t = 1; t < threads && chunks_ >= 2 * threads; ++t) {
            try {
                helpers.emplace_back([this] {
                    try {
                        Decoding d(*this); // allocates before it takes a chunk
                        while (d.decodeNext()) {
                        }
                    } catch (const std::bad_alloc&) {
                        // No buffer for this helper: the others take its share.
                    }
                });
            } catch (const std::system_error&) {
                break; // no thread to be had: fewer helpers
            }
        }
        std::uint64_t imported = 0;
        ended = false;
        for (std::size_t next = 0; next < chunks_ && !ended;) {
            const std::uint32_t state = decoded_[next].load(std::memory_order_acquire);
            if (state == 0) {
                // Not decoded yet: decode a chunk here, or wait for the helper decoding it.
                if (!own.decodeNext()) decoded_[next].wait(0, std::memory_order_acquire);
                continue;
            }
            const std::uint32_t n = state - 1;
            store_.addStatistics(layer_, slots_ + next * chunkRecords_, n);
            store_.commit(layer_, n);
            imported += n;
            ended = n < recordsOf(next);
            ++next;
        }
        // An early end leaves the chunks after it to no one.
        stop_.store(true, std::memory_order_relaxed);
        for (std::thread& h : helpers) h.join();
        return imported;
    }

private:
    std::size_t recordsOf(std::size_t chunk) const {
        return static_cast<std::size_t>(
            std::min<std::uint64_t>(chunkRecords_, count_ - std::uint64_t{chunk} * chunkRecords_));
    }

    // One thread's share of the decoding: its own record buffer and decoder.
    class Decoding {
    public:
        explicit Decoding(LayerImport& job)
            : job_(job), raw_(job.chunkRecords_ * job.length_), decoder_(job.las_.info()) {}

        // Claims, reads and decodes the next chunk. False when none is left.
        bool decodeNext() {
            if (job_.stop_.load(std::memory_order_relaxed)) return false;
            const std::size_t chunk = job_.nextChunk_.fetch_add(1, std::memory_order_relaxed);
            if (chunk >= job_.chunks_) return false;
            const std::size_t want = job_.recordsOf(chunk);
            const std::uint64_t at = std::uint64_t{chunk} * job_.chunkRecords_;
            const std::size_t got =
                chunk == 0 ? job_.las_.readRecords(want, raw_.data())
                           : job_.las_.readRecordsAt(job_.first_ + at, want, raw_.data());
            decoder_.decodeWithRange(raw_.data(), job_.length_, got, job_.slots_ + at);
            // A short chunk ends the import: no one needs the chunks after it.
            if (got < want) job_.stop_.store(true, std::memory_order_relaxed);
            // Release: the points happen-before the publishing thread's acquire of the state.
            job_.decoded_[chunk].store(static_cast<std::uint32_t>(got) + 1,
                                       std::memory_order_release);
            job_.decoded_[chunk].notify_all();
            return true;
        }

    private:
        LayerImport& job_;
        std::vector<std::uint8_t> raw_;
        LasRecordDecoder decoder_;
    };

    LasFile& las_; // the helpers only use its positioned reads
    CloudStore& store_;
    const std::uint32_t layer_;
    CloudPoint* const slots_;
    const std::uint64_t first_, count_;
    const std::size_t length_, chunkRecords_, chunks_;
    // Per chunk: 0 until decoded, then the records decoded + 1.
    std::unique_ptr<std::atomic<std::uint32_t>[]> decoded_;
    std::atomic<std::size_t> nextChunk_{0};
    std::atomic<bool> stop_{false};
};

} // namespace

std::uint64_t fillLayerFromLas(LasFile& las, CloudStore& store, std::uint32_t l) {
    std::uint64_t read = 0;
    const std::uint64_t total = las.pointRecordCount();
    // The records that fit the layer's countable slots are imported in bulk.
    if (las.isReading() && las.pointsRead() < total) {
        const std::uint64_t first = las.pointsRead();
        const std::uint64_t count = std::min<std::uint64_t>(total - first, store.room(l));
        if (count > 0) {
            // Imported points come from no recording: their side records say nothing.
            if (store.layer(l).extras) std::fill_n(&store.nextExtra(l), count, PointExtra{});
            bool ended = false;
            read = LayerImport(las, store, l, first, count).run(ended);
            las.continueAt(first + read, ended);
        }
    }
    // The rest one at a time: records past the last countable slot each replace the point in
    // the last slot (they still count in the statistics), and a layer without slots fills the
    // store's scratch point.
    while (read < total) {
        CloudPoint& slot = store.nextSlot(l);
        if (!las.readPoint(slot)) break;
        slot.range = rangeOf(slot.x, slot.y, slot.z);
        slot.valid = 1;
        store.nextExtra(l) = PointExtra{};
        store.addStatistics(l, slot.saturated != 0, slot.range, slot.amplitude, slot.snr, slot);
        store.commit(l);
        ++read;
    }
    return read;
}

} // namespace quarv
