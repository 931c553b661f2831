#include "core/scanfile/scan_header.hpp"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>

namespace quarv {

namespace {

template <typename R> void putBlock(std::uint8_t* out, const R& r) {
    std::memcpy(out, r.bytes.data(), R::kSize);
}

template <typename R> void getBlock(const std::uint8_t* in, R& r) {
    std::memcpy(r.bytes.data(), in, R::kSize);
}

} // namespace

std::array<std::uint8_t, kScanHeaderSize> ScanHeader::encode() const {
    std::array<std::uint8_t, kScanHeaderSize> out{};
    le::store<std::uint16_t>(out.data(), version);
    le::store<std::uint16_t>(out.data() + 2, fileKind);
    std::memcpy(out.data() + 4, reserved.data(), reserved.size());
    const HeaderImage img = image();
    std::memcpy(out.data() + kHeaderImageOffset, img.bytes.data(), kHeaderImageSize);
    return out;
}

ScanHeader ScanHeader::decode(std::span<const std::uint8_t, kScanHeaderSize> bytes) {
    ScanHeader h;
    h.version = le::u16(bytes.data());
    h.fileKind = le::u16(bytes.data() + 2);
    std::memcpy(h.reserved.data(), bytes.data() + 4, h.reserved.size());
    const std::uint8_t* img = bytes.data() + kHeaderImageOffset;
    getBlock(img + HeaderImage::kScannerAt, h.scanner);
    getBlock(img + HeaderImage::kDigitizerAt, h.digitizer);
    getBlock(img + HeaderImage::kProcessingAt, h.processing);
    getBlock(img + HeaderImage::kEnvironmentAt, h.environment);
    getBlock(img + HeaderImage::kCalibrationAt, h.calibration);
    getBlock(img + HeaderImage::kPanTiltAt, h.panTilt);
    getBlock(img + HeaderImage::kAttitudeAt, h.attitude);
    return h;
}

HeaderImage ScanHeader::image() const {
    HeaderImage img;
    std::uint8_t* out = img.bytes.data();
    putBlock(out + HeaderImage::kScannerAt, scanner);
    putBlock(out + HeaderImage::kDigitizerAt, digitizer);
    putBlock(out + HeaderImage::kProcessingAt, processing);
    putBlock(out + HeaderImage::kEnvironmentAt, environment);
    putBlock(out + HeaderImage::kCalibrationAt, calibration);
    putBlock(out + HeaderImage::kPanTiltAt, panTilt);
    putBlock(out + HeaderImage::kAttitudeAt, attitude);
    return img;
}

ScanGeometry ScanGeometry::of(const HeaderImage& image) {
    const std::uint8_t* p = image.bytes.data();
    ScanGeometry g;
    g.shotsPerLine = le::u16(p + HeaderImage::kScannerAt + 0);
    g.lines = le::u16(p + HeaderImage::kScannerAt + 4);
    g.scanType = p[HeaderImage::kScannerAt + 24];
    g.samplesPerPulse = le::u16(p + HeaderImage::kDigitizerAt + 0);
    g.pulsesPerRecord = le::u16(p + HeaderImage::kDigitizerAt + 2);
    return g;
}

RecordKind recordKindOf(RecordLayout layout, std::uint8_t scanType) {
    if (layout == RecordLayout::Peak)
        return scanType == kScanTypeStopAndStare ? RecordKind::PeakStare : RecordKind::PeakLine;
    if (scanType == kScanTypeStopAndStare) return RecordKind::Stare;
    if (scanType == kScanTypeMovingBowtie) return RecordKind::Bowtie;
    return RecordKind::Line;
}

const char* recordKindName(RecordKind kind) {
    switch (kind) {
    case RecordKind::Line:
        return "line";
    case RecordKind::Stare:
        return "stare";
    case RecordKind::Bowtie:
        return "bowtie";
    case RecordKind::PeakLine:
        return "peak line";
    case RecordKind::PeakStare:
        return "peak stare";
    }
    return "line";
}

bool isPeakPath(const std::filesystem::path& path) {
    std::string ext = path.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext == ".pek";
}

RecordLayout layoutFor(std::uint16_t fileKind, const std::filesystem::path& path) {
    return fileKind == kFileKindPeak || isPeakPath(path) ? RecordLayout::Peak
                                                         : RecordLayout::Waveform;
}

// All three sizes deliberately use std::uint32_t operands throughout: the u16 fields are widened
// to u32 before any product, so the arithmetic wraps modulo 2^32 and never overflows a signed
// int.
std::uint32_t waveformRecordSize(const ScanGeometry& g) {
    const std::uint32_t w = g.shotsPerLine, n = g.samplesPerPulse, p = g.pulsesPerRecord;
    if (g.isStare()) return 26u + p * (12u + 2u * n);
    if (g.isBowtie()) return 18u + 80u * w + 8u * w * n;
    return 22u + 4u * w + p * (12u + 2u * n);
}

std::uint32_t peakLineRecordSize(const ScanGeometry& g) {
    const std::uint32_t w = g.shotsPerLine, p = g.pulsesPerRecord;
    return 22u + 4u * w + 32u * p;
}

std::uint32_t peakStareRecordSize(const ScanGeometry& g) {
    const std::uint32_t p = g.pulsesPerRecord;
    return 26u + 32u * p;
}

std::uint32_t recordSizeOf(RecordKind kind, const ScanGeometry& g) {
    switch (kind) {
    case RecordKind::PeakLine:
        return peakLineRecordSize(g);
    case RecordKind::PeakStare:
        return peakStareRecordSize(g);
    case RecordKind::Line:
    case RecordKind::Stare:
    case RecordKind::Bowtie:
        break;
    }
    return waveformRecordSize(g);
}

bool withinReaderCapacity(const ScanGeometry& g) {
    if (g.shotsPerLine > kReaderCapacity || g.pulsesPerRecord > kReaderCapacity) return false;
    if (g.isBowtie() && g.bowtiePulses() > kReaderCapacity) return false;
    return g.samplesPerPulse != 0;
}

LineRecordOffsets lineRecordOffsets(const ScanGeometry& g) {
    const std::uint64_t w = g.shotsPerLine, p = g.pulsesPerRecord;
    return {18, 22, 22 + 4 * w, 22 + 4 * w + 8 * p, 22 + 4 * w + 12 * p};
}

StareRecordOffsets stareRecordOffsets(const ScanGeometry& g) {
    const std::uint64_t p = g.pulsesPerRecord;
    return {18, 22, 26, 26 + 8 * p, 26 + 12 * p};
}

BowtieRecordOffsets bowtieRecordOffsets(const ScanGeometry& g) {
    const std::uint64_t q = g.bowtiePulses();
    return {18, 18 + 4 * q, 18 + 8 * q, 18 + 16 * q, 18 + 20 * q};
}

PeakLineRecordOffsets peakLineRecordOffsets(const ScanGeometry& g) {
    const std::uint64_t w = g.shotsPerLine, p = g.pulsesPerRecord;
    const std::uint64_t v = 22 + 4 * w;
    return {18, 22, {v, v + 8 * p, v + 16 * p, v + 24 * p}};
}

PeakStareRecordOffsets peakStareRecordOffsets(const ScanGeometry& g) {
    const std::uint64_t p = g.pulsesPerRecord;
    return {18, 22, {26, 26 + 8 * p, 26 + 16 * p, 26 + 24 * p}};
}

} // namespace quarv
