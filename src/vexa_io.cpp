// vexa_io: bulk exchange between vexa's containers and any object with the
// buffer protocol. asbuffer lends a container's elements through a
// memoryview that holds its own share of their storage; from_buffer copies
// a buffer's elements into a new container; wrap makes a container whose
// storage is the buffer itself. It also pickles and copies containers, for
// the reducers that vexa registers with copyreg.
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
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <type_traits>
#include <utility>

#include "Bindings/ClassTable.hpp"
#include "Bindings/Kinds.hpp"
#include "Bindings/MainInterpreter.hpp"
#include "Bindings/PybindInternals.hpp"
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

template <class C>
constexpr bool is_view = false;
template <class T>
constexpr bool is_view<Algorithms::VectorView<T>> = true;

// Parts of the error texts, composed once from the kind table: all class
// names, those of the classes a buffer makes (vectors and matrices), and the
// element formats.
std::string classNames;
std::string madeNames;
std::string formatCodes;

// Calls f with the hana type of the container whose class has the given
// position in the class table.
template <class F>
void with_container(int index, F&& f) {
  for_each_container([&](auto container) {
    if (class_index<typename decltype(container)::type>() == static_cast<std::size_t>(index)) {
      f(container);
    }
  });
}

// What f gives for the hana type of obj's container class; TypeError for
// an object that is not a vexa container, naming the function that refuses.
template <class F>
PyObject* on_container(const char* name, PyObject* obj, F&& f) {
  const int index = class_of(obj);
  if (index < 0) {
    PyErr_Format(PyExc_TypeError, "%s() takes a vexa container (%s), not %s", name,
                 classNames.c_str(), Py_TYPE(obj)->tp_name);
    return nullptr;
  }
  PyObject* result = nullptr;
  with_container(index, [&](auto container) { result = f(container); });
  return result;
}

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

