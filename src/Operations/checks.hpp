#pragma once

#include <cstddef>
#include <limits>
#include <stdexcept>
#include <string>
#include <type_traits>

#include "../Blas.hpp"
#include "../Types.hpp"

namespace Algorithms {

// Raised when an operand has a container type the operation cannot take;
// the binding layer reports it as a type error.
class operand_type_error : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

template <class T>
struct is_matrix : std::false_type {};
template <class T>
struct is_matrix<Matrix<T>> : std::true_type {};

// Narrows a count or extent to the BLAS integer, refusing what does not fit
// instead of letting BLAS compute on a wrapped number.
inline blas_int to_blas_int(const char* name, size_t n) {
  if (n > static_cast<size_t>(std::numeric_limits<blas_int>::max())) {
    throw std::runtime_error(std::string("In ") + name + ", size " + std::to_string(n) +
                             " exceeds the BLAS integer limit " +
                             std::to_string(std::numeric_limits<blas_int>::max()));
  }
  return static_cast<blas_int>(n);
}

// Two-operand level-1 calls process x.numel() elements of both operands, so
// y must hold at least that many. Returns the count as a BLAS integer.
template <class T, class S>
blas_int level1_count(const char* name, const T& x, const S& y) {
  if (y.numel() < x.numel()) {
    throw std::runtime_error(std::string("In ") + name + ", vector y has " +
                             std::to_string(y.numel()) + " elements, fewer than the " +
                             std::to_string(x.numel()) + " of vector x");
  }
  return to_blas_int(name, x.numel());
}

// A matrix-shaped operand may hold fewer elements than its row count says
// (a matrix with no columns); BLAS would then run past its storage.
inline void require_elements(const char* name, const char* operand, size_t numel, size_t needed) {
  if (numel < needed) {
    throw std::runtime_error(std::string("In ") + name + ", vector " + operand + " has " +
                             std::to_string(numel) + " elements, fewer than the " +
                             std::to_string(needed) + " that matrix A requires");
  }
}

// Shape check of the products: the named extents of two operands of the
// expression must agree.
inline void check_extents(const char* expression, const char* first, int firstDim,
                          size_t firstExtent, const char* second, int secondDim,
                          size_t secondExtent) {
  if (firstExtent != secondExtent) {
    throw std::runtime_error(std::string("In ") + expression + ", " + first + " dimension " +
                             std::to_string(firstDim) + ": " + std::to_string(firstExtent) +
                             ", doesn't match " + second + " dimension " +
                             std::to_string(secondDim) + ": " + std::to_string(secondExtent));
  }
}

// BLAS and LAPACK require leading dimensions of at least 1, even for empty
// matrices.
inline blas_int leading_dimension(blas_int rows) { return rows > 1 ? rows : 1; }

}  // namespace Algorithms
