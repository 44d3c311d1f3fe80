#pragma once

// The overload chain's scalar parameter: pybind11 takes every scalar of a
// kind as ScalarArg, through the caster below, and the overload converts it
// by the rule of the fast path (ScalarRule.hpp) once its containers have
// matched. A chain tries its overloads in turn, each loading its arguments
// in order, the scalars before the containers; converting while loading
// would convert a scalar once per overload tried, and end the call with the
// error of a conversion for a kind that no container of the call has.

#include <pybind11/complex.h>
#include <pybind11/pybind11.h>

#include <type_traits>

#include "Kinds.hpp"
#include "Load.hpp"
#include "Refusal.hpp"
#include "ScalarRule.hpp"

namespace Bindings {

namespace py = pybind11;

template <class T>
struct ScalarArg {
  PyObject* source = nullptr;
  T value{};
  operator T() const { return value; }

  // Whether the chain takes obj for this parameter. Without conversion (the
  // chain's first pass over its overloads) it takes exact floats and ints,
  // and exact complex numbers for a complex kind: values whose conversion
  // runs no Python code and refuses nothing, so that the overload whose
  // containers match converts them in that pass. Any other value waits for
  // the second pass, where the matching overload converts it once.
  bool take(PyObject* obj, bool convert) {
    if (!convert && !PyFloat_CheckExact(obj) && !PyLong_CheckExact(obj) &&
        !(is_complex<T> && PyComplex_CheckExact(obj))) {
      return false;
    }
    source = obj;
    return true;
  }

  // The overload's conversion, in parameter order. A value of no number of
  // the kind sends the chain on to its next overload, and so to its
  // refusal; any other error is raised.
  void convert() {
    const int rendering = refusalRendering;
    refusalRendering = 0;
    const Load loaded = load_scalar(source, value);
    refusalRendering = rendering;
    switch (loaded) {
      case Load::value:
        return;
      case Load::refused:
        throw py::reference_cast_error();
      case Load::raised:
        break;
    }
    throw py::error_already_set();
  }
};

// Converts an overload's scalar arguments; other arguments need nothing.
template <class P>
void convert_argument(P&) {}
template <class T>
void convert_argument(ScalarArg<T>& arg) {
  arg.convert();
}

template <class P>
using ScalarParam = std::conditional_t<is_scalar_kind<std::remove_cv_t<std::remove_reference_t<P>>>,
                                       ScalarArg<std::remove_cv_t<std::remove_reference_t<P>>>, P>;

}  // namespace Bindings

namespace pybind11::detail {

// Named as pybind11's own conversion of T, so signatures and docstrings stay.
template <class T>
struct type_caster<Bindings::ScalarArg<T>> {
  PYBIND11_TYPE_CASTER(Bindings::ScalarArg<T>, make_caster<T>::name);

  bool load(handle src, bool convert) { return value.take(src.ptr(), convert); }
};

}  // namespace pybind11::detail
