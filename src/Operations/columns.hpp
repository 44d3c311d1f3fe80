#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "Operations.hpp"
#include "errors.hpp"

namespace Algorithms {

// The matrix of columns start to stop - 1 of A, a contiguous run of A's elements, which it
// shares: its storage is a share of A's that points at column start. As in slicing, a start past
// stop gives no columns.
template <class T>
Matrix<typename T::SampleType> Operations::columns(const T& A, size_t start, size_t stop) {
  using V = typename T::SampleType;
  const size_t rows = A.template dim<0>(), count = A.template dim<1>();
  if (stop > count) {
    detail::fail("columns", "index " + std::to_string(stop) + " exceeds max number of columns " +
                                std::to_string(count));
  }
  const size_t first = start > stop ? stop : start;
  return Matrix<V>(rows, stop - first, std::shared_ptr<V[]>(A.m_data, A.get() + first * rows));
}

}  // namespace Algorithms
