// LAS point cloud files. The writer produces our exports: a 227-byte version 1.3 public header,
// one projection record and 20-byte point records of format 0, coordinates quantised to 10 um
// without offsets. The reader takes any LAS 1.0-1.4 file with point formats 0-10, using the
// file's own offset to point data, record length, scale and offset (for our files those are the
// values we wrote, so they read back exactly as written), and refuses anything whose header is
// not LAS or contradicts the file's size before it reads a single point.
#pragma once

#include "core/cloud/cloud_store.hpp"
#include "core/config/atomic_file.hpp"

#include <array>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace quarv {

class MessageSink;

// The single-precision value of 0.00001 widened to double: our scale on all three axes.
constexpr double kLasScale = 9.999999747378752e-6;
constexpr std::size_t kLasHeaderSize = 227;
constexpr std::size_t kLasVlrHeaderSize = 54;
constexpr std::size_t kLasVlrDataSize = 16;
constexpr std::uint32_t kLasPointOffset = kLasHeaderSize + kLasVlrHeaderSize + kLasVlrDataSize;
constexpr std::size_t kLasRecordLength = 20;
// Amplitudes from 0 to this value map linearly onto intensities 0 to 65535.
constexpr double kLasFullScaleAmplitude = 875.0;

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

class LasFile {
public:
    LasFile();
    ~LasFile(); // an export not closed is abandoned: the destination stays as it was
    LasFile(const LasFile&) = delete;
    LasFile& operator=(const LasFile&) = delete;

    // ---- writing (to a temporary file renamed into place by close) ----
    // Opens `path` and writes the header for `bounds`, the projection record and its data.
    // False, nothing written, if the file cannot be created.
    bool create(const std::filesystem::path& path, const CloudBounds& bounds);
    void setIntensityScale() { intensityScale_ = 65535.0 / kLasFullScaleAmplitude; }
    double intensityScale() const { return intensityScale_; }
    // One format-0 record. False if no file is open for writing.
    bool writePoint(double x, double y, double z, float amplitude, bool edge, double scanAngle,
                    double userData);
    // Encodes one format-0 record per point of the columns x, y, z and amplitude (n entries
    // each) into out (n x 20 bytes), every record exactly as writePoint(x[i], y[i], z[i],
    // amplitude[i], edge, scanAngle, userData) writes it. Touches nothing of the file, so
    // several threads may encode at once while one of them writes.
    void encodeRecords(const float* x, const float* y, const float* z, const float* amplitude,
                       std::size_t n, bool edge, double scanAngle, double userData,
                       std::uint8_t* out) const;
    // Appends encoded records after those written so far. False if no file is open for writing
    // or a write failed.
    bool writeRecords(const std::uint8_t* records, std::size_t bytes);
    // Rewrites the header's point count and extent, for writers that learn them while writing.
    bool updateHeader(const CloudBounds& bounds);

    // ---- reading ----
    // Opens `path` and checks its header. A file that cannot be opened returns false without a
    // message; one that is not LAS or whose header contradicts its size is refused with a
    // message to `sink`. Nothing is read from a refused file.
    bool openRead(const std::filesystem::path& path, MessageSink& sink);
    const LasHeaderInfo& info() const { return info_; }
    // The first 227 bytes of the file read (the public header common to all versions).
    const std::array<std::uint8_t, kLasHeaderSize>& header() const { return header_; }
    // Point records the header announces and the file holds (checked by openRead).
    std::uint64_t pointRecordCount() const { return info_.pointCount; }
    std::uint64_t pointsRead() const { return recordsRead_; }
    // Fills `p` from the next record: position from the file's scale and offset; intensity to
    // amplitude, SNR and the saturated flag; azimuth and elevation from the scan angle rank,
    // user data and point source ID bytes; valid 1, range 0, everything else 0. False when no
    // file is open, all announced records have been read or the file ended early.
    bool readPoint(CloudPoint& p);

    // ---- bulk reading, for importers that decode records themselves ----
    bool isReading() const { return in_ != nullptr; }
    // Copies the next `count` records (count x recordLength bytes) into `out` and moves past them,
    // exactly as `count` readPoint calls would take them (through the same stream, records already
    // fetched first). Returns the records copied: fewer only where the file ended early.
    std::size_t readRecords(std::size_t count, std::uint8_t* out);
    // Copies `count` records from record `first` (0 is the first point record) into `out`
    // (count x recordLength bytes) with positioned reads that leave readPoint's position alone,
    // so several threads may read at once. Returns the complete records read: fewer than asked
    // only where the file ended early (it shrank since it was opened) or could not be read.
    std::size_t readRecordsAt(std::uint64_t first, std::size_t count, std::uint8_t* out) const;
    // Sets readPoint's position after records a bulk reader took: it continues with record
    // `next`, or delivers nothing more when `ended` (the bulk reader met the end of the file).
    void continueAt(std::uint64_t next, bool ended);

    // Writing: flushes and renames the file into place (false, destination untouched, if any
    // write failed). Reading: closes the file.
    bool close();

    const std::filesystem::path& path() const { return path_; }
    double scale(int axis) const { return scale_[static_cast<std::size_t>(axis)]; }

private:
    // Writes the records held. False if the write failed.
    bool flushPoints();
    bool refill();

    std::filesystem::path path_;
    std::array<double, 3> scale_{kLasScale, kLasScale, kLasScale};
    double intensityScale_ = 0.0;
    LasDate stamp_;
    std::array<std::uint8_t, kLasHeaderSize> header_{};
    LasHeaderInfo info_;

    AtomicFileWriter writer_;
    std::FILE* in_ = nullptr;
    std::vector<std::uint8_t> buffer_; // records on their way to or from the file
    std::size_t bufferUsed_ = 0;       // writing: bytes held; reading: bytes available
    std::size_t bufferPos_ = 0;        // reading: next record
    std::uint64_t recordsRead_ = 0;
    std::uint64_t recordsBuffered_ = 0; // reading: records fetched from the file so far
    bool ended_ = false;                // reading: the file ended early, nothing more to read
    LasRecordDecoder decoder_;
};

} // namespace quarv
