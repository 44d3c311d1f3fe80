#pragma once

// asbuffer: a container's elements lent through a memoryview whose exporter
// holds its own share of their storage.

#include <pybind11/pybind11.h>

#include <cstddef>
#include <memory>
#include <new>

#include "../Bindings/Kinds.hpp"
#include "../Bindings/PybindInternals.hpp"
#include "../Bindings/State.hpp"
#include "../Types.hpp"
#include "Dispatch.hpp"
#include "Holder.hpp"

namespace Io {

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

// Matrices are column-major, so one with more than one row and column is
// refused to a consumer that asks for C order or for a shape without
// strides, which means C order. A consumer that asks for no shape gets the
// elements as one block, 1-D without a shape, as PyBuffer_FillInfo gives
// them: every container's elements are one contiguous run. Each view holds a
// reference to the exporter, which holds the storage, so no view needs a
// release of its own.
inline int get_buffer(PyObject* obj, Py_buffer* view, int flags) {
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
inline PyObject* refuse_reduce(PyObject* obj, PyObject*) {
  PyErr_Format(PyExc_TypeError, "cannot pickle '%s' object", Py_TYPE(obj)->tp_name);
  return nullptr;
}

inline PyMethodDef sharedElementsMethods[] = {{"__reduce_ex__", &refuse_reduce, METH_O, nullptr},
                                              {nullptr, nullptr, 0, nullptr}};

inline PyType_Slot sharedElementsSlots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(&release_elements<SharedElements>)},
    {Py_bf_getbuffer, reinterpret_cast<void*>(&get_buffer)},
    {Py_tp_methods, sharedElementsMethods},
    {0, nullptr}};

// Exporters come from asbuffer only, and their type cannot change: Python
// code that gave it a __new__ could make an exporter of zeros.
inline PyType_Spec sharedElementsSpec = {
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
  PyObject* exporter = state.sharedElementsType->tp_alloc(state.sharedElementsType, 0);
  if (exporter == nullptr) {
    return nullptr;
  }
  auto* self = reinterpret_cast<SharedElements*>(exporter);
  new (&self->elements) std::shared_ptr<void>(Algorithms::Elements::share(*container));
  self->format = formatCode<T>.c_str();
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

inline PyObject* asbuffer(PyObject*, PyObject* obj) {
  return on_container("asbuffer", obj, [&](auto container) {
    return lend<typename decltype(container)::type>(obj);
  });
}

}  // namespace Io
