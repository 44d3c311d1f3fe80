#pragma once

// from_buffer, which copies a buffer's elements into a new container, and
// wrap, which makes a container whose storage is the buffer itself.

#include <pybind11/pybind11.h>

#include <boost/hana.hpp>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "../Bindings/Kinds.hpp"
#include "../Bindings/PybindInternals.hpp"
#include "../Bindings/Result.hpp"
#include "../Bindings/State.hpp"
#include "../Types.hpp"
#include "Borrowed.hpp"
#include "Dispatch.hpp"

namespace Io {

namespace py = pybind11;

// "vecs, mats, vecd, ...": the classes that a buffer makes, vectors and
// matrices.
constexpr auto madeNames = class_names(hana::filter(
    allContainers, [](auto c) { return hana::bool_c<!is_view<typename decltype(c)::type>>; }));

// Copies a rows x cols array of T, at byte strides of either sign, into
// column-major storage. Contiguous columns go by memcpy; any other layout
// goes in small square blocks, read along the source's rows, so that the
// cache lines of both sides are used whole before they are evicted (16 was
// the fastest size for C-ordered and strided 1000 x 1000 float64).
template <class T>
void gather(T* out, const char* in, Py_ssize_t rows, Py_ssize_t cols, Py_ssize_t rowStride,
            Py_ssize_t colStride) {
  constexpr Py_ssize_t itemsize = sizeof(T);
  if (rows == 0 || cols == 0) {
    return;
  }
  if (rowStride == itemsize) {
    for (Py_ssize_t j = 0; j < cols; ++j) {
      std::memcpy(out + j * rows, in + j * colStride, rows * itemsize);
    }
    return;
  }
  constexpr Py_ssize_t block = 16;
  for (Py_ssize_t j0 = 0; j0 < cols; j0 += block) {
    const Py_ssize_t j1 = std::min(cols, j0 + block);
    for (Py_ssize_t i0 = 0; i0 < rows; i0 += block) {
      const Py_ssize_t i1 = std::min(rows, i0 + block);
      for (Py_ssize_t i = i0; i < i1; ++i) {
        const char* row = in + i * rowStride;
        for (Py_ssize_t j = j0; j < j1; ++j) {
          std::memcpy(out + j * rows + i, row + j * colStride, itemsize);
        }
      }
    }
  }
}

// A new container of type C holding a copy of a 1-D or 2-D buffer of its
// kind. Its elements are not zeroed first, since the copy sets every one; it
// becomes an instance of vexa's class through the registration that vexa
// made with pybind11.
template <class C>
PyObject* copy_in(const Py_buffer& view) {
  constexpr bool matrix = Algorithms::is_matrix<C>::value;
  const Py_ssize_t rows = view.shape[0];
  const Py_ssize_t cols = matrix ? view.shape[1] : 1;
  // Some exporters (ctypes) leave out the strides of a C-contiguous buffer.
  const Py_ssize_t rowStride = view.strides != nullptr ? view.strides[0] : view.itemsize * cols;
  const Py_ssize_t colStride = matrix && view.strides != nullptr ? view.strides[1] : view.itemsize;
  try {
    C container = [&] {
      if constexpr (matrix) {
        return Algorithms::Elements::unset<C>(static_cast<std::size_t>(rows),
                                              static_cast<std::size_t>(cols));
      } else {
        return Algorithms::Elements::unset<C>(static_cast<std::size_t>(rows));
      }
    }();
    gather(Algorithms::Elements::share(container).get(), static_cast<const char*>(view.buf), rows,
           cols, rowStride, colStride);
    return to_python(std::move(container));
  } catch (...) {
    translate_current_exception();
    return nullptr;
  }
}

// The class that a buffer of one of the kinds makes, by struct code and item
// size, in native byte order: "@" and "=" say native, "<" or ">" only on a
// machine of that order. A 2-D buffer makes a matrix, any other a vector
// (other dimensions are refused after the element type). -1 for any other
// element.
inline int class_made(const Py_buffer& view) {
  const char* format = view.format == nullptr ? "B" : view.format;
  const char native = PY_LITTLE_ENDIAN ? '<' : '>';
  if (*format == '@' || *format == '=' || *format == native) {
    ++format;
  }
  int index = -1;
  hana::for_each(scalarTypes, [&](auto scalarType) {
    using T = typename decltype(scalarType)::type;
    if (std::strcmp(format, formatCode<T>.c_str()) == 0 && view.itemsize == sizeof(T)) {
      index = static_cast<int>(view.ndim == 2 ? class_index<Algorithms::Matrix<T>>()
                                              : class_index<Algorithms::Vector<T>>());
    }
  });
  return index;
}

// The arguments (obj[, cls]) of from_buffer and wrap: obj must have the
// buffer protocol; wanted is the position of the class that cls asks for,
// -1 for None or no cls.
inline bool parse_conversion(const char* name, PyObject* const* args, Py_ssize_t nargs,
                             int& wanted) {
  if (nargs < 1 || nargs > 2) {
    PyErr_Format(PyExc_TypeError, "%s() takes a buffer and optionally a class, not %zd arguments",
                 name, nargs);
    return false;
  }
  wanted = -1;
  if (nargs == 2 && args[1] != Py_None) {
    for_each_container([&](auto container) {
      using C = typename decltype(container)::type;
      if (!is_view<C> && reinterpret_cast<PyObject*>(state.classes[class_index<C>()]) == args[1]) {
        wanted = static_cast<int>(class_index<C>());
      }
    });
    if (wanted < 0) {
      PyErr_Format(PyExc_TypeError,
                   "%s() makes a vector or a matrix: cls is one of %s, or None, not %R", name,
                   madeNames.c_str(), args[1]);
      return false;
    }
  }
  if (!PyObject_CheckBuffer(args[0])) {
    PyErr_Format(PyExc_TypeError,
                 "%s() takes an object with the buffer protocol (a numpy array, memoryview, "
                 "array.array, ...), not %s",
                 name, Py_TYPE(args[0])->tp_name);
    return false;
  }
  return true;
}

// The position of the class that a borrowed buffer makes for from_buffer or
// wrap, or -1 with the error set: elements of another type, 0-D or more
// than 2-D, or another class than the one cls asks for.
inline int checked_class(const char* name, const Py_buffer& view, int wanted) {
  const char* format = view.format == nullptr ? "B" : view.format;
  const int made = class_made(view);
  if (made < 0) {
    PyErr_Format(PyExc_TypeError,
                 "%s() takes elements of format %s (%s) in native byte order, not '%s'; convert "
                 "first, for example with numpy.asarray(a, dtype=float)",
                 name, formatCodes.c_str(), dtypeNames.c_str(), format);
    return -1;
  }
  if (view.ndim < 1 || view.ndim > 2) {
    PyErr_Format(PyExc_ValueError,
                 "%s() takes a 1-D or 2-D buffer, not a %d-D one; reshape it first", name,
                 view.ndim);
    return -1;
  }
  if (wanted >= 0 && made != wanted) {
    PyErr_Format(PyExc_TypeError,
                 "%s() was asked for a %s, but a %d-D buffer of '%s' makes a %s; pass that "
                 "class, or convert the buffer first",
                 name, state.classes[wanted]->tp_name, view.ndim, format,
                 state.classes[made]->tp_name);
    return -1;
  }
  return made;
}

// The container that make(hana type) gives for the class checked_class
// finds for the buffer (a vector or a matrix, never a view), or nullptr
// with the error set.
template <class Make>
PyObject* make_checked(const char* name, const Py_buffer& view, int wanted, Make&& make) {
  const int made = checked_class(name, view, wanted);
  PyObject* result = nullptr;
  if (made >= 0) {
    with_container(made, [&](auto container) {
      if constexpr (!is_view<typename decltype(container)::type>) {
        result = make(container);
      }
    });
  }
  return result;
}

inline PyObject* from_buffer(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
  int wanted = -1;
  if (!parse_conversion("from_buffer", args, nargs, wanted)) {
    return nullptr;
  }
  Borrowed borrowed;
  Py_buffer& view = borrowed.view;
  if (PyObject_GetBuffer(args[0], &view, PyBUF_RECORDS_RO) != 0) {
    return nullptr;
  }
  return make_checked("from_buffer", view, wanted, [&](auto container) {
    return copy_in<typename decltype(container)::type>(view);
  });
}

// A container over the buffer that lease holds, after the checks of its
// layout: contiguous, column-major for a matrix, aligned for the elements.
template <class C>
PyObject* share_in(const std::shared_ptr<Borrowed>& lease) {
  using T = typename C::SampleType;
  const Py_buffer& view = lease->view;
  if (!PyBuffer_IsContiguous(&view, 'F')) {
    // Only a 2-D buffer can be contiguous in C order alone.
    PyErr_SetString(PyExc_ValueError,
                    PyBuffer_IsContiguous(&view, 'C')
                        ? "wrap() takes a matrix in column-major (Fortran) order, not C order; "
                          "numpy.asfortranarray(a) reorders it into a new array to wrap, "
                          "from_buffer() copies it"
                        : "wrap() takes a contiguous buffer, not a strided one; from_buffer() "
                          "copies it, numpy.asfortranarray(a) makes a contiguous array to wrap");
    return nullptr;
  }
  if (reinterpret_cast<std::uintptr_t>(view.buf) % alignof(T) != 0) {
    PyErr_Format(PyExc_ValueError,
                 "wrap() takes elements aligned to %zu bytes, and this buffer starts at an "
                 "address that is not; from_buffer() copies it",
                 alignof(T));
    return nullptr;
  }
  const std::size_t extents[2] = {static_cast<std::size_t>(view.shape[0]),
                                  view.ndim == 2 ? static_cast<std::size_t>(view.shape[1]) : 1};
  try {
    return to_python(shared_container<C>(lease, extents));
  } catch (...) {
    translate_current_exception();
    return nullptr;
  }
}

// wrap's request for a writable buffer failed. When the object does give a
// read-only one, that is the reason: say so, with the exporter's error as
// the cause; otherwise the exporter's error stands.
inline void explain_refusal(PyObject* obj) {
  bool readOnly = false;
  {
    py::error_scope refusal;
    Py_buffer probe;
    if (PyObject_GetBuffer(obj, &probe, PyBUF_RECORDS_RO) == 0) {
      readOnly = true;
      PyBuffer_Release(&probe);
    } else {
      PyErr_Clear();
    }
  }
  if (readOnly) {
    py::raise_from(PyExc_BufferError,
                   "wrap() shares the memory of a writable buffer, and this one is read-only; "
                   "from_buffer() copies it");
  }
}

inline PyObject* wrap(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
  int wanted = -1;
  if (!parse_conversion("wrap", args, nargs, wanted)) {
    return nullptr;
  }
  const std::shared_ptr<Borrowed> lease = borrow(args[0], PyBUF_RECORDS);
  if (lease == nullptr) {
    if (PyErr_ExceptionMatches(PyExc_MemoryError) == 0) {
      explain_refusal(args[0]);
    }
    return nullptr;
  }
  return make_checked("wrap", lease->view, wanted, [&](auto container) {
    return share_in<typename decltype(container)::type>(lease);
  });
}

}  // namespace Io
