// quarv-cli simulate: writes a synthetic recording of one of the simulator's scenes, and
// optionally its ground truth. Every scanner, calibration and waveform setting can be changed
// from the command line; what is not given comes from the scene's own defaults.
#include "cli/commands.hpp"
#include "core/app/message_sink.hpp"
#include "core/sim/simulator.hpp"

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <sstream>

namespace quarv::cli {
namespace {

constexpr const char* kUsage =
    "-o FILE.raw [--scene plane|seabed|harbour] [--type T] [--shots W] [--lines L]\n"
    "             [--samples N] [--pulses P] [--seed S] [--truth OUT.csv] [--home DIR]\n"
    "             [--distance D] [--peak] [options...]   write a simulated recording\n"
    "             (quarv-cli simulate --help lists every option)";

constexpr const char* kHelp = R"(quarv-cli simulate -o FILE [options]

Writes a synthetic recording of a scene with known ground truth. FILE ending in ".pek" (or
--peak) gets the peak layouts: per pulse the peak position (interpolated samples from the record
start), the horizontal position (s), the peak amplitude (counts) and the SNR.

Scene and output
  --scene NAME           plane, seabed or harbour (default harbour, the demo)
  --distance D           plane: metres from the sensor along the boresight (default 5)
  --scatterers K         harbour: fish and debris in the water (default 3000)
  --seed S               random seed (default 1); the same seed gives the same file
  --truth OUT.csv        ground truth: line,shot,azimuth,elevation,x,y,z,range
  --truth-returns OUT.csv  every surface a shot's beam meets inside the record:
                         line,shot,return,surface,x,y,z,range,strength
  --turbidity T          murkier water: scatterers x (1 + T), backscatter x (1 + 2T),
                         attenuation + 0.05 T per metre (default 0)
  --peak                 write peak records instead of waveforms
Scanner
  --type T               0 Stable Raster, 1 Stop and Stare, 2 Moving Continuous,
                         3 Moving Raster, 4 Moving Bowtie
  --shots W  --lines L  --samples N  --pulses P (per stare position)
  --interp F             whole interpolation factor (default 4)
  --index N              refractive index (1.34 water; 1.1 or less is air)
  --az START,STOP        optical azimuth sweep, degrees
  --el START,STOP        optical elevation sweep, degrees
  --az-factors NEG,POS   degrees per volt for negative / non-negative readings
  --el-factors NEG,POS
  --offsets X,Y,Z        sensor offsets, metres      --front-glass M
  --pan DEG  --tilt DEG  mount angles                --pitch DEG --roll DEG (shown only)
  --time-offset NS  --time-scale S  --temp-coefs C2,C1,C0 (interpolated samples)
  --temperature C        digitiser's configured temperature
  --trailer A,B | --no-trailer   temperatures written after the last record
  --hor-pos NS  --hor-jitter NS  digitiser delay after the laser fire and its jitter
  --range-window MIN,MAX search window stored in the header, metres
Waveforms
  --noise SIGMA  --baseline COUNTS  --clip COUNTS  --pulse-sigma RAW_SAMPLES
  --gain G               counts of a reflectivity-1 target square to the beam at 1 m
                         (0: the plane returns 500 counts on the boresight)
  --attenuation A        water attenuation per metre
  --backscatter COUNTS  --backscatter-decay M  --window-echo COUNTS
  --no-second-return     scatterers block the whole beam
  --clean                no noise, backscatter, window echo or clipping
)";

// "a,b,c" into exactly `count` numbers.
bool parseList(const std::string& text, std::size_t count, std::vector<double>& out) {
    out.clear();
    std::stringstream ss(text);
    for (std::string cell; std::getline(ss, cell, ',');) {
        char* end = nullptr;
        const double v = std::strtod(cell.c_str(), &end);
        if (cell.empty() || *end != '\0' || !std::isfinite(v)) return false;
        out.push_back(v);
    }
    return out.size() == count;
}

class OptionReader {
public:
    explicit OptionReader(const Args& args) : args_(args) {}
    const std::string& problem() const { return problem_; }

