#pragma once

// The core's errors as Python exceptions, beyond pybind11's own translation
// (std::invalid_argument as ValueError, std::runtime_error as RuntimeError,
// ...): an operand of a type the operation cannot take is a TypeError.
// pybind11 keeps a module's own translators apart from other modules', so
// every module that calls the core registers this at its start.

#include <pybind11/pybind11.h>

#include <exception>

#include "../Operations/errors.hpp"

namespace Bindings {

inline void translate_core_errors() {
  pybind11::register_local_exception_translator([](std::exception_ptr error) {
    try {
      if (error) {
        std::rethrow_exception(error);
      }
    } catch (const Algorithms::operand_type_error& e) {
      pybind11::set_error(PyExc_TypeError, e.what());
    }
  });
}

}  // namespace Bindings
