// Kind z (std::complex<double>): its overloads of vexa_linalg's functions, compiled in a unit
// of their own.

#include <complex>

#include "Bindings/LinalgKindRegistration.hpp"

template void Bindings::register_linalg_functions<std::complex<double>>(
    Bindings::LinalgRegistry& registry);
