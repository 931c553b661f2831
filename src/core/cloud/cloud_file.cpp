#include "core/cloud/cloud_file.hpp"

#include "core/app/message_sink.hpp"
#include "core/config/bytes.hpp"

#include <cmath>
#include <cstring>
#include <system_error>

namespace quarv {

namespace {

constexpr std::size_t kSectionsAt = 4; // reserved block, six records, attitude block
constexpr std::size_t kCloudBlockAt = 542;
constexpr std::size_t kPointTotalAt = kCloudBlockAt + 16;
constexpr std::size_t kReadChunk = 1 << 16;
constexpr std::size_t kWriteFlushAt = 1 << 16;

// The header sections in file order with their sizes.
template <typename Fn> void forEachSection(CloudFileHeader& h, Fn&& fn) {
    fn(h.reserved.data(), h.reserved.size());
    fn(h.scanner.data(), ScannerCfg::kSize);
    fn(h.digitizer.data(), DigitizerCfg::kSize);
    fn(h.processing.data(), ProcessingCfg::kSize);
    fn(h.environment.data(), EnvCfg::kSize);
    fn(h.calibration.data(), CalibrationCfg::kSize);
    fn(h.panTilt.data(), PanTiltCfg::kSize);
    fn(h.attitude.data(), AttitudeBlock::kSize);
}

// Truncation toward zero into [lo, hi]; NaN gives 0.
long clampTrunc(double v, long lo, long hi) {
    if (std::isnan(v)) return 0;
    if (v <= static_cast<double>(lo)) return lo;
    if (v >= static_cast<double>(hi)) return hi;
    return static_cast<long>(v);
}

} // namespace

CloudRecord encodeCloudRecord(const CloudPeak& peak, double amplitudeScale) {
    CloudRecord r{};
    const double range = std::isnan(peak.range) ? 0.0 : peak.range;
    const long whole = clampTrunc(range, -127, 127);
    // The stored fraction is never negative: a negative range that is not whole keeps its whole
    // metres, and a range beyond +-127 m keeps the largest fraction.
    const long fraction = clampTrunc((range - static_cast<double>(whole)) * 65535.0, 0, 65535);
    const long azimuth = clampTrunc(peak.azimuthReading * 1489.0 + 0.5, -32768, 32767);
    std::uint8_t amplitudeByte;
    if (peak.saturated || peak.amplitude >= 875.0f)
        amplitudeByte = 255;
    else if (peak.amplitude < 0.0f)
        amplitudeByte = 0;
    else
        amplitudeByte =
            static_cast<std::uint8_t>(clampTrunc(peak.amplitude * amplitudeScale, 0, 255));
    r[0] = static_cast<std::uint8_t>(static_cast<std::int8_t>(whole));
    le::store<std::uint16_t>(r.data() + 1, static_cast<std::uint16_t>(fraction));
    le::store<std::int16_t>(r.data() + 3, static_cast<std::int16_t>(azimuth));
    r[5] = amplitudeByte;
    return r;
}

DecodedCloudRecord decodeCloudRecord(const CloudRecord& r, double amplitudeScale) {
    DecodedCloudRecord d;
    const auto whole = static_cast<std::int8_t>(r[0]);
    d.range = static_cast<float>(whole + le::u16(r.data() + 1) / 65535.0);
    d.azimuthReading = le::i16(r.data() + 3) / 1489.0;
    d.amplitude = static_cast<float>(r[5] / amplitudeScale);
    return d;
}

bool CloudFile::open(const std::filesystem::path& path, MessageSink& sink) {
    close();
    // Only a regular file is opened: opening a FIFO or a device can block for ever. Whatever
    // else exists under the name is not a cloud file.
    std::error_code ec;
    if (std::filesystem::exists(path, ec) && !std::filesystem::is_regular_file(path, ec)) {
        sink.report("ERROR: Loading 3DC file, invalid file version");
        return false;
    }
    file_ = std::fopen(path.c_str(), "rb");
    if (!file_) {
        sink.report(formatMessage("ERROR opening file: %s", path.c_str()));
        return false;
    }
    buffer_.resize(kReadChunk);
    bufferPos_ = bufferUsed_ = 0;
    std::uint8_t word[4];
    if (!readExact(word, sizeof word) || le::u16(word) != kCloudFileVersion ||
        le::u16(word + 2) != kCloudFileKind) {
        close();
        sink.report("ERROR: Loading 3DC file, invalid file version");
        return false;
    }
    CloudFileHeader h;
    bool complete = true;
    forEachSection(h, [&](std::uint8_t* dst, std::size_t size) {
        complete = complete && readExact(dst, size);
    });
    std::uint8_t block[20];
    if (!complete || !readExact(block, sizeof block)) {
        close();
        sink.report(formatMessage("ERROR: Loading 3DC file, file too short: %s", path.c_str()));
        return false;
    }
    header_ = h;
    block_.amplitudeScale = le::f64(block);
    block_.reserved = le::f64(block + 8);
    block_.pointTotal = le::u32(block + 16);
    return true;
}

bool CloudFile::readExact(void* dst, std::size_t size) {
    auto* out = static_cast<std::uint8_t*>(dst);
    while (size > 0) {
        if (bufferPos_ == bufferUsed_) {
            bufferUsed_ = std::fread(buffer_.data(), 1, buffer_.size(), file_);
            bufferPos_ = 0;
            if (bufferUsed_ == 0) return false;
        }
        const std::size_t n = std::min(size, bufferUsed_ - bufferPos_);
        std::memcpy(out, buffer_.data() + bufferPos_, n);
        bufferPos_ += n;
        out += n;
        size -= n;
    }
    return true;
}

bool CloudFile::readLineHeader(CloudLineHeader& line) {
    if (!file_) return false;
    std::uint8_t b[kCloudLineHeaderSize];
    if (!readExact(b, 2) || le::u16(b) != kCloudLineMarker) return false;
    if (!readExact(b + 2, kCloudLineHeaderSize - 2)) return false;
    line.recordCount = le::u32(b + 2);
    line.lineNumber = le::u16(b + 6);
    line.elevationReading = le::f32(b + 8);
    return true;
}

bool CloudFile::readPoint(CloudRecord& record) {
    return file_ && readExact(record.data(), record.size());
}

void CloudFile::decode(const CloudRecord& record, CloudPoint& p) const {
    const DecodedCloudRecord d = decodeCloudRecord(record, block_.amplitudeScale);
    p.range = d.range;
    p.azimuth = static_cast<float>(d.azimuthReading);
    p.amplitude = d.amplitude;
}

void CloudFile::close() {
    if (file_) {
        std::fclose(file_);
        file_ = nullptr;
    }
}

bool CloudFileWriter::create(const std::filesystem::path& path, const CloudFileHeader& header,
                             double amplitudeScale) {
    writer_.abandon();
    total_ = 0;
    amplitudeScale_ = amplitudeScale;
    if (!writer_.open(path)) return false;
    buffer_.assign(kCloudHeaderSize, 0);
    le::store<std::uint16_t>(buffer_.data(), kCloudFileVersion);
    le::store<std::uint16_t>(buffer_.data() + 2, kCloudFileKind);
    std::size_t at = kSectionsAt;
    CloudFileHeader h = header;
    forEachSection(h, [&](std::uint8_t* src, std::size_t size) {
        std::memcpy(buffer_.data() + at, src, size);
        at += size;
    });
    le::store<double>(buffer_.data() + kCloudBlockAt, amplitudeScale);
    le::store<double>(buffer_.data() + kCloudBlockAt + 8, 0.0);
    le::store<std::uint32_t>(buffer_.data() + kPointTotalAt, 0); // filled in by close()
    return true;
}

bool CloudFileWriter::writeLine(std::uint16_t lineNumber, float elevationReading,
                                std::span<const CloudPeak> peaks) {
    if (!writer_.isOpen()) return false;
    std::uint8_t head[kCloudLineHeaderSize];
    le::store<std::uint16_t>(head, kCloudLineMarker);
    le::store<std::uint32_t>(head + 2, static_cast<std::uint32_t>(peaks.size()));
    le::store<std::uint16_t>(head + 6, lineNumber);
    le::store<float>(head + 8, elevationReading);
    buffer_.insert(buffer_.end(), head, head + sizeof head);
    for (const CloudPeak& peak : peaks) {
        const CloudRecord r = encodeCloudRecord(peak, amplitudeScale_);
        buffer_.insert(buffer_.end(), r.begin(), r.end());
        if (buffer_.size() >= kWriteFlushAt) {
            if (!writer_.write(buffer_.data(), buffer_.size())) return false;
            buffer_.clear();
        }
    }
    total_ += static_cast<std::uint32_t>(peaks.size());
    return true;
}

bool CloudFileWriter::close() {
    if (!writer_.isOpen()) return false;
    bool ok = writer_.write(buffer_.data(), buffer_.size());
    buffer_.clear();
    std::uint8_t total[4];
    le::store<std::uint32_t>(total, total_);
    std::FILE* f = writer_.stream();
    ok = ok && std::fseek(f, static_cast<long>(kPointTotalAt), SEEK_SET) == 0 &&
         writer_.write(total, sizeof total) && std::fseek(f, 0, SEEK_END) == 0;
    if (!ok) {
        writer_.abandon();
        return false;
    }
    return writer_.commit();
}

} // namespace quarv
