#include "core/waveform/shot.hpp"

#include "core/app/message_sink.hpp"
#include "core/scanfile/playback_file.hpp"
#include "core/waveform/waveform_processor.hpp"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <memory>
#include <thread>

namespace quarv {

bool readShotWaveform(PlaybackFile& reader, std::uint64_t record, std::uint32_t pulse,
                      std::vector<std::int16_t>& samples, double& horPos, MessageSink& sink) {
    if (!reader.isOpen()) {
        sink.report("ERROR, no file open for playback!");
        return false;
    }
    if (reader.layoutOf() != RecordLayout::Waveform) {
        sink.report("ERROR, shot: the file holds peak records, not waveforms");
        return false;
    }
    const ScanGeometry g = reader.geometry();
    const std::uint64_t records = reader.recordCount();
    if (record >= records) {
        sink.report(formatMessage("ERROR, shot: record %" PRIu64 " beyond the file (%" PRIu64
                                  " records)",
                                  record, records));
        return false;
    }
    const std::uint32_t pulses = g.isBowtie() ? g.bowtiePulses() : g.pulsesPerRecord;
    if (pulse >= pulses) {
        sink.report(
            formatMessage("ERROR, shot: pulse %u beyond the record (%u pulses)", pulse, pulses));
        return false;
    }
    const std::size_t n = g.samplesPerPulse;
    samples.assign(n, 0);
    std::uint32_t word = 0;
    if (g.isBowtie())
        return reader.readBowtiePulse(pulse, static_cast<std::uint32_t>(record), samples, horPos,
                                      word);
    if (g.isStare()) {
        // A stare record is read whole; its index is line x W + column.
        const std::uint32_t w = g.shotsPerLine;
        std::vector<double> positions(g.pulsesPerRecord);
        std::vector<std::uint32_t> words(g.pulsesPerRecord);
        std::vector<std::int16_t> all(std::size_t(g.pulsesPerRecord) * n);
        float azimuth = 0, elevation = 0;
        if (w == 0 || !reader.readStarePosition(static_cast<std::uint32_t>(record / w),
                                                static_cast<std::uint32_t>(record % w), azimuth,
                                                elevation, positions, words, all))
            return false;
        std::copy_n(all.begin() + static_cast<std::ptrdiff_t>(pulse * n), n, samples.begin());
        horPos = positions[pulse];
        return true;
    }
    float elevation = 0;
    return reader.readPulse(pulse, static_cast<std::uint32_t>(record), samples, horPos, word,
                            elevation);
}

bool shotSettingsOf(PlaybackFile& reader, std::optional<double> rangeMin,
                    std::optional<double> rangeMax, ShotSettings& out) {
    ScannerCfg scanner;
    EnvCfg environment;
    PanTiltCfg panTilt;
    AttitudeBlock attitude;
    reader.copyHeader(scanner, out.digitizer, out.processing, environment, out.calibration, panTilt,
                      attitude);
    // The processor's window is replaced after configure; the copy carries it for configureShot.
    out.processing.setRangeMin(rangeMin.value_or(out.processing.rangeMin()));
    out.processing.setRangeMax(rangeMax.value_or(out.processing.rangeMax()));
    TrailerTemperatures temperatures;
    if (!reader.readTrailer(temperatures)) return false;
    out.tempA = temperatures.first;
    out.tempB = temperatures.second;
    return true;
}

bool configureShot(WaveformProcessor& processor, const ShotSettings& settings) {
    if (!processor.configure(settings.digitizer, settings.processing, settings.calibration))
        return false;
    processor.setRangeWindow(settings.processing.rangeMin(), settings.processing.rangeMax());
    return processor.allocateBuffers();
}

void processShotWaveform(WaveformProcessor& processor, const ShotSettings& settings,
                         const std::int16_t* samples, double horPos, ShotResult& r) {
    // processWaveform, keeping the corrected position in double.
    double p = 0.0;
    processor.matchedFilter(samples, p, r.amplitude, r.saturated, r.found);
    processor.rangeFromPosition(p, r.range, horPos, settings.tempA, settings.tempB);
    r.position = p;
    r.rawPeakIndex = processor.rawPeakIndex();
    r.xcPeakIndex = processor.xcPeakIndex();
    r.quadPeak = processor.quadPeak();
    // The dialog shows both measures for every pulse, found or not.
    r.snr = processor.computeSnr();
    r.intensity = processor.computeXcIntensity();
    r.horPosRange = processor.horPosRange();
    r.horPos = horPos;
    r.tempA = settings.tempA;
    r.tempB = settings.tempB;
    r.searchStart = processor.searchStart();
    r.searchEnd = processor.searchEnd();
    r.rawStart = processor.rawStart();
    r.rawEnd = processor.rawEnd();
}

bool processShots(const ConfigRoot& root, const ShotSettings& settings,
                  std::span<const std::int16_t> samples, std::span<const double> horPos,
                  std::span<ShotResult> out, unsigned workers, MessageSink& sink) {
    const std::size_t n = settings.digitizer.samplesPerPulse();
    const std::size_t count = out.size();
    if (samples.size() != count * n || (horPos.size() != count && horPos.size() != 1)) {
        sink.report(formatMessage("ERROR, shot: %zu samples and %zu positions for %zu waveforms "
                                  "of %zu samples",
                                  samples.size(), horPos.size(), count, n));
        return false;
    }
    if (workers == 0) workers = std::max(1u, std::thread::hardware_concurrency());
    workers =
        static_cast<unsigned>(std::min<std::size_t>(workers, std::max<std::size_t>(1, count)));
    // Each thread owns a processor; they share only the read-only inputs and write disjoint
    // slices of the results.
    std::vector<std::unique_ptr<WaveformProcessor>> processors;
    for (unsigned w = 0; w < workers; ++w) {
        processors.push_back(std::make_unique<WaveformProcessor>(root, sink));
        // Only the span the peak search and the measures read: the same results, far cheaper.
        processors.back()->setFullCorrelation(false);
        if (!configureShot(*processors.back(), settings)) return false;
    }
    const auto run = [&](unsigned w) {
        const std::size_t first = count * w / workers, end = count * (w + 1) / workers;
        for (std::size_t i = first; i < end; ++i)
            processShotWaveform(*processors[w], settings, samples.data() + i * n,
                                horPos[horPos.size() == 1 ? 0 : i], out[i]);
    };
    std::vector<std::jthread> threads;
    for (unsigned w = 1; w < workers; ++w) threads.emplace_back(run, w);
    run(0);
    return true;
}

bool processShot(PlaybackFile& reader, WaveformProcessor& processor, const ShotRequest& request,
                 ShotResult& result, MessageSink& sink) {
    ShotSettings settings;
    if (!shotSettingsOf(reader, request.rangeMin, request.rangeMax, settings)) return false;
    if (!configureShot(processor, settings)) return false;
    processor.setFullCorrelation(true);

    std::vector<std::int16_t> samples;
    double horPos = 0.0;
    if (!readShotWaveform(reader, request.record, request.pulse, samples, horPos, sink))
        return false;
    ShotResult r;
    processShotWaveform(processor, settings, samples.data(), horPos, r);
    result = r;
    return true;
}

namespace {

void number(std::string& out, const char* key, double v, bool single) {
    char text[64];
    if (std::isfinite(v))
        std::snprintf(text, sizeof text, single ? "%.9g" : "%.17g", v);
    else
        std::snprintf(text, sizeof text, "null");
    out += out.size() > 1 ? ",\"" : "\"";
    out += key;
    out += "\":";
    out += text;
}

void integer(std::string& out, const char* key, long long v) {
    out += ",\"";
    out += key;
    out += "\":" + std::to_string(v);
}

void flag(std::string& out, const char* key, bool v) {
    out += out.size() > 1 ? ",\"" : "\"";
    out += key;
    out += v ? "\":true" : "\":false";
}

void none(std::string& out, const char* key) {
    out += ",\"";
    out += key;
    out += "\":null";
}

} // namespace

std::string shotJson(const ShotResult& r) {
    std::string out = "{";
    flag(out, "found", r.found);
    if (r.found) {
        integer(out, "rawPeakIndex", r.rawPeakIndex);
        integer(out, "xcPeakIndex", r.xcPeakIndex);
        number(out, "quadPeak", r.quadPeak, false);
        number(out, "position", r.position, false);
        number(out, "range", r.range, true);
        integer(out, "amplitude", r.amplitude);
        flag(out, "saturated", r.saturated);
        number(out, "snr", r.snr, false);
        number(out, "intensity", r.intensity, false);
    } else {
        // Without a return the peak's numbers describe nothing: they would be those of sample 0
        // or of the last waveform that had one.
        for (const char* key : {"rawPeakIndex", "xcPeakIndex", "quadPeak", "position", "range",
                                "amplitude", "saturated", "snr", "intensity"})
            none(out, key);
    }
    number(out, "horPosRange", r.horPosRange, false);
    number(out, "horPos", r.horPos, false);
    number(out, "tempA", r.tempA, true);
    number(out, "tempB", r.tempB, true);
    integer(out, "searchStart", r.searchStart);
    integer(out, "searchEnd", r.searchEnd);
    integer(out, "rawStart", r.rawStart);
    integer(out, "rawEnd", r.rawEnd);
    out += "}";
    return out;
}

} // namespace quarv
