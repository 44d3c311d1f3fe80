#pragma once

// The type objects of vexa's container classes, at their positions in
// registration order (class_index), in each module's state: vexa registers
// the classes and adds them to its table; every other module adopts them
// from vexa at its start. The call fronts, the element slots and vexa_io
// recognise containers by exact class, through the table's index
// (ClassIndex.hpp).

#include <pybind11/pybind11.h>

#include "Kinds.hpp"
#include "State.hpp"

namespace Bindings {

template <class C>
void add_to_class_table(pybind11::handle cls) {
  state.classes[class_index<C>()] = reinterpret_cast<PyTypeObject*>(cls.ptr());
  state.classIndex.fill(state.classes);
}

// Fills the table of a module other than vexa with vexa's classes, imported
// from vexa. The classes live as long as the process, as the table assumes.
inline void adopt_classes() {
  pybind11::module_ vexa = pybind11::module_::import("vexa");
  for_each_container([&](auto container) {
    using C = typename decltype(container)::type;
    pybind11::object cls = vexa.attr(className<C>.c_str());
    add_to_class_table<C>(cls.release());
  });
}

// The position of obj's exact class in the table, or -1 for an object of
// any other class.
inline int class_of(PyObject* obj) { return state.classIndex.find(Py_TYPE(obj)); }

}  // namespace Bindings
