#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "Operations.hpp"
#include "errors.hpp"

namespace Algorithms {

// The rows x columns matrix, column-major, over the elements of the vector or view x, which it
// shares. Their count must be rows * columns, compared without forming the product, which could
// wrap.
template <class T>
Matrix<typename T::SampleType> Operations::as_matrix(const T& x, size_t rows, size_t columns) {
  using V = typename T::SampleType;
  const size_t n = x.numel();
  const bool fits = columns == 0 ? n == 0 : n % columns == 0 && n / columns == rows;
  if (!fits) {
    detail::fail("as_matrix", std::to_string(rows) + " rows and " + std::to_string(columns) +
                                  " columns don't hold the " + std::to_string(n) +
                                  " elements of vector x");
  }
  return Matrix<V>(rows, columns, std::shared_ptr<V[]>(x.m_data, x.get()));
}

}  // namespace Algorithms
