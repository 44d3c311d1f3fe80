#pragma once

// A kind's registration: its container classes, then its module functions.
// The module definition calls them kind by kind, in registration order;
// their definitions (KindRegistration.hpp) compile once per kind, each kind
// in a unit of its own (src/vexa_kind_*.cpp), so that the kinds compile in
// parallel and no unit holds more than one kind.

#include <pybind11/pybind11.h>

#include "Registry.hpp"

namespace Bindings {

template <class DataType>
void register_classes(pybind11::module_& m);
template <class DataType>
void register_functions(Registry& registry);

}  // namespace Bindings
