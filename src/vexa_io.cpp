// vexa_io: bulk exchange between vexa's containers and any object with the
// buffer protocol. asbuffer lends a container's elements through a
// memoryview that holds its own share of their storage (Io/Export.hpp);
// from_buffer copies a buffer's elements into a new container, and wrap
// makes a container whose storage is the buffer itself (Io/Import.hpp). It
// also pickles and copies containers, for the reducers that vexa registers
// with copyreg (Io/Pickle.hpp).
//
// Containers are recognised by their exact class, adopted from the module
// vexa at import, as vexa's own call front recognises them; the native
// object inside comes from the same helper. Both modules are compiled
// against the same pybind11, so they agree on the instance layout.

#include <pybind11/pybind11.h>

#include <boost/hana.hpp>

#include "Bindings/ClassTable.hpp"
#include "Bindings/Kinds.hpp"
#include "Bindings/MainInterpreter.hpp"
#include "Bindings/State.hpp"
#include "Io/Export.hpp"
#include "Io/Holder.hpp"
#include "Io/Import.hpp"
#include "Io/Pickle.hpp"

namespace py = pybind11;
using namespace Bindings;

namespace {

// A METH_FASTCALL function as the PyCFunction that a PyMethodDef stores.
template <class F>
PyCFunction fastcall(F* function) {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

constexpr auto fromBufferDoc =
    BOOST_HANA_STRING(
        "from_buffer(obj, cls=None, /) -> container\n\nA new vexa container holding a copy of the "
        "elements of obj, any object with the buffer protocol: a vector for a 1-D buffer, a "
        "matrix for a 2-D one, of the kind of its elements (") +
    dtypeNames +
    BOOST_HANA_STRING(
        "). Given a class (vexa.matd, ...), the result is of exactly that class, or TypeError.");

PyMethodDef functions[] = {
    {"asbuffer", &Io::asbuffer, METH_O,
     "asbuffer(c) -> memoryview\n\nA writable memoryview sharing the elements of the vexa "
     "container c, without copying: 1-D (numel,) for a vector or view, 2-D (rows, cols) in "
     "column-major order for a matrix. It holds its own share of the storage."},
    {"from_buffer", fastcall(&Io::from_buffer), METH_FASTCALL, fromBufferDoc.c_str()},
    {"wrap", fastcall(&Io::wrap), METH_FASTCALL,
     "wrap(obj, cls=None, /) -> container\n\nA vexa container whose storage is the memory of "
     "obj, a writable buffer, without copying: a vector for a 1-D contiguous buffer, a matrix "
     "for a 2-D column-major one (numpy order='F'). It holds the buffer until the container, "
     "its views and their asbuffer results are all gone. Given a class (vexa.matd, ...), the "
     "result is of exactly that class, or TypeError."},
    {"_reduce", &Io::reduce, METH_O, "_reduce(c) -> tuple\n\nThe pickle reduction of a container."},
    {nullptr, nullptr, 0, nullptr}};

PyMethodDef restoring[] = {
    {"_restore", fastcall(&Io::restore), METH_FASTCALL,
     "_restore(name, extents, elements) -> container\n\nThe container that _reduce described."},
    {nullptr, nullptr, 0, nullptr}};

}  // namespace

#define PyInit_vexa_io pybind11_PyInit_vexa_io
PYBIND11_MODULE(vexa_io, m) {
  require_main_interpreter("vexa_io");
  adopt_classes();
  state.sharedElementsType = Io::make_holder_type(Io::sharedElementsSpec);
  state.pickledElementsType = Io::make_holder_type(Io::pickledElementsSpec);
  // The reducer names the reconstructor by the function object, kept for
  // the life of the process. A pickle made while this import runs (by a
  // __del__ or an import hook) finds _reduce only once everything that it
  // uses is in place.
  if (PyModule_AddFunctions(m.ptr(), restoring) != 0) {
    throw py::error_already_set();
  }
  state.restoreFunction = PyObject_GetAttrString(m.ptr(), "_restore");
  if (state.restoreFunction == nullptr) {
    throw py::error_already_set();
  }
  if (PyModule_AddFunctions(m.ptr(), functions) != 0) {
    throw py::error_already_set();
  }
}
#undef PyInit_vexa_io
VEXA_MAIN_INTERPRETER_ONLY(vexa_io)
