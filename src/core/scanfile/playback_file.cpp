#include "core/scanfile/playback_file.hpp"

#include "core/config/bytes.hpp"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quarv {

namespace {

// File bytes pass through this buffer on their way into typed outputs; it bounds the reader's
// memory independently of the record size (a record may be hundreds of megabytes).
constexpr std::size_t kIoBufferBytes = 64 * 1024;

constexpr float kTrailerMinC = 0.0f;
constexpr float kTrailerMaxC = 55.0f;

} // namespace

PlaybackFile::PlaybackFile(MessageSink& sink) : sink_(sink), io_(kIoBufferBytes) {}

PlaybackFile::~PlaybackFile() {
    close();
}

void PlaybackFile::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    fileSize_ = 0;
}

bool PlaybackFile::refuse(const std::string& message, int fd) {
    if (fd >= 0) ::close(fd);
    sink_.report(message);
    return false;
}

bool PlaybackFile::open(const std::filesystem::path& path) {
    close();
    const std::string name = path.string();
    // O_NONBLOCK keeps a FIFO from hanging the open; it is refused below as not a regular file.
    const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return refuse(formatMessage("ERROR opening playback file: %s", name.c_str()), fd);

    std::array<std::uint8_t, kScanHeaderSize> bytes{};
    std::size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::pread(fd, bytes.data() + got, bytes.size() - got, off_t(got));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += std::size_t(n);
    }
    if (got >= 2 && le::u16(bytes.data()) != kScanFileVersion)
        return refuse("ERROR: Loading file - convert to version 3.0 before use", fd);
    if (got < kScanHeaderSize)
        return refuse(formatMessage("ERROR: Loading file - file too short for a scan header: %s",
                                    name.c_str()),
                      fd);

    const ScanHeader header = ScanHeader::decode(bytes);
    const HeaderImage image = header.image();
    const ScanGeometry g = ScanGeometry::of(image);
    if (!withinReaderCapacity(g))
        return refuse(formatMessage("ERROR: Loading file - scan size beyond reader capacity "
                                    "(W %u, P %u, N %u)",
                                    unsigned(g.shotsPerLine), unsigned(g.pulsesPerRecord),
                                    unsigned(g.samplesPerPulse)),
                      fd);

    fd_ = fd;
    fileSize_ = std::uint64_t(st.st_size);
    fileKind_ = header.fileKind;
    layout_ = layoutFor(fileKind_, path);
    image_ = image;
    geometry_ = g;
    // Scratch arrays from the header: a bowtie sweep has 4 W of everything, a line W azimuths
    // and P positions and words. All are within the 3000-entry capacity checked above.
    const std::size_t w = g.shotsPerLine, p = g.pulsesPerRecord, q = g.bowtiePulses();
    azimuth_.assign(g.isBowtie() ? q : w, 0.0f);
    elevation_.assign(g.isBowtie() ? q : 0, 0.0f);
    horPos_.assign(g.isBowtie() ? q : p, 0.0);
    words_.assign(g.isBowtie() ? q : p, 0u);
    return true;
}

void PlaybackFile::copyHeader(ScannerCfg& scanner, DigitizerCfg& digitizer,
                              ProcessingCfg& processing, EnvCfg& environment,
                              CalibrationCfg& calibration, PanTiltCfg& panTilt,
                              AttitudeBlock& attitude) const {
    scanner = image_.scanner();
    digitizer = image_.digitizer();
    processing = image_.processing();
    environment = image_.environment();
    calibration = image_.calibration();
    panTilt = image_.panTilt();
    attitude = image_.attitude();
}

std::uint64_t PlaybackFile::recordCount() const {
    const std::uint32_t s = fileRecordSize();
    if (!isOpen() || s == 0 || fileSize_ < kScanHeaderSize) return 0;
    return (fileSize_ - kScanHeaderSize) / s;
}

bool PlaybackFile::requireOpen() {
    if (isOpen()) return true;
    sink_.report("ERROR, no file open for playback!");
    return false;
}

