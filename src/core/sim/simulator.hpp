// The recording simulator: traces every shot of a simulated scan through a synthetic scene,
// writes the digitised waveforms (or the detected peaks) as a raw scan file, and keeps the
// ground truth of every shot that hits the scene.
#pragma once

#include "core/sim/scanner_model.hpp"
#include "core/sim/scene.hpp"
#include "core/sim/waveform_synth.hpp"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace quarv {
class MessageSink;
}

namespace quarv::sim {

struct SimOptions {
    std::string scene = "harbour";
    ScannerOptions scanner;
    WaveformOptions waveform;
    double distance = 5.0; // "plane": metres from the sensor along the boresight
    int scatterers = 3000; // "harbour": fish and debris in the water
    std::uint64_t seed = 1;
    bool peakFile = false;         // write the detected peaks (".pek" layouts) instead of waveforms
    bool secondReturn = true;      // light passing a scatterer goes on to what lies behind it
    double gain = 1.5e5;           // counts of a reflectivity-1 target square to the beam at 1 m
    double attenuationPerM = 0.05; // water, per metre one way
    // Murkier water: 0 leaves the scene as it is; T multiplies the suspended scatterers by
    // 1 + T, the backscatter by 1 + 2 T and adds 0.05 T per metre to the attenuation.
    double turbidity = 0;
};

// The scanner and waveform settings each scene is meant to be seen with.
SimOptions sceneDefaults(const std::string& scene);

// Ground truth of one shot that hits the scene: the return the processing should report (the
// strongest echo inside the digitiser record), in the frame and units of the processed points.
struct TruthRow {
    std::uint32_t line = 0;
    std::uint32_t shot = 0; // shot of the line, stare column, or pulse of a bowtie sweep
    double azimuthDeg = 0, elevationDeg = 0;
    Vec3 point;
    double range = 0; // corrected range R', metres
    int object = -1;  // index in the scene
    SurfaceKind kind = SurfaceKind::Target;
    double amplitude = 0;   // counts above baseline before clipping
    double rawPosition = 0; // raw samples from the start of the record
    std::uint32_t echo = 0; // in the echo truth: 1-based order by range among the shot's echoes
};

struct SimResult {
    std::uint64_t records = 0, pulses = 0;
    std::uint64_t beyondRecord = 0; // shots whose echo lies outside the digitiser record
    std::uint64_t saturated = 0;    // pulses whose strongest echo clips
    std::vector<TruthRow> truth;
    // Every surface each shot's beam meets inside the record, in range order per shot.
    std::vector<TruthRow> echoes;
};

// Builds the options' scene (the "plane" needs the scanner's boresight).
bool buildSimScene(const SimOptions& opt, Scene& scene);

// Writes the recording to `path`. False, with a message, on invalid options or a write failure.
bool simulate(const SimOptions& opt, const std::filesystem::path& path, SimResult& result,
              MessageSink& sink);

// "line,shot,return,surface,x,y,z,range,strength", one row per echo of SimResult::echoes.
bool writeEchoTruthCsv(const std::filesystem::path& path, const std::vector<TruthRow>& rows,
                       MessageSink& sink);

// "line,shot,azimuth,elevation,x,y,z,range", one row per truth row.
bool writeTruthCsv(const std::filesystem::path& path, const std::vector<TruthRow>& rows,
                   MessageSink& sink);

} // namespace quarv::sim
