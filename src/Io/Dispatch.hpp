#pragma once

// vexa_io's dispatch on a container's class: the position of an object's
// exact class in the class table, which vexa_io adopts from vexa at its
// start, picks the container type that a template is instantiated for.

#include <pybind11/pybind11.h>

#include <cstddef>

#include "../Bindings/ClassTable.hpp"
#include "../Bindings/Kinds.hpp"
#include "../Types.hpp"

namespace Io {

using namespace Bindings;

template <class C>
constexpr bool is_view = false;
template <class T>
constexpr bool is_view<Algorithms::VectorView<T>> = true;

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
                 Bindings::classNames.c_str(), Py_TYPE(obj)->tp_name);
    return nullptr;
  }
  PyObject* result = nullptr;
  with_container(index, [&](auto container) { result = f(container); });
  return result;
}

}  // namespace Io
