// One waveform of a recording, processed the way the processing graphs dialog processes the pulse
// it shows: the file's own digitiser, processing and calibration records (the range window
// optionally replaced), the trailer temperatures (or the configured one), the whole correlation,
// then SNR and intensity. Also its one-line JSON form for quarv-cli shot, and the same steps over
// many waveforms at once on several threads (the Python module's matched filter).
#pragma once

#include "core/config/records.hpp"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace quarv {

class ConfigRoot;
class MessageSink;
class PlaybackFile;
class WaveformProcessor;

struct ShotRequest {
    std::uint64_t record = 0; // record index in the file (stare files: line x W + column)
    std::uint32_t pulse = 0;  // pulse within the record
    std::optional<double> rangeMin, rangeMax; // replace the file's search window (metres)
};

struct ShotResult {
    bool found = false;
    std::uint32_t rawPeakIndex = 0, xcPeakIndex = 0;
    double quadPeak = 0.0;
    double position = 0.0; // final corrected position, interpolated samples
    float range = 0.0f;
    std::uint16_t amplitude = 0;
    bool saturated = false;
    double snr = 0.0, intensity = 0.0;
    double horPosRange = 0.0, horPos = 0.0;
    float tempA = 0.0f, tempB = 0.0f;
    std::int32_t searchStart = 0, searchEnd = 0;
    std::int16_t rawStart = 0, rawEnd = 0;
};

// Reads pulse `pulse` of record `record` of an open waveform file with its horizontal position.
// False with a message when the file holds peaks, or the record or pulse is not in the file.
bool readShotWaveform(PlaybackFile& reader, std::uint64_t record, std::uint32_t pulse,
                      std::vector<std::int16_t>& samples, double& horPos, MessageSink& sink);

// What a shot is processed with: the file's three records (range window replaced as asked) and
// the trailer temperatures (or the configured one).
struct ShotSettings {
    DigitizerCfg digitizer;
    ProcessingCfg processing;
    CalibrationCfg calibration;
    float tempA = 0.0f, tempB = 0.0f;
};
// From an open file. False (with the reader's message) when no file is open.
bool shotSettingsOf(PlaybackFile& reader, std::optional<double> rangeMin,
                    std::optional<double> rangeMax, ShotSettings& out);
// Configures `processor` with them. False (with a message) when its buffers cannot be had.
bool configureShot(WaveformProcessor& processor, const ShotSettings& settings);
// One waveform of the configured sample count: matched filter, range at `horPos`, SNR and
// intensity. Fills the peak's fields of `out` and horPos, horPosRange and the temperatures.
void processShotWaveform(WaveformProcessor& processor, const ShotSettings& settings,
                         const std::int16_t* samples, double horPos, ShotResult& out);
// `out.size()` waveforms of the settings' sample count, back to back in `samples`, each at its
// own horizontal position (`horPos` holds one per waveform, or a single one for all), spread
// over `workers` threads (0: one per core), each with its own processor. Every result equals
// processShot's for the same waveform. False (with a message) when the sizes disagree or a
// processor cannot be configured; the results are then unspecified.
bool processShots(const ConfigRoot& root, const ShotSettings& settings,
                  std::span<const std::int16_t> samples, std::span<const double> horPos,
                  std::span<ShotResult> out, unsigned workers, MessageSink& sink);

// Configures `processor` from the open file and processes the requested pulse.
bool processShot(PlaybackFile& reader, WaveformProcessor& processor, const ShotRequest& request,
                 ShotResult& result, MessageSink& sink);

// {"found":...,"rawPeakIndex":...,...} on one line: doubles with %.17g, 32-bit floats widened
// and printed with %.9g, a value that is not a finite number as null. Without a return every
// value of the peak (indices, position, range, amplitude, saturated, SNR, intensity) is null.
std::string shotJson(const ShotResult& result);

} // namespace quarv
