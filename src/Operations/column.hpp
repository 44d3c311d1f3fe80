#pragma once

#include <cstddef>
#include <string>

#include "Operations.hpp"
#include "errors.hpp"

namespace Algorithms {

// The view of column j of A, over A's elements j * rows to (j + 1) * rows - 1, sharing them as a
// slice shares its vector's.
template <class T>
VectorView<typename T::SampleType> Operations::column(const T& A, size_t j) {
  const size_t rows = A.template dim<0>(), columns = A.template dim<1>();
  if (j >= columns) {
    detail::fail("column", "index " + std::to_string(j) + " exceeds max number of columns " +
                               std::to_string(columns));
  }
  return VectorView<typename T::SampleType>({j * rows, (j + 1) * rows}, A.m_data);
}

}  // namespace Algorithms
