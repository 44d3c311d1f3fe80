#pragma once

// Every dependence of vexa's modules on behaviour of pybind11 or CPython
// that may change in any release, where it sits, and when a version-specific
// branch can go. Check this list on every upgrade of either.
//
// pybind11:
// - detail::instance::get_value_and_holder(), value_and_holder's
//   holder_constructed() and value_ptr<T>(): the native object inside an
//   instance, and whether it was ever constructed (native_object,
//   ClassTable.hpp); every module reads vexa's instances so, built with
//   vexa against the same pybind11;
// - detail::instance's members simple_layout, simple_holder_constructed
//   and simple_value_holder, which hold the same for an instance of a class
//   with a single C++ type (each of vexa's): native_object reads them
//   inline once check_instance_layout (ClassTable.hpp) has found at the
//   module's start that they agree with the call above, and makes the call
//   otherwise;
// - detail::try_translate_exceptions(): the registered exception
//   translators, for exceptions caught outside pybind11's own dispatch
//   (translate_current_exception, below);
// - detail::type_caster, make_caster<T>::name and PYBIND11_TYPE_CASTER: the
//   chain's conversion of a scalar (ScalarArg.hpp) and of a flag (Flag.hpp);
// - the text of the dispatcher's refusal, which Refusal (Refusal.hpp) takes
//   apart, and the overload chain as a builtin function held under the
//   function's name, whose __doc__ the front takes over (Front.hpp);
// - every function as a builtin function whose method definition, pybind11's
//   own, names the dispatcher, a METH_FASTCALL | METH_KEYWORDS function of
//   the function's record; guard_refusals (RefusalText.hpp) puts its own
//   in its place, which calls pybind11's;
// - the dispatcher's second pass over the overloads, with conversion, after
//   a first without, and its move to the next overload when an overload's
//   body throws reference_cast_error (meant for pybind11's own use), which
//   the chain's scalar conversion relies on (ScalarArg.hpp);
// - the mapping slots that a class's registered __getitem__ and __setitem__
//   fill, which the element slots take over (ClassSlots.hpp);
// - the base type and metaclass that pybind11 gives every class: seal_module
//   (ClassSlots.hpp) replaces the base type's tp_new, whose own throws from a
//   C slot for a type it did not register, and makes both immutable. That
//   edit can go once pybind11's base type refuses such a call with an
//   exception of its own and pybind11 makes both types immutable itself;
// - PYBIND11_COMPILER_TYPE (CMakeLists.txt), which enters the ABI id of
//   pybind11's internals, so that vexa's modules share the changed base type
//   with each other only. It can go with the edit above;
// - the entry point's name, PyInit_ pasted to the module's name inside
//   PYBIND11_MODULE, which the #define PyInit_NAME wrapper
//   (MainInterpreter.hpp) relies on. The wrapper exists for Python 3.11
//   only, where pybind11's start hangs in a subinterpreter that shares the
//   GIL, and can go when 3.11 is no longer supported.
//
// CPython:
// - type version tags, which key the category cache (TypeCategories.hpp):
//   PyUnstable_Type_AssignVersionTag from 3.12 on; on 3.11 a lookup through
//   the private _PyType_Lookup assigns the tag, a branch that can go when
//   3.11 is no longer supported;
// - __class__ assignment only between classes whose tp_free is the same,
//   and the "not safe" refusal of a base's __new__ for a class whose tp_new
//   is another (OwnSlots, ClassSlots.hpp);
// - Py_TPFLAGS_IMMUTABLETYPE set on a type after it is ready (seal_module);
// - float() of an object whose __float__ returns a float subclass: taken
//   with float()'s DeprecationWarning (FloatOf.hpp), until CPython refuses
//   it;
// - the value of a complex read directly from PyComplexObject
//   (ScalarRule.hpp), outside the limited API;
// - the body of a module run again in a subinterpreter, without its entry
//   point, by Python 3.12 and later (require_main_interpreter,
//   MainInterpreter.hpp);
// - every piece of process-wide state (State.hpp), which the interpreter
//   lock guards.

#include <pybind11/pybind11.h>

namespace Bindings {

namespace py = pybind11;

// Sets the Python error for the exception being handled, as pybind11 does
// for exceptions that leave a bound function. Call only inside a catch block.
inline void translate_current_exception() { py::detail::try_translate_exceptions(); }

}  // namespace Bindings
