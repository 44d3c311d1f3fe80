#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <limits>
#include <memory>
#include <string>
#include <type_traits>

#include "../Blas.hpp"
#include "../Types/Traits.hpp"
#include "checks.hpp"
#include "errors.hpp"
#include "solve_checks.hpp"
#include "trsv.hpp"

// What the solves by a factorization of a square matrix (gesv, posv, potrf, potrs) check, and
// the workspace of their condition estimates. In order:
// - before anything is touched: the shapes (right_hand_sides), shared elements, NaN and Inf in
//   what the call reads, then the workspace, then the 1-norm of A as the caller gave it;
// - after the factorization, before the right-hand sides are touched: an exact zero pivot or a
//   leading minor that is not positive, then the condition estimate. The solve with the factor
//   runs only when both have passed, so every refusal leaves B as it was.
namespace Algorithms {
namespace detail {

// The right-hand sides B of a solve with an n x n matrix A: a vector or view is one, of n
// elements; a matrix has one per column, each of n elements.
struct RightHandSides {
  const char* operand;
  blas_int count;
  size_t elements;
};

template <class T, class S>
RightHandSides right_hand_sides(const char* name, const char* expression, const T& A, const S& B) {
  const char* operand = is_matrix<S>::value ? "matrix B" : "vector B";
  check_extents(expression, extent<0>("matrix A", A), extent<0>(operand, B));
  if constexpr (is_matrix<S>::value) {
    return {operand, to_blas_int(name, B.template dim<1>()), B.numel()};
  } else {
    return {operand, 1, B.numel()};
  }
}

// Refuses NaN and Inf in the uplo triangle of the n x n matrix A, the only part that a
// Hermitian factorization reads or a solve with its factor: the other triangle may hold
// anything. The scan of the whole matrix is one vectorised pass; only when it finds something
// does the triangle itself decide.
template <class V>
void refuse_not_finite_triangle(const char* name, char uplo, const V* A, size_t n) {
  using Real = real_of<V>;
  const Real infinity = std::numeric_limits<Real>::infinity();
  if (!reach(A, n * n, Real(0), infinity).beyond) {
    return;
  }
  bool nan = false, inf = false;
  for (size_t j = 0; j < n; ++j) {
    const size_t first = uplo == 'U' ? 0 : j, last = uplo == 'U' ? j + 1 : n;
    for (size_t i = first; i < last; ++i) {
      for (const Real part : {std::real(A[i + j * n]), std::imag(A[i + j * n])}) {
        nan |= std::isnan(part);
        inf |= std::isinf(part);
      }
    }
  }
  // refuse_found words the refusal by what it finds: one element of each that the triangle has.
  const V found[2] = {nan ? V(std::numeric_limits<Real>::quiet_NaN()) : V(0),
                      inf ? V(infinity) : V(0)};
  refuse_found(name, "matrix A", found, 2, nan || inf);
}

// The magnitude of a complex element as sqrt(re^2 + im^2), which vectorises where std::abs
// (hypot) costs tens of instructions per element; exact for the real kinds.
template <class V>
real_of<V> quick_magnitude(V v) {
  if constexpr (std::is_floating_point<V>::value) {
    return std::abs(v);
  } else {
    return std::sqrt(std::real(v) * std::real(v) + std::imag(v) * std::imag(v));
  }
}

// Whether a norm of an order-n complex matrix summed from quick magnitudes is as accurate as one
// from std::abs: no square overflowed (the norm is finite), and the elements whose squares may
// have underflowed (below sqrt(min / eps)) are, n of them together, below eps of the norm.
template <class Real>
bool quick_norm_holds(Real norm, size_t n) {
  const Real eps = std::numeric_limits<Real>::epsilon();
  const Real tiny = std::sqrt(std::numeric_limits<Real>::min() / eps);
  return norm <= std::numeric_limits<Real>::max() && norm >= Real(n) * tiny / eps;
}

// The 1-norm (largest column sum of magnitudes) of the n x n matrix A, as ?lange computes it.
template <class V>
real_of<V> one_norm(const V* A, size_t n) {
  const auto largest_sum = [A, n](auto magnitude) {
    real_of<V> norm = 0;
    for (size_t j = 0; j < n; ++j) {
      real_of<V> sum = 0;
      for (size_t i = 0; i < n; ++i) {
        sum += magnitude(A[i + j * n]);
      }
      norm = std::max(norm, sum);
    }
    return norm;
  };
  const real_of<V> quick = largest_sum([](V v) { return quick_magnitude(v); });
  if (std::is_floating_point<V>::value || quick_norm_holds(quick, n)) {
    return quick;
  }
  return largest_sum([](V v) { return std::abs(v); });
}

// The 1-norm of the Hermitian (symmetric, for real kinds) n x n matrix whose uplo triangle A
// holds, as ?lanhe and ?lansy compute it: the diagonal's imaginary parts, which the
// factorization ignores, count for nothing. sums takes n reals.
template <class V>
real_of<V> hermitian_one_norm(char uplo, const V* A, size_t n, real_of<V>* sums) {
  using Real = real_of<V>;
  if (n == 0) {
    return 0;
  }
  const auto largest_sum = [=](auto magnitude) {
    std::fill(sums, sums + n, Real(0));
    for (size_t j = 0; j < n; ++j) {
      const size_t first = uplo == 'U' ? 0 : j + 1, last = uplo == 'U' ? j : n;
      Real column = std::abs(std::real(A[j + j * n]));
      for (size_t i = first; i < last; ++i) {
        const Real element = magnitude(A[i + j * n]);
        column += element;
        sums[i] += element;
      }
      sums[j] += column;
    }
    return *std::max_element(sums, sums + n);
  };
  const Real quick = largest_sum([](V v) { return quick_magnitude(v); });
  if (std::is_floating_point<V>::value || quick_norm_holds(quick, n)) {
    return quick;
  }
  return largest_sum([](V v) { return std::abs(v); });
}

// The workspace of a factorization and its condition estimate, in one allocation made before
// anything is written: work elements of the kind, as many ?gecon's or ?pocon's integers (real
// kinds) or reals (complex kinds), and n pivots for an LU factorization.
template <class V>
class ConditionWorkspace {
 public:
  using Real = real_of<V>;
  using Extra = trcon_extra<V>;

