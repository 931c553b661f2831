// quarv.Recording: a raw scan file of any layout, its header and its lines as numpy arrays.
#include "python/recording.hpp"
#include "core/scanfile/file_info.hpp"
#include "core/scanfile/line_arrays.hpp"
#include "core/scanfile/windows1252.hpp"
#include "python/bindings.hpp"

#include <functional>

namespace quarv::python {

Recording::Recording(const std::filesystem::path& path) : path_(path.string()), reader_(sink_) {
    if (!reader_.open(path)) raise(sink_, "ERROR opening playback file: " + path_);
    shape_ = lineShapeOf(reader_);
}

ShotSettings Recording::shotSettings(std::optional<double> rangeMin,
                                     std::optional<double> rangeMax) {
    const std::lock_guard lock(mutex_);
    sink_.clear();
    ShotSettings settings;
    if (!shotSettingsOf(reader_, rangeMin, rangeMax, settings))
        raise(sink_, "ERROR reading " + path_);
    return settings;
}

std::uint32_t Recording::lineIndex(std::int64_t line) const {
    // Negative indices count from the end, as everywhere in Python.
    const std::int64_t index = line < 0 ? line + shape_.lines : line;
    if (index < 0 || index >= shape_.lines)
        throw py::index_error("line " + std::to_string(line) + " not in the file (" +
                              std::to_string(shape_.lines) + " complete lines)");
    return static_cast<std::uint32_t>(index);
}

void Recording::read(const std::function<bool()>& fn) {
    bool ok = false;
    {
        // The reader's position and scratch arrays are its own: one call at a time, and other
        // Python threads run meanwhile.
        py::gil_scoped_release release;
        const std::lock_guard lock(mutex_);
        sink_.clear();
        ok = fn();
    }
    if (!ok) raise(sink_, "ERROR reading " + path_);
}

namespace {

py::dict headerDict(const HeaderImage& h, std::uint16_t fileKind) {
    const ScannerCfg s = h.scanner();
    const DigitizerCfg d = h.digitizer();
    const ProcessingCfg p = h.processing();
    const EnvCfg e = h.environment();
    const CalibrationCfg c = h.calibration();
    const PanTiltCfg t = h.panTilt();
    const AttitudeBlock a = h.attitude();
    py::dict out;
    out["file_kind"] = fileKind;
    out["scanner"] =
        py::dict(py::arg("shots_per_line") = s.shotsPerLine(),
                 py::arg("pulses_per_position") = s.pulsesPerPosition(),
                 py::arg("lines") = s.lines(), py::arg("az_start_opt") = s.azStartOpt(),
                 py::arg("az_stop_opt") = s.azStopOpt(), py::arg("el_start_opt") = s.elStartOpt(),
                 py::arg("el_stop_opt") = s.elStopOpt(), py::arg("scan_type") = s.scanType());
    out["digitizer"] =
        py::dict(py::arg("samples_per_pulse") = d.samplesPerPulse(),
                 py::arg("pulses_per_record") = d.pulsesPerRecord(),
                 py::arg("temperature_c") = d.temperatureC(), py::arg("gain_code") = d.gainCode(),
                 py::arg("gain") = displayedGain(d.gainCode()));
    out["processing"] = py::dict(
        py::arg("refractive_index") = p.refractiveIndex(),
        py::arg("snr_threshold") = p.snrThreshold(), py::arg("interpolation") = p.interpolation(),
        py::arg("ctd_temperature_c") = p.ctdTemperatureC(),
        py::arg("ctd_salinity_psu") = p.ctdSalinityPsu(),
        py::arg("ctd_pressure_dbar") = p.ctdPressureDbar(), py::arg("range_min") = p.rangeMin(),
        py::arg("range_max") = p.rangeMax());
    out["environment"] = py::dict(
        py::arg("scan_pos") = windows1252ToUtf8(e.scanPos()), py::arg("scan_num") = e.scanNum(),
        py::arg("job") = windows1252ToUtf8(e.job()), py::arg("note") = windows1252ToUtf8(e.note()),
        py::arg("sensor") = windows1252ToUtf8(e.sensor()));
    out["calibration"] = py::dict(
        py::arg("time_offset_ns") = c.timeOffsetNs(), py::arg("time_scale") = c.timeScale(),
        py::arg("az_volt_to_deg_neg") = c.azVoltToDegNeg(),
        py::arg("az_volt_to_deg_pos") = c.azVoltToDegPos(),
        py::arg("el_volt_to_deg_neg") = c.elVoltToDegNeg(),
        py::arg("el_volt_to_deg_pos") = c.elVoltToDegPos(),
        py::arg("temp_coef_c2") = c.tempCoefC2(), py::arg("temp_coef_c1") = c.tempCoefC1(),
        py::arg("temp_coef_c0") = c.tempCoefC0(), py::arg("x_offset_m") = c.xOffsetM(),
        py::arg("y_offset_m") = c.yOffsetM(), py::arg("z_offset_m") = c.zOffsetM(),
        py::arg("front_glass_offset_m") = c.frontGlassOffsetM());
    out["pan_tilt"] =
        py::dict(py::arg("pan_angle") = t.panAngle(), py::arg("tilt_angle") = t.tiltAngle());
    out["attitude"] =
        py::dict(py::arg("pitch_angle") = a.pitchAngle(), py::arg("roll_angle") = a.rollAngle());
    return out;
}

} // namespace

void bindRecording(py::module_& m) {
    py::class_<Recording>(m, "Recording", R"(A raw scan file (".raw" waveforms, ".pek" peaks) of
any layout: line, stare, bowtie, peak line or peak stare.

A line is a line record, the W stare positions of a line, or one bowtie sweep. Arrays are new
numpy arrays the file is read into directly and belong to the caller: they outlive the
Recording. A file the reader refuses raises quarv.Error with the reader's message.)")
        .def(py::init<const std::filesystem::path&>(), py::arg("path"))
        .def_property_readonly("path", &Recording::path)
        .def_property_readonly(
            "header",
            [](Recording& r) {
                return headerDict(r.reader().headerImage(), r.reader().fileKind());
            },
            "Every configuration field of the header, by block (scanner, digitizer, processing, "
            "environment, calibration, pan_tilt, attitude).")
        .def(
            "info",
            [](Recording& r) { return fileInformationLines(r.path(), r.reader().headerImage()); },
            "The 30 lines of the file information, as quarv-cli info prints them.")
        .def_property_readonly(
            "kind", [](Recording& r) { return std::string(recordKindName(r.shape().kind)); },
            "'line', 'stare', 'bowtie', 'peak line' or 'peak stare'.")
        .def_property_readonly(
            "lines", [](Recording& r) { return r.shape().lines; },
            "Lines the file holds completely (at most the header's count).")
        .def_property_readonly(
            "shots", [](Recording& r) { return r.shape().shots; },
            "First axis of a line's arrays: pulses of a line record, stare positions of a line, "
            "pulses of a bowtie sweep.")
        .def_property_readonly(
            "pulses", [](Recording& r) { return r.shape().pulses; },
            "Pulses per stare position (second axis of stare arrays); 1 for the other kinds.")
        .def_property_readonly(
            "samples", [](Recording& r) { return r.shape().samples; },
            "Samples per waveform; 0 for peak files.")
        .def_property_readonly(
            "temperatures",
            [](Recording& r) {
                TrailerTemperatures t;
                r.read([&] { return r.reader().readTrailer(t); });
                return py::make_tuple(t.first, t.second);
            },
            "The two temperatures after the last record (deg C), or the digitiser's configured "
            "temperature twice when the file has no valid trailer.")
        .def(
            "waveforms",
            [](Recording& r, std::int64_t line) {
                const std::uint32_t l = r.lineIndex(line);
                const LineShape& s = r.shape();
                std::vector<py::ssize_t> dims{s.shots, s.samples};
                if (s.kind == RecordKind::Stare) dims.insert(dims.begin() + 1, s.pulses);
                py::array_t<std::int16_t> out(dims);
                const std::span<std::int16_t> to(out.mutable_data(),
                                                 static_cast<std::size_t>(out.size()));
                r.read([&] { return readLineWaveforms(r.reader(), l, to, r.sink()); });
                return out;
            },
            py::arg("line"),
            "int16 counts of line `line`: shots x samples, stare files shots x pulses x "
            "samples. Peak files raise quarv.Error.")
        .def(
            "horizontal_positions",
            [](Recording& r, std::int64_t line) {
                const std::uint32_t l = r.lineIndex(line);
                const LineShape& s = r.shape();
                std::vector<py::ssize_t> dims{s.shots};
                if (s.kind == RecordKind::Stare || s.kind == RecordKind::PeakStare)
                    dims.push_back(s.pulses);
                py::array_t<double> out(dims);
                const std::span<double> to(out.mutable_data(),
                                           static_cast<std::size_t>(out.size()));
                r.read([&] { return readLineHorizontalPositions(r.reader(), l, to, r.sink()); });
                return out;
            },
            py::arg("line"),
            "float64 digitiser delay after the laser fire (s) of each pulse of line `line`, shaped "
            "like the waveforms without their samples axis.")
        .def(
            "angles",
            [](Recording& r, std::int64_t line) {
                const std::uint32_t l = r.lineIndex(line);
                py::array_t<float> azimuth(r.shape().angles), elevation(r.shape().angles);
                const std::span<float> az(azimuth.mutable_data(), r.shape().angles);
                const std::span<float> el(elevation.mutable_data(), r.shape().angles);
                r.read([&] { return readLineAngles(r.reader(), l, az, el, r.sink()); });
                return py::make_tuple(azimuth, elevation);
            },
            py::arg("line"),
            "(azimuth, elevation): float32 scanner readings (volts, as stored) of line `line`, "
            "one per shot of a line (W), stare position (W) or bowtie pulse (4W); a line "
            "record's single elevation is repeated.")
        .def(
            "peaks",
            [](Recording& r, std::int64_t line) {
                const std::uint32_t l = r.lineIndex(line);
                const LineShape& s = r.shape();
                std::vector<py::ssize_t> dims{s.shots};
                if (s.kind == RecordKind::PeakStare) dims.push_back(s.pulses);
                py::array_t<double> position(dims), horPos(dims), amplitude(dims), snr(dims);
                const auto span = [](py::array_t<double>& a) {
                    return std::span<double>(a.mutable_data(), static_cast<std::size_t>(a.size()));
                };
                r.read([&] {
                    return readLinePeaks(r.reader(), l, span(position), span(horPos),
                                         span(amplitude), span(snr), r.sink());
                });
                py::dict out;
                out["position"] = position;
                out["horizontal_position"] = horPos;
                out["amplitude"] = amplitude;
                out["snr"] = snr;
                return out;
            },
            py::arg("line"),
            "Peak files: dict of float64 arrays (position in interpolated samples, "
            "horizontal_position, amplitude, snr) of line `line`. Waveform files raise "
            "quarv.Error.")
        .def("__repr__", [](Recording& r) {
            return "<quarv.Recording '" + r.path() + "' " + recordKindName(r.shape().kind) + ", " +
                   std::to_string(r.shape().lines) + " lines>";
        });
}

} // namespace quarv::python
