// PlaybackFile: random access to the records of one raw scan file. It opens a file, checks the
// version, keeps the 524-byte header image and reads single pulses, whole records, angles, stare
// positions, peak records and the trailer. Each user owns its own reader; one thread at a time.
//
// Which layout a file is read with: the peak layouts when the file kind (u16 at file offset 2)
// is 2 or the path ends in ".pek" (any case), otherwise the waveform layouts.
//
// What open refuses, leaving the reader closed and the previous header image in place:
//   - a path that cannot be opened or is not a regular file (a directory):
//     "ERROR opening playback file: %s"
//   - a first u16 other than 3: "ERROR: Loading file - convert to version 3.0 before use"
//   - a file shorter than the 542-byte header:
//     "ERROR: Loading file - file too short for a scan header: %s"
//     (the version is judged first whenever its two bytes exist)
//   - W or P above 3000, 4 W above 3000 for bowtie scans, or N = 0:
//     "ERROR: Loading file - scan size beyond reader capacity (W %u, P %u, N %u)"
// Nothing else of the header or the records is validated; the sync word is not enforced.
//
// Reads: every operation tests that a file is open ("ERROR, no file open for playback!",
// false). Record offsets are 542 + index * S in 64 bits. Caller buffers are spans; a span shorter
// than what the operation reads, or a pulse index outside the record, is a caller error and
// returns false without reading. A record cut short by the end of the file is read as far as it
// goes: the rest of every output (caller buffers and scratch arrays alike) keeps what it held,
// and the operation still returns true; only readBowtieAngles reports a short read. Values are
// stored into outputs element by element, never as partial elements.
#pragma once

#include "core/app/message_sink.hpp"
#include "core/scanfile/scan_header.hpp"

#include <array>
#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

namespace quarv {

// The optional end-of-file trailer as read, with the temperatures replaced by the configured
// temperature when the trailer is not valid.
struct TrailerTemperatures {
    float first = 0.0f;
    float second = 0.0f;
    std::uint16_t marker = 0;
};

class PlaybackFile {
public:
    explicit PlaybackFile(MessageSink& sink);
    ~PlaybackFile();
    PlaybackFile(const PlaybackFile&) = delete;
    PlaybackFile& operator=(const PlaybackFile&) = delete;

    bool open(const std::filesystem::path& path);
    void close();
    bool isOpen() const { return fd_ >= 0; }

    // The seven header blocks, in file order; does not require an open file (it copies the image
    // the reader holds, zeros before the first successful open).
    void copyHeader(ScannerCfg& scanner, DigitizerCfg& digitizer, ProcessingCfg& processing,
                    EnvCfg& environment, CalibrationCfg& calibration, PanTiltCfg& panTilt,
                    AttitudeBlock& attitude) const;
    const HeaderImage& headerImage() const { return image_; }
    ScanGeometry geometry() const { return geometry_; }
    std::uint16_t fileKind() const { return fileKind_; }
    std::uint64_t dataStart() const { return kScanHeaderSize; }

    std::uint32_t recordSize() const { return waveformRecordSize(geometry_); }
    std::uint32_t peakLineRecordSize() const { return quarv::peakLineRecordSize(geometry_); }
    std::uint32_t peakStareRecordSize() const { return quarv::peakStareRecordSize(geometry_); }
    RecordLayout layoutOf() const { return layout_; }
    // The record kind of the open file (layout and scan type) and its record size.
    RecordKind recordKind() const { return recordKindOf(layout_, geometry_.scanType); }
    std::uint32_t fileRecordSize() const { return recordSizeOf(recordKind(), geometry_); }

    // Size of the open file in bytes (0 when closed), and how many complete records of the
    // file's own kind follow the header: stare files count positions, not lines.
    std::uint64_t fileSize() const { return isOpen() ? fileSize_ : 0; }
    std::uint64_t recordCount() const;

