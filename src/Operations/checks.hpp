#pragma once

#include <cstddef>
#include <functional>
#include <limits>
#include <string>

#include "../Blas.hpp"
#include "../Types.hpp"
#include "errors.hpp"

namespace Algorithms {
namespace detail {

// A one-letter option (trans, uplo, diag, side) must be one of the letters in allowed: "In
// gemv, trans must be 'N', 'T' or 'C'".
inline void check_flag(const char* name, const char* flag, char value, const char* allowed) {
  for (const char* letter = allowed; *letter != '\0'; ++letter) {
    if (value == *letter) {
      return;
    }
  }
  std::string letters;
  for (const char* letter = allowed; *letter != '\0'; ++letter) {
    letters += letter == allowed ? "" : letter[1] == '\0' ? " or " : ", ";
    letters += std::string("'") + *letter + "'";
  }
  fail_value(name, std::string(flag) + " must be " + letters);
}

// Narrows a count or extent to the BLAS integer, refusing what does not fit
// instead of letting BLAS compute on a wrapped number.
inline blas_int to_blas_int(const char* name, size_t n) {
  constexpr blas_int largest = std::numeric_limits<blas_int>::max();
  if (n > static_cast<size_t>(largest)) {
    fail(name, "size " + std::to_string(n) + " exceeds the BLAS integer limit " +
                   std::to_string(largest));
  }
  return static_cast<blas_int>(n);
}

// Two-operand level-1 calls process x.numel() elements of both operands, so
// y must hold at least that many. Returns the count as a BLAS integer.
template <class T, class S>
blas_int level1_count(const char* name, const T& x, const S& y) {
  if (y.numel() < x.numel()) {
    fail(name, "vector y has " + std::to_string(y.numel()) + " elements, fewer than the " +
                   std::to_string(x.numel()) + " of vector x");
  }
  return to_blas_int(name, x.numel());
}

// The count elements from start of an operand that a call reads or writes;
// operand names its role: "vector y", "matrix A", ...
template <class V>
struct Run {
  const char* operand;
  const V* start;
  size_t count;
};

template <class V>
Run<V> run(const char* operand, const V* start, size_t count) {
  return {operand, start, count};
}

// Whether two runs share an element. std::less orders pointers into
// different arrays as well, and runs of different arrays never share one.
template <class V>
bool shares_elements(const Run<V>& a, const Run<V>& b) {
  const std::less<const V*> before;
  return a.count > 0 && b.count > 0 && before(a.start, b.start + b.count) &&
         before(b.start, a.start + a.count);
}

// BLAS forbids a written operand to share elements with another operand of
// the call; the result would silently depend on the order of its kernels.
template <class V>
void refuse_shared(const char* name, const Run<V>& written, const Run<V>& other) {
  if (shares_elements(written, other)) {
    fail(name, std::string(written.operand) + " shares elements with " + other.operand);
  }
}

// Level-1 calls process n elements of x and of y; only the same run of
// elements, element by element, is allowed for both.
template <class V>
void refuse_partial_overlap(const char* name, const V* x, const V* y, blas_int n) {
  if (x != y) {
    const size_t count = static_cast<size_t>(n);
    refuse_shared(name, run("vector y", y, count), run("vector x", x, count));
  }
}

// A matrix-shaped operand may hold fewer elements than its row count says
// (a matrix with no columns); BLAS would then run past its storage.
inline void require_elements(const char* name, const char* operand, size_t numel, size_t needed) {
  if (numel < needed) {
    fail(name, std::string("vector ") + operand + " has " + std::to_string(numel) +
                   " elements, fewer than the " + std::to_string(needed) +
                   " that matrix A requires");
  }
}

// One extent of an operand, as the shape checks name it: "matrix A
// dimension 1: 5".
struct Extent {
  const char* operand;
  size_t dimension;
  size_t extent;
};

template <size_t D, class T>
Extent extent(const char* operand, const T& x) {
  return {operand, D, x.template dim<D>()};
}

// Shape check of the products: the named extents of two operands of the
// expression must agree.
inline void check_extents(const char* expression, const Extent& first, const Extent& second) {
  if (first.extent != second.extent) {
    fail(expression, std::string(first.operand) + " dimension " + std::to_string(first.dimension) +
                         ": " + std::to_string(first.extent) + ", doesn't match " + second.operand +
                         " dimension " + std::to_string(second.dimension) + ": " +
                         std::to_string(second.extent));
  }
}

}  // namespace detail
}  // namespace Algorithms
