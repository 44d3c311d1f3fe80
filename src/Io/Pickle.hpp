#pragma once

// Pickling and copying of containers: the copyreg reducer that vexa
// registers for every class (_reduce), and the reconstructor that every
// reduction names (_restore).

#include <pybind11/pybind11.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>

#include "../Bindings/Kinds.hpp"
#include "../Bindings/PybindInternals.hpp"
#include "../Bindings/Result.hpp"
#include "../Bindings/State.hpp"
#include "../Types.hpp"
#include "Borrowed.hpp"
#include "Dispatch.hpp"
#include "Holder.hpp"

namespace Io {

namespace py = pybind11;

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

inline int get_pickled_buffer(PyObject* obj, Py_buffer* view, int flags) {
  auto* self = reinterpret_cast<PickledElements*>(obj);
  return PyBuffer_FillInfo(view, obj, self->elements.get(), self->len, 0, flags);
}

inline PyObject* reduce_pickled_elements(PyObject* obj, PyObject* protocol) {
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
inline PyObject* deepcopy_pickled_elements(PyObject* obj, PyObject*) { return Py_NewRef(obj); }

inline PyMethodDef pickledElementsMethods[] = {
    {"__reduce_ex__", &reduce_pickled_elements, METH_O, nullptr},
    {"__deepcopy__", &deepcopy_pickled_elements, METH_O, nullptr},
    {nullptr, nullptr, 0, nullptr}};

inline PyType_Slot pickledElementsSlots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(&release_elements<PickledElements>)},
    {Py_bf_getbuffer, reinterpret_cast<void*>(&get_pickled_buffer)},
    {Py_tp_methods, pickledElementsMethods},
    {0, nullptr}};

// Payloads come from _reduce only, and their type cannot change, as for
// SharedElements.
inline PyType_Spec pickledElementsSpec = {
    "vexa_io.PickledElements", sizeof(PickledElements), 0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
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
  PyObject* elements = state.pickledElementsType->tp_alloc(state.pickledElementsType, 0);
  if (elements == nullptr) {
    Py_DECREF(extents);
    return nullptr;
  }
  auto* self = reinterpret_cast<PickledElements*>(elements);
  new (&self->elements) std::shared_ptr<void>(Algorithms::Elements::share(*container));
  self->len = static_cast<Py_ssize_t>(container->numel() * sizeof(typename C::SampleType));
  return Py_BuildValue("O(sNN)", state.restoreFunction, className<C>.c_str(), extents, elements);
}

// The copyreg reducer of every container class, which vexa registers.
inline PyObject* reduce(PyObject*, PyObject* obj) {
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
  const bool share = view.readonly == 0 && Py_TYPE(elements) != state.pickledElementsType &&
                     reinterpret_cast<std::uintptr_t>(view.buf) % alignof(T) == 0;
  using Made = std::conditional_t<is_view<C>, Algorithms::Vector<T>, C>;
  try {
    Made made =
        share ? shared_container<Made>(lease, extents) : copied_container<Made>(view.buf, extents);
    if constexpr (is_view<C>) {
      return to_python(made[std::pair<std::size_t, std::size_t>(0, numel)]);
    } else {
      return to_python(std::move(made));
    }
  } catch (...) {
    translate_current_exception();
    return nullptr;
  }
}

// The reconstructor of pickled and copied containers. A pickle may be
// crafted, so everything is checked before anything is read: the class
// name, then the extents, then that the elements fill the bytes exactly.
inline PyObject* restore(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
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
    PyErr_Format(PyExc_ValueError, "_restore() restores a %s, not %R", Bindings::classNames.c_str(),
                 args[0]);
    return nullptr;
  }
  PyObject* result = nullptr;
  with_container(index, [&](auto container) {
    result = restore_as<typename decltype(container)::type>(args[1], args[2]);
  });
  return result;
}

}  // namespace Io
