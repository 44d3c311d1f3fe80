#pragma once

// Long routines of the core let the other Python threads run, through the
// pair of hooks the core calls around them (Operations/unlocked.hpp). Each
// module is a shared object with its own copy of those hooks, so every
// module that calls routines installs them at its start.

#include <pybind11/pybind11.h>

#include "../Operations/unlocked.hpp"

namespace Bindings {

inline void release_lock_in_routines() {
  Algorithms::Unlocking::release = [] { return static_cast<void*>(PyEval_SaveThread()); };
  Algorithms::Unlocking::retake = [](void* saved) {
    PyEval_RestoreThread(static_cast<PyThreadState*>(saved));
  };
}

}  // namespace Bindings
