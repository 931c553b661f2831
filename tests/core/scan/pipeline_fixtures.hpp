// What the engine tests share: a configuration root, a point store, a notifier, and line-scan
// recordings with Gaussian pulses at chosen ranges (the shipped template's pulse: sigma 10
// interpolated samples, i.e. 2.5 raw samples at interpolation 4).
#pragma once

#include "core/app/message_sink.hpp"
#include "core/app/notifier.hpp"
#include "core/cloud/cloud_renderer.hpp"
#include "core/config/config_root.hpp"
#include "core/scan/processing_session.hpp"
#include "core/scanfile/raw_writer.hpp"
#include "core/waveform/constants.hpp"
#include "support/test_support.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <mutex>

namespace quarv::test {

// Safe to post into from the processing thread while the test thread reads it. With `holdAt`,
// the processing thread waits inside that progress post until release(), so that a test can act
// while a run is at a known line.
class RecordingNotifier final : public Notifier {
public:
    explicit RecordingNotifier(int holdAt = -1) : holdAt_(holdAt) {}
    void cloudChanged() override { changes.fetch_add(1); }
    void setTarget(float, float, float) override { targets.fetch_add(1); }
    void progress(int n) override {
        std::unique_lock lock(mutex_);
        values_.push_back(n);
        if (n != holdAt_ || held_) return;
        held_ = true;
        cv_.notify_all();
        cv_.wait(lock, [this] { return released_; });
    }
    std::vector<int> values() const {
        std::lock_guard lock(mutex_);
        return values_;
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
    std::atomic<int> changes{0}, targets{0};

private:
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<int> values_;
    int holdAt_;
    bool held_ = false, released_ = false;
};

// A line-scan recording in water (n 1.34): W azimuth readings and P = W pulses per line, one
// Gaussian return per shot at rangeOf(line, shot) metres (none where it gives a negative range).
struct RecordingSpec {
    std::uint16_t shots = 16;
    std::uint16_t lines = 6;
    std::uint16_t samples = 400;
    double baseline = 100.0;
    std::function<double(int line, int shot)> rangeOf = [](int, int) { return 5.0; };
    std::function<double(int line, int shot)> amplitudeOf = [](int, int) { return 400.0; };
};

inline ScanHeader headerFor(const RecordingSpec& spec) {
    ScanHeader h;
    h.scanner.setShotsPerLine(spec.shots);
    h.scanner.setLines(spec.lines);
    h.digitizer.setSamplesPerPulse(spec.samples);
    h.digitizer.setPulsesPerRecord(spec.shots);
    h.processing.setRefractiveIndex(1.34);
    h.processing.setInterpolation(4.0);
    h.processing.setRangeMin(0.5);
    h.processing.setRangeMax(20.0);
    h.calibration.setTimeScale(1.0f);
    h.calibration.setAzVoltToDegNeg(10.0f);
    h.calibration.setAzVoltToDegPos(10.1f);
    h.calibration.setElVoltToDegNeg(5.0f);
    h.calibration.setElVoltToDegPos(5.1f);
    return h;
}

// Azimuth readings -1 .. 1 V along a line, elevation 1 .. -1 V over the lines; pseudo-noise of
// +-3 counts on the baseline.
inline bool writeRecording(const std::filesystem::path& path, const RecordingSpec& spec,
                           bool trailer = true) {
    RawFileWriter out;
    if (!out.open(path, headerFor(spec))) return false;
    const auto volts = [](int i, int n) { return n > 1 ? -1.0f + 2.0f * i / (n - 1) : 0.0f; };
    for (int l = 0; l < spec.lines; ++l) {
        std::vector<float> az(spec.shots);
        std::vector<std::int16_t> samples;
        for (int s = 0; s < spec.shots; ++s) {
            az[s] = volts(s, spec.shots);
            const double range = spec.rangeOf(l, s), a = spec.amplitudeOf(l, s);
            const double centre = range * 2.0 * 1.34 / (SPEED_OF_LIGHT_MPS * RAW_SAMPLE_PERIOD_S);
            for (int i = 0; i < spec.samples; ++i) {
                double v = spec.baseline + 3.0 * std::sin(l * 7919.0 + s * 104729.0 + i * 31337.0);
                if (range >= 0) v += a * std::exp(-(i - centre) * (i - centre) / (2.0 * 2.5 * 2.5));
                samples.push_back(static_cast<std::int16_t>(std::lround(v)));
            }
        }
        const std::vector<double> horPos(spec.shots, 0.0);
        const std::vector<std::uint32_t> words(spec.shots, 0);
        if (!out.writeLineRecord(-volts(l, spec.lines), az, horPos, words, samples)) return false;
    }
    return out.finish(trailer ? std::optional(std::make_pair(12.0f, 12.0f)) : std::nullopt);
}

// Every field of a point, exactly (a float at 9 significant digits), one line.
inline std::string pointText(const CloudPoint& p) {
    char s[320];
    std::snprintf(s, sizeof s,
                  "%.9g %.9g %.9g %d,%d,%d %.9g %.9g %.9g %.9g %.9g %d %d %u %d %.9g\n", p.x, p.y,
                  p.z, p.color.r, p.color.g, p.color.b, p.azimuth, p.elevation, p.range,
                  p.amplitude, p.snr, p.saturated, p.valid, p.sequence, p.line, p.peakPosition);
    return s;
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
    explicit Engine(unsigned workers = 2, int holdAt = -1) : notifier(holdAt) {
        EXPECT_TRUE(root.ensureCreated(sink));
        for (std::uint32_t l = 0; l < LAYER_COUNT; ++l) {
            PointLayer& rec = store->layer(l);
            CloudPoint* points = rec.points;
            PointExtra* extras = rec.extras;
            rec = PointLayer{};
            rec.points = points;
            rec.extras = extras;
            openWindow(l);
        }
        store->resetAll();
        if (workers > 0) start(workers);
    }
    void start(unsigned workers) {
        session =
            std::make_unique<ProcessingSession>(*store, *renderer, root, sink, notifier, workers);
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

    // Opens a file by its kind for the next run (false when it cannot be opened).
    bool open(const std::filesystem::path& file) {
        const ProcessRequest request = requestForPath(file.c_str());
        const bool opened = request == ProcessRequest::ImportLas ? session->openLas(file)
                            : request == ProcessRequest::ProcessCloudFile
                                ? session->openCloudFile(file)
                                : session->openPlayback(file);
        if (opened) session->setRequest(request);
        return opened;
    }
    // The Process command for a file, waiting until the run and its filters are done.
    bool process(const std::filesystem::path& file, std::uint32_t layer) {
        return open(file) && session->startProcessing(layer) &&
               session->waitUntilIdle(std::chrono::seconds(60));
    }
    std::vector<CloudPoint> points(std::uint32_t layer) const {
        const CloudPoint* first = &store->point(layer, 0);
        return {first, first + store->pointCount(layer)};
    }
    std::string text(std::uint32_t layer) const {
        std::string out;
        for (const CloudPoint& p : points(layer)) out += pointText(p);
        return out;
    }
};

} // namespace quarv::test
