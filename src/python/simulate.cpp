// quarv.simulate: a synthetic recording with its ground truth as a structured array.
#include "core/scanfile/scan_header.hpp"
#include "core/sim/sim_option_table.hpp"
#include "core/sim/simulator.hpp"
#include "python/bindings.hpp"

#include <algorithm>
#include <cstddef>

namespace quarv::python {
namespace {

py::dtype truthDtype() {
    using R = sim::TruthRow;
    const std::size_t p = offsetof(R, point);
    return structDtype({{"line", "<u4", offsetof(R, line)},
                        {"shot", "<u4", offsetof(R, shot)},
                        {"azimuth", "<f8", offsetof(R, azimuthDeg)},
                        {"elevation", "<f8", offsetof(R, elevationDeg)},
                        {"x", "<f8", p + offsetof(sim::Vec3, x)},
                        {"y", "<f8", p + offsetof(sim::Vec3, y)},
                        {"z", "<f8", p + offsetof(sim::Vec3, z)},
                        {"range", "<f8", offsetof(R, range)},
                        {"object", "<i4", offsetof(R, object)},
                        {"kind", "u1", offsetof(R, kind)},
                        {"amplitude", "<f8", offsetof(R, amplitude)},
                        {"raw_position", "<f8", offsetof(R, rawPosition)},
                        {"echo", "<u4", offsetof(R, echo)}},
                       sizeof(R));
}

// A keyword's value as the numbers its option takes: a flag's truth, a number, or a sequence.
std::vector<double> numbersOf(const sim::SimOptionSpec& spec, const py::handle& value,
                              const std::string& keyword) {
    if (spec.count == 0) {
        if (!py::isinstance<py::bool_>(value))
            throw py::type_error(keyword + " is a flag: True or False");
        return {};
    }
    try {
        if (spec.count == 1) return {value.cast<double>()};
        return value.cast<std::vector<double>>();
    } catch (const py::cast_error&) {
        throw py::type_error(keyword + (spec.count == 1 ? " needs a number" : " needs numbers"));
    }
}

py::object simulate(const std::filesystem::path& file, const std::string& scene,
                    const py::object& truth, const py::kwargs& options) {
    const bool echoes = py::isinstance<py::str>(truth) && truth.cast<std::string>() == "returns";
    if (!echoes && !py::isinstance<py::bool_>(truth) && !truth.is_none())
        throw py::value_error("truth must be True, False or 'returns'");
    const std::string path = file.string();
    if (!sim::isSceneName(scene))
        throw py::value_error("unknown scene '" + scene + "' (plane, seabed, harbour)");
    sim::SimOptions o = sim::sceneDefaults(scene);
    o.peakFile = isPeakPath(path);
    // The table's order, as quarv-cli simulate applies them (flags first: clean before clip).
    std::size_t used = 0;
    for (const sim::SimOptionSpec& spec : sim::simOptionTable()) {
        std::string keyword = spec.name;
        std::replace(keyword.begin(), keyword.end(), '-', '_');
        if (!options.contains(keyword)) continue;
        ++used;
        const py::handle value = options[keyword.c_str()];
        const std::vector<double> values = numbersOf(spec, value, keyword);
        if (spec.count == 0 && !value.cast<bool>()) continue;
        const std::string problem = sim::applySimOption(o, spec, values);
        if (!problem.empty()) throw py::value_error(keyword + " " + problem);
    }
    if (used != options.size()) {
        for (const auto& item : options) {
            const std::string keyword = py::str(item.first).cast<std::string>();
            std::string name = keyword;
            std::replace(name.begin(), name.end(), '_', '-');
            if (!sim::findSimOption(name))
                throw py::type_error("simulate() got an unexpected keyword argument '" + keyword +
                                     "'");
        }
    }
    sim::applyDefaultNote(o);
    sim::SimResult result;
    RecordingSink sink;
    bool ok = false;
    {
        py::gil_scoped_release release;
        ok = sim::simulate(o, path, result, sink);
    }
    if (!ok) raise(sink, "ERROR writing " + path);
    if (!echoes && !truth.cast<bool>()) return py::none();
    std::vector<sim::TruthRow>& rows = echoes ? result.echoes : result.truth;
    const auto n = static_cast<py::ssize_t>(rows.size());
    return adopt(std::move(rows), truthDtype(), {n});
}

} // namespace

void bindSimulate(py::module_& m) {
    m.def("simulate", &simulate, py::arg("path"), py::kw_only(), py::arg("scene") = "harbour",
          py::arg("truth") = true,
          R"(Writes a synthetic recording of a scene with known ground truth, exactly as
`quarv-cli simulate` does, and returns the truth.

scene: 'plane', 'seabed' or 'harbour'. Every option of `quarv-cli simulate --help` is a keyword
with '-' written '_': numbers (shots=1000, lines=200, samples=600, seed=2, distance=6.0, ...),
pairs and triples as sequences (az=(-20, 20), offsets=(0, 0, 0.1)), flags as True (peak, clean,
no_trailer, no_second_return). A path ending in ".pek" writes peak records.

Returns (truth=True) a structured array, one row per shot that hits the scene: line, shot,
azimuth, elevation (degrees), x, y, z, range (metres, the frame of processed points), object,
kind (index into quarv.SURFACE_KINDS), amplitude (counts), raw_position (raw samples); the
columns of --truth and more. truth='returns': every surface each beam meets inside the record,
in range order per shot, echo numbering them from 1 (what --truth-returns writes).
truth=False returns None.)");
    py::tuple kinds(6);
    for (int k = 0; k < 6; ++k) kinds[k] = sim::surfaceKindName(static_cast<sim::SurfaceKind>(k));
    m.attr("SURFACE_KINDS") = kinds;
}

} // namespace quarv::python