template <typename T> std::size_t PlaybackFile::readArray(std::uint64_t offset, std::span<T> out) {
    // fileSize_ came from st_size, so any offset below it fits off_t.
    if (offset >= fileSize_ || out.empty()) return 0;
    const std::uint64_t available = (fileSize_ - offset) / sizeof(T);
    const std::size_t want = std::size_t(std::min<std::uint64_t>(out.size(), available));
    const std::size_t perChunk = io_.size() / sizeof(T);
    std::size_t done = 0;
    while (done < want) {
        const std::size_t chunk = std::min(want - done, perChunk);
        const ssize_t n = ::pread(fd_, io_.data(), chunk * sizeof(T),
                                  off_t(offset + std::uint64_t(done) * sizeof(T)));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        // Only whole values are stored; a trailing fragment is read again on the next pass.
        const std::size_t whole = std::size_t(n) / sizeof(T);
        if (whole == 0) break;
        for (std::size_t i = 0; i < whole; ++i)
            out[done + i] = le::load<T>(io_.data() + i * sizeof(T));
        done += whole;
    }
    return done;
}

template <typename T> bool PlaybackFile::readValue(std::uint64_t offset, T& out) {
    return readArray(offset, std::span<T>(&out, 1)) == 1;
}

std::uint64_t PlaybackFile::stareIndex(std::uint32_t line, std::uint32_t column) const {
    return std::uint64_t(line) * geometry_.shotsPerLine + column;
}

namespace {

// The part of a scratch array that a read of `count` values fills: all of it for a record of
// the file's own kind, as much as fits when a caller reads a record of another kind.
template <typename T> std::span<T> scratch(std::vector<T>& v, std::size_t count) {
    return std::span<T>(v).first(std::min(count, v.size()));
}

} // namespace

bool PlaybackFile::readPulse(std::uint32_t pulse, std::uint32_t record,
                             std::span<std::int16_t> samples, double& horPosOut,
                             std::uint32_t& wordOut, float& elevationOut) {
    if (!requireOpen()) return false;
    const std::size_t w = geometry_.shotsPerLine, p = geometry_.pulsesPerRecord;
    const std::size_t n = geometry_.samplesPerPulse;
    if (pulse >= p || samples.size() < n) return false;
    const std::uint64_t base = recordOffset(recordSize(), record);
    const LineRecordOffsets off = lineRecordOffsets(geometry_);
    readValue(base + off.elevation, elevationOut);
    readArray(base + off.azimuth, scratch(azimuth_, w));
    readArray(base + off.horPos, scratch(horPos_, p));
    readValue(base + off.horPos + 8ull * pulse, horPosOut);
    readArray(base + off.words, scratch(words_, p));
    readValue(base + off.words + 4ull * pulse, wordOut);
    readArray(base + off.samples + 2ull * n * pulse, samples.first(n));
    return true;
}

bool PlaybackFile::readBowtiePulse(std::uint32_t pulse, std::uint32_t record,
                                   std::span<std::int16_t> samples, double& horPosOut,
                                   std::uint32_t& wordOut) {
    if (!requireOpen()) return false;
    const std::size_t q = geometry_.bowtiePulses(), n = geometry_.samplesPerPulse;
    if (pulse >= q || samples.size() < n) return false;
    const std::uint64_t base = recordOffset(recordSize(), record);
    const BowtieRecordOffsets off = bowtieRecordOffsets(geometry_);
    readArray(base + off.azimuth, scratch(azimuth_, q));
    readArray(base + off.elevation, scratch(elevation_, q));
    readArray(base + off.horPos, scratch(horPos_, q));
    readValue(base + off.horPos + 8ull * pulse, horPosOut);
    readArray(base + off.words, scratch(words_, q));
    readValue(base + off.words + 4ull * pulse, wordOut);
    readArray(base + off.samples + 2ull * n * pulse, samples.first(n));
    return true;
}

bool PlaybackFile::readLineRecord(std::uint32_t record, std::span<std::int16_t> samples,
                                  std::span<double> horPosOut, std::span<std::uint32_t> wordsOut,
                                  float& elevationOut) {
    if (!requireOpen()) return false;
    const std::size_t w = geometry_.shotsPerLine, p = geometry_.pulsesPerRecord;
    const std::size_t n = geometry_.samplesPerPulse;
    if (samples.size() < p * n || horPosOut.size() < p || wordsOut.size() < p) return false;
    readLineShots(record, scratch(azimuth_, w), horPosOut, wordsOut, elevationOut);
    const std::uint64_t base = recordOffset(recordSize(), record);
    readArray(base + lineRecordOffsets(geometry_).samples, samples.first(p * n));
    return true;
}

