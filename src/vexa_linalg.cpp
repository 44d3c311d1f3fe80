// The module vexa_linalg: further BLAS operations over vexa's containers
// (transposed products, rank updates, triangular solves, norms,
// element-wise and diagonal scaling, containers over a matrix's columns, QR
// factorization and least squares),
// with vexa's conventions and call front. It adopts vexa's classes at its
// start; each kind's overloads compile in a unit of their own
// (vexa_linalg_kind_*.cpp, Bindings/LinalgKindRegistration.hpp).

#include <pybind11/pybind11.h>

#include <boost/hana.hpp>

#include "Bindings/ClassTable.hpp"
#include "Bindings/Errors.hpp"
#include "Bindings/Kinds.hpp"
#include "Bindings/LinalgRegistration.hpp"
#include "Bindings/MainInterpreter.hpp"
#include "Bindings/Unlocking.hpp"

namespace py = pybind11;
namespace hana = boost::hana;

using namespace Bindings;

#define PyInit_vexa_linalg pybind11_PyInit_vexa_linalg
PYBIND11_MODULE(vexa_linalg, m) {
  require_main_interpreter("vexa_linalg");
  translate_core_errors();
  release_lock_in_routines();
  adopt_classes();
  m.doc() =
      "Further BLAS operations over vexa's containers: transposed products, rank updates, "
      "triangular solves, norms, element-wise and diagonal scaling, and views and matrices over "
      "a matrix's columns or a vector's elements; QR factorization and least squares with several "
      "right-hand sides. Each function's docstring says what it writes and what it refuses.";

  // Each function's docstring begins with its signature by parameter name;
  // pybind11's signatures of the overloads (one per kind and container
  // combination, shown in the refusal of a call matching none) would bury it.
  py::options options;
  options.disable_function_signatures();
  LinalgRegistry registry(m);
  hana::for_each(scalarTypes, [&](auto scalarType) {
    register_linalg_functions<typename decltype(scalarType)::type>(registry);
  });
  registry.install_fronts();
}
#undef PyInit_vexa_linalg
VEXA_MAIN_INTERPRETER_ONLY(vexa_linalg)
