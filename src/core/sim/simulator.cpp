#include "core/sim/simulator.hpp"

#include "core/app/message_sink.hpp"
#include "core/config/atomic_file.hpp"
#include "core/scanfile/raw_writer.hpp"
#include "core/sim/forward_model.hpp"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>

namespace quarv::sim {

namespace {

// Random streams derived from the user's seed, one per purpose.
constexpr std::uint64_t kNoiseStream = 0x4E01;
constexpr std::uint64_t kJitterStream = 0x717E;

// The processing calls a peak of 780 counts or more saturated.
constexpr double kSaturationLevel = 780.0;
// The processing's fixed SNR of a saturated return.
constexpr double kSaturatedSnr = 8999999488.0;
// Below this distance from the window the inverse-square law is cut off (the beam is still
// wider than the distance).
constexpr double kNearRange = 0.3;
// A beam meets at most this many surfaces (scatterers it passes, then what lies behind).
constexpr int kMaxEchoes = 3;

} // namespace

SimOptions sceneDefaults(const std::string& scene) {
    SimOptions o;
    o.scene = scene;
    ScannerOptions& s = o.scanner;
    if (scene == "plane") {
        s.shotsPerLine = 64;
        s.lines = 48;
        s.samplesPerPulse = 600;
        s.azStartDeg = -20;
        s.azStopDeg = 20;
        s.elStartDeg = 15;
        s.elStopDeg = -15;
        o.gain = 0; // chosen so that the plane returns about 500 counts on the boresight
        s.scanPos = "Plane target";
    } else if (scene == "seabed" || scene == "flat") {
        s.shotsPerLine = 200;
        s.lines = 160;
        s.samplesPerPulse = 640;
        s.tiltDeg = -25;
        s.elStartDeg = 12;
        s.elStopDeg = -24;
        s.scanPos = scene == "flat" ? "Level bottom" : "Seabed with pipe";
    } else {
        s.shotsPerLine = 256;
        s.lines = 240;
        s.tiltDeg = -22;
        s.elStartDeg = 20;
        s.elStopDeg = -24;
        s.horPosNs = 0.5;
        s.horPosJitterNs = 0.02;
        s.pitchDeg = 0.4;
        s.rollDeg = -0.2;
        s.scanPos = "Harbour basin";
    }
    return o;
}

namespace {

Ray boresight(const ForwardModel& model) {
    return model.beam(0.0f, 0.0f).world;
}

} // namespace

namespace {

// The options with their turbidity applied.
SimOptions murky(const SimOptions& opt) {
    SimOptions o = opt;
    const double t = std::max(0.0, opt.turbidity);
    o.scatterers = static_cast<int>(std::lround(opt.scatterers * (1.0 + t)));
    o.waveform.backscatter = opt.waveform.backscatter * (1.0 + 2.0 * t);
    o.attenuationPerM = opt.attenuationPerM + 0.05 * t;
    o.turbidity = 0;
    return o;
}

} // namespace

bool buildSimScene(const SimOptions& options, Scene& scene) {
    const SimOptions opt = murky(options);
    SceneParams p;
    p.distance = opt.distance;
    p.seed = opt.seed;
    p.scatterers = opt.scatterers;
    const auto temps = processingTemperatures(opt.scanner);
    const ForwardModel model(makeHeader(opt.scanner, false), temps.first, temps.second);
    const Ray axis = boresight(model);
    p.sensor = axis.origin;
    p.boresight = axis.dir;
    return buildScene(opt.scene, p, scene);
}

namespace {

class ShotSimulator {
public:
    ShotSimulator(const SimOptions& opt, const Scene& scene, const ForwardModel& model)
        : opt_(opt), scene_(scene), model_(model), noise_(streamSeed(opt.seed, kNoiseStream)),
          jitter_(streamSeed(opt.seed, kJitterStream)),
          n_(static_cast<std::size_t>(opt.scanner.samplesPerPulse)),
          water_(model.refractiveIndex() > 1.1) {
        // Metres of range per raw sample, for the backscatter's decay.
        const double metresPerRaw =
            kSpeedOfLight * kRawSamplePeriod / (2.0 * model.refractiveIndex());
        decayRaw_ = opt.waveform.backscatterDecayM / metresPerRaw;
        gain_ = opt.gain;
    }

    void setGain(double g) { gain_ = g; }

    double horPos() {
        double h = opt_.scanner.horPosNs * 1e-9;
        if (opt_.scanner.horPosJitterNs > 0)
            h += opt_.scanner.horPosJitterNs * 1e-9 * jitter_.normal();
        return h;
    }

