// The raw scan file's 542-byte header, the 524-byte header image that readers keep from it, and
// the record geometry that follows from the header alone (record sizes, field offsets, layouts).
// Everything is decoded and encoded explicitly, little-endian, from byte spans.
#pragma once

#include "core/config/records.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>

namespace quarv {

inline constexpr std::size_t kScanHeaderSize = 542;     // file offset of record 0
inline constexpr std::size_t kHeaderImageOffset = 18;   // first configuration block in the file
inline constexpr std::size_t kHeaderImageSize = 524;    // the seven blocks, contiguous
inline constexpr std::uint16_t kScanFileVersion = 3;    // the only version a reader accepts
inline constexpr std::uint16_t kFileKindWaveform = 1;   // written for waveform recordings
inline constexpr std::uint16_t kFileKindPeak = 2;       // written for peak recordings
inline constexpr std::uint16_t kRecordSync = 0x1CEC;    // first u16 of every record, not enforced
inline constexpr std::size_t kRecordPrefixSize = 18;    // sync, u16, 14 reserved bytes
inline constexpr std::uint16_t kTrailerMarker = 0x0F0F; // last u16 of a file with trailer
inline constexpr std::size_t kTrailerSize = 10;         // f32, f32, u16 marker
// The reader's scratch arrays hold the angle, position and word arrays of one record; headers
// that need more entries than this are refused rather than read.
inline constexpr std::uint32_t kReaderCapacity = 3000;

inline constexpr std::uint8_t kScanTypeStopAndStare = 1;
inline constexpr std::uint8_t kScanTypeMovingBowtie = 4;

// The seven configuration blocks kept in file order (file offsets 18..541 of the header).
struct HeaderImage : ByteRecord<kHeaderImageSize> {
    static constexpr std::size_t kScannerAt = 0;
    static constexpr std::size_t kDigitizerAt = kScannerAt + ScannerCfg::kSize;         // 27
    static constexpr std::size_t kProcessingAt = kDigitizerAt + DigitizerCfg::kSize;    // 66
    static constexpr std::size_t kEnvironmentAt = kProcessingAt + ProcessingCfg::kSize; // 138
    static constexpr std::size_t kCalibrationAt = kEnvironmentAt + EnvCfg::kSize;       // 364
    static constexpr std::size_t kPanTiltAt = kCalibrationAt + CalibrationCfg::kSize;   // 484
    static constexpr std::size_t kAttitudeAt = kPanTiltAt + PanTiltCfg::kSize;          // 500
    static_assert(kAttitudeAt + AttitudeBlock::kSize == kHeaderImageSize);

    ScannerCfg scanner() const { return block<ScannerCfg>(kScannerAt); }
    DigitizerCfg digitizer() const { return block<DigitizerCfg>(kDigitizerAt); }
    ProcessingCfg processing() const { return block<ProcessingCfg>(kProcessingAt); }
    EnvCfg environment() const { return block<EnvCfg>(kEnvironmentAt); }
    CalibrationCfg calibration() const { return block<CalibrationCfg>(kCalibrationAt); }
    PanTiltCfg panTilt() const { return block<PanTiltCfg>(kPanTiltAt); }
    AttitudeBlock attitude() const { return block<AttitudeBlock>(kAttitudeAt); }

private:
    template <typename R> R block(std::size_t at) const {
        R r;
        for (std::size_t i = 0; i < R::kSize; ++i) r.bytes[i] = bytes[at + i];
        return r;
    }
};

struct ScanHeader {
    std::uint16_t version = kScanFileVersion;
    std::uint16_t fileKind = kFileKindWaveform;
    std::array<std::uint8_t, 14> reserved{};
    ScannerCfg scanner;
    DigitizerCfg digitizer;
    ProcessingCfg processing;
    EnvCfg environment;
    CalibrationCfg calibration;
    PanTiltCfg panTilt;
    AttitudeBlock attitude;

    std::array<std::uint8_t, kScanHeaderSize> encode() const;
    static ScanHeader decode(std::span<const std::uint8_t, kScanHeaderSize> bytes);
    HeaderImage image() const;
    bool operator==(const ScanHeader&) const = default;
};

// The header fields that the record layout depends on.
struct ScanGeometry {
    std::uint16_t shotsPerLine = 0;    // W
    std::uint16_t lines = 0;           // L
    std::uint16_t samplesPerPulse = 0; // N
    std::uint16_t pulsesPerRecord = 0; // P
    std::uint8_t scanType = 0;         // T

