#pragma once

#include <cstddef>
#include <functional>
#include <stdexcept>
#include <string>

#include "../Blas.hpp"
#include "../Types.hpp"

namespace Algorithms {

// Raised when an operand has a container type the operation cannot take;
// the binding layer reports it as a type error.
class operand_type_error : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

namespace detail {

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

// Whether the runs of na elements at a and nb elements at b share an
// element. std::less orders pointers into different arrays as well, and
// runs of different arrays never share one.
template <class V>
bool shares_elements(const V* a, size_t na, const V* b, size_t nb) {
  const std::less<const V*> before;
  return na > 0 && nb > 0 && before(a, b + nb) && before(b, a + na);
}

// BLAS forbids a written operand to share elements with another operand of
// the call; the result would silently depend on the order of its kernels.
// The words name the operands' roles: "vector y", "matrix A", ...
template <class V>
void refuse_shared(const char* name, const char* written, const V* w, size_t nw, const char* other,
                   const V* o, size_t no) {
  if (shares_elements(w, nw, o, no)) {
    throw std::runtime_error(std::string("In ") + name + ", " + written + " shares elements with " +
                             other);
  }
}

// Level-1 calls process n elements of x and of y; only the same run of
// elements, element by element, is allowed for both.
template <class V>
void refuse_partial_overlap(const char* name, const V* x, const V* y, size_t n) {
  if (x != y) {
    refuse_shared(name, "vector y", y, n, "vector x", x, n);
  }
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

}  // namespace detail

// y = aAx + by needs x as long as A is wide and y as long as A is tall.
template <class T, class S, class R>
void validate_gemv(const T& A, const S& x, R& y) {
  constexpr const char* expression = "gemv expression y = aAx + by";
  detail::check_extents(expression, "matrix A", 1, A.template dim<1>(), "vector x", 0,
                        x.template dim<0>());
  detail::check_extents(expression, "matrix A", 0, A.template dim<0>(), "vector y", 0,
                        y.template dim<0>());
}

// Y = aAX + bY needs A: M x K, X: K x N and Y: M x N.
template <class T, class S, class R>
void validate_gemm(const T& A, const S& X, R& Y) {
  constexpr const char* expression = "gemm expression Y = aAX + bY";
  detail::check_extents(expression, "matrix A", 0, A.template dim<0>(), "matrix Y", 0,
                        Y.template dim<0>());
  detail::check_extents(expression, "matrix X", 1, X.template dim<1>(), "matrix Y", 1,
                        Y.template dim<1>());
  detail::check_extents(expression, "matrix A", 1, A.template dim<1>(), "matrix X", 0,
                        X.template dim<0>());
}

}  // namespace Algorithms
