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

// Every check below passes with a comparison or two, always inlined into its
// operation; the message of a failure is built out of line, in a function
// marked cold, so that a call that passes neither builds a string nor pays
// for the code that would.

// A one-letter option (trans, uplo, diag, side) must be one of the letters in allowed: "In
// gemv, trans must be 'N', 'T' or 'C'".
[[noreturn, gnu::cold, gnu::noinline]] inline void fail_flag(const char* name, const char* flag,
                                                             const char* allowed) {
  std::string letters;
  for (const char* letter = allowed; *letter != '\0'; ++letter) {
    letters += letter == allowed ? "" : letter[1] == '\0' ? " or " : ", ";
    letters += std::string("'") + *letter + "'";
  }
  fail_value(name, std::string(flag) + " must be " + letters);
}

[[gnu::always_inline]] inline void check_flag(const char* name, const char* flag, char value,
                                              const char* allowed) {
  for (const char* letter = allowed; *letter != '\0'; ++letter) {
    if (value == *letter) {
      return;
    }
  }
  fail_flag(name, flag, allowed);
}

// Narrows a count or extent to the BLAS integer, refusing what does not fit
// instead of letting BLAS compute on a wrapped number.
[[noreturn, gnu::cold, gnu::noinline]] inline void fail_blas_int(const char* name, size_t n) {
  fail(name, "size " + std::to_string(n) + " exceeds the BLAS integer limit " +
                 std::to_string(std::numeric_limits<blas_int>::max()));
}

[[gnu::always_inline]] inline blas_int to_blas_int(const char* name, size_t n) {
  if (n > static_cast<size_t>(std::numeric_limits<blas_int>::max())) {
    fail_blas_int(name, n);
  }
  return static_cast<blas_int>(n);
}

// Two-operand level-1 calls process x.numel() elements of both operands, so
// y must hold at least that many. Returns the count as a BLAS integer.
[[noreturn, gnu::cold, gnu::noinline]] inline void fail_level1_count(const char* name, size_t x,
                                                                     size_t y) {
  fail(name, "vector y has " + std::to_string(y) + " elements, fewer than the " +
                 std::to_string(x) + " of vector x");
}

template <class T, class S>
[[gnu::always_inline]] inline blas_int level1_count(const char* name, const T& x, const S& y) {
  if (y.numel() < x.numel()) {
    fail_level1_count(name, x.numel(), y.numel());
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
[[gnu::always_inline]] inline bool shares_elements(const Run<V>& a, const Run<V>& b) {
  const std::less<const V*> before;
  return a.count > 0 && b.count > 0 && before(a.start, b.start + b.count) &&
         before(b.start, a.start + a.count);
}

// BLAS forbids a written operand to share elements with another operand of
// the call; the result would silently depend on the order of its kernels.
[[noreturn, gnu::cold, gnu::noinline]] inline void fail_shared(const char* name,
                                                               const char* written,
                                                               const char* other) {
  fail(name, std::string(written) + " shares elements with " + other);
}

template <class V>
[[gnu::always_inline]] inline void refuse_shared(const char* name, const Run<V>& written,
                                                 const Run<V>& other) {
  if (shares_elements(written, other)) {
    fail_shared(name, written.operand, other.operand);
  }
}

// Level-1 calls process n elements of x and of y; only the same run of
// elements, element by element, is allowed for both.
template <class V>
[[gnu::always_inline]] inline void refuse_partial_overlap(const char* name, const V* x, const V* y,
                                                          blas_int n) {
  if (x != y) {
    const size_t count = static_cast<size_t>(n);
    refuse_shared(name, run("vector y", y, count), run("vector x", x, count));
  }
}

// A matrix-shaped operand may hold fewer elements than its row count says
// (a matrix with no columns); BLAS would then run past its storage.
[[noreturn, gnu::cold, gnu::noinline]] inline void fail_elements(const char* name,
                                                                 const char* operand, size_t numel,
                                                                 size_t needed) {
  fail(name, std::string("vector ") + operand + " has " + std::to_string(numel) +
                 " elements, fewer than the " + std::to_string(needed) + " that matrix A requires");
}

[[gnu::always_inline]] inline void require_elements(const char* name, const char* operand,
                                                    size_t numel, size_t needed) {
  if (numel < needed) {
    fail_elements(name, operand, numel, needed);
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
[[noreturn, gnu::cold, gnu::noinline]] inline void fail_extents(const char* expression,
                                                                const Extent& first,
                                                                const Extent& second) {
  fail(expression, std::string(first.operand) + " dimension " + std::to_string(first.dimension) +
                       ": " + std::to_string(first.extent) + ", doesn't match " + second.operand +
                       " dimension " + std::to_string(second.dimension) + ": " +
                       std::to_string(second.extent));
}

[[gnu::always_inline]] inline void check_extents(const char* expression, const Extent& first,
                                                 const Extent& second) {
  if (first.extent != second.extent) {
    fail_extents(expression, first, second);
  }
}

}  // namespace detail
}  // namespace Algorithms
