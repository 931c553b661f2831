#include "core/scanfile/line_arrays.hpp"

#include "core/app/message_sink.hpp"

#include <algorithm>
#include <vector>

namespace quarv {
namespace {

bool isStareKind(RecordKind k) {
    return k == RecordKind::Stare || k == RecordKind::PeakStare;
}
bool isPeakKind(RecordKind k) {
    return k == RecordKind::PeakLine || k == RecordKind::PeakStare;
}

// The common checks of every read: the line exists and each array holds `need` entries.
bool lineReadable(const PlaybackFile& reader, std::uint32_t line, std::size_t need,
                  std::initializer_list<std::size_t> sizes, MessageSink& sink) {
    if (!reader.isOpen()) {
        sink.report("ERROR, no file open for playback!");
        return false;
    }
    const LineShape shape = lineShapeOf(reader);
    if (line >= shape.lines) {
        sink.report(
            formatMessage("ERROR, line %u beyond the file (%u complete lines)", line, shape.lines));
        return false;
    }
    for (const std::size_t size : sizes) {
        if (size < need) {
            sink.report("ERROR, line read: array too short for the line");
            return false;
        }
    }
    return true;
}

bool refuseKind(const PlaybackFile& reader, bool wantPeaks, MessageSink& sink) {
    if (isPeakKind(reader.recordKind()) == wantPeaks) return false;
    sink.report(wantPeaks ? "ERROR, the file holds waveforms, not peak records"
                          : "ERROR, the file holds peak records, not waveforms");
    return true;
}

} // namespace

LineShape lineShapeOf(const PlaybackFile& reader) {
    LineShape s;
    if (!reader.isOpen()) return s;
    const ScanGeometry g = reader.geometry();
    s.kind = reader.recordKind();
    const std::uint64_t records = reader.recordCount();
    const std::uint64_t lines =
        isStareKind(s.kind) ? (g.shotsPerLine == 0 ? 0 : records / g.shotsPerLine) : records;
    s.lines = static_cast<std::uint32_t>(std::min<std::uint64_t>(lines, g.lines));
    s.samples = isPeakKind(s.kind) ? 0 : g.samplesPerPulse;
    switch (s.kind) {
    case RecordKind::Line:
    case RecordKind::PeakLine:
        s.shots = g.pulsesPerRecord;
        s.angles = g.shotsPerLine;
        break;
    case RecordKind::Stare:
    case RecordKind::PeakStare:
        s.shots = g.shotsPerLine;
        s.pulses = g.pulsesPerRecord;
        s.angles = g.shotsPerLine;
        break;
    case RecordKind::Bowtie:
        s.shots = g.bowtiePulses();
        s.angles = g.bowtiePulses();
        break;
    }
    return s;
}

bool readLineWaveforms(PlaybackFile& reader, std::uint32_t line, std::span<std::int16_t> out,
                       MessageSink& sink) {
    if (reader.isOpen() && refuseKind(reader, false, sink)) return false;
    const LineShape s = lineShapeOf(reader);
    if (!lineReadable(reader, line, s.values() * s.samples, {out.size()}, sink)) return false;
    if (s.kind != RecordKind::Stare) return reader.readPulseSamples(line, 0, s.shots, out);
    // A stare line is W records of P pulses each.
    const std::size_t perRecord = std::size_t{s.pulses} * s.samples;
    for (std::uint32_t c = 0; c < s.shots; ++c)
        if (!reader.readPulseSamples(std::uint64_t{line} * s.shots + c, 0, s.pulses,
                                     out.subspan(c * perRecord, perRecord)))
            return false;
    return true;
}

bool readLineHorizontalPositions(PlaybackFile& reader, std::uint32_t line, std::span<double> out,
                                 MessageSink& sink) {
    const LineShape s = lineShapeOf(reader);
    if (!lineReadable(reader, line, s.values(), {out.size()}, sink)) return false;
    if (isPeakKind(s.kind)) {
        std::vector<double> a(s.values()), c(s.values()), d(s.values());
        return readLinePeaks(reader, line, a, out, c, d, sink);
    }
    std::vector<std::uint32_t> words(s.values());
    std::vector<float> azimuth(s.angles), elevation(s.angles);
    float e = 0;
    switch (s.kind) {
    case RecordKind::Line:
        return reader.readLineShots(line, azimuth, out, words, e);
    case RecordKind::Bowtie:
        return reader.readBowtieShots(line, azimuth, elevation, out, words);
    default: {
        std::vector<std::uint8_t> scratch;
        for (std::uint32_t c = 0; c < s.shots; ++c)
            if (!reader.readStareShots(std::uint64_t{line} * s.shots + c, azimuth[c], e,
                                       out.subspan(std::size_t{c} * s.pulses, s.pulses), words,
                                       scratch))
                return false;
        return true;
    }
    }
}

bool readLineAngles(PlaybackFile& reader, std::uint32_t line, std::span<float> azimuth,
                    std::span<float> elevation, MessageSink& sink) {
    const LineShape s = lineShapeOf(reader);
    if (!lineReadable(reader, line, s.angles, {azimuth.size(), elevation.size()}, sink))
        return false;
    switch (s.kind) {
    case RecordKind::Line:
    case RecordKind::PeakLine: {
        float e = 0;
        if (!reader.readLineAngles(line, azimuth, e)) return false;
        std::fill_n(elevation.begin(), s.angles, e);
        return true;
    }
    case RecordKind::Bowtie:
        if (reader.readBowtieAngles(line, azimuth, elevation)) return true;
        sink.report(formatMessage("ERROR, sweep %u cut short by the end of the file", line));
        return false;
    case RecordKind::Stare: {
        std::vector<double> horPos(s.pulses);
        std::vector<std::uint32_t> words(s.pulses);
        std::vector<std::uint8_t> scratch;
        for (std::uint32_t c = 0; c < s.shots; ++c)
            if (!reader.readStareShots(std::uint64_t{line} * s.shots + c, azimuth[c], elevation[c],
                                       horPos, words, scratch))
                return false;
        return true;
    }
    case RecordKind::PeakStare: {
        std::vector<double> v(s.pulses);
        for (std::uint32_t c = 0; c < s.shots; ++c)
            if (!reader.readPeakStare(c, line, azimuth[c], elevation[c], v, v, v, v)) return false;
        return true;
    }
    }
    return false;
}

bool readLinePeaks(PlaybackFile& reader, std::uint32_t line, std::span<double> position,
                   std::span<double> horPos, std::span<double> amplitude, std::span<double> snr,
                   MessageSink& sink) {
    if (reader.isOpen() && refuseKind(reader, true, sink)) return false;
    const LineShape s = lineShapeOf(reader);
    if (!lineReadable(reader, line, s.values(),
                      {position.size(), horPos.size(), amplitude.size(), snr.size()}, sink))
        return false;
    float azimuth = 0, elevation = 0;
    if (s.kind == RecordKind::PeakLine) {
        std::vector<float> azimuths(s.angles);
        return reader.readPeakLine(line, elevation, azimuths, position, horPos, amplitude, snr);
    }
    for (std::uint32_t c = 0; c < s.shots; ++c) {
        const auto part = [&](std::span<double> a) {
            return a.subspan(std::size_t{c} * s.pulses, s.pulses);
        };
        if (!reader.readPeakStare(c, line, azimuth, elevation, part(position), part(horPos),
                                  part(amplitude), part(snr)))
            return false;
    }
    return true;
}

} // namespace quarv
