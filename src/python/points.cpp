// quarv.process, quarv.read_las and quarv.export: point clouds as structured numpy arrays.
//
// A layer keeps its points in two parallel arrays (the 52-byte slots and their side records), so
// one array with every column is made by one pass that interleaves them (without the GIL); that
// is the only copy on the way out, and the store is freed right after. export makes the opposite
// copy: the caller's columns into the slots the core's writers read.
#include "core/app/notifier.hpp"
#include "core/app/recording_job.hpp"
#include "core/cloud/cloud_export.hpp"
#include "core/cloud/cloud_store.hpp"
#include "core/cloud/las_file.hpp"
#include "core/cloud/survey_export.hpp"
#include "python/bindings.hpp"

#include <algorithm>
#include <cctype>
#include <cstddef>

namespace quarv::python {
namespace {

// One point with every column of quarv-cli process --points and its side record.
struct PointRow {
    float x, y, z, azimuth, elevation, range, amplitude, snr;
    std::uint32_t sequence;
    float peakPosition;
    std::uint32_t shot;
    float rangeStdDev;
    std::uint16_t line, pulses;
    std::uint8_t saturated, valid, returnNumber, numberOfReturns;
};

py::dtype pointDtype() {
    using R = PointRow;
    return structDtype({{"x", "<f4", offsetof(R, x)},
                        {"y", "<f4", offsetof(R, y)},
                        {"z", "<f4", offsetof(R, z)},
                        {"azimuth", "<f4", offsetof(R, azimuth)},
                        {"elevation", "<f4", offsetof(R, elevation)},
                        {"range", "<f4", offsetof(R, range)},
                        {"amplitude", "<f4", offsetof(R, amplitude)},
                        {"snr", "<f4", offsetof(R, snr)},
                        {"saturated", "u1", offsetof(R, saturated)},
                        {"valid", "u1", offsetof(R, valid)},
                        {"sequence", "<u4", offsetof(R, sequence)},
                        {"line", "<u2", offsetof(R, line)},
                        {"peak_position", "<f4", offsetof(R, peakPosition)},
                        {"shot", "<u4", offsetof(R, shot)},
                        {"range_std_dev", "<f4", offsetof(R, rangeStdDev)},
                        {"pulses", "<u2", offsetof(R, pulses)},
                        {"return_number", "u1", offsetof(R, returnNumber)},
                        {"number_of_returns", "u1", offsetof(R, numberOfReturns)}},
                       sizeof(R));
}

std::vector<PointRow> rowsOf(const CloudStore& store, std::uint32_t layer) {
    std::vector<PointRow> rows(store.pointCount(layer));
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const CloudPoint& p = store.point(layer, static_cast<std::uint32_t>(i));
        const PointExtra& e = store.extra(layer, static_cast<std::uint32_t>(i));
        rows[i] = {
            p.x,         p.y,      p.z,         p.azimuth,      p.elevation,    p.range,
            p.amplitude, p.snr,    p.sequence,  p.peakPosition, e.shot,         e.rangeStdDev,
            p.line,      e.pulses, p.saturated, p.valid,        e.returnNumber, e.numberOfReturns};
    }
    return rows;
}

py::array process(const std::filesystem::path& file, std::uint32_t layer,
                  std::optional<float> rangeMin, std::optional<float> rangeMax,
                  std::optional<float> snrMin, std::optional<double> filterDistance, bool noFilter,
                  bool showSaturated, std::optional<int> returns,
                  const std::optional<std::string>& showReturns, std::optional<unsigned> workers,
                  const std::optional<std::string>& home) {
    if (layer >= LAYER_COUNT) throw py::value_error("layer must be 0 to 4");
    if (returns && (*returns < 1 || *returns > static_cast<int>(kMaxReturns)))
        throw py::value_error("returns must be 1 to 4");
    // Names of kShowAllReturns, kShowFirstReturn, kShowLastReturn, kShowStrongestReturn.
    const char* const kShown[] = {"all", "first", "last", "strongest"};
    std::optional<std::uint8_t> shown;
    for (std::uint8_t i = 0; showReturns && i < 4; ++i)
        if (*showReturns == kShown[i]) shown = i;
    if (showReturns && !shown)
        throw py::value_error("show_returns must be 'all', 'first', 'last' or 'strongest'");
    const std::string path = file.string();
    const ConfigRoot root = rootFor(home);
    LayerOverrides overrides;
    overrides.rangeMin = rangeMin;
    overrides.rangeMax = rangeMax;
    overrides.snrMin = snrMin;
    overrides.filterDistance = filterDistance;
    overrides.noFilter = noFilter;
    overrides.showSaturated = showSaturated;
    if (returns) overrides.returns = static_cast<std::uint8_t>(*returns);
    overrides.returnsShown = shown;
    RecordingSink sink;
    std::vector<PointRow> rows;
    bool ok = false;
    {
        py::gil_scoped_release release;
        NullNotifier notifier;
        RecordingJob job(root, sink, notifier, workers.value_or(0));
        if (!job.allocated()) {
            sink.report("ERROR, cannot allocate the point layers");
        } else if (job.run(path, layer, overrides)) {
            rows = rowsOf(job.store(), layer);
            ok = true;
        }
    }
    if (!ok) raise(sink, "ERROR processing " + path);
    warnEach(sink);
    const auto n = static_cast<py::ssize_t>(rows.size());
    return adopt(std::move(rows), pointDtype(), {n});
}

py::array readLas(const std::filesystem::path& file) {
    const std::string path = file.string();
    RecordingSink sink;
    std::vector<PointRow> rows;
    bool ok = false;
    {
        py::gil_scoped_release release;
        LasFile las;
        CloudStore store;
        if (las.openRead(path, sink) && store.allocated()) {
            store.setCurrentLayer(0);
            fillLayerFromLas(las, store, 0);
            rows = rowsOf(store, 0);
            ok = true;
        }
    }
    if (!ok) raise(sink, "ERROR opening LAS file: " + path);
    const auto n = static_cast<py::ssize_t>(rows.size());
    return adopt(std::move(rows), pointDtype(), {n});
}

// Column `name` of a structured array as float64, or `fallback` for every point when absent.
std::vector<double> column(const py::array& points, const char* name, double fallback) {
    const auto n = static_cast<std::size_t>(points.size());
    const py::object fields = points.dtype().attr("fields");
    if (fields.is_none() || !fields.contains(name)) return std::vector<double>(n, fallback);
    const auto values = py::array_t<double, py::array::c_style | py::array::forcecast>(
        points.attr("__getitem__")(name).attr("ravel")());
    return {values.data(), values.data() + n};
}

void exportPoints(const py::array& points, const std::filesystem::path& file,
                  const std::string& version, bool includeHidden) {
    const std::string path = file.string();
    std::string suffix = std::filesystem::path(path).extension().string();
    std::transform(suffix.begin(), suffix.end(), suffix.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (suffix != ".las" && suffix != ".xyz" && suffix != ".ply")
        throw py::value_error("export writes .las, .ply or .xyz files");
    if (version != "1.3" && version != "1.4")
        throw py::value_error(
            "version is '1.3' (the workstation's LAS) or '1.4' (with attributes)");
    // PLY and LAS 1.4 carry every attribute: the survey export writes them.
    const bool survey = suffix == ".ply" || (suffix == ".las" && version == "1.4");
    const py::object fields = points.dtype().attr("fields");
    for (const char* name : {"x", "y", "z"})
        if (fields.is_none() || !fields.contains(name))
            throw py::value_error(std::string("points need an '") + name + "' field");
    if (static_cast<std::size_t>(points.size()) > CloudStore::MAX_LAYER_POINTS)
        throw py::value_error("at most " + std::to_string(CloudStore::MAX_LAYER_POINTS) +
                              " points per export");
    const auto x = column(points, "x", 0), y = column(points, "y", 0), z = column(points, "z", 0);
    const auto amplitude = column(points, "amplitude", 0), valid = column(points, "valid", 1);
    const auto range = column(points, "range", 0), snr = column(points, "snr", 0);
    const auto azimuth = column(points, "azimuth", 0), elevation = column(points, "elevation", 0);
    const auto saturated = column(points, "saturated", 0), line = column(points, "line", 0);
    const auto peak = column(points, "peak_position", 0), shot = column(points, "shot", 0);
    const auto spread = column(points, "range_std_dev", 0), pulses = column(points, "pulses", 0);
    const auto number = column(points, "return_number", 0);
    const auto returns = column(points, "number_of_returns", 0);
    RecordingSink sink;
    bool ok = false;
    {
        py::gil_scoped_release release;
        CloudStore store;
        if (!store.allocated()) {
            sink.report("ERROR, cannot allocate the point layers");
        } else {
            store.setCurrentLayer(0);
            const auto n = static_cast<std::uint32_t>(x.size());
            CloudPoint* slots = &store.nextSlot(0);
            for (std::uint32_t i = 0; i < n; ++i) {
                slots[i].x = static_cast<float>(x[i]);
                slots[i].y = static_cast<float>(y[i]);
                slots[i].z = static_cast<float>(z[i]);
                slots[i].amplitude = static_cast<float>(amplitude[i]);
                slots[i].valid = valid[i] != 0;
                if (!survey) continue;
                slots[i].range = static_cast<float>(range[i]);
                slots[i].snr = static_cast<float>(snr[i]);
                slots[i].azimuth = static_cast<float>(azimuth[i]);
                slots[i].elevation = static_cast<float>(elevation[i]);
                slots[i].saturated = saturated[i] != 0;
                slots[i].line = static_cast<std::uint16_t>(line[i]);
                slots[i].peakPosition = static_cast<float>(peak[i]);
                store.extra(0, i) = PointExtra{
                    static_cast<std::uint32_t>(shot[i]),   static_cast<float>(spread[i]),
                    static_cast<std::uint16_t>(pulses[i]), static_cast<std::uint8_t>(number[i]),
                    static_cast<std::uint8_t>(returns[i]), static_cast<std::uint8_t>(number[i])};
            }
            store.commit(0, n);
            if (survey) {
                SurveyExportOptions options;
                options.includeHidden = includeHidden;
                // The points carry no file: they are exported in the frame they are in.
                ok = exportSurvey(store, {SurveySource{0, Attitude{}}}, path, options, sink);
            } else {
                ok = suffix == ".las" ? exportLas(store, path, sink) : exportXyz(store, path, sink);
            }
        }
    }
    if (!ok) raise(sink, "ERROR writing " + path);
}

} // namespace

void bindPoints(py::module_& m) {
    m.def("process", &process, py::arg("path"), py::arg("layer") = 0,
          py::arg("range_min") = py::none(), py::arg("range_max") = py::none(),
          py::arg("snr_min") = py::none(), py::arg("filter_distance") = py::none(),
          py::arg("no_filter") = false, py::arg("show_saturated") = false,
          py::arg("returns") = py::none(), py::arg("show_returns") = py::none(),
          py::arg("workers") = py::none(), py::arg("home") = py::none(),
          R"(Processes a recording (or imports a LAS or rebuilds a .3DC file) into a layer exactly
as `quarv-cli process` does, and returns every point of the layer.

The layer's settings come from CFG/layers.lcfg of the configuration root `home` (default
$QUARV_HOME or ~/.config/quarv), with range_min, range_max, snr_min, filter_distance, no_filter
and show_saturated on top, like the command's options; returns (1 to 4 returns per pulse) and
show_returns ('all', 'first', 'last', 'strongest') like --returns and --show-returns (default:
the layer's own). workers: the engine's waveform threads (default: one per core, at most 4).
The GIL is released while processing, so threads processing different files run in parallel.

Returns a structured array, one row per point in layer order, with the columns of
`quarv-cli process --points` (x, y, z, azimuth, elevation, range, amplitude, snr, saturated,
valid, sequence, line, peak_position) and the point's side record (shot, range_std_dev, pulses,
return_number, number_of_returns). Points with valid 0 are hidden by the layer's filters.
Failures raise quarv.Error with the core's message; warnings become RuntimeWarnings.)");
    m.def("read_las", &readLas, py::arg("path"),
          R"(Reads a LAS file (1.0 to 1.4, point formats 0 to 10) with the importer of the
workstation: a structured array like process() returns, range = |(x, y, z)|, valid 1. A file
that is not LAS or contradicts its size raises quarv.Error with the reader's message.)");
    m.def("export", &exportPoints, py::arg("points"), py::arg("path"), py::arg("version") = "1.3",
          py::arg("include_hidden") = false,
          R"(Writes points (a structured array with at least x, y, z; the other columns of
process() are used when present) with the core's writers: ".las" as LAS 1.3 point format 0 (the
workstation's Save LAS File) or, with version="1.4", as LAS 1.4 point format 7 with every
attribute in extra bytes; ".ply" as binary PLY with every attribute; ".xyz" as text. Points whose
valid is zero are left out unless include_hidden (LAS 1.4 and PLY: classification 7). The file is
written to a temporary name and renamed into place: a failure leaves an existing file as it
was.)");
}

} // namespace quarv::python
