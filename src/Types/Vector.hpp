#pragma once

#include <cstddef>
#include <memory>
#include <utility>

#include "Storage.hpp"
#include "VectorView.hpp"

namespace Algorithms {

struct Elements;
struct Operations;

// Owning, contiguous column vector of zero-initialised elements. Copies
// share the elements.
template <class T>
class Vector {
 public:
  using SampleType = T;

  explicit Vector(size_t n) : Vector(n, detail::Contents::zeros) {}

  T& operator[](size_t idx) {
    detail::check_index(idx, m_numel);
    return m_data[idx];
  }

  T operator[](size_t idx) const {
    detail::check_index(idx, m_numel);
    return m_data[idx];
  }

  VectorView<T> operator[](const std::pair<size_t, size_t>& range) const {
    return VectorView<T>::slice(m_data, 0, m_numel, range);
  }

  size_t numel() const { return m_numel; }

  template <size_t idx>
  size_t dim() const {
    static_assert(idx == 0, "a vector has a single dimension");
    return m_numel;
  }

 private:
  friend struct Elements;
  friend struct Operations;

  Vector(size_t n, detail::Contents contents)
      : m_numel(n), m_data(detail::allocate<T>(n, contents)) {}

  Vector(size_t n, std::shared_ptr<T[]> data) : m_numel(n), m_data(std::move(data)) {}

  T* get() const { return m_data.get(); }

  const size_t m_numel;
  std::shared_ptr<T[]> m_data;
};

}  // namespace Algorithms
