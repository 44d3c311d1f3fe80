#pragma once

#include <cstddef>
#include <cstdlib>
#include <limits>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>

namespace Algorithms {

// One zero-filled shared array of n elements. calloc hands back zero pages
// lazily, so a large container costs nothing until it is written. At least
// one element is allocated so that even an empty container has a valid
// address to give to BLAS.
template <class T>
std::shared_ptr<T[]> allocate_zeroed(size_t n) {
  if (n > std::numeric_limits<size_t>::max() / sizeof(T)) {
    throw std::bad_array_new_length();
  }
  void* raw = std::calloc(n == 0 ? 1 : n, sizeof(T));
  if (raw == nullptr) {
    throw std::bad_alloc();
  }
  return std::shared_ptr<T[]>(static_cast<T*>(raw), [](T* p) { std::free(p); });
}

// Bounds failure shared by element access and slicing of vectors and views.
inline std::runtime_error index_error(size_t idx, size_t numel) {
  return std::runtime_error("index " + std::to_string(idx) + " exceeds max number of elements " +
                            std::to_string(numel));
}

inline void check_index(size_t idx, size_t numel) {
  if (idx >= numel) {
    throw index_error(idx, numel);
  }
}

}  // namespace Algorithms
