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

#include <pybind11/complex.h>
#include <pybind11/gil_safe_call_once.h>
#include <pybind11/pybind11.h>

#include <array>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <new>
#include <type_traits>

#include "Kinds.hpp"
#include "PybindInternals.hpp"

namespace Bindings {

namespace py = pybind11;

template <class T>
constexpr bool is_scalar_kind = std::is_floating_point_v<T> || is_complex<T>;

// The outcome of converting one argument. After raised, the Python error is
// set.
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

// What the instances of a type other than float, int and complex are to
// the conversion: float or complex values (subclasses, read directly), real
// numbers (int subclasses and types registered as numbers.Real, converted
// through float() by every kind), complex numbers (registered as
// numbers.Complex only), objects that hold complex numbers when their buffer
// says so, and other numbers.
enum class Category : unsigned char {
  floatValue,
  complexValue,
  realNumber,
  complexNumber,
  byBuffer,
  otherNumber
};

// A module attribute, imported once. The import may release the GIL, so a
// plain static could deadlock.
template <class Tag>
const py::object& imported(const char* module, const char* name) {
  PYBIND11_CONSTINIT static py::gil_safe_call_once_and_store<py::object> stored;
  return stored
      .call_once_and_store_result(
          [&] { return py::module_::import(module).attr(name).cast<py::object>(); })
      .get_stored();
}

struct RealTag;
struct ComplexTag;

// Gives a type the version tag that the cache below keys on, when it has
// none yet: a type that no attribute lookup has reached has none.
inline void assign_version_tag(PyTypeObject* type) {
#if PY_VERSION_HEX >= 0x030C0000
  PyUnstable_Type_AssignVersionTag(type);
#else
  // A lookup through the type's method cache assigns the tag.
  static PyObject* const name = PyUnicode_InternFromString("__float__");
  if (name == nullptr) {
    PyErr_Clear();
  } else {
    _PyType_Lookup(type, name);
  }
#endif
}

// Returns false with the Python error set when the category cannot be made.
inline bool find_category(PyTypeObject* type, Category& out) {
  auto* cls = reinterpret_cast<PyObject*>(type);
  if (PyType_IsSubtype(type, &PyFloat_Type) != 0) {
    out = Category::floatValue;
  } else if (PyType_IsSubtype(type, &PyComplex_Type) != 0) {
    out = Category::complexValue;
  } else if (PyType_IsSubtype(type, &PyLong_Type) != 0) {
    out = Category::realNumber;
  } else {
    PyObject* realAbc = nullptr;
    PyObject* complexAbc = nullptr;
    try {
      realAbc = imported<RealTag>("numbers", "Real").ptr();
      complexAbc = imported<ComplexTag>("numbers", "Complex").ptr();
    } catch (py::error_already_set& error) {
      error.restore();
      return false;
    } catch (const std::bad_alloc&) {
      PyErr_NoMemory();
      return false;
    }
    const int real = PyObject_IsSubclass(cls, realAbc);
    const int complex = real != 0 ? 0 : PyObject_IsSubclass(cls, complexAbc);
    if (real < 0 || complex < 0) {
      return false;
    }
    const bool buffer =
        type->tp_as_buffer != nullptr && type->tp_as_buffer->bf_getbuffer != nullptr;
    out = real != 0      ? Category::realNumber
          : complex != 0 ? Category::complexNumber
          : buffer       ? Category::byBuffer
                         : Category::otherNumber;
  }
  return true;
}

// The categories of the types met, cached since the checks against the
// numbers ABCs are slow. An entry stands for its type as it was when the
// entry was made: Python changes a type's version tag whenever the type or
// one of its bases changes, and no two types share a tag. A class registered
// with a numbers ABC after its instances were converted is seen once the
// class changes.
class CategoryCache {
 public:
  bool find(PyTypeObject* type, Category& out) {
    const Entry& entry = m_entries[slot(type)];
    if (entry.type == type && entry.version == type->tp_version_tag) {
      out = entry.category;
      return true;
    }
    return miss(type, out);
  }

 private:
  struct Entry {
    PyTypeObject* type = nullptr;
    unsigned int version = 0;
    Category category = Category::otherNumber;
  };

  static std::size_t slot(PyTypeObject* type) {
    return (reinterpret_cast<std::uintptr_t>(type) >> 4) % std::tuple_size_v<decltype(m_entries)>;
  }

  // Out of line, so that a hit costs no more than the comparisons above.
  [[gnu::noinline]] bool miss(PyTypeObject* type, Category& out) {
    if (type->tp_version_tag == 0) {
      assign_version_tag(type);
    }
    const unsigned int version = type->tp_version_tag;
    if (!find_category(type, out)) {
      return false;
    }
    if (version != 0 && type->tp_version_tag == version) {
      m_entries[slot(type)] = Entry{type, version, out};
    }
    return true;
  }

  std::array<Entry, 16> m_entries{};
};

inline CategoryCache categoryCache;

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

inline Load converted(double value) {
  return value == -1.0 && PyErr_Occurred() != nullptr ? conversion_failed() : Load::value;
}

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

// float() of an object that is no float: its type's __float__, called
// directly as PyNumber_Float calls it, or else PyFloat_AsDouble (__index__).
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
  if (!categoryCache.find(type, category)) {
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
  if (!categoryCache.find(type, category)) {
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

// A scalar of kind T; single precision takes the nearest value.
template <class T>
Load load_scalar(PyObject* obj, T& out) {
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

// The overload chain takes every scalar as ScalarArg, converted by the same
// rule as on the fast path.
template <class T>
struct ScalarArg {
  T value;
  operator T() const { return value; }

  // The chain's conversion. Without conversion it admits what pybind11's own
  // admits: float and int for a real kind, and complex too for a complex
  // kind. Returns false for a value the kind refuses; any other error is
  // raised.
  bool load(PyObject* obj, bool convert) {
    const bool plain =
        PyFloat_Check(obj) || PyLong_Check(obj) || (is_complex<T> && PyComplex_Check(obj));
    if (!convert && !plain) {
      return false;
    }
    switch (load_scalar(obj, value)) {
      case Load::value:
        return true;
      case Load::refused:
        return false;
      case Load::raised:
        break;
    }
    throw py::error_already_set();
  }
};

template <class P>
using ScalarParam = std::conditional_t<is_scalar_kind<std::remove_cv_t<std::remove_reference_t<P>>>,
                                       ScalarArg<std::remove_cv_t<std::remove_reference_t<P>>>, P>;

}  // namespace Bindings
