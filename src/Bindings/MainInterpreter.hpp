#pragma once

// vexa's modules keep process-wide state (State.hpp: the class table,
// pybind11's registrations, the base class that vexa changes), so they run in
// the main interpreter only. A subinterpreter is refused at two points:
// - the entry point, before pybind11 starts: in a subinterpreter that shares
//   the GIL, Python 3.11's pybind11 start takes the GIL through
//   PyGILState_Ensure, which waits forever for the lock that its own thread
//   holds. A module defines pybind11's entry point under another name, then
//   its own around it:
//
//     #define PyInit_vexa pybind11_PyInit_vexa
//     PYBIND11_MODULE(vexa, m) { ... }
//     #undef PyInit_vexa
//     VEXA_MAIN_INTERPRETER_ONLY(vexa)
//
//   The wrapper relies on PYBIND11_MODULE pasting PyInit_ to the module's
//   name, and can go when Python 3.11 is no longer supported;
// - the module's body, first thing: Python 3.12 and later keep the module
//   definition of the first import and may run its body again in a
//   subinterpreter without the entry point; pybind11 starts there without a
//   hang.

#include <pybind11/pybind11.h>

#include <string>

namespace Bindings {

inline bool in_main_interpreter() { return PyInterpreterState_Get() == PyInterpreterState_Main(); }

inline std::string subinterpreter_refusal(const char* module) {
  return std::string(module) +
         " cannot be imported in a subinterpreter: it keeps process-wide state, so it runs in "
         "the main interpreter only";
}

// First thing in a module's body; pybind11 turns the exception into the
// ImportError of the import.
inline void require_main_interpreter(const char* module) {
  if (!in_main_interpreter()) {
    throw pybind11::import_error(subinterpreter_refusal(module));
  }
}

}  // namespace Bindings

#define VEXA_MAIN_INTERPRETER_ONLY(name)                                                   \
  extern "C" PYBIND11_EXPORT PyObject* PyInit_##name() {                                   \
    if (!Bindings::in_main_interpreter()) {                                                \
      PyErr_SetString(PyExc_ImportError, Bindings::subinterpreter_refusal(#name).c_str()); \
      return nullptr;                                                                      \
    }                                                                                      \
    return pybind11_PyInit_##name();                                                       \
  }