    // Line record k: elevation voltage, W azimuths into azimuth(), P positions into horPos()
    // (element p returned), P words into words() (element p returned), then the N samples of
    // pulse p. samples needs N entries.
    bool readPulse(std::uint32_t pulse, std::uint32_t record, std::span<std::int16_t> samples,
                   double& horPosOut, std::uint32_t& wordOut, float& elevationOut);
    // Bowtie record k: 4W azimuths and elevations into azimuth()/elevation(), 4W positions and
    // words into horPos()/words() (element p of each returned), then the N samples of pulse p.
    bool readBowtiePulse(std::uint32_t pulse, std::uint32_t record, std::span<std::int16_t> samples,
                         double& horPosOut, std::uint32_t& wordOut);
    // Whole line record: W azimuths into azimuth(); P positions, P words, P·N samples out.
    bool readLineRecord(std::uint32_t record, std::span<std::int16_t> samples,
                        std::span<double> horPosOut, std::span<std::uint32_t> wordsOut,
                        float& elevationOut);
    // Elevation, W azimuths, P positions and P words of line record k: everything of it but
    // the samples.
    bool readLineShots(std::uint32_t record, std::span<float> azimuthOut,
                       std::span<double> horPosOut, std::span<std::uint32_t> wordsOut,
                       float& elevationOut);
    // The samples of pulses [first, end) of record k of a waveform file into out, N per pulse:
    // a line record's P pulses, a bowtie sweep's 4W or a stare position's P (record l W + c). It
    // uses nothing of the reader but the open descriptor and the header, so the workers of a line
    // may each read their own pulses at the same time. The bytes go from the file straight into
    // out (no bounce buffer); a record cut short fills out as far as the file goes. False without
    // reading when no file is open, the pulses lie outside the record or out is too short.
    bool readPulseSamples(std::uint64_t record, std::uint32_t first, std::uint32_t end,
                          std::span<std::int16_t> out) const;
    bool readLineSamples(std::uint32_t record, std::uint32_t first, std::uint32_t end,
                         std::span<std::int16_t> out) const {
        return readPulseSamples(record, first, end, out);
    }
    // Everything of stare record k but the samples: azimuth, elevation, P positions and P words,
    // with one positioned read into the caller's scratch, so that workers may read their own
    // positions at the same time. Values the file does not hold keep what they were.
    bool readStareShots(std::uint64_t record, float& azimuthOut, float& elevationOut,
                        std::span<double> horPosOut, std::span<std::uint32_t> wordsOut,
                        std::vector<std::uint8_t>& scratch) const;
    // Stare records [first, first + count) (positions of one line, contiguous in the file) with
    // one positioned read into the caller's scratch: the azimuth and elevation of position i into
    // azimuthOut[i] and elevationOut[i], its P positions, words and P N samples from i P (i P N).
    // Safe from several threads at once; values the file does not hold keep what they were.
    bool readStarePositions(std::uint64_t first, std::uint32_t count, float* azimuthOut,
                            float* elevationOut, std::span<double> horPosOut,
                            std::span<std::uint32_t> wordsOut, std::span<std::int16_t> samples,
                            std::vector<std::uint8_t>& scratch) const;
    // Everything of bowtie record k but the samples: 4W azimuths, elevations, positions, words.
    bool readBowtieShots(std::uint32_t record, std::span<float> azimuthOut,
                         std::span<float> elevationOut, std::span<double> horPosOut,
                         std::span<std::uint32_t> wordsOut);
    // Whole bowtie record: the prefix's 14 reserved bytes out, 4W azimuths and elevations into
    // azimuth()/elevation(), 4W positions, 4W words and 4W·N samples out.
    bool readBowtieRecord(std::uint32_t record, std::span<std::int16_t> samples,
                          std::span<double> horPosOut, std::span<std::uint32_t> wordsOut,
                          std::array<std::uint8_t, 14>& reservedOut);
    // Elevation and W azimuths of line record k (the peak line record size for peak files).
    bool readLineAngles(std::uint32_t record, std::span<float> azimuthOut, float& elevationOut);
    // 4W azimuths and 4W elevations of bowtie record k; true only when all 4W elevations were
    // read.
    bool readBowtieAngles(std::uint32_t record, std::span<float> azimuthOut,
                          std::span<float> elevationOut);
    // Stare record of (line, min(column, W)) (the peak stare size for peak files): azimuth,
    // elevation, P positions, P words, P·N samples.
    bool readStarePosition(std::uint32_t line, std::uint32_t column, float& azimuthOut,
                           float& elevationOut, std::span<double> horPosOut,
                           std::span<std::uint32_t> wordsOut, std::span<std::int16_t> samples);
    // Peak line record k: elevation, W azimuths and the four arrays of P values.
    bool readPeakLine(std::uint32_t record, float& elevationOut, std::span<float> azimuthOut,
                      std::span<double> a, std::span<double> b, std::span<double> c,
                      std::span<double> d);
    // Peak stare records of positions [first, first + count) of a line with one read: azimuth
    // and elevation of position i into azimuthOut[i] and elevationOut[i], the four values of its
    // pulse d at i P + d. Values the file does not hold keep what they were.
    bool readPeakStarePositions(std::uint32_t line, std::uint32_t first, std::uint32_t count,
                                std::span<float> azimuthOut, std::span<float> elevationOut,
                                std::span<double> a, std::span<double> b, std::span<double> c,
                                std::span<double> d);
    // Peak stare record of (line, column), column not clamped: azimuth, elevation, four arrays.
    bool readPeakStare(std::uint32_t column, std::uint32_t line, float& azimuthOut,
                       float& elevationOut, std::span<double> a, std::span<double> b,
                       std::span<double> c, std::span<double> d);
    // The last 10 bytes of the file. Valid when the marker is 0x0F0F and both temperatures lie
    // in [0, 55] (NaN is not valid); otherwise both become the configured temperature (DigitizerCfg
    // temperatureC). True whenever a file is open.
    bool readTrailer(TrailerTemperatures& out);

