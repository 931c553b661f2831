// The matched-filter pulse analysis: compares the stored pulse template with the pulses of a
// recording. The strongest unsaturated returns found within the window are cut out of their
// interpolated waveforms on the template's grid (aligned on the refined correlation peak, so
// the pulse peak falls on template sample 48), each normalised to its peak above the baseline,
// and averaged. The widths at half maximum of the template and of that average tell whether the
// template still fits the laser. Nothing is written: the template file is only ever read.
#pragma once

#include "core/app/message_sink.hpp"
#include "core/config/config_root.hpp"
#include "core/scanfile/playback_file.hpp"
#include "core/waveform/waveform_processor.hpp"

#include <optional>
#include <string>
#include <vector>

namespace quarv {

struct PulseAnalysis {
    int waveformsProcessed = 0;
    int returnsFound = 0;             // unsaturated returns inside the window
    int pulsesAveraged = 0;           // the strongest of them
    std::vector<float> templateShape; // TEMPLATE_LENGTH entries, peak 1
    std::vector<float> averageShape;  // TEMPLATE_LENGTH entries, peak 1 (empty without returns)
    double templateWidth = 0.0;       // full width at half maximum, interpolated samples
    double averageWidth = 0.0;        // NaN when it cannot be measured
    double interpolatedSampleNs = 0.0;
    double rangeMin = 0.0, rangeMax = 0.0; // the window used, metres
};

// Full width at half maximum of a shape around its highest entry, with linear interpolation
// between entries; NaN when the shape does not fall below half on both sides.
double widthAtHalfMaximum(const std::vector<float>& shape);

class PulseAnalyser {
public:
    PulseAnalyser(const ConfigRoot& root, MessageSink& sink);

    // Processes up to `maxWaveforms` waveforms spread evenly over the recording, within
    // `rangeStart` (the file's own minimum range when not given) and `rangeEnd`, and averages the
    // `maxPulses` strongest returns. False (with a message) when the file cannot be read as
    // waveforms.
    bool analyse(const std::string& path, double rangeEnd, PulseAnalysis& out, int maxPulses = 64,
                 int maxWaveforms = 4096, std::optional<double> rangeStart = std::nullopt);

private:
    MessageSink& sink_;
    PlaybackFile reader_;
    WaveformProcessor processor_;
};

} // namespace quarv
