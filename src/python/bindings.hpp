// Shared pieces of the quarv Python module: the exception that carries the core's messages, the
// configuration root a call uses, and numpy arrays that take over a vector's memory.
#pragma once

#include "core/app/message_sink.hpp"
#include "core/config/config_root.hpp"

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace quarv::python {

namespace py = pybind11;

// Raised as quarv.Error (a RuntimeError) with the message the core reported.
struct Error : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Throws Error with the messages `sink` holds, one per line, or `fallback` when it holds none.
[[noreturn]] void raise(const RecordingSink& sink, const std::string& fallback);
// Each message of a call that succeeded, as a Python warning (the core's "WARNING, ..." texts).
void warnEach(const RecordingSink& sink);

// The configuration root at `home`, or the one the environment names; created with the shipped
// defaults on first use. Call with the GIL held: the creation is then never run twice at once.
ConfigRoot rootFor(const std::optional<std::string>& home);

// A numpy array over the memory of `values`, which the array keeps alive: no copy.
template <typename T>
py::array adopt(std::vector<T> values, const py::dtype& type, std::vector<py::ssize_t> shape) {
    auto owner = std::make_unique<std::vector<T>>(std::move(values));
    const void* data = owner->data();
    py::capsule base(owner.get(), [](void* p) {
        std::unique_ptr<std::vector<T>> release(static_cast<std::vector<T>*>(p));
    });
    owner.release();
    return py::array(type, std::move(shape), data, base);
}

// A structured dtype: names, numpy formats and byte offsets of the fields of a T.
struct Field {
    const char* name;
    const char* format;
    std::size_t offset;
};
py::dtype structDtype(std::initializer_list<Field> fields, std::size_t itemsize);

void bindRecording(py::module_& m);
void bindShots(py::module_& m);
void bindPoints(py::module_& m);
void bindSimulate(py::module_& m);

} // namespace quarv::python
