// Kind c (std::complex<float>): its classes and its overloads of the module
// functions, compiled in a unit of their own.

#include <complex>

#include "Bindings/VexaKindRegistration.hpp"

template void Bindings::register_classes<std::complex<float>>(pybind11::module_& m);
template void Bindings::register_functions<std::complex<float>>(Bindings::VexaRegistry& registry);
