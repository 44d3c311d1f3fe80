#pragma once

// vexa_linalg's registration of a kind's overloads of its functions. The
// module's start calls it kind by kind; its definition
// (LinalgKindRegistration.hpp) compiles once per kind, each kind in a unit of
// its own (src/vexa_linalg_kind_*.cpp), as vexa's does.

#include "Registry.hpp"

namespace Bindings {

// Names vexa_linalg's fronts apart from those of any other module.
struct LinalgModule;
using LinalgRegistry = Registry<LinalgModule>;

template <class DataType>
void register_linalg_functions(LinalgRegistry& registry);

}  // namespace Bindings
