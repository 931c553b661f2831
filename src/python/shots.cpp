// quarv.matched_filter: quarv-cli shot's processing over many waveforms at once.
#include "core/waveform/shot.hpp"
#include "python/bindings.hpp"
#include "python/recording.hpp"

#include <cstddef>
#include <memory>

namespace quarv::python {
namespace {

py::dtype shotDtype() {
    using R = ShotResult;
    return structDtype({{"found", "?", offsetof(R, found)},
                        {"position", "<f8", offsetof(R, position)},
                        {"range", "<f4", offsetof(R, range)},
                        {"amplitude", "<u2", offsetof(R, amplitude)},
                        {"saturated", "?", offsetof(R, saturated)},
                        {"snr", "<f8", offsetof(R, snr)},
                        {"intensity", "<f8", offsetof(R, intensity)},
                        {"raw_peak_index", "<u4", offsetof(R, rawPeakIndex)},
                        {"xc_peak_index", "<u4", offsetof(R, xcPeakIndex)},
                        {"quad_peak", "<f8", offsetof(R, quadPeak)},
                        {"horizontal_position", "<f8", offsetof(R, horPos)},
                        {"hor_pos_range", "<f8", offsetof(R, horPosRange)}},
                       sizeof(R));
}

py::array
matchedFilter(const py::array_t<std::int16_t, py::array::c_style | py::array::forcecast>& waveforms,
              const py::object& recording, const py::object& horPos, std::optional<double> rangeMin,
              std::optional<double> rangeMax, std::optional<unsigned> workers,
              const std::optional<std::string>& home) {
    std::unique_ptr<Recording> opened;
    if (!py::isinstance<Recording>(recording))
        opened = std::make_unique<Recording>(recording.cast<std::filesystem::path>());
    Recording& rec = opened ? *opened : recording.cast<Recording&>();
    const ShotSettings settings = rec.shotSettings(rangeMin, rangeMax);
    const std::size_t n = settings.digitizer.samplesPerPulse();
    if (waveforms.ndim() < 1 ||
        static_cast<std::size_t>(waveforms.shape(waveforms.ndim() - 1)) != n)
        throw py::value_error("waveforms must have the recording's " + std::to_string(n) +
                              " samples along their last axis");
    std::vector<py::ssize_t> dims(waveforms.shape(), waveforms.shape() + waveforms.ndim() - 1);
    const std::size_t count = static_cast<std::size_t>(waveforms.size()) / n;
    py::array_t<double, py::array::c_style | py::array::forcecast> positions(1);
    positions.mutable_data()[0] = 0.0;
    if (!horPos.is_none())
        positions = py::array_t<double, py::array::c_style | py::array::forcecast>(horPos);
    if (positions.size() != 1 && static_cast<std::size_t>(positions.size()) != count)
        throw py::value_error("hor_pos needs one value per waveform or a single value");

    const ConfigRoot root = rootFor(home);
    std::vector<ShotResult> results(count);
    RecordingSink sink;
    bool ok = false;
    {
        py::gil_scoped_release release;
        ok = processShots(root, settings, {waveforms.data(), count * n},
                          {positions.data(), static_cast<std::size_t>(positions.size())}, results,
                          workers.value_or(0), sink);
    }
    if (!ok) raise(sink, "ERROR, matched filter failed");
    return adopt(std::move(results), shotDtype(), std::move(dims));
}

} // namespace

void bindShots(py::module_& m) {
    m.def("matched_filter", &matchedFilter, py::arg("waveforms"), py::arg("recording"),
          py::arg("hor_pos") = py::none(), py::arg("range_min") = py::none(),
          py::arg("range_max") = py::none(), py::arg("workers") = py::none(),
          py::arg("home") = py::none(),
          R"(Matched filter, peak search, range, SNR and intensity of every waveform, exactly as
`quarv-cli shot` processes one.

waveforms: int16 array whose last axis is the recording's samples (any leading shape, e.g. a
  Recording.waveforms(line)); other integer arrays are converted, C-contiguous int16 is used
  in place.
recording: the Recording (or path) whose digitiser, processing and calibration records, range
  window and trailer temperatures set the processing up.
hor_pos: digitiser delay (s) per waveform (e.g. Recording.horizontal_positions(line)), or one
  value for all; default 0.
range_min, range_max: replace the recording's search window (metres).
workers: threads (default: one per core). The GIL is released while they run.
home: configuration root holding CAL/mf_pulse.bin (default: $QUARV_HOME or ~/.config/quarv).

Returns a structured array shaped like the waveforms without their last axis, with fields
found, position, range, amplitude, saturated, snr, intensity, raw_peak_index, xc_peak_index,
quad_peak, horizontal_position, hor_pos_range; where found is False the peak's fields describe
no return.)");
}

} // namespace quarv::python