    static ScanGeometry of(const HeaderImage& image);
    static ScanGeometry of(const ScanHeader& header) { return of(header.image()); }
    bool isBowtie() const { return scanType == kScanTypeMovingBowtie; }
    bool isStare() const { return scanType == kScanTypeStopAndStare; }
    // Pulses of one bowtie sweep, Q = 4 W.
    std::uint32_t bowtiePulses() const { return 4u * shotsPerLine; }
};

// How the records of a file are read: the waveform layouts or the peak layouts.
enum class RecordLayout : std::uint8_t { None, Waveform, Peak };

// The concrete record kind of a file, from its layout and scan type. Peak files have no bowtie
// kind: every scan type but "Stop and Stare" uses the peak line record.
enum class RecordKind : std::uint8_t { Line, Stare, Bowtie, PeakLine, PeakStare };
RecordKind recordKindOf(RecordLayout layout, std::uint8_t scanType);
// "line", "stare", "bowtie", "peak line" or "peak stare", as reports and scripts name the kinds.
const char* recordKindName(RecordKind kind);

// A file is read with the peak layouts when its file kind says so or its name ends in ".pek"
// (any case); everything else is a waveform file.
bool isPeakPath(const std::filesystem::path& path);
RecordLayout layoutFor(std::uint16_t fileKind, const std::filesystem::path& path);

// Record sizes in unsigned 32-bit arithmetic from the 16-bit header fields, as the recordings'
// producer computes them (they wrap for headers far beyond the reader's capacity).
std::uint32_t waveformRecordSize(const ScanGeometry& g);
std::uint32_t peakLineRecordSize(const ScanGeometry& g);
std::uint32_t peakStareRecordSize(const ScanGeometry& g);
std::uint32_t recordSizeOf(RecordKind kind, const ScanGeometry& g);

// File offset of record `index` of size `recordSize`: always 64-bit, files exceed 4 GiB. A stare
// index (line × W + column) near 2^32 lines times a large record overflows even 64 bits; such an
// offset saturates at kBeyondAnyFile instead of wrapping back into the file. Below it there is
// always room for a field offset inside a record (less than 2^32), so adding one cannot wrap.
inline constexpr std::uint64_t kBeyondAnyFile = ~std::uint64_t(0) - 0xFFFFFFFFull;
inline std::uint64_t recordOffset(std::uint32_t recordSize, std::uint64_t index) {
    if (recordSize != 0 && index > (kBeyondAnyFile - kScanHeaderSize) / recordSize)
        return kBeyondAnyFile;
    return kScanHeaderSize + index * recordSize;
}

// True when the reader's header-sized scratch arrays can hold a record of this geometry:
// W ≤ 3000, P ≤ 3000, 4 W ≤ 3000 for bowtie scans, and at least one sample per pulse.
bool withinReaderCapacity(const ScanGeometry& g);

// Field offsets inside one record, in bytes from the record start.
struct LineRecordOffsets {
    std::uint64_t elevation, azimuth, horPos, words, samples;
};
struct StareRecordOffsets {
    std::uint64_t azimuth, elevation, horPos, words, samples;
};
struct BowtieRecordOffsets {
    std::uint64_t azimuth, elevation, horPos, words, samples;
};
struct PeakLineRecordOffsets {
    std::uint64_t elevation, azimuth;
    std::array<std::uint64_t, 4> values;
};
struct PeakStareRecordOffsets {
    std::uint64_t azimuth, elevation;
    std::array<std::uint64_t, 4> values;
};
LineRecordOffsets lineRecordOffsets(const ScanGeometry& g);
StareRecordOffsets stareRecordOffsets(const ScanGeometry& g);
BowtieRecordOffsets bowtieRecordOffsets(const ScanGeometry& g);
PeakLineRecordOffsets peakLineRecordOffsets(const ScanGeometry& g);
PeakStareRecordOffsets peakStareRecordOffsets(const ScanGeometry& g);

} // namespace quarv