  // Per order: ?gecon takes 4 (real) or 2 (complex) elements of the kind and 1 or 2 extra,
  // ?pocon 3 or 2 and 1 extra.
  ConditionWorkspace(size_t n, bool pivots)
      : n_(n),
        work_(std::is_floating_point<V>::value ? (pivots ? 4 : 3) : 2),
        extra_(!std::is_floating_point<V>::value && pivots ? 2 : 1),
        space_(new V[n * (work_ + units<Extra>(extra_) + (pivots ? units<lapack_int>(1) : 0))]) {}

  V* work() const { return space_.get(); }
  // The extra workspace follows the work elements, the pivots follow the extra workspace; each
  // starts on an element of the kind, whose alignment serves integers and reals alike.
  Extra* extra() const { return reinterpret_cast<Extra*>(space_.get() + n_ * work_); }
  lapack_int* pivots() const {
    return reinterpret_cast<lapack_int*>(space_.get() + n_ * (work_ + units<Extra>(extra_)));
  }
  // n reals for a norm's column sums, before the estimate uses the work elements.
  Real* reals() const { return reinterpret_cast<Real*>(space_.get()); }

 private:
  // Elements of the kind that hold count * n values of type U.
  template <class U>
  static size_t units(size_t count) {
    return (count * sizeof(U) + sizeof(V) - 1) / sizeof(V);
  }

