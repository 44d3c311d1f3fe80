#pragma once

// Every piece of process-wide state that a module keeps, in one object per
// module: each extension module is a shared object of its own whose symbols
// stay hidden, so vexa, vexa_io and every further module hold an instance of
// their own. Every entry lives until the process ends, and is read and
// written with the interpreter lock held; check this list on an upgrade of
// pybind11 or CPython, and before a free-threaded build, which would need a
// lock or atomics for each entry written after the module's start.

#include <pybind11/pybind11.h>

#include <vector>

#include "ClassIndex.hpp"
#include "Kinds.hpp"
#include "Refusal.hpp"
#include "TypeCategories.hpp"

namespace Bindings {

namespace py = pybind11;

struct FastFunction;
using FrontCall = PyObject* (*)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);

// A module function's front and the entry point that Python calls.
struct FrontEntry {
  FastFunction* function;
  FrontCall call;
};

// What vexa's changes to a class's slots (ClassSlots.hpp) keep of the slots
// they replace, and the refusal of an element write.
struct ClassSlotState {
  newfunc inheritedNew = nullptr;
  freefunc inheritedFree = nullptr;
  binaryfunc registeredGet = nullptr;
  objobjargproc registeredSet = nullptr;
  reprfunc registeredRepr = nullptr;
  Refusal setRefusal;
};

// A pybind11 function whose refusals vexa writes (RefusalText.hpp), by the
// record that pybind11's dispatcher gets as self.
struct GuardedFunction {
  PyObject* record;
  Refusal refusal;
};

struct State {
  // The machinery's, in every module.

  // The class table, by class_index: at the module's start, by vexa's
  // registration of its classes, or by adopt_classes in any other module.
  PyTypeObject* classes[classCount] = {};
  // The positions of the classes above by type object: filled anew with
  // every class added to the table.
  ClassIndex classIndex;
  // Whether pybind11 keeps an instance's native object where native_object
  // reads it inline: once the table is complete, by check_instance_layout.
  bool instanceLayoutHolds = false;
  // The module's call fronts, each with its entry point: appended by the
  // Registry at the module's start. Each front (its table of thunks,
  // docstring, refusal text and method definition) lives at a fixed address
  // of its own, Front<Module, Name>::function, so a call reaches it without
  // a lookup; the Registry fills it, then installs it.
  std::vector<FrontEntry> fronts;
  // The types of the scalars met, with the numbers ABCs and
  // abc.get_cache_token imported on the first miss (FirstUse.hpp): written by
  // any scalar conversion that misses, at any call.
  CategoryCache categories;
  // pybind11's dispatcher, and the functions that call it through vexa's
  // refusal: appended by the Registry's fronts and by vexa's classes at the
  // module's start.
  void (*pybindDispatch)() = nullptr;
  std::vector<GuardedFunction> guardedFunctions;

  // vexa's own.

  // Per class, by class_index: at vexa's start, by seal_class.
  ClassSlotState classSlots[classCount];
  // vexa_io._reduce, the reducer of every container: imported by the first
  // pickle or copy of a container (FirstUse.hpp).
  PyObject* reducer = nullptr;

  // vexa_io's own, made at its start.

  // The type of the exporters behind asbuffer's memoryviews.
  PyTypeObject* sharedElementsType = nullptr;
  // The type of the elements that a pickled container passes on.
  PyTypeObject* pickledElementsType = nullptr;
  // vexa_io._restore, which every reduction names.
  PyObject* restoreFunction = nullptr;

  // Kept elsewhere, each written at a module's start:
  // - Algorithms::Unlocking's release and retake, the core's hooks around
  //   long routines (one pair per module, as here): set by
  //   release_lock_in_routines at the start of each module that calls
  //   routines;
  // - pybind11's internals: the registered classes and functions, which
  //   vexa's modules share under an ABI id of their own (CMakeLists.txt),
  //   each module's own exception translators (translate_core_errors), and
  //   pybind11's base type and metaclass, which vexa's seal_module changes
  //   (PybindInternals.hpp lists each dependence).
  // Constant besides: the method tables and type specs that CPython keeps
  // pointers to (bareNew, vexa_io's functions and holder types).
};

inline State state;

}  // namespace Bindings
