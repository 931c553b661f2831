// quarv-cli simulate: writes a synthetic recording of one of the simulator's scenes, and
// optionally its ground truth. Every scanner, calibration and waveform setting can be changed
// from the command line; what is not given comes from the scene's own defaults.
#include "cli/commands.hpp"
#include "core/app/message_sink.hpp"
#include "core/sim/sim_option_table.hpp"
#include "core/sim/simulator.hpp"

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>

namespace quarv::cli {
namespace {

constexpr const char* kUsage =
    "-o FILE.raw [--scene plane|seabed|flat|harbour] [--type T] [--shots W] [--lines L]\n"
    "             [--samples N] [--pulses P] [--seed S] [--truth OUT.csv] [--home DIR]\n"
    "             [--distance D] [--peak] [options...]   write a simulated recording\n"
    "             (quarv-cli simulate --help lists every option)";

constexpr const char* kHelp = R"(quarv-cli simulate -o FILE [options]

Writes a synthetic recording of a scene with known ground truth. FILE ending in ".pek" (or
--peak) gets the peak layouts: per pulse the peak position (interpolated samples from the record
start), the horizontal position (s), the peak amplitude (counts) and the SNR.

Scene and output
  --scene NAME           plane, seabed, flat (a level bottom) or harbour (default harbour)
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
  --pan DEG  --tilt DEG  mount angles                --pitch DEG --roll DEG housing attitude
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

// "a,b,c" into numbers; a cell that is not a number becomes NaN, which the option refuses.
std::vector<double> parseList(const std::string& text) {
    std::vector<double> out;
    std::stringstream ss(text);
    for (std::string cell; std::getline(ss, cell, ',');) {
        char* end = nullptr;
        const double v = std::strtod(cell.c_str(), &end);
        out.push_back(cell.empty() || *end != '\0' ? std::nan("") : v);
    }
    return out;
}

// The first problem of the table's options as given, or "" once all are applied.
std::string applyOptions(const Args& args, sim::SimOptions& o) {
    for (const sim::SimOptionSpec& spec : sim::simOptionTable()) {
        std::vector<double> values;
        if (spec.count == 0) {
            if (!args.flag(spec.name)) continue;
        } else if (spec.count == 1) {
            const auto v = args.number(spec.name);
            if (!args.error().empty()) return args.error();
            if (!v) continue;
            values.push_back(*v);
        } else {
            const auto v = args.value(spec.name);
            if (!v) continue;
            values = parseList(*v);
        }
        const std::string problem = sim::applySimOption(o, spec, values);
        if (!problem.empty()) return "--" + std::string(spec.name) + " " + problem;
    }
    return "";
}

bool hasSuffix(const std::string& s, const std::string& suffix) {
    if (s.size() < suffix.size()) return false;
    for (std::size_t i = 0; i < suffix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(s[s.size() - suffix.size() + i])) != suffix[i])
            return false;
    return true;
}

int runSimulate(int argc, char** argv) {
    std::vector<std::string> flags{"help"};
    for (const sim::SimOptionSpec& spec : sim::simOptionTable())
        if (spec.count == 0) flags.emplace_back(spec.name);
    const Args args(argc, argv, flags);
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
        std::fprintf(stderr,
                     "quarv-cli simulate: unknown scene '%s' (plane, seabed, flat, harbour)\n",
                     sceneName.c_str());
        return 2;
    }
    sim::SimOptions o = sim::sceneDefaults(sceneName);
    o.peakFile = hasSuffix(*out, ".pek");
    // --home is accepted like every command's; the simulator reads no settings.
    if (const std::string problem = applyOptions(args, o); !problem.empty()) {
        std::fprintf(stderr, "quarv-cli simulate: %s\n", problem.c_str());
        return 2;
    }
    sim::applyDefaultNote(o);
    const sim::ScannerOptions& s = o.scanner;

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
