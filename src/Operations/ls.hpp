#pragma once

#include <algorithm>
#include <complex>
#include <cstddef>
#include <limits>
#include <new>
#include <stdexcept>
#include <string>

#include "../Blas.hpp"
#include "Operations.hpp"
#include "checks.hpp"

namespace Algorithms {
namespace detail {
namespace routine {

inline lapack_int gels(blas_int m, blas_int n, float* A, blas_int lda, float* b, blas_int ldb) {
  return LAPACKE_sgels(LAPACK_COL_MAJOR, 'N', m, n, 1, A, lda, b, ldb);
}
inline lapack_int gels(blas_int m, blas_int n, double* A, blas_int lda, double* b, blas_int ldb) {
  return LAPACKE_dgels(LAPACK_COL_MAJOR, 'N', m, n, 1, A, lda, b, ldb);
}
inline lapack_int gels(blas_int m, blas_int n, std::complex<float>* A, blas_int lda,
                       std::complex<float>* b, blas_int ldb) {
  return LAPACKE_cgels(LAPACK_COL_MAJOR, 'N', m, n, 1, A, lda, b, ldb);
}
inline lapack_int gels(blas_int m, blas_int n, std::complex<double>* A, blas_int lda,
                       std::complex<double>* b, blas_int ldb) {
  return LAPACKE_zgels(LAPACK_COL_MAJOR, 'N', m, n, 1, A, lda, b, ldb);
}

}  // namespace routine

// The standard numerical-rank test on the triangular factor that ?gels
// leaves in A: the first of its min(m, n) diagonal elements (counted from 1)
// of magnitude at most max(m, n) * eps times the largest of them, or 0 if
// none is. An all-zero A, on which ?gels returns without factorizing,
// fails it at element 1.
template <class V>
size_t negligible_diagonal(blas_int m, blas_int n, const V* A, blas_int lda) {
  using Real = decltype(std::abs(V()));
  const size_t diagonal = static_cast<size_t>(std::min(m, n));
  const size_t step = static_cast<size_t>(lda) + 1;
  Real largest = 0;
  for (size_t i = 0; i < diagonal; ++i) {
    largest = std::max(largest, std::abs(A[i * step]));
  }
  const Real limit = Real(std::max(m, n)) * std::numeric_limits<Real>::epsilon() * largest;
  for (size_t i = 0; i < diagonal; ++i) {
    if (std::abs(A[i * step]) <= limit) {
      return i + 1;
    }
  }
  return 0;
}

}  // namespace detail

// Least squares (m >= n) or minimum norm (m < n) solution of Ax = b in
// place: x holds b on entry and the solution on return, A its QR or LQ
// factorization.
template <class T, class S>
void Operations::ls(const T& A, S& x) {
  const size_t rows = std::max(A.template dim<0>(), A.template dim<1>());
  detail::require_elements("ls", "x", x.numel(), rows);
  const blas_int m = detail::to_blas_int("ls", A.template dim<0>());
  const blas_int n = detail::to_blas_int("ls", A.template dim<1>());
  detail::refuse_shared("ls", "vector x", x.get(), rows, "matrix A", A.get(), A.numel());
  const blas_int lda = detail::leading_dimension(m);
  const lapack_int info =
      detail::routine::gels(m, n, A.get(), lda, x.get(), detail::leading_dimension(std::max(m, n)));
  if (info == LAPACK_WORK_MEMORY_ERROR || info == LAPACK_TRANSPOSE_MEMORY_ERROR) {
    throw std::bad_alloc();
  }
  if (info > 0) {
    throw std::runtime_error("In ls, matrix A does not have full rank: diagonal element " +
                             std::to_string(info) +
                             " of its triangular factor is zero; A and x now hold the solver's "
                             "partial results");
  }
  // LAPACKE checks A and b for NaN before any work and reports them as its
  // arguments 6 and 8.
  if (info == -6) {
    throw std::runtime_error("In ls, matrix A contains NaN");
  }
  if (info == -8) {
    throw std::runtime_error("In ls, vector x contains NaN");
  }
  if (info < 0) {
    throw std::runtime_error("In ls, the solver rejected its argument " + std::to_string(-info));
  }
  if (const size_t negligible = detail::negligible_diagonal(m, n, A.get(), lda)) {
    throw std::runtime_error(
        "In ls, matrix A does not have full rank to working precision: diagonal element " +
        std::to_string(negligible) +
        " of its triangular factor is negligible; A and x now hold the solver's partial results");
  }
}

}  // namespace Algorithms