    // Echo amplitude of a surface at corrected range r met at incidence cosine `cosInc` by a
    // share `weight` of the beam.
    double amplitude(int object, double r, double cosInc, double weight) const {
        const double rr = std::max(r, kNearRange);
        const double att = water_ ? std::exp(-2.0 * opt_.attenuationPerM * r) : 1.0;
        return gain_ * scene_.reflectivity(object) * scene_.cover(object) * weight * cosInc * att /
               (rr * rr);
    }

    // Traces one shot: its echoes, and the truth of its strongest one (`hit` when it meets the
    // scene, `inRecord` when that echo also lies inside the digitiser record).
    struct Shot {
        ShotBeam beam;
        std::vector<Echo> echoes; // the window reflection first
        Backscatter water;
        bool hit = false, inRecord = false;
        TruthRow truth;
        std::vector<TruthRow> echoTruth; // every surface met, in range order
        double strongest = 0;            // counts above baseline of the truth echo
        double recordPosition = 0;       // interpolated samples
    };

    void trace(float az, float el, double horPos, Shot& shot) const {
        shot.beam = model_.beam(az, el);
        shot.echoes.clear();
        shot.echoTruth.clear();
        shot.hit = shot.inRecord = false;
        shot.strongest = 0;
        const double interp = model_.interpolation();
        const double windowRaw = model_.recordPosition(0.0, shot.beam.excess, horPos) / interp;
        if (opt_.waveform.windowEcho > 0)
            shot.echoes.push_back({windowRaw, opt_.waveform.windowEcho});
        shot.water = {};
        if (water_) shot.water = {windowRaw, decayRaw_, opt_.waveform.backscatter};

        // Traced in the level frame of the scene; the truth is where the processing puts the
        // point, in the scanner's frame (the same distance along the unlevelled ray).
        const double dirNorm = norm(shot.beam.world.dir);
        const Ray unit{shot.beam.world.origin, shot.beam.world.dir * (1.0 / dirNorm)};
        double weight = 1.0, from = 0.0;
        int ignore = -1;
        for (int k = 0; k < kMaxEchoes; ++k) {
            const auto h = scene_.trace(unit, from, ignore);
            if (!h) break;
            const double rPrime = h->t / dirNorm; // ray parameter of the processing's placement
            const bool scatterer = scene_.kind(h->object) == SurfaceKind::Scatterer;
            const double cosInc = scatterer ? 1.0 : std::fabs(dot(unit.dir, h->normal));
            const double amp = amplitude(h->object, rPrime, cosInc, weight);
            const double pos = model_.recordPosition(rPrime, shot.beam.excess, horPos);
            shot.echoes.push_back({pos / interp, amp});
            TruthRow e;
            e.azimuthDeg = shot.beam.azDeg;
            e.elevationDeg = shot.beam.elDeg;
            e.point = shot.beam.ray.at(rPrime);
            e.range = rPrime;
            e.object = h->object;
            e.kind = scene_.kind(h->object);
            e.amplitude = amp;
            e.rawPosition = pos / interp;
            if (e.rawPosition >= 0.0 && e.rawPosition <= static_cast<double>(n_ - 1)) {
                e.echo = static_cast<std::uint32_t>(shot.echoTruth.size() + 1);
                shot.echoTruth.push_back(e);
            }
            if (!shot.hit || amp > shot.strongest) {
                shot.hit = true;
                shot.strongest = amp;
                shot.recordPosition = pos;
                shot.truth = e;
                shot.truth.echo = 0; // the shot's truth is no numbered echo
            }
            const double cover = scene_.cover(h->object);
            if (cover >= 1.0 || !opt_.secondReturn) break;
            weight *= 1.0 - cover;
            from = h->t;
            ignore = h->object;
        }
        shot.inRecord = shot.hit && shot.truth.rawPosition >= 0.0 &&
                        shot.truth.rawPosition <= static_cast<double>(n_ - 1);
    }

    void synthesize(const Shot& shot, std::span<std::int16_t> out) {
        synthesizeWaveform(opt_.waveform, shot.echoes, shot.water, noise_, out);
    }

