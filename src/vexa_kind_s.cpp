// Kind s (float): its classes and its overloads of the module
// functions, compiled in a unit of their own.

#include "Bindings/VexaKindRegistration.hpp"

template void Bindings::register_classes<float>(pybind11::module_& m);
template void Bindings::register_functions<float>(Bindings::VexaRegistry& registry);
