#pragma once

// vexa's registration of a kind: its container classes, then its module
// functions. vexa's module start calls them kind by kind, in registration
// order; their definitions (VexaKindRegistration.hpp) compile once per kind,
// each kind in a unit of its own (src/vexa_kind_*.cpp), so that the kinds
// compile in parallel and no unit holds more than one kind.

#include <pybind11/pybind11.h>

#include "Registry.hpp"

namespace Bindings {

// Names vexa's fronts apart from those of any other module.
struct VexaModule;
using VexaRegistry = Registry<VexaModule>;

template <class DataType>
void register_classes(pybind11::module_& m);
template <class DataType>
void register_functions(VexaRegistry& registry);

}  // namespace Bindings
