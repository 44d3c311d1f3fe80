#pragma once

#include <cstddef>

#include "../Types/Traits.hpp"
#include "checks.hpp"

namespace Algorithms {
namespace detail {

// An operand that holds columns: a matrix, or a vector or view as its only
// column. Its name in messages is the matrix or the vector one.
struct ColumnsOperand {
  const char* operand;
  size_t rows, columns;

  Extent extent(size_t d) const { return {operand, d, d == 0 ? rows : columns}; }
};

template <class T>
ColumnsOperand columns_operand(const char* matrix, const char* vector, const T& C) {
  if constexpr (is_matrix<T>::value) {
    return {matrix, C.template dim<0>(), C.template dim<1>()};
  } else {
    return {vector, C.numel(), 1};
  }
}

}  // namespace detail
}  // namespace Algorithms
