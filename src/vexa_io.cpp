// vexa_io: bulk exchange between vexa's containers and any object with the
// buffer protocol. asbuffer lends a container's elements through a
// memoryview that holds its own share of their storage; from_buffer copies
// a buffer's elements into a new container.
//
// Containers are recognised by their exact class, taken from the module
// vexa at import, as vexa's own call front recognises them; the native
// object inside comes from the same helper. Both modules are compiled
// against the same pybind11, so they agree on the instance layout.

#include <pybind11/complex.h>
#include <pybind11/pybind11.h>

#include <boost/hana.hpp>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "Bindings/FastCall.hpp"
#include "Bindings/Kinds.hpp"
#include "Bindings/MainInterpreter.hpp"
#include "Types.hpp"

namespace py = pybind11;
namespace hana = boost::hana;
using namespace Bindings;

namespace {

template <class F>
void for_each_container(F&& f) {
  hana::for_each(scalarTypes, [&](auto scalarType) {
    hana::for_each(containerSet<typename decltype(scalarType)::type>, f);
  });
}

// Parts of the error texts, composed once from the kind table.
std::string classNames;
std::string formatCodes;

// The exporter behind every memoryview that asbuffer returns: a share of a
// container's storage, aliased to its first element, and the layout that
// the buffer describes.
struct SharedElements {
  PyObject base;
  std::shared_ptr<void> elements;
  const char* format;
  Py_ssize_t itemsize;
  Py_ssize_t len;
  int ndim;
  Py_ssize_t shape[2];
  Py_ssize_t strides[2];
};

PyTypeObject* sharedElementsType = nullptr;

void release_shared_elements(PyObject* obj) {
  PyTypeObject* type = Py_TYPE(obj);
  reinterpret_cast<SharedElements*>(obj)->elements.~shared_ptr();
  type->tp_free(obj);
  Py_DECREF(type);
}

// Matrices are column-major, so one with more than one row and column is
// refused to a consumer that asks for C order or for a shape without
// strides, which means C order. A consumer that asks for no shape gets the
// elements as one block, 1-D without a shape, as PyBuffer_FillInfo gives
// them: every container's elements are one contiguous run. Each view holds a
// reference to the exporter, which holds the storage, so no view needs a
// release of its own.
int get_buffer(PyObject* obj, Py_buffer* view, int flags) {
  const auto* self = reinterpret_cast<SharedElements*>(obj);
  const bool shaped = (flags & PyBUF_ND) == PyBUF_ND;
  const bool cOrder = self->ndim == 1 || self->shape[0] <= 1 || self->shape[1] <= 1;
  const bool wantsCOrder = (flags & PyBUF_C_CONTIGUOUS) == PyBUF_C_CONTIGUOUS ||
                           (flags & PyBUF_STRIDES) != PyBUF_STRIDES;
  if (shaped && wantsCOrder && !cOrder) {
    view->obj = nullptr;
    PyErr_SetString(PyExc_BufferError, "a vexa matrix is column-major, not C-contiguous");
    return -1;
  }
  view->buf = self->elements.get();
  view->obj = obj;
  Py_INCREF(obj);
  view->len = self->len;
  view->readonly = 0;
  view->itemsize = self->itemsize;
  view->format = (flags & PyBUF_FORMAT) ? const_cast<char*>(self->format) : nullptr;
  view->ndim = shaped ? self->ndim : 1;
  view->shape = shaped ? const_cast<Py_ssize_t*>(self->shape) : nullptr;
  view->strides =
      (flags & PyBUF_STRIDES) == PyBUF_STRIDES ? const_cast<Py_ssize_t*>(self->strides) : nullptr;
  view->suboffsets = nullptr;
  view->internal = nullptr;
  return 0;
}

// An exporter lends a share of a container's storage, which no copy or
// pickle could carry: every protocol of both refuses with TypeError, as for
// the memoryview itself.
PyObject* refuse_reduce(PyObject* obj, PyObject*) {
  PyErr_Format(PyExc_TypeError, "cannot pickle '%s' object", Py_TYPE(obj)->tp_name);
  return nullptr;
}

PyMethodDef sharedElementsMethods[] = {{"__reduce_ex__", &refuse_reduce, METH_O, nullptr},
                                       {nullptr, nullptr, 0, nullptr}};

PyType_Slot sharedElementsSlots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(&release_shared_elements)},
    {Py_bf_getbuffer, reinterpret_cast<void*>(&get_buffer)},
    {Py_tp_methods, sharedElementsMethods},
    {0, nullptr}};

