#pragma once

// The fast path of a module function's call, for one overload: the thunk
// that loads the arguments, calls the operation and converts its result, or
// tells the front that the call is not its own. Front.hpp holds the fronts
// that choose a thunk.

#include <pybind11/pybind11.h>

#include <cstddef>
#include <tuple>
#include <type_traits>
#include <utility>

#include "ClassTable.hpp"
#include "Flag.hpp"
#include "Kinds.hpp"
#include "Load.hpp"
#include "PybindInternals.hpp"
#include "Result.hpp"
#include "ScalarRule.hpp"

namespace Bindings {

namespace py = pybind11;

// Argument loading of the fast path, by parameter type. An exact loader
// (containers, sizes) takes only objects of one exact class and leaves any
// other to the chain; the others (scalars, flags) convert by the rule that
// the chain follows too, and refuse what no overload takes.
template <class P, class Enable = void>
struct FastArg;

template <class T>
struct FastArg<T, std::enable_if_t<is_scalar_kind<T>>> {
  static constexpr bool exact = false;
  using Stored = T;
  [[gnu::always_inline]] static Load load(PyObject* obj, Stored& out) {
    return load_scalar(obj, out);
  }
  static T get(Stored value) { return value; }
};

// The table lookup has already matched the exact class; an instance whose
// native object was never constructed is left to pybind11.
template <class C>
struct FastArg<C, std::enable_if_t<is_container<C>>> {
  static constexpr bool exact = true;
  using Stored = C*;
  static bool load(PyObject* obj, Stored& out) {
    out = native_object<C>(obj);
    return out != nullptr;
  }
  static C& get(Stored value) { return *value; }
};

// A size or an index: an exact int from 0 to the largest size_t. Anything
// else goes to the chain, which converts it by pybind11's rule.
template <>
struct FastArg<std::size_t> {
  static constexpr bool exact = true;
  using Stored = std::size_t;
  static bool load(PyObject* obj, Stored& out) {
    if (!PyLong_CheckExact(obj)) {
      return false;
    }
    out = PyLong_AsSize_t(obj);
    if (out == static_cast<std::size_t>(-1) && PyErr_Occurred()) {
      PyErr_Clear();
      return false;
    }
    return true;
  }
  static std::size_t get(Stored value) { return value; }
};

template <>
struct FastArg<char> {
  static constexpr bool exact = false;
  using Stored = char;
  static Load load(PyObject* obj, Stored& out) {
    if (!PyUnicode_Check(obj)) {
      return Load::refused;
    }
    out = flag_of(obj);
    return Load::value;
  }
  static char get(Stored value) { return value; }
};

template <class P>
using Fast = FastArg<std::remove_cv_t<std::remove_reference_t<P>>>;

template <class P, class Stored>
bool load_exact(PyObject* obj, Stored& out) {
  if constexpr (Fast<P>::exact) {
    return Fast<P>::load(obj, out);
  } else {
    return true;
  }
}

// Converts an argument unless an earlier one failed.
template <class P, class Stored>
[[gnu::always_inline]] inline void load_converted(PyObject* obj, Stored& out, Load& outcome) {
  if constexpr (!Fast<P>::exact) {
    if (outcome == Load::value) {
      outcome = Fast<P>::load(obj, out);
    }
  }
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
// the kind, a flag no str), or left to the chain. The front passes done, and
// a thunk writes only the other two, so that a call's success path stores
// nothing.
enum class Route { done, refused, chain };

using Thunk = PyObject* (*)(PyObject* const* args, Route& route);

// The operation is a template argument, so that its call is a direct one that the compiler may
// inline into the thunk.
template <auto function, class Ret, class... Args, std::size_t... I>
PyObject* fast_call_impl(Ret (*)(Args...), PyObject* const* args, Route& route,
                         std::index_sequence<I...> seq) {
  std::tuple<typename Fast<Args>::Stored...> loaded;
  // Exact arguments first, so that a call left to the chain has converted
  // nothing.
  if (!(load_exact<Args>(args[I], std::get<I>(loaded)) && ...)) {
    route = Route::chain;
    return nullptr;
  }
  Load outcome = Load::value;
  (load_converted<Args>(args[I], std::get<I>(loaded), outcome), ...);
  if (outcome != Load::value) {
    if (outcome == Load::refused) {
      route = Route::refused;
    }
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

template <auto F, class Ret, class... Args>
PyObject* fast_call_of(Ret (*function)(Args...), PyObject* const* args, Route& route) {
  return fast_call_impl<F>(function, args, route, std::index_sequence_for<Args...>{});
}

template <auto F>
PyObject* fast_call(PyObject* const* args, Route& route) {
  return fast_call_of<F>(F, args, route);
}

}  // namespace Bindings