bool PlaybackFile::readLineShots(std::uint32_t record, std::span<float> azimuthOut,
                                 std::span<double> horPosOut, std::span<std::uint32_t> wordsOut,
                                 float& elevationOut) {
    if (!requireOpen()) return false;
    const std::size_t w = geometry_.shotsPerLine, p = geometry_.pulsesPerRecord;
    if (azimuthOut.size() < w || horPosOut.size() < p || wordsOut.size() < p) return false;
    const std::uint64_t base = recordOffset(recordSize(), record);
    const LineRecordOffsets off = lineRecordOffsets(geometry_);
    readValue(base + off.elevation, elevationOut);
    readArray(base + off.azimuth, azimuthOut.first(w));
    readArray(base + off.horPos, horPosOut.first(p));
    readArray(base + off.words, wordsOut.first(p));
    return true;
}

bool PlaybackFile::readPulseSamples(std::uint64_t record, std::uint32_t first, std::uint32_t end,
                                    std::span<std::int16_t> out) const {
    const std::size_t n = geometry_.samplesPerPulse;
    const RecordKind kind = recordKind();
    std::uint64_t samplesAt = 0;
    std::uint32_t pulses = geometry_.pulsesPerRecord;
    if (kind == RecordKind::Line) {
        samplesAt = lineRecordOffsets(geometry_).samples;
    } else if (kind == RecordKind::Stare) {
        samplesAt = stareRecordOffsets(geometry_).samples;
    } else if (kind == RecordKind::Bowtie) {
        samplesAt = bowtieRecordOffsets(geometry_).samples;
        pulses = geometry_.bowtiePulses();
    } else {
        return false; // peak records hold no samples
    }
    if (fd_ < 0 || first > end || end > pulses || out.size() < std::size_t(end - first) * n)
        return false;
    const std::uint64_t start = recordOffset(recordSize(), record) + samplesAt +
                                std::uint64_t(first) * n * sizeof(std::int16_t);
    if (start >= fileSize_) return true;
    // Whole samples only, as far as the file goes.
    const std::uint64_t want =
        std::min<std::uint64_t>(std::uint64_t(end - first) * n, (fileSize_ - start) / 2) * 2;
    auto* bytes = reinterpret_cast<std::uint8_t*>(out.data());
    const std::uint64_t done = preadFully(bytes, want, start);
    if constexpr (std::endian::native == std::endian::big) {
        for (std::uint64_t i = 0; i < done / 2; ++i)
            out[i] = static_cast<std::int16_t>(le::u16(bytes + 2 * i));
    }
    return true;
}

