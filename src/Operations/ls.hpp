#pragma once

#include <algorithm>
#include <complex>
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
  const lapack_int info = detail::routine::gels(m, n, A.get(), detail::leading_dimension(m),
                                                x.get(), detail::leading_dimension(std::max(m, n)));
  if (info == LAPACK_WORK_MEMORY_ERROR || info == LAPACK_TRANSPOSE_MEMORY_ERROR) {
    throw std::bad_alloc();
  }
  if (info > 0) {
    throw std::runtime_error("In ls, matrix A does not have full rank: diagonal element " +
                             std::to_string(info) +
                             " of its triangular factor is zero; A and x now hold the solver's "
                             "partial results");
  }
  if (info < 0) {
    throw std::runtime_error("In ls, the solver rejected its argument " + std::to_string(-info));
  }
}

}  // namespace Algorithms
