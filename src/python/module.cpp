// The quarv Python module: recordings, waveforms and clouds as numpy arrays, through the core.
#include "python/bindings.hpp"

namespace quarv::python {

void raise(const RecordingSink& sink, const std::string& fallback) {
    std::string text;
    for (const std::string& m : sink.messages()) text += (text.empty() ? "" : "\n") + m;
    throw Error(text.empty() ? fallback : text);
}

void warnEach(const RecordingSink& sink) {
    for (const std::string& m : sink.messages())
        if (PyErr_WarnEx(PyExc_RuntimeWarning, m.c_str(), 2) != 0) throw py::error_already_set();
}

ConfigRoot rootFor(const std::optional<std::string>& home) {
    const ConfigRoot root = home ? ConfigRoot(*home) : ConfigRoot::fromEnvironment();
    RecordingSink sink;
    if (!root.ensureCreated(sink)) raise(sink, "ERROR creating the configuration root");
    return root;
}

py::dtype structDtype(std::initializer_list<Field> fields, std::size_t itemsize) {
    py::list names, formats, offsets;
    for (const Field& f : fields) {
        names.append(f.name);
        formats.append(f.format);
        offsets.append(f.offset);
    }
    return py::dtype(names, formats, offsets, static_cast<py::ssize_t>(itemsize));
}

} // namespace quarv::python

PYBIND11_MODULE(quarv, m) {
    using namespace quarv::python;
    m.doc() = "Recordings of the underwater laser scanner, their waveforms and point clouds as "
              "numpy arrays, read and processed by quarv's own core.";
    py::register_exception<Error>(m, "Error", PyExc_RuntimeError).attr("__doc__") =
        "A file or operation the core refused; the text is the core's own message.";
    bindRecording(m);
    bindShots(m);
    bindPoints(m);
    bindSimulate(m);
}
