#pragma once

// The registration of a module's functions, for any module: each overload
// goes into pybind11's overload chain, with scalars and flags converted by
// vexa's rules, and into the table of the function's front; once all are
// registered, the fronts go before the chains. Every module of vexa
// registers its functions through a Registry of its own, over vexa's
// classes. A module of operations starts with require_main_interpreter
// (MainInterpreter.hpp), translate_core_errors (Errors.hpp),
// release_lock_in_routines (Unlocking.hpp) and adopt_classes
// (ClassTable.hpp), then defines its functions through a Registry named by
// a type of its own, and installs the fronts.

#include <pybind11/pybind11.h>

#include <array>
#include <cstddef>
#include <type_traits>
#include <utility>

#include "Flag.hpp"
#include "Front.hpp"
#include "Kinds.hpp"
#include "ScalarArg.hpp"
#include "State.hpp"
#include "Thunk.hpp"

namespace Bindings {

namespace py = pybind11;

template <class P>
using Bare = std::remove_cv_t<std::remove_reference_t<P>>;

template <class... Args>
constexpr std::size_t containerCount =
    (std::size_t{0} + ... + std::size_t{is_container<Bare<Args>>});

// The positions of an operation's container parameters, in order.
template <class... Args>
constexpr std::array<std::size_t, containerCount<Args...>> containerPositions = [] {
  std::array<std::size_t, containerCount<Args...>> positions{};
  std::size_t container = 0;
  std::size_t position = 0;
  ((is_container<Bare<Args>> ? void(positions[container++] = position++) : void(position++)), ...);
  return positions;
}();

template <class Ret, class... Args>
Signature signature_of(Ret (*)(Args...)) {
  constexpr auto& positions = containerPositions<Args...>;
  Signature signature{sizeof...(Args), {positions.begin(), positions.end()}, {}};
  (
      [&] {
        if constexpr (is_container<Bare<Args>>) {
          signature.classes.push_back(class_index<Bare<Args>>());
        }
      }(),
      ...);
  return signature;
}

// The entry point of Front for an operation with the given parameters.
template <class Front, class... Args, std::size_t... K>
FrontCall entry_point_at(std::index_sequence<K...>) {
  return &Front::template call<containerPositions<Args...>[K]...>;
}

template <class Front, class Ret, class... Args>
FrontCall entry_point(Ret (*)(Args...)) {
  return entry_point_at<Front, Args...>(std::make_index_sequence<containerCount<Args...>>{});
}

// The chain's parameter for a parameter P of an operation: scalars as
// ScalarArg, flags as FlagArg, anything else as pybind11 takes it.
template <class P>
using ChainParam =
    std::conditional_t<is_scalar_kind<Bare<P>>, ScalarArg<Bare<P>>,
                       std::conditional_t<std::is_same_v<Bare<P>, char>, FlagArg, P>>;

// The chain's overload of F: its scalars converted in parameter order, as
// the front converts them, once its containers have matched.
template <auto F, class Ret, class... Args>
auto chain_overload(Ret (*)(Args...)) {
  return [](ChainParam<Args>... args) -> Ret {
    (convert_argument(args), ...);
    return F(args...);
  };
}

// Collects the overloads of a module's functions while pybind11 builds its
// chains, then puts a front before each chain, in the order of the
// functions' first registrations. Module is a type that names the module, so
// that its fronts are its own.
template <class Module>
class Registry {
 public:
  explicit Registry(py::module_& module) : m_module(module) {}

  // Name is the function's name as a compile-time string:
  // define<&operation>(BOOST_HANA_STRING("name"), "docstring").
  template <auto F, class Name>
  void define(Name name, const char* doc) {
    FastFunction& function = Front<Module, Name>::function;
    if (function.table.empty()) {
      function.name = name.c_str();
      state.fronts.push_back({&function, entry_point<Front<Module, Name>>(F)});
    }
    m_module.def(name.c_str(), chain_overload<F>(F), doc);
    function.add(signature_of(F), &fast_call<F>);
  }

  // Whether the function named Name has an overload already.
  template <class Name>
  bool defined(Name) const {
    return !Front<Module, Name>::function.table.empty();
  }

  void install_fronts() {
    for (const FrontEntry& entry : state.fronts) {
      entry.function->install(m_module, entry.call);
    }
  }

 private:
  py::module_& m_module;
};

}  // namespace Bindings