// Exporters come from asbuffer only, and their type cannot change: Python
// code that gave it a __new__ could make an exporter of zeros.
PyType_Spec sharedElementsSpec = {
    "vexa_io.SharedElements", sizeof(SharedElements), 0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    sharedElementsSlots};

template <class C>
PyObject* lend(PyObject* obj) {
  using T = typename C::SampleType;
  const C* container = native_object<C>(obj);
  if (container == nullptr) {
    PyErr_Format(PyExc_TypeError,
                 "asbuffer() got a %s that holds no container (it was made without its "
                 "constructor)",
                 Py_TYPE(obj)->tp_name);
    return nullptr;
  }
  constexpr Py_ssize_t itemsize = sizeof(T);
  std::size_t extents[2] = {container->numel(), 1};
  if constexpr (Algorithms::is_matrix<C>::value) {
    // An empty matrix may have extents no buffer can describe.
    extents[0] = container->template dim<0>();
    extents[1] = container->template dim<1>();
    if (extents[0] > PY_SSIZE_T_MAX / itemsize || extents[1] > PY_SSIZE_T_MAX / itemsize) {
      PyErr_Format(PyExc_OverflowError, "asbuffer() cannot describe a %s of %zu x %zu elements",
                   Py_TYPE(obj)->tp_name, extents[0], extents[1]);
      return nullptr;
    }
  }
  PyObject* exporter = sharedElementsType->tp_alloc(sharedElementsType, 0);
  if (exporter == nullptr) {
    return nullptr;
  }
  auto* self = reinterpret_cast<SharedElements*>(exporter);
  new (&self->elements) std::shared_ptr<void>(Algorithms::Elements::share(*container));
  self->format = py::format_descriptor<T>::value;
  self->itemsize = itemsize;
  self->len = static_cast<Py_ssize_t>(container->numel()) * itemsize;
  self->ndim = Algorithms::is_matrix<C>::value ? 2 : 1;
  self->shape[0] = static_cast<Py_ssize_t>(extents[0]);
  self->shape[1] = static_cast<Py_ssize_t>(extents[1]);
  self->strides[0] = itemsize;
  self->strides[1] = itemsize * self->shape[0];
  PyObject* view = PyMemoryView_FromObject(exporter);
  Py_DECREF(exporter);
  return view;
}

PyObject* asbuffer(PyObject*, PyObject* obj) {
  const int index = class_of(obj);
  if (index < 0) {
    PyErr_Format(PyExc_TypeError, "asbuffer() takes a vexa container (%s), not %s",
                 classNames.c_str(), Py_TYPE(obj)->tp_name);
    return nullptr;
  }
  PyObject* result = nullptr;
  for_each_container([&](auto container) {
    using C = typename decltype(container)::type;
    if (class_index<C>() == static_cast<std::size_t>(index)) {
      result = lend<C>(obj);
    }
  });
  return result;
}

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
    return py::cast(std::move(container)).release().ptr();
  } catch (...) {
    translate_current_exception();
    return nullptr;
  }
}

using CopyIn = PyObject* (*)(const Py_buffer&);

// The copy for a buffer whose elements are of one of the kinds, by struct
// code and item size, in native byte order: "@" and "=" say native, "<" or
// ">" only on a machine of that order. nullptr for any other element.
CopyIn copy_for(const Py_buffer& view) {
  const char* format = view.format == nullptr ? "B" : view.format;
  const char native = PY_LITTLE_ENDIAN ? '<' : '>';
  if (*format == '@' || *format == '=' || *format == native) {
    ++format;
  }
  CopyIn copy = nullptr;
  hana::for_each(scalarTypes, [&](auto scalarType) {
    using T = typename decltype(scalarType)::type;
    if (std::strcmp(format, py::format_descriptor<T>::value) == 0 && view.itemsize == sizeof(T)) {
      copy = view.ndim == 2 ? &copy_in<Algorithms::Matrix<T>> : &copy_in<Algorithms::Vector<T>>;
    }
  });
  return copy;
}

