#pragma once

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstddef>
#include <limits>
#include <memory>
#include <string>
#include <type_traits>

#include "../Blas.hpp"
#include "Operations.hpp"
#include "checks.hpp"
#include "errors.hpp"
#include "unlocked.hpp"

namespace Algorithms {
namespace detail {
namespace routine {

// ?gels through LAPACKE's interface without its NaN scan or allocation: ls
// scans A and b itself, and allocates the workspace before touching either.
// With lwork -1 the call only writes the workspace size it wants to work[0].
inline lapack_int gels(blas_int m, blas_int n, float* A, blas_int lda, float* b, blas_int ldb,
                       float* work, blas_int lwork) {
  return VEXA_BLAS(LAPACKE_sgels_work)(LAPACK_COL_MAJOR, 'N', m, n, 1, A, lda, b, ldb, work, lwork);
}
inline lapack_int gels(blas_int m, blas_int n, double* A, blas_int lda, double* b, blas_int ldb,
                       double* work, blas_int lwork) {
  return VEXA_BLAS(LAPACKE_dgels_work)(LAPACK_COL_MAJOR, 'N', m, n, 1, A, lda, b, ldb, work, lwork);
}
inline lapack_int gels(blas_int m, blas_int n, std::complex<float>* A, blas_int lda,
                       std::complex<float>* b, blas_int ldb, std::complex<float>* work,
                       blas_int lwork) {
  return VEXA_BLAS(LAPACKE_cgels_work)(LAPACK_COL_MAJOR, 'N', m, n, 1, A, lda, b, ldb, work, lwork);
}
inline lapack_int gels(blas_int m, blas_int n, std::complex<double>* A, blas_int lda,
                       std::complex<double>* b, blas_int ldb, std::complex<double>* work,
                       blas_int lwork) {
  return VEXA_BLAS(LAPACKE_zgels_work)(LAPACK_COL_MAJOR, 'N', m, n, 1, A, lda, b, ldb, work, lwork);
}

// Estimate of the reciprocal 1-norm condition number of the upper ('U') or
// lower ('L') triangular n x n matrix at A. work holds 3n elements; extra
// holds n integers for the real kinds, n reals for the complex ones.
inline lapack_int trcon(char uplo, blas_int n, const float* A, blas_int lda, float& rcond,
                        float* work, lapack_int* extra) {
  return VEXA_BLAS(LAPACKE_strcon_work)(LAPACK_COL_MAJOR, '1', uplo, 'N', n, A, lda, &rcond, work,
                                        extra);
}
inline lapack_int trcon(char uplo, blas_int n, const double* A, blas_int lda, double& rcond,
                        double* work, lapack_int* extra) {
  return VEXA_BLAS(LAPACKE_dtrcon_work)(LAPACK_COL_MAJOR, '1', uplo, 'N', n, A, lda, &rcond, work,
                                        extra);
}
inline lapack_int trcon(char uplo, blas_int n, const std::complex<float>* A, blas_int lda,
                        float& rcond, std::complex<float>* work, float* extra) {
  return VEXA_BLAS(LAPACKE_ctrcon_work)(LAPACK_COL_MAJOR, '1', uplo, 'N', n, A, lda, &rcond, work,
                                        extra);
}
inline lapack_int trcon(char uplo, blas_int n, const std::complex<double>* A, blas_int lda,
                        double& rcond, std::complex<double>* work, double* extra) {
  return VEXA_BLAS(LAPACKE_ztrcon_work)(LAPACK_COL_MAJOR, '1', uplo, 'N', n, A, lda, &rcond, work,
                                        extra);
}

}  // namespace routine

// The integer or real workspace of ?trcon, by kind.
template <class V>
using trcon_extra = std::conditional_t<std::is_floating_point<V>::value, lapack_int, real_of<V>>;

template <class V>
bool contains_nan(const V* p, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    if (std::isnan(std::real(p[i])) || std::isnan(std::imag(p[i]))) {
      return true;
    }
  }
  return false;
}

// Euclidean norm of count elements step apart. When the plain sum of
// squares overflows, or underflows far enough to lose digits, the parts are
// divided by the largest of them first. NaN if a part is NaN, infinity if
// one is infinite.
template <class V>
real_of<V> line_norm(const V* p, size_t count, size_t step) {
  using Real = real_of<V>;
  Real sum = 0;
  for (size_t j = 0; j < count; ++j) {
    const Real re = std::real(p[j * step]), im = std::imag(p[j * step]);
    sum += re * re + im * im;
  }
  const Real eps = std::numeric_limits<Real>::epsilon();
  if (sum >= std::numeric_limits<Real>::min() / eps && sum <= std::numeric_limits<Real>::max()) {
    return std::sqrt(sum);
  }
  Real largest = 0;
  for (size_t j = 0; j < count; ++j) {
    largest =
        std::max({largest, std::abs(std::real(p[j * step])), std::abs(std::imag(p[j * step]))});
  }
  if (largest == 0 || std::isinf(largest)) {
    return largest;
  }
  sum = 0;
  for (size_t j = 0; j < count; ++j) {
    const Real re = std::real(p[j * step]) / largest, im = std::imag(p[j * step]) / largest;
    sum += re * re + im * im;
  }
  return largest * std::sqrt(sum);
}

// 2 to the power of minus the exponent of the power of two nearest x,
// kept a normal number.
template <class Real>
Real nearest_power_of_two_inverse(Real x) {
  int exponent = 0;
  if (std::frexp(x, &exponent) < std::sqrt(Real(0.5))) {
    --exponent;
  }
  constexpr int low = 1 - std::numeric_limits<Real>::max_exponent;
  constexpr int high = 1 - std::numeric_limits<Real>::min_exponent;
  return std::ldexp(Real(1), -std::min(std::max(exponent, low), high));
}

// |re| + |im|: at least the magnitude, at most sqrt(2) times it.
template <class V>
real_of<V> magnitude_bound(V v) {
  return std::abs(std::real(v)) + std::abs(std::imag(v));
}

// An upper bound on the 1-norm condition number of the upper or lower
// triangular k x k matrix T (column-major, leading dimension k): ||T||_1
// times ||M^-1||_1, where M has T's diagonal magnitudes and minus its
// other magnitudes. M^-1 is nonnegative and bounds |T^-1| element by
// element; its largest column sum is the largest element of the z solving
// M^T z = (1, ..., 1), which column i of T gives as a sum of positive terms.
// z takes k reals.
template <class V>
real_of<V> condition_bound(bool upper, size_t k, const V* T, real_of<V>* z) {
  using Real = real_of<V>;
  Real norm = 0, largest = 0;
  for (size_t step = 0; step < k; ++step) {
    const size_t i = upper ? step : k - 1 - step;
    const V* column = T + i * k;
    const Real pivot = std::abs(column[i]);
    Real sum = 1, columnSum = pivot;
    for (size_t j = upper ? 0 : i + 1; j < (upper ? i : k); ++j) {
      sum += magnitude_bound(column[j]) * z[j];
      columnSum += magnitude_bound(column[j]);
    }
    z[i] = sum / pivot;
    norm = std::max(norm, columnSum);
    largest = std::max(largest, z[i]);
  }
  return norm * largest;
}

// Refuses the triangular factor that ?gels leaves in A (R in the first n
// rows when m >= n, L in the first m columns when m < n) when the solution
// means nothing in working precision. Line i of the factor, column i of R
// or row i of L, has the norm of column i or row i of A, so both tests are
// unchanged when the caller rescales a column (a row) of A:
// - a diagonal element of magnitude at most max(m, n) * eps times its
//   line's norm makes A rank deficient to working precision;
// - otherwise the factor with each line divided by the power of two nearest
//   its norm (in the copy at factor, k x k) must have a reciprocal condition
//   number of at least eps by ?trcon's estimate, which catches what the
//   diagonal cannot show (the Kahan matrix). A cheap upper bound on the
//   condition number below 1/sqrt(eps) settles this without ?trcon, whose
//   estimate never exceeds the condition number.
// work (3k elements) and extra are ?trcon's workspace. A stays as ?gels
// left it.
template <class V>
void refuse_ill_determined(blas_int m, blas_int n, const V* A, blas_int lda, V* factor, V* work,
                           trcon_extra<V>* extra) {
  using Real = real_of<V>;
  const bool upper = m >= n;
  const size_t k = static_cast<size_t>(std::min(m, n));
  const size_t ld = static_cast<size_t>(lda);
  // Line i starts at A + i * next and runs i + 1 elements step apart to the
  // diagonal; in the copy likewise with k for lda.
  const size_t next = upper ? ld : 1, step = upper ? 1 : ld;
  const size_t copyNext = upper ? k : 1, copyStep = upper ? 1 : k;
  const Real eps = std::numeric_limits<Real>::epsilon();
  const Real limit = Real(std::max(m, n)) * eps;
  for (size_t i = 0; i < k; ++i) {
    const V* line = A + i * next;
    const Real norm = line_norm(line, i + 1, step);
    if (!(std::abs(line[i * step]) > limit * norm)) {
      fail("ls",
           "matrix A does not have full rank to working precision: diagonal element " +
               std::to_string(i + 1) +
               " of its triangular factor is negligible; A and x now hold the solver's partial "
               "results");
    }
    const Real scale = nearest_power_of_two_inverse(norm);
    V* copy = factor + i * copyNext;
    for (size_t j = 0; j <= i; ++j) {
      copy[j * copyStep] = line[j * step] * scale;
    }
  }
  // A complex array is an array of twice as many reals.
  const Real bound = condition_bound(upper, k, factor, reinterpret_cast<Real*>(work));
  if (bound * bound * eps <= 1) {
    return;
  }
  Real rcond = 0;  // stays 0, and refuses, if ?trcon fails
  routine::trcon(upper ? 'U' : 'L', static_cast<blas_int>(k), factor,
                 leading_dimension(static_cast<blas_int>(k)), rcond, work, extra);
  if (!(rcond >= eps)) {
    fail("ls",
         "matrix A is singular to working precision: its column-scaled triangular factor "
         "has a reciprocal condition number below machine epsilon; A and x now hold the solver's "
         "partial results");
  }
}

}  // namespace detail

