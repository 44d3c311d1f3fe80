#pragma once

// The overload chain's scalar parameter: pybind11 converts every scalar of a
// kind as ScalarArg, by the rule of the fast path (ScalarRule.hpp), through
// the caster below.

#include <pybind11/complex.h>
#include <pybind11/pybind11.h>

#include <type_traits>

#include "Kinds.hpp"
#include "Load.hpp"
#include "ScalarRule.hpp"

namespace Bindings {

namespace py = pybind11;

template <class T>
struct ScalarArg {
  T value;
  operator T() const { return value; }

  // The chain's conversion. Without conversion it admits what pybind11's own
  // admits: float and int for a real kind, and complex too for a complex
  // kind. Returns false for a value the kind refuses; any other error is
  // raised.
  bool load(PyObject* obj, bool convert) {
    const bool plain =
        PyFloat_Check(obj) || PyLong_Check(obj) || (is_complex<T> && PyComplex_Check(obj));
    if (!convert && !plain) {
      return false;
    }
    switch (load_scalar(obj, value)) {
      case Load::value:
        return true;
      case Load::refused:
        return false;
      case Load::raised:
        break;
    }
    throw py::error_already_set();
  }
};

template <class P>
using ScalarParam = std::conditional_t<is_scalar_kind<std::remove_cv_t<std::remove_reference_t<P>>>,
                                       ScalarArg<std::remove_cv_t<std::remove_reference_t<P>>>, P>;

}  // namespace Bindings

namespace pybind11::detail {

// Named as pybind11's own conversion of T, so signatures and docstrings stay.
template <class T>
struct type_caster<Bindings::ScalarArg<T>> {
  PYBIND11_TYPE_CASTER(Bindings::ScalarArg<T>, make_caster<T>::name);

  bool load(handle src, bool convert) { return value.load(src.ptr(), convert); }
};

}  // namespace pybind11::detail
