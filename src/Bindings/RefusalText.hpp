#pragma once

// The text of a refusal (Refusal.hpp) and its place on pybind11's routes.
// Each argument is shown in a bounded form: a container by the first line of
// its repr ("Column vector of size: 10000000"), anything else by its repr,
// cut after reprLimit characters with an ellipsis, so that a refusal of a
// call on large operands stays readable and cheap. A text whose arguments
// include an object with the buffer protocol that is no container ends with
// a hint at vexa_io.
//
// pybind11 writes the refusals of its overload chains and methods itself,
// with the full repr of every argument. vexa's pybind11 functions therefore
// call pybind11's dispatcher through guarded_call, which keeps containers'
// reprs short while it runs and replaces a refusal's text with vexa's.

#include <pybind11/pybind11.h>

#include <cstddef>
#include <exception>
#include <ostream>
#include <stdexcept>
#include <streambuf>
#include <string>

#include "../Operations/show.hpp"
#include "ClassTable.hpp"
#include "Kinds.hpp"
#include "PybindInternals.hpp"
#include "Refusal.hpp"
#include "State.hpp"

namespace Bindings {

namespace py = pybind11;

constexpr Py_ssize_t reprLimit = 200;

// Keeps the characters written to it up to the first line's end, then fails,
// which ends the writing: a container's first line costs what the line does,
// whatever the container's size.
class FirstLine : public std::streambuf {
 public:
  std::string text;

