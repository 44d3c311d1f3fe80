#pragma once

// Everything of vexa's that depends on pybind11's internals, which may change
// in any release of pybind11; check this file on every upgrade:
// - detail::instance::get_value_and_holder(), value_and_holder's
//   holder_constructed() and value_ptr<T>(): the native object inside an
//   instance, and whether it was ever constructed (native_object);
// - detail::try_translate_exceptions(): the registered exception
//   translators, for exceptions caught outside pybind11's own dispatch
//   (translate_current_exception);
// - detail::type_caster and make_caster: the chain's conversion of a scalar
//   (the caster of ScalarArg, whose rule is in Scalars.hpp);
// - the text of the dispatcher's refusal, which Refusal takes apart.

#include <pybind11/pybind11.h>

#include <cstddef>
#include <stdexcept>
#include <string>

namespace Bindings {

namespace py = pybind11;

// The native object of an instance of a class that wraps C, or nullptr when
// the instance has none.
template <class C>
C* native_object(PyObject* obj) {
  auto holder = reinterpret_cast<py::detail::instance*>(obj)->get_value_and_holder();
  return holder.holder_constructed() ? holder.template value_ptr<C>() : nullptr;
}

// Sets the Python error for the exception being handled, as pybind11 does
// for exceptions that leave a bound function. Call only inside a catch block.
inline void translate_current_exception() { py::detail::try_translate_exceptions(); }

// The overload chain's refusal of a call, without the chain: the text
// pybind11 writes when no overload matches, for the same arguments. The
// parts around the arguments are taken once from the chain itself, by a
// call that no overload can match (a lone string): the list of overloads
// before them, and the note pybind11 adds to a text that names a C++ type
// after them.
class Refusal {
 public:
  void learn(PyObject* chain) {
    static constexpr char probe[] = "std::";
    static constexpr char invoked[] = "\nInvoked with: ";
    std::string text;
    try {
      const py::handle function(chain);
      function(probe);
    } catch (py::error_already_set& error) {
      if (!error.matches(PyExc_TypeError)) {
        throw;
      }
      text = py::str(error.value());
    }
    const std::string shown = std::string(invoked) + "'" + probe + "'";
    const std::size_t at = text.find(shown);
    if (at == std::string::npos) {
      throw std::logic_error("unexpected refusal text of pybind11: " + text);
    }
    m_head = text.substr(0, at + sizeof(invoked) - 1);
    m_note = text.substr(at + shown.size());
  }

  // Sets the TypeError and returns nullptr.
  PyObject* raise(PyObject* const* args, std::size_t nargs) const {
    try {
      std::string text = m_head;
      for (std::size_t i = 0; i < nargs; ++i) {
        text += i == 0 ? "" : ", ";
        try {
          text += std::string(py::repr(args[i]));
        } catch (const py::error_already_set&) {
          text += "<repr raised Error>";
        }
      }
      if (text.find("std::") != std::string::npos) {
        text += m_note;
      }
      PyErr_SetString(PyExc_TypeError, text.c_str());
    } catch (...) {
      translate_current_exception();
    }
    return nullptr;
  }

 private:
  std::string m_head;
  std::string m_note;
};

// The chain's scalar parameter, defined in Scalars.hpp, which includes this
// file so that no unit sees the parameter without its caster.
template <class T>
struct ScalarArg;

}  // namespace Bindings

namespace pybind11::detail {

// Named as pybind11's own conversion of T, so signatures and docstrings stay.
template <class T>
struct type_caster<Bindings::ScalarArg<T>> {
  PYBIND11_TYPE_CASTER(Bindings::ScalarArg<T>, make_caster<T>::name);

  bool load(handle src, bool convert) { return value.load(src.ptr(), convert); }
};

}  // namespace pybind11::detail