    void number(const char* name, const std::function<void(double)>& set, double lo, double hi) {
        if (!problem_.empty()) return;
        const auto v = args_.number(name);
        if (!args_.error().empty()) {
            problem_ = args_.error();
        } else if (v) {
            if (!(*v >= lo && *v <= hi))
                problem_ = "--" + std::string(name) + " out of range";
            else
                set(*v);
        }
    }
    void list(const char* name, std::size_t count,
              const std::function<void(const std::vector<double>&)>& set) {
        if (!problem_.empty()) return;
        const auto v = args_.value(name);
        if (!v) return;
        std::vector<double> values;
        if (!parseList(*v, count, values))
            problem_ = "--" + std::string(name) + " needs " + std::to_string(count) +
                       " comma-separated numbers";
        else
            set(values);
    }

private:
    const Args& args_;
    std::string problem_;
};

bool hasSuffix(const std::string& s, const std::string& suffix) {
    if (s.size() < suffix.size()) return false;
    for (std::size_t i = 0; i < suffix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(s[s.size() - suffix.size() + i])) != suffix[i])
            return false;
    return true;
}

int runSimulate(int argc, char** argv) {
    const Args args(argc, argv, {"peak", "no-trailer", "no-second-return", "clean", "help"});
    if (args.flag("help")) {
        std::fputs(kHelp, stdout);
        return 0;
    }
    const auto out = args.value("o");
    if (!args.error().empty() || !out || !args.positional().empty()) {
        if (!args.error().empty())
            std::fprintf(stderr, "quarv-cli simulate: %s\n", args.error().c_str());
        std::fprintf(stderr, "usage: quarv-cli simulate %s\n", kUsage);
        return 2;
    }
    const std::string sceneName = args.value("scene").value_or("harbour");
    if (!sim::isSceneName(sceneName)) {
        std::fprintf(stderr, "quarv-cli simulate: unknown scene '%s' (plane, seabed, harbour)\n",
                     sceneName.c_str());
        return 2;
    }
    sim::SimOptions o = sim::sceneDefaults(sceneName);
    sim::ScannerOptions& s = o.scanner;
    sim::WaveformOptions& w = o.waveform;
    o.peakFile = args.flag("peak") || hasSuffix(*out, ".pek");
    if (args.flag("no-trailer")) s.trailerTemperatures.reset();
    if (args.flag("no-second-return")) o.secondReturn = false;
    if (args.flag("clean")) {
        w.noiseSigma = 0;
        w.backscatter = 0;
        w.windowEcho = 0;
        w.clipLevel = 32767;
    }
    // --home is accepted like every command's; the simulator reads no settings.

    OptionReader r(args);
    const auto u16 = [](std::uint16_t& f) {
        return [&f](double v) { f = static_cast<std::uint16_t>(v); };
    };
    const auto f32 = [](float& f) { return [&f](double v) { f = static_cast<float>(v); }; };
    const auto f64 = [](double& f) { return [&f](double v) { f = v; }; };
    r.number(
        "type", [&](double v) { s.scanType = static_cast<std::uint8_t>(v); }, 0, 4);
    r.number("shots", u16(s.shotsPerLine), 2, 3000);
    r.number("lines", u16(s.lines), 1, 65535);
    r.number("samples", u16(s.samplesPerPulse), 64, 32767);
    r.number("pulses", u16(s.pulsesPerPosition), 1, 3000);
    r.number(
        "seed", [&](double v) { o.seed = static_cast<std::uint64_t>(v); }, 0, 9.0e15);
    r.number("distance", f64(o.distance), 0.05, 1000);
    r.number(
        "scatterers", [&](double v) { o.scatterers = static_cast<int>(v); }, 0, 1e6);
    r.number("interp", f64(s.interpolation), 1, 64);
    r.number("index", f64(s.refractiveIndex), 1, 2);
    r.list("az", 2, [&](const auto& v) { s.azStartDeg = float(v[0]), s.azStopDeg = float(v[1]); });
    r.list("el", 2, [&](const auto& v) { s.elStartDeg = float(v[0]), s.elStopDeg = float(v[1]); });
    r.list("az-factors", 2,
           [&](const auto& v) { s.azFactorNeg = float(v[0]), s.azFactorPos = float(v[1]); });
    r.list("el-factors", 2,
           [&](const auto& v) { s.elFactorNeg = float(v[0]), s.elFactorPos = float(v[1]); });
    r.list("offsets", 3, [&](const auto& v) {
        s.xOffsetM = float(v[0]), s.yOffsetM = float(v[1]), s.zOffsetM = float(v[2]);
    });
    r.number("front-glass", f32(s.frontGlassOffsetM), -10, 10);
    r.number("pan", f64(s.panDeg), -360, 360);
    r.number("tilt", f64(s.tiltDeg), -360, 360);
    r.number("pitch", f64(s.pitchDeg), -360, 360);
    r.number("roll", f64(s.rollDeg), -360, 360);
    r.number("time-offset", f32(s.timeOffsetNs), -1000, 1000);
    r.number("time-scale", f32(s.timeScale), 0.5, 2);
    r.list("temp-coefs", 3,
           [&](const auto& v) { s.tempCoefC2 = v[0], s.tempCoefC1 = v[1], s.tempCoefC0 = v[2]; });
    r.number("temperature", f32(s.digitizerTemperatureC), -100, 200);
    r.list("trailer", 2, [&](const auto& v) {
        s.trailerTemperatures = std::make_pair(float(v[0]), float(v[1]));
    });
    r.number("hor-pos", f64(s.horPosNs), -1e6, 1e6);
    r.number("hor-jitter", f64(s.horPosJitterNs), 0, 1e3);
    r.list("range-window", 2,
           [&](const auto& v) { s.searchRangeMin = v[0], s.searchRangeMax = v[1]; });
    r.number("noise", f64(w.noiseSigma), 0, 1e4);
    r.number("baseline", f64(w.baseline), -1e4, 1e4);
    r.number("clip", f64(w.clipLevel), 0, 32767);
    r.number("pulse-sigma", f64(w.pulseSigmaRaw), 0.5, 50);
    r.number("gain", f64(o.gain), 0, 1e12);
    r.number("attenuation", f64(o.attenuationPerM), 0, 10);
    r.number("turbidity", f64(o.turbidity), 0, 100);
    r.number("backscatter", f64(w.backscatter), 0, 1e4);
    r.number("backscatter-decay", f64(w.backscatterDecayM), 0.01, 100);
    r.number("window-echo", f64(w.windowEcho), 0, 1e4);
    if (!r.problem().empty()) {
        std::fprintf(stderr, "quarv-cli simulate: %s\n", r.problem().c_str());
        return 2;
    }
    if (s.note.empty()) {
        char note[128];
        std::snprintf(note, sizeof note, "Simulated %s, seed %" PRIu64, sceneName.c_str(), o.seed);
        s.note = note;
    }

    StderrSink sink;
    sim::SimResult result;
    if (!sim::simulate(o, *out, result, sink)) return 1;
    if (const auto truth = args.value("truth");
        truth && !sim::writeTruthCsv(*truth, result.truth, sink))
        return 1;
    if (const auto echoes = args.value("truth-returns");
        echoes && !sim::writeEchoTruthCsv(*echoes, result.echoes, sink))
        return 1;
    std::fprintf(stderr,
                 "%s: scene %s, type %u, %" PRIu64 " records, %" PRIu64 " pulses, %zu shots on "
                 "the scene, %" PRIu64 " saturated\n",
                 out->c_str(), sceneName.c_str(), unsigned(s.scanType), result.records,
                 result.pulses, result.truth.size(), result.saturated);
    std::map<sim::SurfaceKind, std::size_t> kinds;
    for (const sim::TruthRow& t : result.truth) ++kinds[t.kind];
    std::string perKind;
    for (const auto& [kind, count] : kinds)
        perKind += (perKind.empty() ? "" : ", ") + std::to_string(count) + " " +
                   sim::surfaceKindName(kind);
    if (!perKind.empty()) std::fprintf(stderr, "  returns: %s\n", perKind.c_str());
    if (result.beyondRecord > 0)
        std::fprintf(stderr,
                     "warning: %" PRIu64 " shots hit the scene beyond the digitiser record "
                     "(raise --samples or --hor-pos)\n",
                     result.beyondRecord);
    return 0;
}

const Registration kSimulate({"simulate", kUsage, runSimulate});

} // namespace
} // namespace quarv::cli
