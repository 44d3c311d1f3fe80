// The module vexa: twelve container classes and twelve module functions,
// registered kind by kind (Bindings/VexaRegistration.hpp); each kind's
// registration compiles in a unit of its own (vexa_kind_*.cpp).

#include <pybind11/gil_safe_call_once.h>
#include <pybind11/pybind11.h>

#include <boost/hana.hpp>

#include <exception>

#include "Bindings/ClassSlots.hpp"
#include "Bindings/ClassTable.hpp"
#include "Bindings/Kinds.hpp"
#include "Bindings/MainInterpreter.hpp"
#include "Bindings/Registry.hpp"
#include "Bindings/VexaRegistration.hpp"
#include "Operations/errors.hpp"
#include "Operations/unlocked.hpp"

namespace py = pybind11;
namespace hana = boost::hana;

using namespace Bindings;

#define PyInit_vexa pybind11_PyInit_vexa
PYBIND11_MODULE(vexa, m) {
  require_main_interpreter("vexa");
  py::register_local_exception_translator([](std::exception_ptr error) {
    try {
      if (error) {
        std::rethrow_exception(error);
      }
    } catch (const Algorithms::operand_type_error& e) {
      py::set_error(PyExc_TypeError, e.what());
    }
  });

  // Long routines let the other Python threads run.
  Algorithms::Unlocking::release = [] { return static_cast<void*>(PyEval_SaveThread()); };
  Algorithms::Unlocking::retake = [](void* state) {
    PyEval_RestoreThread(static_cast<PyThreadState*>(state));
  };

  hana::for_each(scalarTypes, [&](auto scalarType) {
    register_classes<typename decltype(scalarType)::type>(m);
  });

  Registry registry(m);
  hana::for_each(scalarTypes, [&](auto scalarType) {
    register_functions<typename decltype(scalarType)::type>(registry);
  });
  registry.install_fronts();

  // Pickling and copying go through copyreg, which leaves the classes as
  // they are: every class's reducer is vexa_io's, imported on first use, as
  // unpickling imports vexa_io for the reconstructor.
  py::cpp_function reduce([](py::handle container) {
    PYBIND11_CONSTINIT static py::gil_safe_call_once_and_store<py::object> reducer;
    const py::object& ioReduce =
        reducer
            .call_once_and_store_result(
                [] { return py::module_::import("vexa_io").attr("_reduce").cast<py::object>(); })
            .get_stored();
    return ioReduce(container);
  });
  py::object pickle = py::module_::import("copyreg").attr("pickle");
  for (PyTypeObject* cls : classTable) {
    pickle(py::handle(reinterpret_cast<PyObject*>(cls)), reduce);
  }

  seal_module();
}
#undef PyInit_vexa
VEXA_MAIN_INTERPRETER_ONLY(vexa)
