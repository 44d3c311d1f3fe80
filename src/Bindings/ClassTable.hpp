#pragma once

// The type objects of vexa's container classes, at their positions in
// registration order (class_index). The module that registers a class, and
// vexa_io, which takes the classes from vexa, each add them to their own
// table; the call fronts and vexa_io recognise containers by exact class.

#include <pybind11/pybind11.h>

#include <cstddef>

#include "Kinds.hpp"

namespace Bindings {

inline PyTypeObject* classTable[classCount] = {};

template <class C>
void add_to_class_table(pybind11::handle cls) {
  classTable[class_index<C>()] = reinterpret_cast<PyTypeObject*>(cls.ptr());
}

// The position of obj's exact class in the table, or -1 for an object of
// any other class.
inline int class_of(PyObject* obj) {
  PyTypeObject* type = Py_TYPE(obj);
  for (std::size_t i = 0; i < classCount; ++i) {
    if (classTable[i] == type) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

}  // namespace Bindings