 protected:
  int_type overflow(int_type c) override {
    if (traits_type::eq_int_type(c, traits_type::eof()) || traits_type::to_char_type(c) == '\n') {
      return traits_type::eof();
    }
    text.push_back(traits_type::to_char_type(c));
    return c;
  }
};

template <class C>
std::string first_line(const C& container) {
  FirstLine line;
  std::ostream output(&line);
  output.exceptions(std::ios_base::badbit);
  try {
    Algorithms::Operations::show(container, output);
  } catch (const std::exception&) {
    // The failure at the first line's end, which stops the rendering.
  }
  return line.text;
}

// The first line of obj's repr when obj is a container that holds its
// native object; false otherwise.
inline bool container_line(PyObject* obj, std::string& out) {
  const int index = class_of(obj);
  bool found = false;
  for_each_container([&](auto container) {
    using C = typename decltype(container)::type;
    if (index == static_cast<int>(class_index<C>())) {
      const C* native = native_object<C>(obj);
      if (native != nullptr) {
        out = first_line(*native);
        found = true;
      }
    }
  });
  return found;
}

// An argument as a refusal shows it; its repr's failure shows as pybind11
// shows it.
inline std::string shown(PyObject* obj) {
  std::string text;
  if (container_line(obj, text)) {
    return text;
  }
  PyObject* repr = PyObject_Repr(obj);
  const bool cut = repr != nullptr && PyUnicode_GET_LENGTH(repr) > reprLimit;
  if (cut) {
    PyObject* head = PyUnicode_Substring(repr, 0, reprLimit);
    Py_DECREF(repr);
    repr = head;
  }
  Py_ssize_t size = 0;
  const char* utf8 = repr != nullptr ? PyUnicode_AsUTF8AndSize(repr, &size) : nullptr;
  if (utf8 == nullptr) {
    Py_XDECREF(repr);
    PyErr_Clear();
    return "<repr raised Error>";
  }
  text.assign(utf8, static_cast<std::size_t>(size));
  Py_DECREF(repr);
  return cut ? text + "..." : text;
}

// Whether obj is no container but lends elements through the buffer
// protocol, as a numpy array does; a number (a numpy scalar, a 0-d array)
// lends no more than one element, of no dimension, and is no such object.
inline bool lends_elements(PyObject* obj) {
  if (class_of(obj) >= 0 || !PyObject_CheckBuffer(obj)) {
    return false;
  }
  Py_buffer view;
  if (PyObject_GetBuffer(obj, &view, PyBUF_RECORDS_RO) != 0) {
    PyErr_Clear();
    return false;
  }
  const bool elements = view.ndim >= 1;
  PyBuffer_Release(&view);
  return elements;
}

inline PyObject* Refusal::raise(PyObject* const* args, std::size_t nargs, PyObject* kwnames) const {
  static constexpr char hint[] =
      "\nhint: vexa_io.wrap(obj) or vexa_io.from_buffer(obj) makes a vexa container of it";
  try {
    std::string text = m_head;
    bool lends = false;
    for (std::size_t i = 0; i < nargs; ++i) {
      text += i == 0 ? "" : ", ";
      text += shown(args[i]);
      lends = lends || lends_elements(args[i]);
    }
    const Py_ssize_t named = kwnames != nullptr ? PyTuple_GET_SIZE(kwnames) : 0;
    if (named > 0) {
      text += nargs > 0 ? "; kwargs: " : "kwargs: ";
    }
    for (Py_ssize_t i = 0; i < named; ++i) {
      PyObject* value = args[nargs + static_cast<std::size_t>(i)];
      text += i == 0 ? "" : ", ";
      text += std::string(py::str(PyTuple_GET_ITEM(kwnames, i))) + "=" + shown(value);
      lends = lends || lends_elements(value);
    }
    if (text.find("std::") != std::string::npos) {
      text += m_note;
    }
    if (lends) {
      text += hint;
    }
    PyErr_SetString(PyExc_TypeError, text.c_str());
  } catch (...) {
    translate_current_exception();
  }
  return nullptr;
}

inline void Refusal::replace(PyObject* const* args, std::size_t nargs, PyObject* kwnames) const {
  if (PyErr_ExceptionMatches(PyExc_TypeError) == 0) {
    return;
  }
  py::error_already_set error;
  bool refused = false;
  try {
    const std::string text = py::str(error.value());
    refused = text.compare(0, m_head.size(), m_head) == 0;
  } catch (...) {
    // A text that cannot be read is no refusal of pybind11's.
  }
  if (refused) {
    raise(args, nargs, kwnames);
  } else {
    error.restore();
  }
}

// pybind11's dispatcher, under vexa's refusal: a vectorcall whose self is
// the function's record.
using Dispatch = PyObject* (*)(PyObject*, PyObject* const*, std::size_t, PyObject*);

inline PyObject* guarded_call(PyObject* self, PyObject* const* args, std::size_t nargsf,
                              PyObject* kwnames) {
  ++refusalRendering;
  PyObject* result = reinterpret_cast<Dispatch>(state.pybindDispatch)(self, args, nargsf, kwnames);
  --refusalRendering;
  if (result == nullptr) {
    for (const GuardedFunction& guarded : state.guardedFunctions) {
      if (guarded.record == self) {
        guarded.refusal.replace(args, static_cast<std::size_t>(PyVectorcall_NARGS(nargsf)),
                                kwnames);
        break;
      }
    }
  }
  return result;
}

// Makes a pybind11 function (an overload chain, or a method as its class
// holds it) refuse with the given refusal's text, learnt from it before.
inline void guard_refusals(PyObject* function, const Refusal& refusal) {
  if (PyInstanceMethod_Check(function)) {
    function = PyInstanceMethod_GET_FUNCTION(function);
  }
  if (!PyCFunction_Check(function)) {
    throw std::logic_error("a pybind11 function that is no builtin function");
  }
  PyMethodDef* def = reinterpret_cast<PyCFunctionObject*>(function)->m_ml;
  auto* dispatch = reinterpret_cast<void (*)()>(def->ml_meth);
  if (state.pybindDispatch == nullptr) {
    state.pybindDispatch = dispatch;
  }
  if (dispatch != state.pybindDispatch || def->ml_flags != (METH_FASTCALL | METH_KEYWORDS)) {
    throw std::logic_error("a pybind11 function with another dispatcher");
  }
  def->ml_meth = reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&guarded_call));
  state.guardedFunctions.push_back({PyCFunction_GET_SELF(function), refusal});
}

}  // namespace Bindings
