#pragma once

// A call's result as a new Python object: a scalar of any kind, or of a
// complex kind's real type, as float or complex; a size as int; a container
// returned by value as an instance of its registered class.

#include <pybind11/pybind11.h>

#include <complex>
#include <cstddef>
#include <type_traits>
#include <utility>

#include "Kinds.hpp"

namespace Bindings {

inline PyObject* to_python(float v) { return PyFloat_FromDouble(v); }
inline PyObject* to_python(double v) { return PyFloat_FromDouble(v); }
template <class R>
PyObject* to_python(const std::complex<R>& v) {
  return PyComplex_FromDoubles(v.real(), v.imag());
}
inline PyObject* to_python(std::size_t v) { return PyLong_FromSize_t(v); }

// Moves the container into a new instance; throws what pybind11 throws.
template <class C, class = std::enable_if_t<is_container<C>>>
PyObject* to_python(C&& container) {
  return pybind11::cast(std::move(container)).release().ptr();
}

}  // namespace Bindings
