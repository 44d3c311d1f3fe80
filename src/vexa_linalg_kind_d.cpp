// Kind d (double): its overloads of vexa_linalg's functions, compiled in a unit
// of their own.

#include "Bindings/LinalgKindRegistration.hpp"

template void Bindings::register_linalg_functions<double>(Bindings::LinalgRegistry& registry);