// Least squares (m >= n) or minimum norm (m < n) solution of Ax = b in
// place: x holds b on entry and the solution on return, A its QR or LQ
// factorization. NaN in A or b, and every allocation, fail before either is
// touched; a factor without meaningful solution fails after the solve.
template <class T, class S>
void Operations::ls(const T& A, S& x) {
  using V = typename T::SampleType;
  const size_t rows = std::max(A.template dim<0>(), A.template dim<1>());
  detail::require_elements("ls", "x", x.numel(), rows);
  const blas_int m = detail::to_blas_int("ls", A.template dim<0>());
  const blas_int n = detail::to_blas_int("ls", A.template dim<1>());
  detail::refuse_shared("ls", detail::run("vector x", x.get(), rows),
                        detail::run("matrix A", A.get(), A.numel()));
  // Only b = x[0:m] is read; x[m:n] only receives the solution.
  if (detail::contains_nan(A.get(), A.numel())) {
    detail::fail("ls", "matrix A contains NaN");
  }
  if (detail::contains_nan(x.get(), static_cast<size_t>(m))) {
    detail::fail("ls", "vector x contains NaN");
  }
  const blas_int lda = detail::leading_dimension(m);
  const blas_int ldb = detail::leading_dimension(std::max(m, n));
  // A rejected argument leaves the size at 0; the solve below rejects it
  // again, before any work.
  V wanted = 0;
  detail::routine::gels(m, n, A.get(), lda, x.get(), ldb, &wanted, -1);
  const size_t k = static_cast<size_t>(std::min(m, n));
  // ?gels needs at least k + max(k, 1) elements, ?trcon 3k; the scaled
  // factor follows them.
  const size_t lwork =
      std::max({static_cast<size_t>(std::real(wanted)), k + std::max<size_t>(k, 1), 3 * k});
  // Left uninitialised: the routines write before they read.
  const std::unique_ptr<V[]> scratch(new V[lwork + k * k]);
  const std::unique_ptr<detail::trcon_extra<V>[]> extra(new detail::trcon_extra<V>[k]);
  V* const work = scratch.get();
  const blas_int workSize = detail::to_blas_int("ls", lwork);
  // The solve and the tests of its factor touch no caller's object; a refusal leaves after the
  // lock is retaken.
  detail::unlocked(Work::solve, double(m) * double(n) * double(std::min(m, n)), [&] {
    const lapack_int info = detail::routine::gels(m, n, A.get(), lda, x.get(), ldb, work, workSize);
    if (info < 0) {
      detail::fail("ls", "the solver rejected its argument " + std::to_string(-info));
    }
    if (info > 0) {
      detail::fail("ls", "matrix A does not have full rank: diagonal element " +
                             std::to_string(info) +
                             " of its triangular factor is zero; A and x now hold the solver's "
                             "partial results");
    }
    detail::refuse_ill_determined(m, n, A.get(), lda, work + lwork, work, extra.get());
  });
}

}  // namespace Algorithms
