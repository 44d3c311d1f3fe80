#pragma once

// Python numbers as scalars of a kind, by one rule that the fast call front,
// the overload chain and the element slots share:
// - a real kind takes every value that float() converts, except complex
//   numbers: complex and its subclasses, types registered as numbers.Complex
//   but not as numbers.Real (numpy's complex scalars), and objects whose
//   buffer holds complex elements (numpy arrays of a complex dtype);
// - a complex kind takes every value that complex() converts.
// A value is converted once. Floats, ints and complex numbers, subclasses of
// float and complex included, are read directly; any other object goes
// through one call of PyFloat_AsDouble (real numbers, and every value for a
// real kind) or PyComplex_AsCComplex, that is its own __float__, __complex__
// or __index__. A TypeError from that call means the value is no number of
// the kind; any other exception is the argument's own and propagates
// unchanged.

#include <pybind11/pybind11.h>

#include <complex>
#include <type_traits>

#include "FloatOf.hpp"
#include "Kinds.hpp"
#include "Load.hpp"
#include "State.hpp"
#include "TypeCategories.hpp"

namespace Bindings {

template <class T>
constexpr bool is_scalar_kind = std::is_floating_point_v<T> || is_complex<T>;

// Whether obj's buffer holds complex elements: its format, after an optional
// byte-order character, starts with Z. An object that exports no buffer of
// that form holds no complex elements.
[[gnu::noinline]] inline Load complex_buffer(PyObject* obj, bool& out) {
  out = false;
  Py_buffer view;
  if (PyObject_GetBuffer(obj, &view, PyBUF_RECORDS_RO) != 0) {
    if (PyErr_ExceptionMatches(PyExc_BufferError) == 0 &&
        PyErr_ExceptionMatches(PyExc_ValueError) == 0 &&
        PyErr_ExceptionMatches(PyExc_TypeError) == 0) {
      return Load::raised;
    }
    PyErr_Clear();
    return Load::value;
  }
  const char* format = view.format != nullptr ? view.format : "B";
  if (*format == '@' || *format == '=' || *format == '<' || *format == '>' || *format == '!') {
    ++format;
  }
  out = *format == 'Z';
  PyBuffer_Release(&view);
  return Load::value;
}

inline Load load_real(PyObject* obj, double& out) {
  PyTypeObject* type = Py_TYPE(obj);
  if (type == &PyFloat_Type) {
    out = PyFloat_AS_DOUBLE(obj);
    return Load::value;
  }
  if (type == &PyLong_Type) {
    out = PyLong_AsDouble(obj);
    return converted(out);
  }
  if (type == &PyComplex_Type) {
    return Load::refused;
  }
  Category category = Category::otherNumber;
  if (!state.categories.find(type, category)) {
    return conversion_failed();
  }
  switch (category) {
    case Category::floatValue:
      out = PyFloat_AS_DOUBLE(obj);
      return Load::value;
    case Category::complexValue:
    case Category::complexNumber:
      return Load::refused;
    case Category::byBuffer: {
      bool complex = false;
      const Load checked = complex_buffer(obj, complex);
      if (checked != Load::value || complex) {
        return complex ? Load::refused : checked;
      }
      break;
    }
    case Category::realNumber:
    case Category::otherNumber:
      break;
  }
  return float_of(obj, out);
}

inline Load load_complex(PyObject* obj, Py_complex& out) {
  PyTypeObject* type = Py_TYPE(obj);
  if (type == &PyComplex_Type) {
    out = reinterpret_cast<PyComplexObject*>(obj)->cval;
    return Load::value;
  }
  if (type == &PyFloat_Type) {
    out = Py_complex{PyFloat_AS_DOUBLE(obj), 0.0};
    return Load::value;
  }
  if (type == &PyLong_Type) {
    out = Py_complex{PyLong_AsDouble(obj), 0.0};
    return converted(out.real);
  }
  Category category = Category::otherNumber;
  if (!state.categories.find(type, category)) {
    return conversion_failed();
  }
  switch (category) {
    case Category::complexValue:
      out = reinterpret_cast<PyComplexObject*>(obj)->cval;
      return Load::value;
    case Category::floatValue:
      out = Py_complex{PyFloat_AS_DOUBLE(obj), 0.0};
      return Load::value;
    case Category::realNumber:
      out.imag = 0.0;
      return float_of(obj, out.real);
    case Category::complexNumber:
    case Category::byBuffer:
    case Category::otherNumber:
      break;
  }
  out = PyComplex_AsCComplex(obj);
  return converted(out.real);
}

// A scalar of kind T by the conversions above; single precision takes the
// nearest value.
template <class T>
[[gnu::noinline]] Load load_scalar_converted(PyObject* obj, T& out) {
  if constexpr (is_complex<T>) {
    using R = typename T::value_type;
    Py_complex value{};
    const Load loaded = load_complex(obj, value);
    out = T(static_cast<R>(value.real), static_cast<R>(value.imag));
    return loaded;
  } else {
    double value = 0.0;
    const Load loaded = load_real(obj, value);
    out = static_cast<T>(value);
    return loaded;
  }
}

// A scalar of kind T. A value of the kind's own Python type (float for real
// kinds, complex for complex ones) is read inline, with the same result as
// the conversions; any other goes to them, out of line, through a temporary
// of its own: were out's address passed to that call, a caller's out could
// no longer live in registers, and a complex one would be copied again on
// its way to the operation.
template <class T>
[[gnu::always_inline]] inline Load load_scalar(PyObject* obj, T& out) {
  if constexpr (is_complex<T>) {
    using R = typename T::value_type;
    if (Py_TYPE(obj) == &PyComplex_Type) {
      const Py_complex value = reinterpret_cast<PyComplexObject*>(obj)->cval;
      out = T(static_cast<R>(value.real), static_cast<R>(value.imag));
      return Load::value;
    }
  } else {
    if (Py_TYPE(obj) == &PyFloat_Type) {
      out = static_cast<T>(PyFloat_AS_DOUBLE(obj));
      return Load::value;
    }
  }
  T converted{};
  const Load loaded = load_scalar_converted(obj, converted);
  out = converted;
  return loaded;
}

}  // namespace Bindings
