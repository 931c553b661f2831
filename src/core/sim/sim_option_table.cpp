#include "core/sim/sim_option_table.hpp"

#include <array>
#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>

namespace quarv::sim {
namespace {

ScannerOptions& sc(SimOptions& o) {
    return o.scanner;
}
WaveformOptions& wf(SimOptions& o) {
    return o.waveform;
}
std::uint16_t u16(const double* v) {
    return static_cast<std::uint16_t>(v[0]);
}
float f32(const double* v, int i = 0) {
    return static_cast<float>(v[i]);
}

const std::array kTable{
    SimOptionSpec{"peak", 0, 0, 0, [](SimOptions& o, const double*) { o.peakFile = true; }},
    SimOptionSpec{"no-trailer", 0, 0, 0,
                  [](SimOptions& o, const double*) { sc(o).trailerTemperatures.reset(); }},
    SimOptionSpec{"no-second-return", 0, 0, 0,
                  [](SimOptions& o, const double*) { o.secondReturn = false; }},
    SimOptionSpec{"clean", 0, 0, 0,
                  [](SimOptions& o, const double*) {
                      wf(o).noiseSigma = 0;
                      wf(o).backscatter = 0;
                      wf(o).windowEcho = 0;
                      wf(o).clipLevel = 32767;
                  }},
    SimOptionSpec{
        "type", 1, 0, 4,
        [](SimOptions& o, const double* v) { sc(o).scanType = static_cast<std::uint8_t>(v[0]); }},
    SimOptionSpec{"shots", 1, 2, 3000,
                  [](SimOptions& o, const double* v) { sc(o).shotsPerLine = u16(v); }},
    SimOptionSpec{"lines", 1, 1, 65535,
                  [](SimOptions& o, const double* v) { sc(o).lines = u16(v); }},
    SimOptionSpec{"samples", 1, 64, 32767,
                  [](SimOptions& o, const double* v) { sc(o).samplesPerPulse = u16(v); }},
    SimOptionSpec{"pulses", 1, 1, 3000,
                  [](SimOptions& o, const double* v) { sc(o).pulsesPerPosition = u16(v); }},
    SimOptionSpec{
        "seed", 1, 0, 9.0e15,
        [](SimOptions& o, const double* v) { o.seed = static_cast<std::uint64_t>(v[0]); }},
    SimOptionSpec{"distance", 1, 0.05, 1000,
                  [](SimOptions& o, const double* v) { o.distance = v[0]; }},
    SimOptionSpec{"scatterers", 1, 0, 1e6,
                  [](SimOptions& o, const double* v) { o.scatterers = static_cast<int>(v[0]); }},
    SimOptionSpec{"interp", 1, 1, 64,
                  [](SimOptions& o, const double* v) { sc(o).interpolation = v[0]; }},
    SimOptionSpec{"index", 1, 1, 2,
                  [](SimOptions& o, const double* v) { sc(o).refractiveIndex = v[0]; }},
    SimOptionSpec{"az", 2, 0, 0,
                  [](SimOptions& o, const double* v) {
                      sc(o).azStartDeg = f32(v), sc(o).azStopDeg = f32(v, 1);
                  }},
    SimOptionSpec{"el", 2, 0, 0,
                  [](SimOptions& o, const double* v) {
                      sc(o).elStartDeg = f32(v), sc(o).elStopDeg = f32(v, 1);
                  }},
    SimOptionSpec{"az-factors", 2, 0, 0,
                  [](SimOptions& o, const double* v) {
                      sc(o).azFactorNeg = f32(v), sc(o).azFactorPos = f32(v, 1);
                  }},
    SimOptionSpec{"el-factors", 2, 0, 0,
                  [](SimOptions& o, const double* v) {
                      sc(o).elFactorNeg = f32(v), sc(o).elFactorPos = f32(v, 1);
                  }},
    SimOptionSpec{"offsets", 3, 0, 0,
                  [](SimOptions& o, const double* v) {
                      sc(o).xOffsetM = f32(v), sc(o).yOffsetM = f32(v, 1),
                      sc(o).zOffsetM = f32(v, 2);
                  }},
    SimOptionSpec{"front-glass", 1, -10, 10,
                  [](SimOptions& o, const double* v) { sc(o).frontGlassOffsetM = f32(v); }},
    SimOptionSpec{"pan", 1, -360, 360, [](SimOptions& o, const double* v) { sc(o).panDeg = v[0]; }},
    SimOptionSpec{"tilt", 1, -360, 360,
                  [](SimOptions& o, const double* v) { sc(o).tiltDeg = v[0]; }},
    SimOptionSpec{"pitch", 1, -360, 360,
                  [](SimOptions& o, const double* v) { sc(o).pitchDeg = v[0]; }},
    SimOptionSpec{"roll", 1, -360, 360,
                  [](SimOptions& o, const double* v) { sc(o).rollDeg = v[0]; }},
    SimOptionSpec{"time-offset", 1, -1000, 1000,
                  [](SimOptions& o, const double* v) { sc(o).timeOffsetNs = f32(v); }},
    SimOptionSpec{"time-scale", 1, 0.5, 2,
                  [](SimOptions& o, const double* v) { sc(o).timeScale = f32(v); }},
    SimOptionSpec{"temp-coefs", 3, 0, 0,
                  [](SimOptions& o, const double* v) {
                      sc(o).tempCoefC2 = v[0], sc(o).tempCoefC1 = v[1], sc(o).tempCoefC0 = v[2];
                  }},
    SimOptionSpec{"temperature", 1, -100, 200,
                  [](SimOptions& o, const double* v) { sc(o).digitizerTemperatureC = f32(v); }},
    SimOptionSpec{"trailer", 2, 0, 0,
                  [](SimOptions& o, const double* v) {
                      sc(o).trailerTemperatures = std::make_pair(f32(v), f32(v, 1));
                  }},
    SimOptionSpec{"hor-pos", 1, -1e6, 1e6,
                  [](SimOptions& o, const double* v) { sc(o).horPosNs = v[0]; }},
    SimOptionSpec{"hor-jitter", 1, 0, 1e3,
                  [](SimOptions& o, const double* v) { sc(o).horPosJitterNs = v[0]; }},
    SimOptionSpec{"range-window", 2, 0, 0,
                  [](SimOptions& o, const double* v) {
                      sc(o).searchRangeMin = v[0], sc(o).searchRangeMax = v[1];
                  }},
    SimOptionSpec{"noise", 1, 0, 1e4,
                  [](SimOptions& o, const double* v) { wf(o).noiseSigma = v[0]; }},
    SimOptionSpec{"baseline", 1, -1e4, 1e4,
                  [](SimOptions& o, const double* v) { wf(o).baseline = v[0]; }},
    SimOptionSpec{"clip", 1, 0, 32767,
                  [](SimOptions& o, const double* v) { wf(o).clipLevel = v[0]; }},
    SimOptionSpec{"pulse-sigma", 1, 0.5, 50,
                  [](SimOptions& o, const double* v) { wf(o).pulseSigmaRaw = v[0]; }},
    SimOptionSpec{"gain", 1, 0, 1e12, [](SimOptions& o, const double* v) { o.gain = v[0]; }},
    SimOptionSpec{"attenuation", 1, 0, 10,
                  [](SimOptions& o, const double* v) { o.attenuationPerM = v[0]; }},
    SimOptionSpec{"turbidity", 1, 0, 100,
                  [](SimOptions& o, const double* v) { o.turbidity = v[0]; }},
    SimOptionSpec{"backscatter", 1, 0, 1e4,
                  [](SimOptions& o, const double* v) { wf(o).backscatter = v[0]; }},
    SimOptionSpec{"backscatter-decay", 1, 0.01, 100,
                  [](SimOptions& o, const double* v) { wf(o).backscatterDecayM = v[0]; }},
    SimOptionSpec{"window-echo", 1, 0, 1e4,
                  [](SimOptions& o, const double* v) { wf(o).windowEcho = v[0]; }},
};

} // namespace

std::span<const SimOptionSpec> simOptionTable() {
    return kTable;
}

const SimOptionSpec* findSimOption(const std::string& name) {
    for (const SimOptionSpec& spec : kTable)
        if (name == spec.name) return &spec;
    return nullptr;
}

std::string applySimOption(SimOptions& options, const SimOptionSpec& spec,
                           std::span<const double> values) {
    if (spec.count == 1) {
        // Written so that NaN fails too.
        if (values.size() != 1 || !(values[0] >= spec.lo && values[0] <= spec.hi))
            return "out of range";
    } else if (spec.count > 1) {
        bool finite = values.size() == spec.count;
        for (const double v : values) finite = finite && std::isfinite(v);
        if (!finite) return "needs " + std::to_string(spec.count) + " comma-separated numbers";
    }
    spec.set(options, values.data());
    return "";
}

void applyDefaultNote(SimOptions& options) {
    if (!options.scanner.note.empty()) return;
    char note[128];
    std::snprintf(note, sizeof note, "Simulated %s, seed %" PRIu64, options.scene.c_str(),
                  options.seed);
    options.scanner.note = note;
}

} // namespace quarv::sim
