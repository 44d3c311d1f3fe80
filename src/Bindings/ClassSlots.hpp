#pragma once

// Changes vexa makes to the type objects of its classes after pybind11 has
// created them: no instance without a native object, no instance that
// changes its class, element access through the type's own mapping slots,
// and, once the module is complete, types that Python code cannot change.

#include <pybind11/pybind11.h>

#include <cstddef>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>

#include "ClassTable.hpp"
#include "Kinds.hpp"
#include "PybindInternals.hpp"
#include "RefusalText.hpp"
#include "Result.hpp"
#include "State.hpp"
#include "Thunk.hpp"

namespace Bindings {

// A direct call of a class's __new__ would give an instance whose native
// object is never constructed, and pybind11 would then read uninitialised
// memory. The __new__ attribute is replaced by a refusal; the type's tp_new
// slot, which the class call uses, stays in effect. The classes are also
// final, so no subclass __init__ can reach an instance before it exists.
inline PyObject* refuse_bare_new(PyObject* cls, PyObject*, PyObject*) {
  PyErr_Format(PyExc_TypeError, "%s objects cannot be created through __new__",
               reinterpret_cast<PyTypeObject*>(cls)->tp_name);
  return nullptr;
}

inline PyMethodDef bareNew = {
    "__new__", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&refuse_bare_new)),
    METH_VARARGS | METH_KEYWORDS, nullptr};

// Two slots of each class forward to the inherited ones through functions
// of the class's own:
// - tp_free: Python assigns __class__ only between classes whose instances
//   are freed by the same function, so no instance changes its class to or
//   from a vexa class, which would have its native object used as the wrong
//   C++ type;
// - tp_new: the base class's __new__ (reached as __base__.__new__ or through
//   super()) serves a class only while that class's tp_new is the base's
//   own, and Python refuses the call as "not safe" otherwise, which closes
//   that route to an instance without its native object.
// All classes share one base, so one forwarding tp_new would do; it is per
// class as tp_free is, so that each class keeps what it inherited itself.
template <class C>
struct OwnSlots {
  static ClassSlotState& kept() { return state.classSlots[class_index<C>()]; }
  static PyObject* make(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return kept().inheritedNew(type, args, kwargs);
  }
  static void release(void* instance) { kept().inheritedFree(instance); }

  static void install(PyTypeObject* type) {
    kept().inheritedNew = type->tp_new;
    type->tp_new = &make;
    kept().inheritedFree = type->tp_free;
    type->tp_free = &release;
  }
};

// Element access through the type's mapping slots: an exact int index (a
// pair of exact ints for matrices) goes straight to the container, and for
// writes, so does any value the kind takes, converted once; a value it
// refuses gets the registered __setitem__'s refusal. Any other key takes the
// slots that the registered __getitem__ and __setitem__ installed, with their
// conversions and error texts.
template <class C>
struct ElementSlots {
  using Index = std::conditional_t<Algorithms::is_matrix<C>::value,
                                   std::pair<std::size_t, std::size_t>, std::size_t>;
  static ClassSlotState& kept() { return state.classSlots[class_index<C>()]; }

  // Indices load as a call's sizes do on the fast path.
  static bool load_index(PyObject* key, Index& out) {
    using Size = FastArg<std::size_t>;
    if constexpr (Algorithms::is_matrix<C>::value) {
      return PyTuple_CheckExact(key) && PyTuple_GET_SIZE(key) == 2 &&
             Size::load(PyTuple_GET_ITEM(key, 0), out.first) &&
             Size::load(PyTuple_GET_ITEM(key, 1), out.second);
    } else {
      return Size::load(key, out);
    }
  }

  static PyObject* get(PyObject* self, PyObject* key) {
    C* container = nullptr;
    Index idx{};
    if (!FastArg<C>::load(self, container) || !load_index(key, idx)) {
      return kept().registeredGet(self, key);
    }
    try {
      return to_python((*container)[idx]);
    } catch (...) {
      translate_current_exception();
      return nullptr;
    }
  }