    // The four values of a peak record: position (interpolated samples from the record start,
    // as the matched filter reports it), horizontal position (s), peak amplitude (counts) and SNR.
    std::array<double, 4> peakValues(const Shot& shot, double horPos) const {
        if (!shot.inRecord) return {0.0, horPos, 0.0, 0.0};
        const double peak =
            std::min(opt_.waveform.baseline + shot.strongest, opt_.waveform.clipLevel);
        double snr = kSaturatedSnr;
        if (peak < kSaturationLevel) {
            const double s = std::max(opt_.waveform.noiseSigma, 0.5);
            snr = (shot.strongest / s) * (shot.strongest / s);
        }
        return {shot.recordPosition, horPos, std::floor(peak), snr};
    }

    bool saturates(const Shot& shot) const {
        return shot.inRecord && opt_.waveform.baseline + shot.strongest >= kSaturationLevel &&
               opt_.waveform.clipLevel >= kSaturationLevel;
    }

private:
    const SimOptions& opt_;
    const Scene& scene_;
    const ForwardModel& model_;
    Random noise_, jitter_;
    std::size_t n_;
    bool water_;
    double decayRaw_ = 1, gain_ = 0;
};

} // namespace

bool simulate(const SimOptions& options, const std::filesystem::path& path, SimResult& result,
              MessageSink& sink) {
    result = SimResult{};
    const SimOptions opt = murky(options);
    if (!isSceneName(opt.scene)) {
        sink.report(formatMessage("ERROR, Simulator, unknown scene: %s", opt.scene.c_str()));
        return false;
    }
    if (const std::string problem = validateScanner(opt.scanner); !problem.empty()) {
        sink.report(formatMessage("ERROR, Simulator, %s!", problem.c_str()));
        return false;
    }
    const ScannerOptions& so = opt.scanner;
    if (opt.peakFile && so.scanType == kScanTypeMovingBowtie) {
        sink.report("ERROR, Simulator, peak files have no Moving Bowtie layout!");
        return false;
    }
    const ScanHeader header = makeHeader(so, opt.peakFile);
    const auto temps = processingTemperatures(so);
    const ForwardModel model(header, temps.first, temps.second);
    Scene scene;
    buildSimScene(opt, scene);

    ShotSimulator sim(opt, scene, model);
    if (opt.gain <= 0) {
        // Automatic gain: 500 counts for the shot along the boresight (or for a target at 1 m if
        // that shot misses).
        ShotSimulator::Shot probe;
        ShotSimulator unitGain(opt, scene, model);
        unitGain.setGain(1.0);
        unitGain.trace(0.0f, 0.0f, so.horPosNs * 1e-9, probe);
        sim.setGain(probe.hit && probe.strongest > 0 ? 500.0 / probe.strongest : 500.0);
    }

    RawFileWriter writer;
    if (!writer.open(path, header)) {
        sink.report(formatMessage("ERROR, Simulator, cannot create %s", path.string().c_str()));
        return false;
    }

    const ScanPattern pattern(so, header.calibration);
    const std::size_t n = so.samplesPerPulse;
    const std::uint32_t w = so.shotsPerLine;
    const bool stare = so.scanType == kScanTypeStopAndStare;
    const bool bowtie = so.scanType == kScanTypeMovingBowtie;
    const std::size_t pulsesPerRecord = bowtie ? 4u * w : stare ? so.pulsesPerPosition : w;

    std::vector<float> az(pulsesPerRecord), el(pulsesPerRecord);
    std::vector<double> horPos(pulsesPerRecord);
    std::vector<std::uint32_t> words(pulsesPerRecord);
    std::vector<std::int16_t> samples(opt.peakFile ? 0 : pulsesPerRecord * n);
    std::array<std::vector<double>, 4> peaks;
    if (opt.peakFile)
        for (auto& v : peaks) v.assign(pulsesPerRecord, 0.0);
    std::uint32_t pulseCounter = 0;
    ShotSimulator::Shot shot;

    // One pulse: trace, keep the truth (once per shot), waveform or peak values.
    auto pulse = [&](std::size_t slot, std::uint32_t line, std::uint32_t shotIndex, float a,
                     float e, bool firstOfShot) {
        horPos[slot] = sim.horPos();
        words[slot] = pulseCounter++;
        sim.trace(a, e, horPos[slot], shot);
        if (firstOfShot) {
            for (TruthRow echo : shot.echoTruth) {
                echo.line = line;
                echo.shot = shotIndex;
                result.echoes.push_back(echo);
            }
            if (shot.inRecord) {
                shot.truth.line = line;
                shot.truth.shot = shotIndex;
                result.truth.push_back(shot.truth);
            } else if (shot.hit) {
                ++result.beyondRecord;
            }
        }
        if (sim.saturates(shot)) ++result.saturated;
        if (opt.peakFile) {
            const auto v = sim.peakValues(shot, horPos[slot]);
            for (int k = 0; k < 4; ++k)
                peaks[static_cast<std::size_t>(k)][slot] = v[static_cast<std::size_t>(k)];
        } else {
            sim.synthesize(shot, std::span<std::int16_t>(samples.data() + slot * n, n));
        }
        ++result.pulses;
    };

    bool ok = true;
    for (std::uint32_t line = 0; ok && line < so.lines; ++line) {
        if (stare) {
            for (std::uint32_t c = 0; ok && c < w; ++c) {
                const float a = pattern.shotAzimuth(line, c), e = pattern.lineElevation(line);
                for (std::size_t p = 0; p < pulsesPerRecord; ++p) pulse(p, line, c, a, e, p == 0);
                ok = opt.peakFile
                         ? writer.writePeakStareRecord(a, e, peaks[0], peaks[1], peaks[2], peaks[3])
                         : writer.writeStareRecord(a, e, horPos, words, samples);
                ++result.records;
            }
        } else if (bowtie) {
            for (std::uint32_t j = 0; j < pulsesPerRecord; ++j) {
                const auto [a, e] = pattern.bowtieReading(line, j);
                az[j] = a;
                el[j] = e;
                pulse(j, line, j, a, e, true);
            }
            ok = writer.writeBowtieRecord(az, el, horPos, words, samples);
            ++result.records;
        } else {
            const float e = pattern.lineElevation(line);
            for (std::uint32_t s = 0; s < w; ++s) {
                az[s] = pattern.shotAzimuth(line, s);
                pulse(s, line, s, az[s], e, true);
            }
            ok = opt.peakFile
                     ? writer.writePeakLineRecord(e, az, peaks[0], peaks[1], peaks[2], peaks[3])
                     : writer.writeLineRecord(e, az, horPos, words, samples);
            ++result.records;
        }
    }
    if (!ok || !writer.finish(so.trailerTemperatures)) {
        sink.report(formatMessage("ERROR, Simulator, writing %s", path.string().c_str()));
        return false;
    }
    return true;
}

namespace {

// A truth table: the header line, then one line a row, written to a temporary file that
// replaces `path` only when complete.
template <typename WriteRow>
bool writeTable(const std::filesystem::path& path, const char* header,
                const std::vector<TruthRow>& rows, MessageSink& sink, WriteRow writeRow) {
    AtomicFileWriter out;
    if (!out.open(path)) {
        sink.report(formatMessage("ERROR, Simulator, cannot create %s", path.string().c_str()));
        return false;
    }
    std::fputs(header, out.stream());
    for (const TruthRow& r : rows) writeRow(out.stream(), r);
    if (!out.commit()) {
        sink.report(formatMessage("ERROR, Simulator, writing %s", path.string().c_str()));
        return false;
    }
    return true;
}

} // namespace

bool writeEchoTruthCsv(const std::filesystem::path& path, const std::vector<TruthRow>& rows,
                       MessageSink& sink) {
    return writeTable(
        path, "line,shot,return,surface,x,y,z,range,strength\n", rows, sink,
        [](std::FILE* f, const TruthRow& r) {
            std::fprintf(f, "%" PRIu32 ",%" PRIu32 ",%" PRIu32 ",%s,%.9g,%.9g,%.9g,%.9g,%.6g\n",
                         r.line, r.shot, r.echo, surfaceKindName(r.kind), r.point.x, r.point.y,
                         r.point.z, r.range, r.amplitude);
        });
}

bool writeTruthCsv(const std::filesystem::path& path, const std::vector<TruthRow>& rows,
                   MessageSink& sink) {
    // The angles as the f32 values a processed point carries, in enough digits to read back the
    // same f32: a reader matching points to rows by line and azimuth finds exact equality.
    return writeTable(path, "line,shot,azimuth,elevation,x,y,z,range\n", rows, sink,
                      [](std::FILE* f, const TruthRow& r) {
                          std::fprintf(f, "%" PRIu32 ",%" PRIu32 ",%.9g,%.9g,%.9g,%.9g,%.9g,%.9g\n",
                                       r.line, r.shot,
                                       static_cast<double>(static_cast<float>(r.azimuthDeg)),
                                       static_cast<double>(static_cast<float>(r.elevationDeg)),
                                       r.point.x, r.point.y, r.point.z, r.range);
                      });
}

} // namespace quarv::sim
