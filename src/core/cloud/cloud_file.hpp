// 3DC cloud files: the header of the raw recording they came from (version 48, kind 1) plus a
// 20-byte cloud block, then for each scan line a 12-byte line header and its returns packed into
// 6 bytes each (range in whole metres and 1/65535 m, azimuth reading x 1489, amplitude byte).
// CloudFile reads them for the rebuild of a layer; CloudFileWriter produces them.
#pragma once

#include "core/cloud/cloud_point.hpp"
#include "core/config/atomic_file.hpp"
#include "core/config/records.hpp"

#include <array>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <span>
#include <vector>

namespace quarv {

class MessageSink;

constexpr std::uint16_t kCloudFileVersion = 48;
constexpr std::uint16_t kCloudFileKind = 1;
constexpr std::uint16_t kCloudLineMarker = 0x33CC;
constexpr std::size_t kCloudHeaderSize = 562; // raw recording header (542) + cloud block (20)
constexpr std::size_t kCloudLineHeaderSize = 12;
constexpr std::size_t kCloudRecordSize = 6;
// Amplitude byte per amplitude unit in the files we write: full scale 875 maps onto 255.
constexpr double kCloudAmplitudeScale = 255.0 / 875.0;

// The recording header sections a cloud file carries, in file order.
struct CloudFileHeader {
    std::array<std::uint8_t, 14> reserved{};
    ScannerCfg scanner;
    DigitizerCfg digitizer;
    ProcessingCfg processing;
    EnvCfg environment;
    CalibrationCfg calibration;
    PanTiltCfg panTilt;
    AttitudeBlock attitude;
    bool operator==(const CloudFileHeader&) const = default;
};

struct CloudBlock {
    double amplitudeScale = kCloudAmplitudeScale;
    double reserved = 0.0;
    std::uint32_t pointTotal = 0;
};

struct CloudLineHeader {
    std::uint32_t recordCount = 0;
    std::uint16_t lineNumber = 0;
    float elevationReading = 0.0f; // scanner reading of the line, not degrees
};

using CloudRecord = std::array<std::uint8_t, kCloudRecordSize>;

// One return as a producer holds it before packing.
struct CloudPeak {
    double range = 0.0;          // metres
    double azimuthReading = 0.0; // scanner reading, not degrees
    float amplitude = 0.0f;
    bool saturated = false;
};

// Packs a return: whole metres truncated toward zero and limited to -127..127, the fraction in
// units of 1/65535 m, the reading x 1489 + 0.5 truncated, the amplitude byte (255 for a saturated
// return or an amplitude of 875 or more, 0 for a negative one).
CloudRecord encodeCloudRecord(const CloudPeak& peak, double amplitudeScale);

struct DecodedCloudRecord {
    float range = 0.0f;
    double azimuthReading = 0.0;
    float amplitude = 0.0f;
};
DecodedCloudRecord decodeCloudRecord(const CloudRecord& record, double amplitudeScale);

class CloudFile {
public:
    CloudFile() = default;
    ~CloudFile() { close(); }
    CloudFile(const CloudFile&) = delete;
    CloudFile& operator=(const CloudFile&) = delete;

    // Reads and checks the header. "ERROR opening file: %s" when the file cannot be opened,
    // "ERROR: Loading 3DC file, invalid file version" when it is not a cloud file.
    bool open(const std::filesystem::path& path, MessageSink& sink);
    bool isOpen() const { return file_ != nullptr; }
    const CloudFileHeader& header() const { return header_; }
    const CloudBlock& cloudBlock() const { return block_; }

    // Next line header. False when no file is open, the marker is not 0x33CC (outputs left
    // unchanged) or the file ends inside the header.
    bool readLineHeader(CloudLineHeader& line);
    // Next 6-byte record. False when no file is open or the file ends inside the record.
    bool readPoint(CloudRecord& record);
    // range, azimuth (the reading; the geometry turns it into degrees) and amplitude of `p`.
    void decode(const CloudRecord& record, CloudPoint& p) const;
    void close();

private:
    bool readExact(void* dst, std::size_t size);

    CloudFileHeader header_;
    CloudBlock block_;
    std::FILE* file_ = nullptr;
    std::vector<std::uint8_t> buffer_;
    std::size_t bufferPos_ = 0, bufferUsed_ = 0;
};

// Writes a cloud file line by line through a temporary file; close() fills in the point total
// and renames it into place.
class CloudFileWriter {
public:
    bool create(const std::filesystem::path& path, const CloudFileHeader& header,
                double amplitudeScale = kCloudAmplitudeScale);
    bool writeLine(std::uint16_t lineNumber, float elevationReading,
                   std::span<const CloudPeak> peaks);
    std::uint32_t pointTotal() const { return total_; }
    bool close();

private:
    AtomicFileWriter writer_;
    double amplitudeScale_ = kCloudAmplitudeScale;
    std::uint32_t total_ = 0;
    std::vector<std::uint8_t> buffer_;
};

} // namespace quarv
