// The module vexa: twelve container classes and twelve module functions,
// registered kind by kind (Bindings/VexaRegistration.hpp); each kind's
// registration compiles in a unit of its own (vexa_kind_*.cpp).

#include <pybind11/pybind11.h>

#include <boost/hana.hpp>

#include "Bindings/ClassSlots.hpp"
#include "Bindings/ClassTable.hpp"
#include "Bindings/Errors.hpp"
#include "Bindings/FirstUse.hpp"
#include "Bindings/Kinds.hpp"
#include "Bindings/MainInterpreter.hpp"
#include "Bindings/State.hpp"
#include "Bindings/Unlocking.hpp"
#include "Bindings/VexaRegistration.hpp"

namespace py = pybind11;
namespace hana = boost::hana;

using namespace Bindings;

#define PyInit_vexa pybind11_PyInit_vexa
PYBIND11_MODULE(vexa, m) {
  require_main_interpreter("vexa");
  translate_core_errors();

  // Long routines let the other Python threads run.
  release_lock_in_routines();

  hana::for_each(scalarTypes, [&](auto scalarType) {
    register_classes<typename decltype(scalarType)::type>(m);
  });
  check_instance_layout();

  VexaRegistry registry(m);
  hana::for_each(scalarTypes, [&](auto scalarType) {
    register_functions<typename decltype(scalarType)::type>(registry);
  });
  registry.install_fronts();

  // Pickling and copying go through copyreg, which leaves the classes as
  // they are: every class's reducer is vexa_io's, imported on first use, as
  // unpickling imports vexa_io for the reconstructor.
  py::cpp_function reduce([](py::handle container) {
    PyObject* ioReduce = imported(state.reducer, "vexa_io", "_reduce");
    if (ioReduce == nullptr) {
      throw py::error_already_set();
    }
    return py::handle(ioReduce)(container);
  });
  py::object pickle = py::module_::import("copyreg").attr("pickle");
  for (PyTypeObject* cls : state.classes) {
    pickle(py::handle(reinterpret_cast<PyObject*>(cls)), reduce);
  }

  seal_module();
}
#undef PyInit_vexa
VEXA_MAIN_INTERPRETER_ONLY(vexa)
