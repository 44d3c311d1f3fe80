#pragma once

// The type objects of vexa's container classes, at their positions in
// registration order (class_index), in each module's state: vexa registers
// the classes and adds them to its table; every other module adopts them
// from vexa at its start. The call fronts, the element slots and vexa_io
// recognise containers by exact class, through the table's index
// (ClassIndex.hpp).

#include <pybind11/pybind11.h>

#include "Kinds.hpp"
#include "PybindInternals.hpp"
#include "State.hpp"

namespace Bindings {

namespace py = pybind11;

template <class C>
void add_to_class_table(pybind11::handle cls) {
  state.classes[class_index<C>()] = reinterpret_cast<PyTypeObject*>(cls.ptr());
  state.classIndex.fill(state.classes);
}

// The native object of an instance of a class that wraps C, or nullptr when
// the instance has none. pybind11 keeps it in the instance itself for a
// class with a single C++ type; read there, it costs a few instructions
// instead of an out-of-line call.
template <class C>
[[gnu::noinline]] C* native_object_by_call(PyObject* obj) {
  auto holder = reinterpret_cast<py::detail::instance*>(obj)->get_value_and_holder();
  return holder.holder_constructed() ? holder.template value_ptr<C>() : nullptr;
}

template <class C>
[[gnu::always_inline]] inline C* native_object(PyObject* obj) {
  auto* instance = reinterpret_cast<py::detail::instance*>(obj);
  if (state.instanceLayoutHolds && instance->simple_layout) {
    return instance->simple_holder_constructed ? static_cast<C*>(instance->simple_value_holder[0])
                                               : nullptr;
  }
  return native_object_by_call<C>(obj);
}

// Whether native_object may read the instances inline: checked at a
// module's start, once its class table is complete, on a new instance of
// the first class, against pybind11's own reading. A pybind11 whose instance
// keeps its native object elsewhere fails the check, and native_object
// keeps to the call.
inline void check_instance_layout() {
  PyObject* cls = reinterpret_cast<PyObject*>(state.classes[0]);
  const py::object made = py::reinterpret_borrow<py::object>(cls)(0);
  auto* instance = reinterpret_cast<py::detail::instance*>(made.ptr());
  auto holder = instance->get_value_and_holder();
  state.instanceLayoutHolds = instance->simple_layout && instance->simple_holder_constructed &&
                              holder.holder_constructed() &&
                              &holder.value_ptr() == &instance->simple_value_holder[0];
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
  check_instance_layout();
}

// The position of obj's exact class in the table, or -1 for an object of
// any other class.
inline int class_of(PyObject* obj) { return state.classIndex.find(Py_TYPE(obj)); }

}  // namespace Bindings
