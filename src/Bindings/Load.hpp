#pragma once

// The outcome of loading one argument of a call, shared by every loader of
// the fast path and by the scalar conversion.

#include <pybind11/pybind11.h>

namespace Bindings {

// After raised, the Python error is set.
enum class Load { value, refused, raised };

// The outcome after a failed conversion: a TypeError is a refusal and is
// cleared, anything else stays set.
inline Load conversion_failed() {
  if (PyErr_ExceptionMatches(PyExc_TypeError) != 0) {
    PyErr_Clear();
    return Load::refused;
  }
  return Load::raised;
}

// The outcome of a conversion to double that signals failure with -1.0 and
// the Python error.
inline Load converted(double value) {
  return value == -1.0 && PyErr_Occurred() != nullptr ? conversion_failed() : Load::value;
}

}  // namespace Bindings
