#pragma once

#include <array>
#include <cstddef>
#include <limits>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <utility>

#include "Storage.hpp"

namespace Algorithms {

struct Elements;
struct Operations;

// Owning dense matrix stored column-major: element (i, j) sits at position
// i + j * rows, so the leading dimension is the row count.
template <class T>
class Matrix {
 public:
  using SampleType = T;

  Matrix(size_t rows, size_t columns) : Matrix(rows, columns, detail::Contents::zeros) {}

  T& operator[](std::pair<size_t, size_t> idx) { return m_data[position(idx)]; }

  T operator[](std::pair<size_t, size_t> idx) const { return m_data[position(idx)]; }

  size_t numel() const { return m_numel; }

  template <size_t idx>
  size_t dim() const {
    static_assert(idx < 2, "a matrix has two dimensions");
    return m_dim[idx];
  }

 private:
  friend struct Elements;
  friend struct Operations;

  Matrix(size_t rows, size_t columns, detail::Contents contents)
      : m_dim{rows, columns},
        m_numel(checked_product(rows, columns)),
        m_data(detail::allocate<T>(m_numel, contents)) {}

  Matrix(size_t rows, size_t columns, std::shared_ptr<T[]> data)
      : m_dim{rows, columns}, m_numel(checked_product(rows, columns)), m_data(std::move(data)) {}

  T* get() const { return m_data.get(); }

  static size_t checked_product(size_t rows, size_t columns) {
    if (columns != 0 && rows > std::numeric_limits<size_t>::max() / columns) {
      throw std::bad_array_new_length();
    }
    return rows * columns;
  }

  // The linear position is tested first (wrapping arithmetic), then each
  // dimension, so the message names the first bound that is broken.
  size_t position(std::pair<size_t, size_t> idx) const {
    const size_t pos = idx.first + idx.second * m_dim[0];
    if (pos >= m_numel) {
      // No space before "exceeds": callers match this text as it stands.
      throw std::runtime_error("requested array index " + std::to_string(pos) +
                               "exceeds max number of elements " + std::to_string(m_numel));
    }
    check_dimension(0, idx.first);
    check_dimension(1, idx.second);
    return pos;
  }

  void check_dimension(size_t d, size_t idx) const {
    if (idx >= m_dim[d]) {
      // The dimension and the index run together, and no space precedes
      // "exceeds": callers match this text as it stands.
      throw std::runtime_error("index for dimension " + std::to_string(d) + std::to_string(idx) +
                               "exceeds max number of elements for that dimension " +
                               std::to_string(m_dim[d]));
    }
  }

  const std::array<size_t, 2> m_dim;
  const size_t m_numel;
  std::shared_ptr<T[]> m_data;
};

}  // namespace Algorithms
