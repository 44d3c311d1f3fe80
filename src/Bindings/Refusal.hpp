#pragma once

// The refusal of a call that no overload takes: pybind11's text, with each
// argument shown in a bounded form (RefusalText.hpp), on every route: the
// call fronts, the element slots, and pybind11's own overload chains and
// methods, whose refusals RefusalText.hpp replaces.

#include <pybind11/pybind11.h>

#include <cstddef>
#include <stdexcept>
#include <string>

namespace Bindings {

namespace py = pybind11;

// Above zero while pybind11 may be writing a refusal on this thread: a
// container's repr is then its first line (ClassSlots.hpp), so that the text
// pybind11 writes and vexa replaces stays short. Scalar conversions, which
// run Python code of their own, set it to zero while they run.
inline thread_local int refusalRendering = 0;

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

  // Sets the TypeError for the arguments (positional, then those named in
  // kwnames) and returns nullptr.
  PyObject* raise(PyObject* const* args, std::size_t nargs, PyObject* kwnames = nullptr) const;

  // When the Python error set is pybind11's refusal of this call, sets this
  // refusal's text in its place.
  void replace(PyObject* const* args, std::size_t nargs, PyObject* kwnames) const;

 private:
  std::string m_head;
  std::string m_note;
};

}  // namespace Bindings