std::uint64_t PlaybackFile::preadFully(std::uint8_t* out, std::uint64_t bytes,
                                       std::uint64_t offset) const {
    std::uint64_t done = 0;
    while (done < bytes) {
        const ssize_t got =
            ::pread(fd_, out + done, std::size_t(bytes - done), off_t(offset + done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        done += std::uint64_t(got);
    }
    return done;
}

bool PlaybackFile::readStareShots(std::uint64_t record, float& azimuthOut, float& elevationOut,
                                  std::span<double> horPosOut, std::span<std::uint32_t> wordsOut,
                                  std::vector<std::uint8_t>& scratch) const {
    const std::size_t p = geometry_.pulsesPerRecord;
    if (fd_ < 0 || recordKind() != RecordKind::Stare || horPosOut.size() < p || wordsOut.size() < p)
        return false;
    const StareRecordOffsets off = stareRecordOffsets(geometry_);
    const std::uint64_t base = recordOffset(recordSize(), record);
    const std::size_t length = std::size_t(off.samples - off.azimuth);
    if (scratch.size() < length) scratch.resize(length);
    const std::uint64_t start = base + off.azimuth;
    const std::uint64_t got =
        start < fileSize_
            ? preadFully(scratch.data(), std::min<std::uint64_t>(length, fileSize_ - start), start)
            : 0;
    // Whole values only: each field is taken when all of its bytes were read.
    const auto at = [&](std::uint64_t field, std::size_t size) -> const std::uint8_t* {
        const std::uint64_t from = field - off.azimuth;
        return from + size <= got ? scratch.data() + from : nullptr;
    };
    if (const auto* v = at(off.azimuth, 4)) azimuthOut = le::load<float>(v);
    if (const auto* v = at(off.elevation, 4)) elevationOut = le::load<float>(v);
    for (std::size_t i = 0; i < p; ++i)
        if (const auto* v = at(off.horPos + 8 * i, 8)) horPosOut[i] = le::load<double>(v);
    for (std::size_t i = 0; i < p; ++i)
        if (const auto* v = at(off.words + 4 * i, 4)) wordsOut[i] = le::load<std::uint32_t>(v);
    return true;
}

bool PlaybackFile::readStarePositions(std::uint64_t first, std::uint32_t count, float* azimuthOut,
                                      float* elevationOut, std::span<double> horPosOut,
                                      std::span<std::uint32_t> wordsOut,
                                      std::span<std::int16_t> samples,
                                      std::vector<std::uint8_t>& scratch) const {
    const std::size_t p = geometry_.pulsesPerRecord, n = geometry_.samplesPerPulse;
    if (fd_ < 0 || recordKind() != RecordKind::Stare || horPosOut.size() < count * p ||
        wordsOut.size() < count * p || samples.size() < count * p * n)
        return false;
    const std::uint32_t size = recordSize();
    const std::uint64_t start = recordOffset(size, first);
    if (start >= fileSize_ || count == 0) return true;
    const std::uint64_t want =
        std::min<std::uint64_t>(std::uint64_t(count) * size, fileSize_ - start);
    if (scratch.size() < want) scratch.resize(std::size_t(want));
    const std::uint64_t got = preadFully(scratch.data(), want, start);
    const StareRecordOffsets off = stareRecordOffsets(geometry_);
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint64_t base = std::uint64_t(i) * size;
        // Whole values only, as far as the read went.
        const auto at = [&](std::uint64_t field, std::size_t bytes) -> const std::uint8_t* {
            return base + field + bytes <= got ? scratch.data() + base + field : nullptr;
        };
        if (const auto* v = at(off.azimuth, 4)) azimuthOut[i] = le::load<float>(v);
        if (const auto* v = at(off.elevation, 4)) elevationOut[i] = le::load<float>(v);
        for (std::size_t q = 0; q < p; ++q) {
            if (const auto* v = at(off.horPos + 8 * q, 8))
                horPosOut[i * p + q] = le::load<double>(v);
            if (const auto* v = at(off.words + 4 * q, 4))
                wordsOut[i * p + q] = le::load<std::uint32_t>(v);
        }
        const std::uint64_t from = base + off.samples;
        if (from >= got) continue;
        const std::size_t whole = std::size_t(std::min<std::uint64_t>(p * n, (got - from) / 2));
        std::int16_t* out = samples.data() + std::size_t(i) * p * n;
        for (std::size_t k = 0; k < whole; ++k)
            out[k] = static_cast<std::int16_t>(le::u16(scratch.data() + from + 2 * k));
    }
    return true;
}

bool PlaybackFile::readBowtieShots(std::uint32_t record, std::span<float> azimuthOut,
                                   std::span<float> elevationOut, std::span<double> horPosOut,
                                   std::span<std::uint32_t> wordsOut) {
    if (!requireOpen()) return false;
    const std::size_t q = geometry_.bowtiePulses();
    if (azimuthOut.size() < q || elevationOut.size() < q || horPosOut.size() < q ||
        wordsOut.size() < q)
        return false;
    const std::uint64_t base = recordOffset(recordSize(), record);
    const BowtieRecordOffsets off = bowtieRecordOffsets(geometry_);
    readArray(base + off.azimuth, azimuthOut.first(q));
    readArray(base + off.elevation, elevationOut.first(q));
    readArray(base + off.horPos, horPosOut.first(q));
    readArray(base + off.words, wordsOut.first(q));
    return true;
}

bool PlaybackFile::readBowtieRecord(std::uint32_t record, std::span<std::int16_t> samples,
                                    std::span<double> horPosOut, std::span<std::uint32_t> wordsOut,
                                    std::array<std::uint8_t, 14>& reservedOut) {
    if (!requireOpen()) return false;
    const std::size_t q = geometry_.bowtiePulses(), n = geometry_.samplesPerPulse;
    if (samples.size() < q * n || horPosOut.size() < q || wordsOut.size() < q) return false;
    const std::uint64_t base = recordOffset(recordSize(), record);
    const BowtieRecordOffsets off = bowtieRecordOffsets(geometry_);
    readArray(base + 4, std::span<std::uint8_t>(reservedOut));
    readArray(base + off.azimuth, scratch(azimuth_, q));
    readArray(base + off.elevation, scratch(elevation_, q));
    readArray(base + off.horPos, horPosOut.first(q));
    readArray(base + off.words, wordsOut.first(q));
    readArray(base + off.samples, samples.first(q * n));
    return true;
}

bool PlaybackFile::readLineAngles(std::uint32_t record, std::span<float> azimuthOut,
                                  float& elevationOut) {
    if (!requireOpen()) return false;
    const std::size_t w = geometry_.shotsPerLine;
    if (azimuthOut.size() < w) return false;
    const std::uint32_t s = layout_ == RecordLayout::Peak ? peakLineRecordSize() : recordSize();
    const std::uint64_t base = recordOffset(s, record);
    // Elevation and azimuths sit at the same places in the waveform and the peak line record.
    const LineRecordOffsets off = lineRecordOffsets(geometry_);
    readValue(base + off.elevation, elevationOut);
    readArray(base + off.azimuth, azimuthOut.first(w));
    return true;
}

bool PlaybackFile::readBowtieAngles(std::uint32_t record, std::span<float> azimuthOut,
                                    std::span<float> elevationOut) {
    if (!requireOpen()) return false;
    const std::size_t q = geometry_.bowtiePulses();
    if (azimuthOut.size() < q || elevationOut.size() < q) return false;
    const std::uint64_t base = recordOffset(recordSize(), record);
    const BowtieRecordOffsets off = bowtieRecordOffsets(geometry_);
    readArray(base + off.azimuth, azimuthOut.first(q));
    return readArray(base + off.elevation, elevationOut.first(q)) == q;
}

bool PlaybackFile::readStarePosition(std::uint32_t line, std::uint32_t column, float& azimuthOut,
                                     float& elevationOut, std::span<double> horPosOut,
                                     std::span<std::uint32_t> wordsOut,
                                     std::span<std::int16_t> samples) {
    if (!requireOpen()) return false;
    const std::size_t p = geometry_.pulsesPerRecord, n = geometry_.samplesPerPulse;
    if (samples.size() < p * n || horPosOut.size() < p || wordsOut.size() < p) return false;
    const std::uint32_t s = layout_ == RecordLayout::Peak ? peakStareRecordSize() : recordSize();
    const std::uint32_t c = std::min<std::uint32_t>(column, geometry_.shotsPerLine);
    const std::uint64_t base = recordOffset(s, stareIndex(line, c));
    const StareRecordOffsets off = stareRecordOffsets(geometry_);
    readValue(base + off.azimuth, azimuthOut);
    readValue(base + off.elevation, elevationOut);
    readArray(base + off.horPos, horPosOut.first(p));
    readArray(base + off.words, wordsOut.first(p));
    readArray(base + off.samples, samples.first(p * n));
    return true;
}

bool PlaybackFile::readPeakLine(std::uint32_t record, float& elevationOut,
                                std::span<float> azimuthOut, std::span<double> a,
                                std::span<double> b, std::span<double> c, std::span<double> d) {
    if (!requireOpen()) return false;
    const std::size_t w = geometry_.shotsPerLine, p = geometry_.pulsesPerRecord;
    if (azimuthOut.size() < w || a.size() < p || b.size() < p || c.size() < p || d.size() < p)
        return false;
    const std::uint64_t base = recordOffset(peakLineRecordSize(), record);
    const PeakLineRecordOffsets off = peakLineRecordOffsets(geometry_);
    readValue(base + off.elevation, elevationOut);
    readArray(base + off.azimuth, azimuthOut.first(w));
    readArray(base + off.values[0], a.first(p));
    readArray(base + off.values[1], b.first(p));
    readArray(base + off.values[2], c.first(p));
    readArray(base + off.values[3], d.first(p));
    return true;
}

bool PlaybackFile::readPeakStarePositions(std::uint32_t line, std::uint32_t first,
                                          std::uint32_t count, std::span<float> azimuthOut,
                                          std::span<float> elevationOut, std::span<double> a,
                                          std::span<double> b, std::span<double> c,
                                          std::span<double> d) {
    if (!requireOpen()) return false;
    const std::size_t p = geometry_.pulsesPerRecord, n = std::size_t(count) * p;
    if (azimuthOut.size() < count || elevationOut.size() < count || a.size() < n || b.size() < n ||
        c.size() < n || d.size() < n)
        return false;
    const std::uint32_t size = peakStareRecordSize();
    const std::uint64_t start = recordOffset(size, stareIndex(line, first));
    if (start >= fileSize_ || count == 0) return true;
    const std::uint64_t want =
        std::min<std::uint64_t>(std::uint64_t(count) * size, fileSize_ - start);
    runBytes_.resize(std::size_t(want));
    const std::uint64_t got = preadFully(runBytes_.data(), want, start);
    const PeakStareRecordOffsets off = peakStareRecordOffsets(geometry_);
    const std::span<double> values[4] = {a, b, c, d};
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint64_t base = std::uint64_t(i) * size;
        // Whole values only, as far as the read went.
        const auto at = [&](std::uint64_t field, std::size_t bytes) -> const std::uint8_t* {
            return base + field + bytes <= got ? runBytes_.data() + base + field : nullptr;
        };
        if (const auto* v = at(off.azimuth, 4)) azimuthOut[i] = le::load<float>(v);
        if (const auto* v = at(off.elevation, 4)) elevationOut[i] = le::load<float>(v);
        for (std::size_t k = 0; k < 4; ++k)
            for (std::size_t q = 0; q < p; ++q)
                if (const auto* v = at(off.values[k] + 8 * q, 8))
                    values[k][i * p + q] = le::load<double>(v);
    }
    return true;
}