// The borrowed buffer of from_buffer, released on every path.
struct Borrowed {
  Py_buffer view{};
  Borrowed() = default;
  Borrowed(const Borrowed&) = delete;
  Borrowed& operator=(const Borrowed&) = delete;
  ~Borrowed() {
    if (view.obj != nullptr) {
      PyBuffer_Release(&view);
    }
  }
};

PyObject* from_buffer(PyObject*, PyObject* obj) {
  if (!PyObject_CheckBuffer(obj)) {
    PyErr_Format(PyExc_TypeError,
                 "from_buffer() takes an object with the buffer protocol (a numpy array, "
                 "memoryview, array.array, ...), not %s",
                 Py_TYPE(obj)->tp_name);
    return nullptr;
  }
  Borrowed borrowed;
  Py_buffer& view = borrowed.view;
  if (PyObject_GetBuffer(obj, &view, PyBUF_RECORDS_RO) != 0) {
    return nullptr;
  }
  const CopyIn copy = copy_for(view);
  if (copy == nullptr) {
    PyErr_Format(PyExc_TypeError,
                 "from_buffer() takes elements of format %s (float32, float64, complex64, "
                 "complex128) in native byte order, not '%s'; convert first, for example with "
                 "numpy.asarray(a, dtype=float)",
                 formatCodes.c_str(), view.format == nullptr ? "B" : view.format);
    return nullptr;
  }
  if (view.ndim < 1 || view.ndim > 2) {
    PyErr_Format(PyExc_ValueError, "from_buffer() takes a 1-D or 2-D buffer, not a %d-D one",
                 view.ndim);
    return nullptr;
  }
  return copy(view);
}

PyMethodDef functions[] = {
    {"asbuffer", &asbuffer, METH_O,
     "asbuffer(c) -> memoryview\n\nA writable memoryview sharing the elements of the vexa "
     "container c, without copying: 1-D (numel,) for a vector or view, 2-D (rows, cols) in "
     "column-major order for a matrix. It holds its own share of the storage."},
    {"from_buffer", &from_buffer, METH_O,
     "from_buffer(obj) -> container\n\nA new vexa container holding a copy of the elements of "
     "obj, any object with the buffer protocol: a vector for a 1-D buffer, a matrix for a 2-D "
     "one, of the kind of its elements (float32, float64, complex64, complex128)."},
    {nullptr, nullptr, 0, nullptr}};

}  // namespace

#define PyInit_vexa_io pybind11_PyInit_vexa_io
PYBIND11_MODULE(vexa_io, m) {
  require_main_interpreter("vexa_io");
  py::module_ vexa = py::module_::import("vexa");
  for_each_container([&](auto container) {
    using C = typename decltype(container)::type;
    // The classes live as long as the process, as vexa's own table assumes.
    py::object cls = vexa.attr(className<C>.c_str());
    remember_class<C>(reinterpret_cast<PyTypeObject*>(cls.release().ptr()));
    classNames += (classNames.empty() ? "" : ", ") + std::string(className<C>.c_str());
  });
  constexpr std::size_t kindCount = hana::length(scalarTypes);
  std::size_t kind = 0;
  hana::for_each(scalarTypes, [&](auto scalarType) {
    using T = typename decltype(scalarType)::type;
    const char* separator = kind == 0 ? "" : kind + 1 == kindCount ? " or " : ", ";
    formatCodes += separator + ("'" + std::string(py::format_descriptor<T>::value) + "'");
    ++kind;
  });

  sharedElementsType = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&sharedElementsSpec));
  if (sharedElementsType == nullptr) {
    throw py::error_already_set();
  }
  if (PyModule_AddFunctions(m.ptr(), functions) != 0) {
    throw py::error_already_set();
  }
}
#undef PyInit_vexa_io
VEXA_MAIN_INTERPRETER_ONLY(vexa_io)
