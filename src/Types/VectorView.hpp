#pragma once

#include <cstddef>
#include <memory>
#include <utility>

#include "Storage.hpp"

namespace Algorithms {

struct Elements;
struct Operations;

// A contiguous window onto a vector's shared array; indexes are relative to
// the window. Only slicing creates views, which keeps every window inside
// its array.
template <class T>
class VectorView {
 public:
  using SampleType = T;

  VectorView(const std::pair<size_t, size_t>& range, const std::shared_ptr<T[]>& data)
      : m_numel(range.second - range.first), m_offset(range.first), m_data(data) {}

  T& operator[](size_t idx) {
    detail::check_index(idx, m_numel);
    return m_data[m_offset + idx];
  }

  T operator[](size_t idx) const {
    detail::check_index(idx, m_numel);
    return m_data[m_offset + idx];
  }

  VectorView operator[](const std::pair<size_t, size_t>& range) const {
    return slice(m_data, m_offset, m_numel, range);
  }

  size_t numel() const { return m_numel; }

  template <size_t idx>
  size_t dim() const {
    static_assert(idx == 0, "a vector has a single dimension");
    return m_numel;
  }

  // Cuts [start, end) out of the window [offset, offset + numel) of data.
  // A start past the end yields an empty view at end, never a wrapped count.
  static VectorView slice(const std::shared_ptr<T[]>& data, size_t offset, size_t numel,
                          const std::pair<size_t, size_t>& range) {
    if (range.second > numel) {
      throw detail::index_error(range.second, numel);
    }
    const size_t start = range.first > range.second ? range.second : range.first;
    return VectorView({offset + start, offset + range.second}, data);
  }

 private:
  friend struct Elements;
  friend struct Operations;

  T* get() const { return m_data.get() + m_offset; }

  const size_t m_numel;
  const size_t m_offset;
  std::shared_ptr<T[]> m_data;
};

}  // namespace Algorithms