bool PlaybackFile::readPeakStare(std::uint32_t column, std::uint32_t line, float& azimuthOut,
                                 float& elevationOut, std::span<double> a, std::span<double> b,
                                 std::span<double> c, std::span<double> d) {
    if (!requireOpen()) return false;
    const std::size_t p = geometry_.pulsesPerRecord;
    if (a.size() < p || b.size() < p || c.size() < p || d.size() < p) return false;
    const std::uint64_t base = recordOffset(peakStareRecordSize(), stareIndex(line, column));
    const PeakStareRecordOffsets off = peakStareRecordOffsets(geometry_);
    readValue(base + off.azimuth, azimuthOut);
    readValue(base + off.elevation, elevationOut);
    readArray(base + off.values[0], a.first(p));
    readArray(base + off.values[1], b.first(p));
    readArray(base + off.values[2], c.first(p));
    readArray(base + off.values[3], d.first(p));
    return true;
}

bool PlaybackFile::readTrailer(TrailerTemperatures& out) {
    if (!requireOpen()) return false;
    std::array<std::uint8_t, kTrailerSize> bytes{};
    if (fileSize_ >= kTrailerSize &&
        readArray(fileSize_ - kTrailerSize, std::span<std::uint8_t>(bytes)) == kTrailerSize) {
        out.first = le::f32(bytes.data());
        out.second = le::f32(bytes.data() + 4);
        out.marker = le::u16(bytes.data() + 8);
    }
    // Written as "inside the bounds" so that a NaN temperature counts as not valid.
    const auto inBounds = [](float t) { return t >= kTrailerMinC && t <= kTrailerMaxC; };
    if (out.marker != kTrailerMarker || !inBounds(out.first) || !inBounds(out.second)) {
        const float configured = image_.digitizer().temperatureC();
        out.first = configured;
        out.second = configured;
    }
    return true;
}

} // namespace quarv