// The deallocator of the objects that hold a share of a container's
// elements (SharedElements, PickledElements): the share goes with them.
template <class Holder>
void release_elements(PyObject* obj) {
  PyTypeObject* type = Py_TYPE(obj);
  reinterpret_cast<Holder*>(obj)->elements.~shared_ptr();
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
    {Py_tp_dealloc, reinterpret_cast<void*>(&release_elements<SharedElements>)},
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
  return on_container("asbuffer", obj, [&](auto container) {
    return lend<typename decltype(container)::type>(obj);
  });
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

// The class that a buffer of one of the kinds makes, by struct code and item
// size, in native byte order: "@" and "=" say native, "<" or ">" only on a
// machine of that order. A 2-D buffer makes a matrix, any other a vector
// (other dimensions are refused after the element type). -1 for any other
// element.
int class_made(const Py_buffer& view) {
  const char* format = view.format == nullptr ? "B" : view.format;
  const char native = PY_LITTLE_ENDIAN ? '<' : '>';
  if (*format == '@' || *format == '=' || *format == native) {
    ++format;
  }
  int index = -1;
  hana::for_each(scalarTypes, [&](auto scalarType) {
    using T = typename decltype(scalarType)::type;
    if (std::strcmp(format, py::format_descriptor<T>::value) == 0 && view.itemsize == sizeof(T)) {
      index = static_cast<int>(view.ndim == 2 ? class_index<Algorithms::Matrix<T>>()
                                              : class_index<Algorithms::Vector<T>>());
    }
  });
  return index;
}

// A buffer borrowed from its exporter and released on every path: when
// from_buffer has copied it, or, for a container made over it, when the last
// share of that container's storage goes. Shares go wherever Python frees an
// object (a container, a view, an asbuffer exporter, a pickled payload),
// possibly while an exception is being raised; the release may run Python
// code, so it holds the interpreter lock and keeps a pending exception aside.
struct Borrowed {
  Py_buffer view{};
  Borrowed() = default;
  Borrowed(const Borrowed&) = delete;
  Borrowed& operator=(const Borrowed&) = delete;
  ~Borrowed() {
    if (view.obj != nullptr) {
      const PyGILState_STATE gil = PyGILState_Ensure();
      {
        py::error_scope pending;
        PyBuffer_Release(&view);
      }
      PyGILState_Release(gil);
    }
  }
};

// Borrows obj's buffer with the given flags into a Borrowed that containers
// can share; nullptr with the error set when the exporter refuses.
std::shared_ptr<Borrowed> borrow(PyObject* obj, int flags) {
  std::shared_ptr<Borrowed> lease;
  try {
    lease = std::make_shared<Borrowed>();
  } catch (...) {
    translate_current_exception();
    return nullptr;
  }
  if (PyObject_GetBuffer(obj, &lease->view, flags) != 0) {
    lease->view.obj = nullptr;
    return nullptr;
  }
  return lease;
}

// A new container of type C, of the given extents, whose storage is the
// buffer that lease holds.
template <class C>
C shared_container(const std::shared_ptr<Borrowed>& lease, const std::size_t (&extents)[2]) {
  using T = typename C::SampleType;
  std::shared_ptr<T[]> data(lease, static_cast<T*>(lease->view.buf));
  if constexpr (Algorithms::is_matrix<C>::value) {
    return Algorithms::Elements::over<C>(std::move(data), extents[0], extents[1]);
  } else {
    return Algorithms::Elements::over<C>(std::move(data), extents[0]);
  }
}

// A new container of type C, of the given extents, holding a copy of the
// contiguous elements at bytes.
template <class C>
C copied_container(const void* bytes, const std::size_t (&extents)[2]) {
  C container = [&] {
    if constexpr (Algorithms::is_matrix<C>::value) {
      return Algorithms::Elements::unset<C>(extents[0], extents[1]);
    } else {
      return Algorithms::Elements::unset<C>(extents[0]);
    }
  }();
  if (container.numel() > 0) {
    std::memcpy(Algorithms::Elements::share(container).get(), bytes,
                container.numel() * sizeof(typename C::SampleType));
  }
  return container;
}

// The arguments (obj[, cls]) of from_buffer and wrap: obj must have the
// buffer protocol; wanted is the position of the class that cls asks for,
// -1 for None or no cls.
bool parse_conversion(const char* name, PyObject* const* args, Py_ssize_t nargs, int& wanted) {
  if (nargs < 1 || nargs > 2) {
    PyErr_Format(PyExc_TypeError, "%s() takes a buffer and optionally a class, not %zd arguments",
                 name, nargs);
    return false;
  }
  wanted = -1;
  if (nargs == 2 && args[1] != Py_None) {
    for_each_container([&](auto container) {
      using C = typename decltype(container)::type;
      if (!is_view<C> && reinterpret_cast<PyObject*>(classTable[class_index<C>()]) == args[1]) {
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
int checked_class(const char* name, const Py_buffer& view, int wanted) {
  const char* format = view.format == nullptr ? "B" : view.format;
  const int made = class_made(view);
  if (made < 0) {
    PyErr_Format(PyExc_TypeError,
                 "%s() takes elements of format %s (float32, float64, complex64, complex128) in "
                 "native byte order, not '%s'; convert first, for example with "
                 "numpy.asarray(a, dtype=float)",
                 name, formatCodes.c_str(), format);
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
                 name, classTable[wanted]->tp_name, view.ndim, format, classTable[made]->tp_name);
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

PyObject* from_buffer(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
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
    return py::cast(shared_container<C>(lease, extents)).release().ptr();
  } catch (...) {
    translate_current_exception();
    return nullptr;
  }
}

// wrap's request for a writable buffer failed. When the object does give a
// read-only one, that is the reason: say so, with the exporter's error as
// the cause; otherwise the exporter's error stands.
void explain_refusal(PyObject* obj) {
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

PyObject* wrap(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
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

// What the reducer of a pickled or copied container passes on: a share of
// its elements, lent as bytes. copyreg's reducers are not told the pickle
// protocol, but this object's own reduction is: with protocol 5 the
// elements go as a pickle.PickleBuffer, in band or, through buffer_callback,
// out of band, without a copy; below 5 as bytes. Either comes back as a
// memoryview, which _restore reads. The buffer is writable, as numpy's is,
// so that protocol 5 brings a bytearray in band, which the restored
// container keeps as its storage; copy and deepcopy hand this object itself
// to _restore, which copies it.
struct PickledElements {
  PyObject base;
  std::shared_ptr<void> elements;
  Py_ssize_t len;
};

PyTypeObject* pickledElementsType = nullptr;
PyObject* restoreFunction = nullptr;

int get_pickled_buffer(PyObject* obj, Py_buffer* view, int flags) {
  auto* self = reinterpret_cast<PickledElements*>(obj);
  return PyBuffer_FillInfo(view, obj, self->elements.get(), self->len, 0, flags);
}

PyObject* reduce_pickled_elements(PyObject* obj, PyObject* protocol) {
  const long version = PyLong_AsLong(protocol);
  if (version == -1 && PyErr_Occurred()) {
    return nullptr;
  }
  auto* self = reinterpret_cast<PickledElements*>(obj);
  PyObject* buffer = version >= 5 ? PyPickleBuffer_FromObject(obj)
                                  : PyBytes_FromStringAndSize(
                                        static_cast<const char*>(self->elements.get()), self->len);
  if (buffer == nullptr) {
    return nullptr;
  }
  return Py_BuildValue("O(N)", reinterpret_cast<PyObject*>(&PyMemoryView_Type), buffer);
}

// deepcopy copies the arguments that a reducer returned before it calls
// _restore, which copies these elements anyway: they need no copy of their
// own.
PyObject* deepcopy_pickled_elements(PyObject* obj, PyObject*) { return Py_NewRef(obj); }

PyMethodDef pickledElementsMethods[] = {
    {"__reduce_ex__", &reduce_pickled_elements, METH_O, nullptr},
    {"__deepcopy__", &deepcopy_pickled_elements, METH_O, nullptr},
    {nullptr, nullptr, 0, nullptr}};

PyType_Slot pickledElementsSlots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(&release_elements<PickledElements>)},
    {Py_bf_getbuffer, reinterpret_cast<void*>(&get_pickled_buffer)},
    {Py_tp_methods, pickledElementsMethods},
    {0, nullptr}};

PyType_Spec pickledElementsSpec = {"vexa_io.PickledElements", sizeof(PickledElements), 0,
                                   Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION,
                                   pickledElementsSlots};

template <class C>
PyObject* reduce_as(PyObject* obj) {
  const C* container = native_object<C>(obj);
  if (container == nullptr) {
    PyErr_Format(PyExc_TypeError, "cannot pickle or copy a %s that holds no container",
                 Py_TYPE(obj)->tp_name);
    return nullptr;
  }
  const std::size_t rows = container->template dim<0>();
  PyObject* extents = nullptr;
  if constexpr (Algorithms::is_matrix<C>::value) {
    extents = Py_BuildValue("(KK)", static_cast<unsigned long long>(rows),
                            static_cast<unsigned long long>(container->template dim<1>()));
  } else {
    extents = Py_BuildValue("(K)", static_cast<unsigned long long>(rows));
  }
  if (extents == nullptr) {
    return nullptr;
  }
  PyObject* elements = pickledElementsType->tp_alloc(pickledElementsType, 0);
  if (elements == nullptr) {
    Py_DECREF(extents);
    return nullptr;
  }
  auto* self = reinterpret_cast<PickledElements*>(elements);
  new (&self->elements) std::shared_ptr<void>(Algorithms::Elements::share(*container));
  self->len = static_cast<Py_ssize_t>(container->numel() * sizeof(typename C::SampleType));
  return Py_BuildValue("O(sNN)", restoreFunction, className<C>.c_str(), extents, elements);
}

// The copyreg reducer of every container class, which vexa registers.
PyObject* reduce(PyObject*, PyObject* obj) {
  return on_container("_reduce", obj, [&](auto container) {
    return reduce_as<typename decltype(container)::type>(obj);
  });
}

// A container of class C restored from its extents and its elements. A view
// comes back as a view of a new vector that holds just its window.
template <class C>
PyObject* restore_as(PyObject* extentsArg, PyObject* elements) {
  using T = typename C::SampleType;
  constexpr Py_ssize_t dims = Algorithms::is_matrix<C>::value ? 2 : 1;
  if (!PyTuple_Check(extentsArg) || PyTuple_GET_SIZE(extentsArg) != dims) {
    PyErr_Format(PyExc_ValueError, "_restore() takes a tuple of %zd extents for a %s, not %R", dims,
                 className<C>.c_str(), extentsArg);
    return nullptr;
  }
  std::size_t extents[2] = {0, 1};
  for (Py_ssize_t d = 0; d < dims; ++d) {
    PyObject* extent = PyTuple_GET_ITEM(extentsArg, d);
    if (!PyLong_Check(extent)) {
      PyErr_Format(PyExc_TypeError, "_restore() takes integer extents, not %s",
                   Py_TYPE(extent)->tp_name);
      return nullptr;
    }
    extents[d] = PyLong_AsSize_t(extent);
    if (extents[d] == static_cast<std::size_t>(-1) && PyErr_Occurred()) {
      PyErr_Clear();
      PyErr_Format(PyExc_ValueError, "_restore() takes extents from 0 to %zu, not %R",
                   static_cast<std::size_t>(-1), extent);
      return nullptr;
    }
  }
  const std::size_t limit = static_cast<std::size_t>(PY_SSIZE_T_MAX) / sizeof(T);
  if (extents[1] != 0 && extents[0] > limit / extents[1]) {
    PyErr_Format(PyExc_ValueError, "_restore() got extents %R, more elements than memory holds",
                 extentsArg);
    return nullptr;
  }
  const std::size_t numel = extents[0] * extents[1];
  if (!PyObject_CheckBuffer(elements)) {
    PyErr_Format(PyExc_TypeError, "_restore() takes the elements as a bytes-like object, not %s",
                 Py_TYPE(elements)->tp_name);
    return nullptr;
  }
  const std::shared_ptr<Borrowed> lease = borrow(elements, PyBUF_SIMPLE);
  if (lease == nullptr) {
    if (PyErr_ExceptionMatches(PyExc_BufferError) != 0) {
      py::raise_from(PyExc_TypeError, "_restore() takes the elements as contiguous bytes");
    }
    return nullptr;
  }
  const Py_buffer& view = lease->view;
  if (static_cast<std::size_t>(view.len) != numel * sizeof(T)) {
    PyErr_Format(PyExc_ValueError,
                 "_restore() got %zd bytes for the %zu elements of a %s, which take %zu", view.len,
                 numel, className<C>.c_str(), numel * sizeof(T));
    return nullptr;
  }
  // Writable bytes (the bytearray that protocol 5 brings in band, or the
  // buffers given to pickle.loads) become the storage, as wrap shares a
  // buffer, and as numpy restores its arrays. Read-only ones, and the
  // elements of a container being copied, are copied.
  const bool share = view.readonly == 0 && Py_TYPE(elements) != pickledElementsType &&
                     reinterpret_cast<std::uintptr_t>(view.buf) % alignof(T) == 0;
  using Made = std::conditional_t<is_view<C>, Algorithms::Vector<T>, C>;
  try {
    Made made =
        share ? shared_container<Made>(lease, extents) : copied_container<Made>(view.buf, extents);
    if constexpr (is_view<C>) {
      return py::cast(made[std::pair<std::size_t, std::size_t>(0, numel)]).release().ptr();
    } else {
      return py::cast(std::move(made)).release().ptr();
    }
  } catch (...) {
    translate_current_exception();
    return nullptr;
  }
}

// The reconstructor of pickled and copied containers. A pickle may be
// crafted, so everything is checked before anything is read: the class
// name, then the extents, then that the elements fill the bytes exactly.
PyObject* restore(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
  if (nargs != 3) {
    PyErr_Format(PyExc_TypeError,
                 "_restore() takes a class name, extents and elements, not %zd arguments", nargs);
    return nullptr;
  }
  if (!PyUnicode_Check(args[0])) {
    PyErr_Format(PyExc_TypeError, "_restore() takes a class name (str), not %s",
                 Py_TYPE(args[0])->tp_name);
    return nullptr;
  }
  int index = -1;
  for_each_container([&](auto container) {
    using C = typename decltype(container)::type;
    if (PyUnicode_CompareWithASCIIString(args[0], className<C>.c_str()) == 0) {
      index = static_cast<int>(class_index<C>());
    }
  });
  if (index < 0) {
    PyErr_Format(PyExc_ValueError, "_restore() restores a %s, not %R", classNames.c_str(), args[0]);
    return nullptr;
  }
  PyObject* result = nullptr;
  with_container(index, [&](auto container) {
    result = restore_as<typename decltype(container)::type>(args[1], args[2]);
  });
  return result;
}

// A METH_FASTCALL function as the PyCFunction that a PyMethodDef stores.
template <class F>
PyCFunction fastcall(F* function) {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

PyMethodDef functions[] = {
    {"asbuffer", &asbuffer, METH_O,
     "asbuffer(c) -> memoryview\n\nA writable memoryview sharing the elements of the vexa "
     "container c, without copying: 1-D (numel,) for a vector or view, 2-D (rows, cols) in "
     "column-major order for a matrix. It holds its own share of the storage."},
    {"from_buffer", fastcall(&from_buffer), METH_FASTCALL,
     "from_buffer(obj, cls=None, /) -> container\n\nA new vexa container holding a copy of the "
     "elements of obj, any object with the buffer protocol: a vector for a 1-D buffer, a matrix "
     "for a 2-D one, of the kind of its elements (float32, float64, complex64, complex128). "
     "Given a class (vexa.matd, ...), the result is of exactly that class, or TypeError."},
    {"wrap", fastcall(&wrap), METH_FASTCALL,
     "wrap(obj, cls=None, /) -> container\n\nA vexa container whose storage is the memory of "
     "obj, a writable buffer, without copying: a vector for a 1-D contiguous buffer, a matrix "
     "for a 2-D column-major one (numpy order='F'). It holds the buffer until the container, "
     "its views and their asbuffer results are all gone. Given a class (vexa.matd, ...), the "
     "result is of exactly that class, or TypeError."},
    {"_reduce", &reduce, METH_O, "_reduce(c) -> tuple\n\nThe pickle reduction of a container."},
    {"_restore", fastcall(&restore), METH_FASTCALL,
     "_restore(name, extents, elements) -> container\n\nThe container that _reduce described."},
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
    add_to_class_table<C>(cls.release());
    classNames += (classNames.empty() ? "" : ", ") + std::string(className<C>.c_str());
    if constexpr (!is_view<C>) {
      madeNames += (madeNames.empty() ? "" : ", ") + std::string(className<C>.c_str());
    }
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
  pickledElementsType = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&pickledElementsSpec));
  // The reducer names the reconstructor by the function object, kept for
  // the life of the process.
  restoreFunction = PyObject_GetAttrString(m.ptr(), "_restore");
  if (pickledElementsType == nullptr || restoreFunction == nullptr) {
    throw py::error_already_set();
  }
}
#undef PyInit_vexa_io
VEXA_MAIN_INTERPRETER_ONLY(vexa_io)