    // The scratch arrays: what the last single-pulse, line or bowtie read left there. Sized from
    // the header at open (W or 4W azimuths, P or 4W positions and words, 4W elevations for bowtie
    // scans).
    std::span<const double> horPos() const { return horPos_; }
    std::span<const std::uint32_t> words() const { return words_; }
    std::span<const float> azimuth() const { return azimuth_; }
    std::span<const float> elevation() const { return elevation_; }

private:
    bool requireOpen();
    bool refuse(const std::string& message, int fd);
    std::uint64_t stareIndex(std::uint32_t line, std::uint32_t column) const;
    // Positioned reads of `bytes` bytes at `offset` until done, the end of the file or an error;
    // returns the bytes read. Safe from several threads at once.
    std::uint64_t preadFully(std::uint8_t* out, std::uint64_t bytes, std::uint64_t offset) const;
    std::vector<std::uint8_t> runBytes_; // the bytes of a run of records read at once

    // Reads `count` little-endian values of T at `offset` into out[0..): as many whole values as
    // the file holds, at most out.size(); returns how many were stored.
    template <typename T> std::size_t readArray(std::uint64_t offset, std::span<T> out);
    template <typename T> bool readValue(std::uint64_t offset, T& out);

    MessageSink& sink_;
    int fd_ = -1;
    std::uint64_t fileSize_ = 0;
    std::uint16_t fileKind_ = 0;
    RecordLayout layout_ = RecordLayout::None;
    HeaderImage image_;
    ScanGeometry geometry_;
    std::vector<double> horPos_;
    std::vector<std::uint32_t> words_;
    std::vector<float> azimuth_;
    std::vector<float> elevation_;
    std::vector<std::uint8_t> io_; // bounce buffer: file bytes are decoded from here
};

} // namespace quarv
