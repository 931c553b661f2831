// Raw scan files: open, the information text, and every read of PlaybackFile on the records at
// the start, at the end and beyond the end of the file. The single-pulse and whole-record reads
// of the same record must agree element by element, whatever the file holds.
#include "fuzz/fuzz_targets.hpp"

#include "core/app/message_sink.hpp"
#include "core/scanfile/file_info.hpp"
#include "core/scanfile/playback_file.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <limits>
#include <span>
#include <vector>

namespace quarv::fuzz {
namespace {

// Whole-record buffers are allocated only up to this many samples: the reads are bounded by the
// file anyway (the fuzzer's files stay below 16 kB, so any record that fits in one is covered),
// and a header announcing 3000 pulses of 65535 samples must not cost 400 MB a run.
constexpr std::size_t kMaxRecordSamples = std::size_t(1) << 14;
constexpr std::int16_t kSentinel = 0x5A5A;

bool sameBits(float a, float b) {
    return std::bit_cast<std::uint32_t>(a) == std::bit_cast<std::uint32_t>(b);
}
bool sameBits(double a, double b) {
    return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

// Element by element, NaNs included.
bool sameBytes(const std::vector<double>& a, const std::vector<double>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

// The records worth reading: the first two, the last complete one, the first one beyond the
// end, and one far beyond any file.
std::vector<std::uint32_t> recordsToRead(std::uint64_t complete) {
    std::vector<std::uint32_t> r = {0, 1, std::numeric_limits<std::uint32_t>::max()};
    const std::uint64_t cap = std::numeric_limits<std::uint32_t>::max() - 1;
    if (complete > 0) r.push_back(static_cast<std::uint32_t>(std::min(complete - 1, cap)));
    r.push_back(static_cast<std::uint32_t>(std::min(complete, cap)));
    std::sort(r.begin(), r.end());
    r.erase(std::unique(r.begin(), r.end()), r.end());
    return r;
}

void lineReads(PlaybackFile& reader, std::uint32_t k) {
    const ScanGeometry g = reader.geometry();
    const std::size_t w = g.shotsPerLine, p = g.pulsesPerRecord, n = g.samplesPerPulse;
    std::vector<std::int16_t> pulse(n, kSentinel);
    double horPos = 0;
    std::uint32_t word = 0;
    float elevation = 0;
    if (p > 0) {
        require(
            reader.readPulse(static_cast<std::uint32_t>(p - 1), k, pulse, horPos, word, elevation),
            "readPulse with a large enough buffer on an open file");
    } else {
        require(!reader.readPulse(0, k, pulse, horPos, word, elevation),
                "readPulse of a pulse the record does not have");
    }
    const std::vector<float> azimuthAfterPulse(reader.azimuth().begin(), reader.azimuth().end());

    std::vector<float> azimuth(w, 0.0f);
    float lineElevation = 0;
    require(reader.readLineAngles(k, azimuth, lineElevation), "readLineAngles");
    if (reader.layoutOf() == RecordLayout::Waveform && p > 0) {
        require(sameBits(lineElevation, elevation), "elevation of readPulse and readLineAngles");
        // Only the azimuths inside the file: beyond its end the scratch array keeps what an
        // earlier record left there, the caller's array what it held.
        const std::uint64_t first =
            recordOffset(reader.recordSize(), k) + lineRecordOffsets(g).azimuth;
        for (std::size_t i = 0; i < std::min(w, azimuthAfterPulse.size()); ++i)
            if (first + 4 * (i + 1) <= reader.fileSize())
                require(sameBits(azimuth[i], azimuthAfterPulse[i]),
                        "azimuths of readPulse and readLineAngles");
    }

    if (p * n <= kMaxRecordSamples) {
        std::vector<std::int16_t> samples(p * n, kSentinel);
        std::vector<double> horPosAll(p, 0.0);
        std::vector<std::uint32_t> words(p, 0u);
        float recordElevation = 0;
        require(reader.readLineRecord(k, samples, horPosAll, words, recordElevation),
                "readLineRecord with large enough buffers");
        if (p > 0) {
            require(std::equal(pulse.begin(), pulse.end(), samples.begin() + (p - 1) * n),
                    "samples of the last pulse: readPulse and readLineRecord agree");
            require(sameBits(horPosAll[p - 1], horPos),
                    "horizontal position of readPulse and readLineRecord");
            require(words[p - 1] == word, "word of readPulse and readLineRecord");
            require(sameBits(recordElevation, elevation),
                    "elevation of readPulse and readLineRecord");
        }
        if (p * n > 0)
            require(!reader.readLineRecord(k, std::span(samples).first(p * n - 1), horPosAll, words,
                                           recordElevation),
                    "readLineRecord refuses a buffer one sample short");
    }

    std::vector<double> a(p), b(p), c(p), d(p);
    float peakElevation = 0;
    require(reader.readPeakLine(k, peakElevation, azimuth, a, b, c, d), "readPeakLine");
}

void bowtieReads(PlaybackFile& reader, std::uint32_t k) {
    const ScanGeometry g = reader.geometry();
    const std::size_t q = g.bowtiePulses(), n = g.samplesPerPulse;
    std::vector<std::int16_t> pulse(n, kSentinel);
    double horPos = 0;
    std::uint32_t word = 0;
    if (q > 0)
        require(reader.readBowtiePulse(static_cast<std::uint32_t>(q - 1), k, pulse, horPos, word),
                "readBowtiePulse");

    std::vector<float> azimuth(q, 0.0f), elevation(q, 0.0f);
    const bool complete = reader.readBowtieAngles(k, azimuth, elevation);
    if (q > 0) {
        const std::uint64_t end =
            recordOffset(reader.recordSize(), k) + bowtieRecordOffsets(g).elevation + 4 * q;
        require(complete == (end <= reader.fileSize()),
                "readBowtieAngles reports exactly whether all elevations were read");
    }

    if (q * n <= kMaxRecordSamples) {
        std::vector<std::int16_t> samples(q * n, kSentinel);
        std::vector<double> horPosAll(q, 0.0);
        std::vector<std::uint32_t> words(q, 0u);
        std::array<std::uint8_t, 14> reserved{};
        require(reader.readBowtieRecord(k, samples, horPosAll, words, reserved),
                "readBowtieRecord with large enough buffers");
        if (q > 0)
            require(std::equal(pulse.begin(), pulse.end(), samples.begin() + (q - 1) * n),
                    "samples of the last sweep pulse: readBowtiePulse and readBowtieRecord agree");
        // The engine's split reads: the sweep's shots on one thread, the samples by the workers.
        std::vector<float> az(q, 0.0f), el(q, 0.0f);
        std::vector<double> hp(q, 0.0);
        std::vector<std::uint32_t> wd(q, 0u);
        std::vector<std::int16_t> split(q * n, kSentinel);
        require(reader.readBowtieShots(k, az, el, hp, wd), "readBowtieShots");
        const bool sweep = reader.recordKind() == RecordKind::Bowtie;
        require(reader.readPulseSamples(k, 0, static_cast<std::uint32_t>(q), split) == sweep,
                "readPulseSamples reads the samples of a bowtie file");
        if (sweep)
            require(split == samples && sameBytes(hp, horPosAll) && wd == words,
                    "the split reads of a sweep agree with readBowtieRecord");
    }
}

void stareReads(PlaybackFile& reader, std::uint32_t line) {
    const ScanGeometry g = reader.geometry();
    const std::size_t p = g.pulsesPerRecord, n = g.samplesPerPulse;
    if (p * n > kMaxRecordSamples) return;
    std::vector<std::int16_t> samples(p * n, kSentinel);
    std::vector<double> horPos(p), a(p), b(p), c(p), d(p);
    std::vector<std::uint32_t> words(p);
    float azimuth = 0, elevation = 0;
    const std::uint32_t w = g.shotsPerLine;
    const std::uint32_t columns[] = {0, w, w + 7, std::numeric_limits<std::uint32_t>::max()};
    // A line near 2^32 lies beyond any file: its offset must not wrap back into this one.
    const bool beyond = line == std::numeric_limits<std::uint32_t>::max() && w > 0;
    for (std::uint32_t column : columns) {
        std::fill(samples.begin(), samples.end(), kSentinel);
        azimuth = elevation = -7.25f;
        require(reader.readStarePosition(line, column, azimuth, elevation, horPos, words, samples),
                "readStarePosition");
        if (beyond)
            require(azimuth == -7.25f && elevation == -7.25f &&
                        std::all_of(samples.begin(), samples.end(),
                                    [](std::int16_t v) { return v == kSentinel; }),
                    "a stare position beyond the file leaves the outputs as they were");
        require(reader.readPeakStare(column, line, azimuth, elevation, a, b, c, d),
                "readPeakStare");
        if (column < w && !beyond) {
            // The engine's read of a run of positions agrees with the one-position read.
            std::vector<double> ra(p, 1.5), rb(p, 1.5), rc(p, 1.5), rd(p, 1.5);
            float az = 0, el = 0;
            require(reader.readPeakStarePositions(line, column, 1, std::span(&az, 1),
                                                  std::span(&el, 1), ra, rb, rc, rd),
                    "readPeakStarePositions");
            const std::uint64_t end =
                recordOffset(reader.peakStareRecordSize(), std::uint64_t{line} * w + column + 1);
            if (end <= reader.fileSize())
                require(sameBytes(ra, a) && sameBytes(rb, b) && sameBytes(rc, c) &&
                            sameBytes(rd, d) && sameBits(az, azimuth) && sameBits(el, elevation),
                        "readPeakStarePositions and readPeakStare agree");
        }
        if (reader.recordKind() != RecordKind::Stare || column >= w || beyond) continue;
        // The engine's split reads of a position agree with the whole-record read.
        require(reader.readStarePosition(line, column, azimuth, elevation, horPos, words, samples),
                "readStarePosition");
        std::vector<std::int16_t> split(p * n, kSentinel);
        std::vector<double> hp(p, 0.0);
        std::vector<std::uint32_t> wd(p, 0u);
        std::vector<std::uint8_t> scratch;
        float az = 0, el = 0;
        const std::uint64_t record = std::uint64_t{line} * w + column;
        require(reader.readStareShots(record, az, el, hp, wd, scratch) &&
                    reader.readPulseSamples(record, 0, static_cast<std::uint32_t>(p), split),
                "the split reads of a stare position");
        std::vector<std::int16_t> run(p * n, kSentinel);
        std::vector<double> runHp(p, 0.0);
        std::vector<std::uint32_t> runWd(p, 0u);
        float runAz = 0, runEl = 0;
        require(reader.readStarePositions(record, 1, &runAz, &runEl, runHp, runWd, run, scratch),
                "the run read of a stare position");
        const std::uint64_t end = recordOffset(reader.recordSize(), record + 1);
        if (end <= reader.fileSize())
            require(split == samples && run == samples && sameBytes(hp, horPos) &&
                        sameBytes(runHp, horPos) && wd == words && runWd == words &&
                        sameBits(az, azimuth) && sameBits(runAz, azimuth) &&
                        sameBits(el, elevation) && sameBits(runEl, elevation),
                    "the split reads of a complete stare position agree with readStarePosition");
    }
}

} // namespace

int rawScanFile(const std::uint8_t* data, std::size_t size) {
    const std::filesystem::path path = writeScratch("input.raw", data, size);
    RecordingSink sink;
    PlaybackFile reader(sink);

    std::vector<std::string> lines;
    const bool opened = fillInfo(reader, path, lines);
    require(lines.size() == kFileInfoLineCount, "the information text has its 30 lines");
    require(!reader.isOpen(), "fillInfo leaves the reader closed");

    if (!reader.open(path)) {
        require(!opened, "open and fillInfo agree");
        require(!sink.messages().empty(), "a refused file is reported");
        TrailerTemperatures t;
        require(!reader.readTrailer(t), "reads refuse while no file is open");
        return 0;
    }
    require(opened, "open and fillInfo agree");
    const ScanGeometry g = reader.geometry();
    require(withinReaderCapacity(g), "an opened header is within the reader's capacity");
    require(reader.fileSize() == size, "the reader sees the whole file");
    const std::uint64_t complete = reader.recordCount();
    require(complete * reader.fileRecordSize() + kScanHeaderSize <=
                std::max<std::uint64_t>(size, kScanHeaderSize),
            "recordCount counts complete records only");

    for (std::uint32_t k : recordsToRead(complete)) {
        lineReads(reader, k);
        bowtieReads(reader, k);
    }
    const std::uint32_t lastLine = g.lines == 0 ? 0 : g.lines - 1u;
    for (std::uint32_t line :
         {0u, lastLine, std::uint32_t(g.lines) + 1u, std::numeric_limits<std::uint32_t>::max()})
        stareReads(reader, line);

    TrailerTemperatures t;
    require(reader.readTrailer(t), "readTrailer on an open file");
    const float configured = reader.headerImage().digitizer().temperatureC();
    const bool kept = t.marker == kTrailerMarker && t.first >= 0.0f && t.first <= 55.0f &&
                      t.second >= 0.0f && t.second <= 55.0f;
    require(kept || (sameBits(t.first, configured) && sameBits(t.second, configured)),
            "an invalid trailer gives the configured temperature twice");

    reader.close();
    std::vector<float> azimuth(g.shotsPerLine);
    float elevation = 0;
    require(!reader.readLineAngles(0, azimuth, elevation), "reads refuse after close");
    return 0;
}

} // namespace quarv::fuzz