  static int set(PyObject* self, PyObject* key, PyObject* value) {
    C* container = nullptr;
    Index idx{};
    if (value == nullptr || !FastArg<C>::load(self, container) || !load_index(key, idx)) {
      return kept().registeredSet(self, key, value);
    }
    typename C::SampleType element{};
    switch (FastArg<typename C::SampleType>::load(value, element)) {
      case Load::value:
        break;
      case Load::refused: {
        PyObject* const args[] = {self, key, value};
        kept().setRefusal.raise(args, 3);
        return -1;
      }
      case Load::raised:
        return -1;
    }
    try {
      (*container)[idx] = element;
      return 0;
    } catch (...) {
      translate_current_exception();
      return -1;
    }
  }

  static void install(PyTypeObject* type) {
    kept().registeredGet = type->tp_as_mapping->mp_subscript;
    kept().registeredSet = type->tp_as_mapping->mp_ass_subscript;
    kept().setRefusal.learn(PyDict_GetItemString(type->tp_dict, "__setitem__"));
    type->tp_as_mapping->mp_subscript = &get;
    type->tp_as_mapping->mp_ass_subscript = &set;
  }
};

// The repr slot: the registered __repr__, or its first line alone while
// pybind11 may be writing a refusal (RefusalText.hpp).
template <class C>
struct ReprSlot {
  static ClassSlotState& kept() { return state.classSlots[class_index<C>()]; }

  static PyObject* repr(PyObject* self) {
    std::string line;
    if (refusalRendering > 0 && container_line(self, line)) {
      return PyUnicode_FromStringAndSize(line.data(), static_cast<Py_ssize_t>(line.size()));
    }
    return kept().registeredRepr(self);
  }

  static void install(PyTypeObject* type) {
    kept().registeredRepr = type->tp_repr;
    type->tp_repr = &repr;
  }
};

// The methods whose refusals vexa writes; __init__ refuses with sizes alone.
constexpr const char* guardedMethods[] = {"numel", "dim", "__getitem__", "__setitem__", "__repr__"};

inline void guard_methods(PyTypeObject* type, const Refusal& setRefusal) {
  for (const char* name : guardedMethods) {
    PyObject* method = PyDict_GetItemString(type->tp_dict, name);
    if (method == nullptr) {
      throw std::logic_error(std::string("a class without ") + name);
    }
    Refusal refusal = setRefusal;
    if (std::string(name) != "__setitem__") {
      refusal.learn(method);
    }
    guard_refusals(method, refusal);
  }
}

// The base class of vexa's classes comes from pybind11 internals that only
// vexa's modules use (the build gives them a pybind11 ABI id of their own),
// so vexa may change it (PybindInternals.hpp says when this can go). Called itself, or through a
// Python subclass, it would make an instance of no registered class, and pybind11 would throw from
// a C slot, which ends the process. vexa's classes have a tp_new of their own (OwnSlots) and never
// reach this one.
inline PyObject* refuse_base_new(PyTypeObject* type, PyObject*, PyObject*) {
  PyErr_Format(PyExc_TypeError, "cannot create '%s' instances", type->tp_name);
  return nullptr;
}

// Assigning or deleting a type's attribute (__new__, __init__, ...) makes
// Python rebuild the type's slots from it, which reopens the routes to an
// instance without its native object. Once the module is complete, its
// classes, their base and its metaclass become immutable, as the builtins'
// types are, and such an assignment raises TypeError.
inline void seal_module() {
  PyTypeObject* base = state.classes[0]->tp_base;
  base->tp_new = &refuse_base_new;
  for (PyTypeObject* type : state.classes) {
    type->tp_flags |= Py_TPFLAGS_IMMUTABLETYPE;
  }
  base->tp_flags |= Py_TPFLAGS_IMMUTABLETYPE;
  Py_TYPE(base)->tp_flags |= Py_TPFLAGS_IMMUTABLETYPE;
}

template <class C, class Class>
void seal_class(const Class& cls) {
  auto* type = reinterpret_cast<PyTypeObject*>(cls.ptr());
  py::object refusal =
      py::reinterpret_steal<py::object>(PyCFunction_NewEx(&bareNew, cls.ptr(), nullptr));
  if (!refusal || PyDict_SetItemString(type->tp_dict, "__new__", refusal.ptr()) != 0) {
    throw py::error_already_set();
  }
  OwnSlots<C>::install(type);
  PyType_Modified(type);
  ElementSlots<C>::install(type);
  ReprSlot<C>::install(type);
  guard_methods(type, ElementSlots<C>::kept().setRefusal);
}

}  // namespace Bindings
