#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>

namespace Algorithms {
namespace detail {

// Arrays start on a cache line, as vectorised BLAS kernels prefer, and
// large ones ask the kernel for huge pages, as numpy's do.
constexpr size_t storage_alignment = 64;
constexpr size_t huge_page_threshold = size_t(4) << 20;

inline void advise_huge_pages(std::uintptr_t begin, size_t bytes) {
#ifdef MADV_HUGEPAGE
  const std::uintptr_t page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
  const std::uintptr_t first = (begin + page - 1) & ~(page - 1);
  const std::uintptr_t last = (begin + bytes) & ~(page - 1);
  if (bytes >= huge_page_threshold && last > first) {
    // Only a hint: whether the kernel follows it changes speed, not results.
    madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
  }
#else
  (void)begin;
  (void)bytes;
#endif
}

// What a new array holds: zeros, or nothing defined, for an array that its
// creator overwrites whole before anyone else sees it (a copy), which spares
// a pass over the memory when the allocator reuses it.
enum class Contents { zeros, unset };

// One shared array of n elements. calloc hands back zero pages lazily, so a
// large zeroed container costs nothing until it is written. At least one
// element is allocated so that even an empty container has a valid address
// to give to BLAS.
template <class T>
std::shared_ptr<T[]> allocate(size_t n, Contents contents) {
  if (n > (std::numeric_limits<size_t>::max() - storage_alignment) / sizeof(T)) {
    throw std::bad_array_new_length();
  }
  const size_t bytes = (n == 0 ? 1 : n) * sizeof(T);
  void* raw = contents == Contents::zeros ? std::calloc(bytes + storage_alignment, 1)
                                          : std::malloc(bytes + storage_alignment);
  if (raw == nullptr) {
    throw std::bad_alloc();
  }
  const std::uintptr_t aligned =
      (reinterpret_cast<std::uintptr_t>(raw) + storage_alignment) & ~(storage_alignment - 1);
  advise_huge_pages(aligned, bytes);
  return std::shared_ptr<T[]>(reinterpret_cast<T*>(aligned), [raw](T*) { std::free(raw); });
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

}  // namespace detail
}  // namespace Algorithms
