#pragma once

// The Python objects of vexa_io that hold a share of a container's elements
// (SharedElements, PickledElements): one type each, made at vexa_io's start,
// immutable and never instantiated from Python.

#include <pybind11/pybind11.h>

#include <memory>

namespace Io {

// The deallocator of the objects that hold a share of a container's
// elements (SharedElements, PickledElements): the share goes with them.
template <class Holder>
void release_elements(PyObject* obj) {
  PyTypeObject* type = Py_TYPE(obj);
  reinterpret_cast<Holder*>(obj)->elements.~shared_ptr();
  type->tp_free(obj);
  Py_DECREF(type);
}

// A holder type made from its spec; throws with the Python error set when
// Python refuses it.
inline PyTypeObject* make_holder_type(PyType_Spec& spec) {
  PyObject* type = PyType_FromSpec(&spec);
  if (type == nullptr) {
    throw pybind11::error_already_set();
  }
  return reinterpret_cast<PyTypeObject*>(type);
}

}  // namespace Io
