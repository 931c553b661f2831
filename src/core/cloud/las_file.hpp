// LAS point cloud files. The writer produces our exports: a 227-byte version 1.3 public header,
// one projection record and 20-byte point records of format 0, coordinates quantised to 10 um
// without offsets. The reader takes any LAS 1.0-1.4 file with point formats 0-10, using the
// file's own offset to point data, record length, scale and offset (for our files those are the
// values we wrote, so they read back exactly as written), and refuses anything whose header is
// not LAS or contradicts the file's size before it reads a single point. The methods live in
// las_reader.cpp and las_writer.cpp; the header in las_header, the records in las_record_codec.
#pragma once

#include "core/cloud/cloud_store.hpp"
#include "core/cloud/las_header.hpp"
#include "core/cloud/las_record_codec.hpp"
#include "core/config/atomic_file.hpp"

#include <array>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace quarv {

class MessageSink;

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