#pragma once

// float() of an object that is no float, as Python computes it, for the
// scalar conversion (ScalarRule.hpp): the type's __float__, called directly
// as PyNumber_Float calls it, or else PyFloat_AsDouble (__index__).

#include <pybind11/pybind11.h>

#include "Load.hpp"

namespace Bindings {

namespace py = pybind11;

// What a type's __float__ returned when that is no exact float: a float
// subclass is taken with the warning that float() gives, anything else is
// refused, as float() refuses it.
[[gnu::noinline]] inline Load inexact_float(PyObject* obj, PyObject* value, double& out) {
  const auto owned = py::reinterpret_steal<py::object>(value);
  if (!PyFloat_Check(value)) {
    return Load::refused;
  }
  if (PyErr_WarnFormat(PyExc_DeprecationWarning, 1,
                       "%.50s.__float__ returned non-float (type %.50s).  The ability to return "
                       "an instance of a strict subclass of float is deprecated, and may be "
                       "removed in a future version of Python.",
                       Py_TYPE(obj)->tp_name, Py_TYPE(value)->tp_name) != 0) {
    return Load::raised;
  }
  out = PyFloat_AS_DOUBLE(value);
  return Load::value;
}

inline Load float_of(PyObject* obj, double& out) {
  const PyNumberMethods* number = Py_TYPE(obj)->tp_as_number;
  if (number == nullptr || number->nb_float == nullptr) {
    out = PyFloat_AsDouble(obj);
    return converted(out);
  }
  PyObject* value = number->nb_float(obj);
  if (value == nullptr) {
    return conversion_failed();
  }
  if (!PyFloat_CheckExact(value)) {
    return inexact_float(obj, value, out);
  }
  out = PyFloat_AS_DOUBLE(value);
  Py_DECREF(value);
  return Load::value;
}

}  // namespace Bindings
