#pragma once

// The fast path of a module function's call, for one overload: the thunk
// that loads the arguments (containers of their exact class, scalars by the
// rule that the chain follows too), calls the operation and converts its
// result, or tells the front that the call is not its own. Registry.hpp
// builds the fronts that choose a thunk.

#include <pybind11/pybind11.h>

#include <complex>
#include <cstddef>
#include <tuple>
#include <type_traits>
#include <utility>

#include "Kinds.hpp"
#include "PybindInternals.hpp"
#include "ScalarRule.hpp"

namespace Bindings {

namespace py = pybind11;

// Argument loading of the fast path: containers of their exact class, and
// scalars by the rule that the chain follows too.
template <class P, class Enable = void>
struct FastArg;

template <class T>
struct FastArg<T, std::enable_if_t<is_scalar_kind<T>>> {
  using Stored = T;
  static Load load(PyObject* obj, Stored& out) { return load_scalar(obj, out); }
  static T get(Stored value) { return value; }
};

// The table lookup has already matched the exact class; an instance whose
// native object was never constructed is left to pybind11.
template <class C>
struct FastArg<C, std::enable_if_t<is_container<C>>> {
  using Stored = C*;
  static bool load(PyObject* obj, Stored& out) {
    out = native_object<C>(obj);
    return out != nullptr;
  }
  static C& get(Stored value) { return *value; }
};

template <class P>
using Fast = FastArg<std::remove_cv_t<std::remove_reference_t<P>>>;

template <class P>
constexpr bool is_container_param = is_container<std::remove_cv_t<std::remove_reference_t<P>>>;

template <class P, class Stored>
bool load_container(PyObject* obj, Stored& out) {
  if constexpr (is_container_param<P>) {
    return Fast<P>::load(obj, out);
  } else {
    return true;
  }
}

// Loads a scalar unless an earlier one failed.
template <class P, class Stored>
void load_coefficient(PyObject* obj, Stored& out, Load& outcome) {
  if constexpr (!is_container_param<P>) {
    if (outcome == Load::value) {
      outcome = Fast<P>::load(obj, out);
    }
  }
}

inline PyObject* to_python(float v) { return PyFloat_FromDouble(v); }
inline PyObject* to_python(double v) { return PyFloat_FromDouble(v); }
template <class R>
PyObject* to_python(const std::complex<R>& v) {
  return PyComplex_FromDoubles(v.real(), v.imag());
}

// A returned container reference is one of the arguments: hand back that
// argument's own Python object, as pybind11 does for a registered instance.
template <class Stored>
bool holds(const Stored& loaded, const void* native) {
  if constexpr (std::is_pointer_v<Stored>) {
    return static_cast<const void*>(loaded) == native;
  } else {
    return false;
  }
}

template <class Out, class Loaded, std::size_t... I>
PyObject* owner_of(const Out& out, const Loaded& loaded, PyObject* const* args,
                   std::index_sequence<I...>) {
  PyObject* owner = nullptr;
  ((owner = (owner == nullptr && holds(std::get<I>(loaded), &out)) ? args[I] : owner), ...);
  if (owner == nullptr) {
    return py::cast(out).release().ptr();
  }
  Py_INCREF(owner);
  return owner;
}

// What became of a call that the table gave to a thunk: done (its result,
// or nullptr with the Python error set), refused (a scalar is no number of
// the kind), or left to the chain.
enum class Route { done, refused, chain };

using Thunk = PyObject* (*)(PyObject* const* args, Route& route);

template <class Ret, class... Args, std::size_t... I>
PyObject* fast_call_impl(Ret (*function)(Args...), PyObject* const* args, Route& route,
                         std::index_sequence<I...> seq) {
  std::tuple<typename Fast<Args>::Stored...> loaded;
  // Containers first, so that a call left to the chain has converted nothing.
  if (!(load_container<Args>(args[I], std::get<I>(loaded)) && ...)) {
    route = Route::chain;
    return nullptr;
  }
  Load scalars = Load::value;
  (load_coefficient<Args>(args[I], std::get<I>(loaded), scalars), ...);
  route = scalars == Load::refused ? Route::refused : Route::done;
  if (scalars != Load::value) {
    return nullptr;
  }
  try {
    if constexpr (std::is_void_v<Ret>) {
      function(Fast<Args>::get(std::get<I>(loaded))...);
      Py_RETURN_NONE;
    } else if constexpr (std::is_reference_v<Ret>) {
      auto& out = function(Fast<Args>::get(std::get<I>(loaded))...);
      return owner_of(out, loaded, args, seq);
    } else {
      return to_python(function(Fast<Args>::get(std::get<I>(loaded))...));
    }
  } catch (...) {
    translate_current_exception();
    return nullptr;
  }
}

template <class Ret, class... Args>
PyObject* fast_call_of(Ret (*function)(Args...), PyObject* const* args, Route& route) {
  return fast_call_impl(function, args, route, std::index_sequence_for<Args...>{});
}

template <auto F>
PyObject* fast_call(PyObject* const* args, Route& route) {
  return fast_call_of(F, args, route);
}

// The chain's overload of F: scalars taken as ScalarArg.
template <auto F, class Ret, class... Args>
auto chain_overload(Ret (*)(Args...)) {
  return [](ScalarParam<Args>... args) -> Ret { return F(args...); };
}

}  // namespace Bindings
