#include "core/scanfile/raw_writer.hpp"

#include "core/config/bytes.hpp"

namespace quarv {

namespace {

// Records are encoded into this much memory at a time; a record of a few hundred megabytes
// (3000 pulses of 65535 samples) therefore never needs a buffer of its own size.
constexpr std::size_t kChunkBytes = 64 * 1024;

} // namespace

bool RawFileWriter::open(const std::filesystem::path& path, const ScanHeader& header) {
    out_.abandon();
    ok_ = false;
    records_ = 0;
    geometry_ = ScanGeometry::of(header);
    if (!withinReaderCapacity(geometry_)) return false;
    layout_ = layoutFor(header.fileKind, path);
    kind_ = recordKindOf(layout_, geometry_.scanType);
    recordSize_ = recordSizeOf(kind_, geometry_);

    ScanHeader written = header;
    written.fileKind = layout_ == RecordLayout::Peak ? kFileKindPeak : kFileKindWaveform;
    if (!out_.open(path)) return false;
    buffer_.clear();
    buffer_.reserve(kChunkBytes);
    const auto bytes = written.encode();
    ok_ = out_.write(bytes.data(), bytes.size());
    if (!ok_) out_.abandon();
    return ok_;
}

bool RawFileWriter::begin(RecordKind kind) {
    if (!out_.isOpen() || !ok_ || kind != kind_) return false;
    recordBytes_ = 0;
    putPrefix();
    return true;
}

bool RawFileWriter::end() {
    flush();
    // The span checks make this hold; it guards the layout arithmetic itself.
    if (recordBytes_ != recordSize_) ok_ = false;
    if (ok_) ++records_;
    return ok_;
}

void RawFileWriter::flush() {
    if (buffer_.empty()) return;
    if (!out_.write(buffer_.data(), buffer_.size())) ok_ = false;
    recordBytes_ += buffer_.size();
    buffer_.clear();
}

template <typename T> void RawFileWriter::putValue(T v) {
    if (buffer_.size() + sizeof(T) > kChunkBytes) flush();
    const std::size_t at = buffer_.size();
    buffer_.resize(at + sizeof(T));
    le::store<T>(buffer_.data() + at, v);
}

template <typename T> void RawFileWriter::putArray(std::span<const T> values) {
    for (const T v : values) putValue<T>(v);
}

void RawFileWriter::putPrefix() {
    putValue<std::uint16_t>(kRecordSync);
    for (std::size_t i = 2; i < kRecordPrefixSize; ++i) putValue<std::uint8_t>(0);
}

bool RawFileWriter::writeLineRecord(float elevation, std::span<const float> azimuth,
                                    std::span<const double> horPos,
                                    std::span<const std::uint32_t> words,
                                    std::span<const std::int16_t> samples) {
    const std::size_t w = geometry_.shotsPerLine, p = geometry_.pulsesPerRecord;
    const std::size_t n = geometry_.samplesPerPulse;
    if (azimuth.size() != w || horPos.size() != p || words.size() != p || samples.size() != p * n)
        return false;
    if (!begin(RecordKind::Line)) return false;
    putValue(elevation);
    putArray(azimuth);
    putArray(horPos);
    putArray(words);
    putArray(samples);
    return end();
}

bool RawFileWriter::writeStareRecord(float azimuth, float elevation, std::span<const double> horPos,
                                     std::span<const std::uint32_t> words,
                                     std::span<const std::int16_t> samples) {
    const std::size_t p = geometry_.pulsesPerRecord, n = geometry_.samplesPerPulse;
    if (horPos.size() != p || words.size() != p || samples.size() != p * n) return false;
    if (!begin(RecordKind::Stare)) return false;
    putValue(azimuth);
    putValue(elevation);
    putArray(horPos);
    putArray(words);
    putArray(samples);
    return end();
}

bool RawFileWriter::writeBowtieRecord(std::span<const float> azimuth,
                                      std::span<const float> elevation,
                                      std::span<const double> horPos,
                                      std::span<const std::uint32_t> words,
                                      std::span<const std::int16_t> samples) {
    const std::size_t q = geometry_.bowtiePulses(), n = geometry_.samplesPerPulse;
    if (azimuth.size() != q || elevation.size() != q || horPos.size() != q || words.size() != q ||
        samples.size() != q * n)
        return false;
    if (!begin(RecordKind::Bowtie)) return false;
    putArray(azimuth);
    putArray(elevation);
    putArray(horPos);
    putArray(words);
    putArray(samples);
    return end();
}

bool RawFileWriter::writePeakLineRecord(float elevation, std::span<const float> azimuth,
                                        std::span<const double> a, std::span<const double> b,
                                        std::span<const double> c, std::span<const double> d) {
    const std::size_t w = geometry_.shotsPerLine, p = geometry_.pulsesPerRecord;
    if (azimuth.size() != w || a.size() != p || b.size() != p || c.size() != p || d.size() != p)
        return false;
    if (!begin(RecordKind::PeakLine)) return false;
    putValue(elevation);
    putArray(azimuth);
    putArray(a);
    putArray(b);
    putArray(c);
    putArray(d);
    return end();
}

bool RawFileWriter::writePeakStareRecord(float azimuth, float elevation, std::span<const double> a,
                                         std::span<const double> b, std::span<const double> c,
                                         std::span<const double> d) {
    const std::size_t p = geometry_.pulsesPerRecord;
    if (a.size() != p || b.size() != p || c.size() != p || d.size() != p) return false;
    if (!begin(RecordKind::PeakStare)) return false;
    putValue(azimuth);
    putValue(elevation);
    putArray(a);
    putArray(b);
    putArray(c);
    putArray(d);
    return end();
}

bool RawFileWriter::finish(std::optional<std::pair<float, float>> trailerTemperatures) {
    if (!out_.isOpen()) return false;
    if (ok_ && trailerTemperatures) {
        putValue(trailerTemperatures->first);
        putValue(trailerTemperatures->second);
        putValue<std::uint16_t>(kTrailerMarker);
        flush();
    }
    if (!ok_) {
        out_.abandon();
        return false;
    }
    ok_ = false;
    return out_.commit();
}

} // namespace quarv
