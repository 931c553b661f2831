// What the engine tests share: a configuration root with the shipped pulse template, a point
// store, notifiers that record what the processing thread posted or hold it at a line, and small
// line-scan recordings with Gaussian pulses at chosen ranges (the pulse of the shipped template:
// sigma 10 interpolated samples, i.e. 2.5 raw samples at interpolation 4).
#pragma once

#include "core/app/message_sink.hpp"
#include "core/app/notifier.hpp"
#include "core/cloud/cloud_renderer.hpp"
#include "core/cloud/cloud_store.hpp"
#include "core/config/config_root.hpp"
#include "core/scan/processing_session.hpp"
#include "core/scanfile/raw_writer.hpp"
#include "core/waveform/constants.hpp"
#include "support/test_support.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace quarv::test {

// Safe to post into from the processing thread while the test thread reads it.
class RecordingNotifier final : public Notifier {
public:
    void cloudChanged() override { changes.fetch_add(1); }
    void progress(int n) override {
        std::lock_guard lock(mutex_);
        values_.push_back(n);
    }
    void setTarget(float, float, float) override { targets.fetch_add(1); }
    std::vector<int> values() const {
        std::lock_guard lock(mutex_);
        return values_;
    }
    void clear() {
        std::lock_guard lock(mutex_);
        values_.clear();
        changes = 0;
        targets = 0;
    }
    std::atomic<int> changes{0};
    std::atomic<int> targets{0};

private:
    mutable std::mutex mutex_;
    std::vector<int> values_;
};

// Holds the processing thread inside the progress post of one value until the test lets go, so
// that a test can act while a run is at a known line.
class HoldAtProgress final : public Notifier {
public:
    explicit HoldAtProgress(int holdAt) : holdAt_(holdAt) {}
    void cloudChanged() override {}
    void progress(int n) override {
        std::unique_lock lock(mutex_);
        if (n != holdAt_ || held_) return;
        held_ = true;
        cv_.notify_all();
        cv_.wait(lock, [this] { return released_; });
    }
    bool waitHeld() {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, std::chrono::seconds(30), [this] { return held_; });
    }
    void release() {
        std::lock_guard lock(mutex_);
        released_ = true;
        cv_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    int holdAt_;
    bool held_ = false, released_ = false;
};

// A line-scan recording: W azimuth readings and P = W pulses per line, one Gaussian return per
// shot at rangeOf(line, shot) metres (no return where it gives a negative range).
struct RecordingSpec {
    std::uint8_t scanType = 0;
    std::uint16_t shots = 16;
    std::uint16_t lines = 6;
    std::uint16_t samples = 400;
    double refractiveIndex = 1.34;
    double baseline = 100.0;
    double noise = 3.0; // counts, deterministic pseudo-noise
    std::function<double(int line, int shot)> rangeOf = [](int, int) { return 5.0; };
    std::function<double(int line, int shot)> amplitudeOf = [](int, int) { return 400.0; };
    float azimuthVolts(int shot) const {
        return shots > 1 ? -1.0f + 2.0f * static_cast<float>(shot) / (shots - 1) : 0.0f;
    }
    float elevationVolts(int line) const {
        return lines > 1 ? 1.0f - 2.0f * static_cast<float>(line) / (lines - 1) : 0.0f;
    }
};

inline ScanHeader headerFor(const RecordingSpec& spec) {
    ScanHeader h;
    h.scanner.setShotsPerLine(spec.shots);
    h.scanner.setLines(spec.lines);
    h.scanner.setScanType(spec.scanType);
    h.digitizer.setSamplesPerPulse(spec.samples);
    h.digitizer.setPulsesPerRecord(spec.shots);
    h.digitizer.setTemperatureC(12.0f);
    h.processing.setRefractiveIndex(spec.refractiveIndex);
    h.processing.setInterpolation(4.0);
    h.processing.setRangeMin(0.5);
    h.processing.setRangeMax(20.0);
    h.calibration.setTimeScale(1.0f);
    h.calibration.setAzVoltToDegNeg(10.0f);
    h.calibration.setAzVoltToDegPos(10.1f);
    h.calibration.setElVoltToDegNeg(5.0f);
    h.calibration.setElVoltToDegPos(5.1f);
    h.calibration.setXOffsetM(0.01f);
    h.calibration.setYOffsetM(0.08f);
    h.calibration.setZOffsetM(-0.02f);
    h.calibration.setFrontGlassOffsetM(0.03f);
    h.panTilt.setPanAngle(12.0);
    h.panTilt.setTiltAngle(-7.0);
    return h;
}

// Raw sample of the return of a range (no horizontal position, no temperature correction).
inline double rawSampleOfRange(double range, double n) {
    return range * 2.0 * n / (SPEED_OF_LIGHT_MPS * RAW_SAMPLE_PERIOD_S);
}

