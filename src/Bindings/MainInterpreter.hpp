#pragma once

// vexa and vexa_io keep process-wide state (the class table, pybind11's
// registrations and the base class that vexa changes), so they run in the
// main interpreter only. pybind11's module start takes the GIL through
// PyGILState_Ensure, which in a subinterpreter waits forever for the lock
// that its own thread holds; so the entry point refuses a subinterpreter
// before pybind11 runs. A module defines pybind11's entry point under
// another name, then its own around it:
//
//   #define PyInit_vexa pybind11_PyInit_vexa
//   PYBIND11_MODULE(vexa, m) { ... }
//   #undef PyInit_vexa
//   VEXA_MAIN_INTERPRETER_ONLY(vexa)

#include <pybind11/pybind11.h>

#define VEXA_MAIN_INTERPRETER_ONLY(name)                                              \
  extern "C" PYBIND11_EXPORT PyObject* PyInit_##name() {                              \
    if (PyInterpreterState_Get() != PyInterpreterState_Main()) {                      \
      PyErr_SetString(PyExc_ImportError, #name                                        \
                      " cannot be imported in a subinterpreter: it keeps "            \
                      "process-wide state, so it runs in the main interpreter only"); \
      return nullptr;                                                                 \
    }                                                                                 \
    return pybind11_PyInit_##name();                                                  \
  }
