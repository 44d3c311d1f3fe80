#pragma once

// Buffers borrowed from their exporters, and containers made over them or
// copied from them: the storage that wrap shares and that _restore shares
// or copies.

#include <pybind11/pybind11.h>

#include <cstddef>
#include <cstring>
#include <memory>
#include <utility>

#include "../Bindings/PybindInternals.hpp"
#include "../Types.hpp"

namespace Io {

using Bindings::translate_current_exception;

// A buffer borrowed from its exporter and released on every path: when
// from_buffer has copied it, or, for a container made over it, when the last
// share of that container's storage goes. Shares go wherever Python frees an
// object (a container, a view, an asbuffer exporter, a pickled payload),
// possibly while an exception is being raised; the release may run Python
// code, so it holds the interpreter lock and keeps a pending exception aside.
struct Borrowed {
  Py_buffer view{};
  Borrowed() = default;
  Borrowed(const Borrowed&) = delete;
  Borrowed& operator=(const Borrowed&) = delete;
  ~Borrowed() {
    if (view.obj != nullptr) {
      const PyGILState_STATE gil = PyGILState_Ensure();
      {
        py::error_scope pending;
        PyBuffer_Release(&view);
      }
      PyGILState_Release(gil);
    }
  }
};

// Borrows obj's buffer with the given flags into a Borrowed that containers
// can share; nullptr with the error set when the exporter refuses.
inline std::shared_ptr<Borrowed> borrow(PyObject* obj, int flags) {
  std::shared_ptr<Borrowed> lease;
  try {
    lease = std::make_shared<Borrowed>();
  } catch (...) {
    translate_current_exception();
    return nullptr;
  }
  if (PyObject_GetBuffer(obj, &lease->view, flags) != 0) {
    lease->view.obj = nullptr;
    return nullptr;
  }
  return lease;
}

// A new container of type C, of the given extents, whose storage is the
// buffer that lease holds.
template <class C>
C shared_container(const std::shared_ptr<Borrowed>& lease, const std::size_t (&extents)[2]) {
  using T = typename C::SampleType;
  std::shared_ptr<T[]> data(lease, static_cast<T*>(lease->view.buf));
  if constexpr (Algorithms::is_matrix<C>::value) {
    return Algorithms::Elements::over<C>(std::move(data), extents[0], extents[1]);
  } else {
    return Algorithms::Elements::over<C>(std::move(data), extents[0]);
  }
}

// A new container of type C, of the given extents, holding a copy of the
// contiguous elements at bytes.
template <class C>
C copied_container(const void* bytes, const std::size_t (&extents)[2]) {
  C container = [&] {
    if constexpr (Algorithms::is_matrix<C>::value) {
      return Algorithms::Elements::unset<C>(extents[0], extents[1]);
    } else {
      return Algorithms::Elements::unset<C>(extents[0]);
    }
  }();
  if (container.numel() > 0) {
    std::memcpy(Algorithms::Elements::share(container).get(), bytes,
                container.numel() * sizeof(typename C::SampleType));
  }
  return container;
}

}  // namespace Io