inline std::vector<std::int16_t> pulseWaveform(const RecordingSpec& spec, int line, int shot) {
    std::vector<std::int16_t> w(spec.samples);
    const double range = spec.rangeOf(line, shot);
    const double centre = rawSampleOfRange(range, spec.refractiveIndex);
    const double a = spec.amplitudeOf(line, shot);
    for (int i = 0; i < spec.samples; ++i) {
        std::uint32_t h = static_cast<std::uint32_t>(line * 7919 + shot * 104729 + i * 31337);
        h ^= h >> 13;
        h *= 0x5bd1e995u;
        h ^= h >> 15;
        double v = spec.baseline + spec.noise * ((h % 2001) / 1000.0 - 1.0);
        if (range >= 0) v += a * std::exp(-(i - centre) * (i - centre) / (2.0 * 2.5 * 2.5));
        w[static_cast<std::size_t>(i)] = static_cast<std::int16_t>(std::lround(v));
    }
    return w;
}

inline bool writeRecording(const std::filesystem::path& path, const RecordingSpec& spec,
                           bool trailer = true) {
    RawFileWriter out;
    if (!out.open(path, headerFor(spec))) return false;
    const bool bowtie = spec.scanType == 4;
    const std::size_t pulses = bowtie ? 4u * spec.shots : spec.shots;
    for (int l = 0; l < spec.lines; ++l) {
        std::vector<float> az(pulses), el(pulses);
        std::vector<double> horPos(pulses, 0.0);
        std::vector<std::uint32_t> words(pulses, 0);
        std::vector<std::int16_t> samples;
        for (std::size_t s = 0; s < pulses; ++s) {
            az[s] = spec.azimuthVolts(static_cast<int>(s % spec.shots));
            el[s] = spec.elevationVolts(l);
            const auto w = pulseWaveform(spec, l, static_cast<int>(s));
            samples.insert(samples.end(), w.begin(), w.end());
        }
        const bool ok =
            bowtie ? out.writeBowtieRecord(az, el, horPos, words, samples)
                   : out.writeLineRecord(spec.elevationVolts(l), az, horPos, words, samples);
        if (!ok) return false;
    }
    return out.finish(trailer ? std::optional(std::make_pair(12.0f, 12.0f)) : std::nullopt);
}

// One store for the whole test binary: the five layers reserve 540 MB, which costs nothing in a
// plain build but is touched page by page under the thread sanitizer. Each Engine empties it and
// resets every layer record; the tests run one after the other.
inline CloudStore& sharedStore() {
    static CloudStore store;
    return store;
}
inline CloudRenderer& sharedRenderer() {
    static CloudRenderer renderer(sharedStore());
    return renderer;
}

// A configuration root with the shipped defaults, the shared store and a session on it.
struct Engine {
    TempDir dir;
    ConfigRoot root{dir / "home"};
    RecordingSink sink;
    RecordingNotifier notifier;
    CloudStore* store = &sharedStore();
    CloudRenderer* renderer = &sharedRenderer();
    std::unique_ptr<ProcessingSession> session;

    // `workers` 0: no session yet (start() builds it, e.g. after laserscan.cfg was written).
    explicit Engine(unsigned workers = 2) {
        EXPECT_TRUE(root.ensureCreated(sink));
        for (std::uint32_t l = 0; l < LAYER_COUNT; ++l) {
            PointLayer& rec = store->layer(l);
            CloudPoint* points = rec.points;
            rec = PointLayer{};
            rec.points = points;
            openWindow(l);
        }
        store->resetAll();
        if (workers > 0) start(workers);
    }
    void start(unsigned workers, Notifier* notify = nullptr) {
        session = std::make_unique<ProcessingSession>(*store, *renderer, root, sink,
                                                      notify ? *notify : notifier, workers);
    }
    // A layer that lets every return through: window 0.5 .. 30 m, no SNR limit, clutter filter
    // off unless a test turns it on.
    void openWindow(std::uint32_t l) {
        PointLayer& rec = store->layer(l);
        rec.rangeMin = 0.5f;
        rec.rangeMax = 30.0f;
        rec.snrMin = 0.0f;
        rec.neighbourFilter = 0;
        rec.showSaturated = 1;
        rec.colorTo = {255, 255, 255};
    }
    std::filesystem::path path(const std::string& name) const { return dir / name; }

    // The Process command for a file, waiting until the run and its filters are done.
    bool process(const std::filesystem::path& file, std::uint32_t layer) {
        const ProcessRequest request = requestForPath(file.c_str());
        bool opened = false;
        if (request == ProcessRequest::ImportLas)
            opened = session->openLas(file);
        else if (request == ProcessRequest::ProcessCloudFile)
            opened = session->openCloudFile(file);
        else
            opened = session->openPlayback(file);
        if (!opened) return false;
        session->setRequest(request);
        if (!session->startProcessing(layer)) return false;
        return session->waitUntilIdle(std::chrono::seconds(60));
    }
    std::vector<CloudPoint> points(std::uint32_t layer) const {
        std::vector<CloudPoint> out;
        for (std::uint32_t i = 0; i < store->pointCount(layer); ++i)
            out.push_back(store->point(layer, i));
        return out;
    }
};

} // namespace quarv::test
