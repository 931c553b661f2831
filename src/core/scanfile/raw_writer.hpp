// Writes raw scan files: the 542-byte header, then one record after another in the layout the
// header selects, then an optional temperature trailer. Used by the recording simulator and the
// tests; records are streamed through a small buffer, never the whole file.
//
// The layout is chosen at open like the reader chooses it: a peak file when the header's
// fileKind is 2 or the path ends in ".pek" (any case), otherwise a waveform file; the fileKind
// written is 1 for waveform files and 2 for peak files, whatever the header held. Everything else
// of the header (the version included) is written as given. Headers the reader would refuse
// (W or P above 3000, 4 W above 3000 for bowtie scans, N = 0) are refused here too.
#pragma once

#include "core/config/atomic_file.hpp"
#include "core/scanfile/scan_header.hpp"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <utility>
#include <vector>

namespace quarv {

class RawFileWriter {
public:
    // Creates the temporary file next to `path` and writes the header. False when the header is
    // beyond the reader's capacity or the file cannot be created.
    bool open(const std::filesystem::path& path, const ScanHeader& header);

    // One record each. A call that does not match the file's record kind, or a span whose length
    // differs from what the header requires (W, P, 4 W, P·N, 4 W·N), writes nothing and returns
    // false.
    bool writeLineRecord(float elevation, std::span<const float> azimuth /*W*/,
                         std::span<const double> horPos /*P*/,
                         std::span<const std::uint32_t> words /*P*/,
                         std::span<const std::int16_t> samples /*P*N*/);
    bool writeStareRecord(float azimuth, float elevation, std::span<const double> horPos,
                          std::span<const std::uint32_t> words,
                          std::span<const std::int16_t> samples);
    bool writeBowtieRecord(std::span<const float> azimuth /*4W*/,
                           std::span<const float> elevation /*4W*/,
                           std::span<const double> horPos /*4W*/,
                           std::span<const std::uint32_t> words /*4W*/,
                           std::span<const std::int16_t> samples /*4W*N*/);
    bool writePeakLineRecord(float elevation, std::span<const float> azimuth /*W*/,
                             std::span<const double> a, std::span<const double> b,
                             std::span<const double> c, std::span<const double> d /*P each*/);
    bool writePeakStareRecord(float azimuth, float elevation, std::span<const double> a,
                              std::span<const double> b, std::span<const double> c,
                              std::span<const double> d);

    // Appends the 10-byte trailer (two temperatures, marker 0x0F0F) when given, written as is
    // even outside the range a reader accepts, then renames the file into place. False when
    // nothing is open or any write failed (the target is then left untouched).
    bool finish(std::optional<std::pair<float, float>> trailerTemperatures);

    bool isOpen() const { return out_.isOpen(); }
    RecordKind recordKind() const { return kind_; }
    RecordLayout layout() const { return layout_; }
    std::uint32_t recordSize() const { return recordSize_; }
    std::uint64_t recordsWritten() const { return records_; }

private:
    bool begin(RecordKind kind);
    bool end();
    void putPrefix();
    template <typename T> void putArray(std::span<const T> values);
    template <typename T> void putValue(T v);
    void flush();

    AtomicFileWriter out_;
    ScanGeometry geometry_;
    RecordLayout layout_ = RecordLayout::None;
    RecordKind kind_ = RecordKind::Line;
    std::uint32_t recordSize_ = 0;
    std::uint64_t records_ = 0;
    std::uint64_t recordBytes_ = 0; // bytes of the record being written, checked against S
    bool ok_ = false;
    std::vector<std::uint8_t> buffer_;
};

} // namespace quarv