  size_t n_, work_, extra_;
  std::unique_ptr<V[]> space_;
};

// Upper bounds on ||T^-1||_1 and ||T^-1||_inf for the n x n triangular T (upper or lower; a
// unit diagonal, not stored, for unit), from its comparison matrix M: T's diagonal magnitudes,
// minus its other magnitudes (each bounded by |re| + |im|). M^-1 is nonnegative and bounds
// |T^-1| element by element, so its largest column sum, the largest element of the z solving
// M^T z = (1, ..., 1), bounds the 1-norm, and its largest row sum, of the y solving
// M y = (1, ..., 1), the inf-norm, computed only when rows is true (0 otherwise). work takes 2n
// reals. Infinite where the bound overflows or T
// holds Inf or NaN (a factorization that overflowed): it then settles nothing.
template <class Real>
struct InverseBounds {
  Real one, infinity;
};

template <class V>
InverseBounds<real_of<V>> inverse_bounds(bool upper, bool unit, bool rows, const V* T, size_t n,
                                         real_of<V>* work) {
  using Real = real_of<V>;
  Real *z = work, *y = work + n;
  Real one = 0, infinity = 0;
  bool finite = true;
  for (size_t step = 0; step < n; ++step) {
    // z runs down the columns of an upper T (forward) and up those of a lower one; y the other
    // way along the rows.
    const size_t i = upper ? step : n - 1 - step, k = upper ? n - 1 - step : step;
    const Real zPivot = unit ? Real(1) : std::abs(T[i + i * n]);
    Real zSum = 1, ySum = 1;
    for (size_t j = upper ? 0 : i + 1; j < (upper ? i : n); ++j) {
      zSum += magnitude_bound(T[j + i * n]) * z[j];
    }
    z[i] = zSum / zPivot;
    if (rows) {
      for (size_t j = upper ? k + 1 : 0; j < (upper ? n : k); ++j) {
        ySum += magnitude_bound(T[k + j * n]) * y[j];
      }
      y[k] = ySum / (unit ? Real(1) : std::abs(T[k + k * n]));
    } else {
      y[k] = 0;
    }
    finite &= std::isfinite(zPivot) && std::isfinite(z[i]) && std::isfinite(y[k]);
    one = std::max(one, z[i]);
    infinity = std::max(infinity, y[k]);
  }
  if (!finite) {
    return {std::numeric_limits<Real>::infinity(), std::numeric_limits<Real>::infinity()};
  }
  return {one, infinity};
}

// The largest order at which the bound is tried: beyond it ?gecon's and ?pocon's O(n^2) passes
// cost little beside the factorization, and on a large dense matrix the bound rarely settles.
constexpr size_t bounded_orders = 128;

// Whether a bound on the 1-norm condition number settles the condition test without ?gecon or
// ?pocon: their estimate of ||A^-1||_1 is the norm of A^-1 applied to vectors of unit 1-norm,
// never above ||A^-1||_1, so a bound below 1 / (2 eps) means an estimate above eps, with room
// for the estimate's rounding. Otherwise the routine decides.
template <class Real>
bool condition_settled(Real bound) {
  return 2 * std::numeric_limits<Real>::epsilon() * bound < 1;
}

// An exact zero pivot of an LU factorization: info from ?getrf, counting from 1.
inline void refuse_zero_pivot(const char* name, lapack_int info) {
  if (info > 0) {
    const std::string position = std::to_string(info);
    fail(name, "matrix A is singular: U(" + position + "," + position + ") is exactly zero");
  }
}

// A Hermitian matrix that is not positive definite: info from ?potrf, the order of the first
// leading minor that is not positive.
inline void refuse_not_definite(const char* name, lapack_int info) {
  if (info > 0) {
    fail(name, "matrix A is not positive definite: the leading minor of order " +
                   std::to_string(info) + " is not");
  }
}

// A condition estimate below the kind's machine epsilon: a solve would keep no correct digit.
// NaN, which ?gecon and ?pocon return for a factor that overflowed, refuses too.
template <class Real>
void refuse_ill_conditioned(const char* name, Real rcond) {
  if (rcond >= std::numeric_limits<Real>::epsilon()) {
    return;
  }
  char estimate[32];
  std::snprintf(estimate, sizeof estimate, "%.2g", static_cast<double>(rcond));
  fail(name,
       std::string("matrix A is singular to working precision: its reciprocal condition number "
                   "is estimated at ") +
           estimate + ", below machine epsilon");
}

}  // namespace detail
}  // namespace Algorithms
