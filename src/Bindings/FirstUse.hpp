#pragma once

// Attributes of Python modules that vexa's modules import on their first
// use. The import runs with the interpreter lock held and no once-flag: the
// Python code it runs (an import hook, a garbage collection that calls a
// __del__, a lazily loaded module) may need the same attribute again, and
// then imports it again, getting what Python's import gives for a module
// whose import is still running, or an ordinary exception, where a
// once-flag would wait for itself for ever. The result is stored only once
// complete; when the import let another thread store it first, that one
// stays.

#include <pybind11/pybind11.h>

namespace Bindings {

// slot's attribute, imported on first use; a borrowed reference that slot
// holds until the process ends, or nullptr with the Python error set.
inline PyObject* imported(PyObject*& slot, const char* module, const char* name) {
  if (slot != nullptr) {
    return slot;
  }
  PyObject* found = PyImport_ImportModule(module);
  if (found == nullptr) {
    return nullptr;
  }
  PyObject* value = PyObject_GetAttrString(found, name);
  Py_DECREF(found);
  if (value == nullptr) {
    return nullptr;
  }
  if (slot == nullptr) {
    slot = value;
  } else {
    Py_DECREF(value);
  }
  return slot;
}

}  // namespace Bindings
