#pragma once

#include <complex>
#include <cstddef>

#include "../Blas.hpp"
#include "Operations.hpp"
#include "checks.hpp"
#include "factor_checks.hpp"
#include "flags.hpp"
#include "trsv.hpp"
#include "unlocked.hpp"

namespace Algorithms {
namespace detail {
namespace routine {

// ?potrf through LAPACKE's interface without its NaN scan: the callers scan the triangle it
// reads themselves. Its status is the order of the first leading minor that is not positive.
inline lapack_int potrf(char uplo, blas_int n, float* A, blas_int lda) {
  return VEXA_BLAS(LAPACKE_spotrf_work)(LAPACK_COL_MAJOR, uplo, n, A, lda);
}
inline lapack_int potrf(char uplo, blas_int n, double* A, blas_int lda) {
  return VEXA_BLAS(LAPACKE_dpotrf_work)(LAPACK_COL_MAJOR, uplo, n, A, lda);
}
inline lapack_int potrf(char uplo, blas_int n, std::complex<float>* A, blas_int lda) {
  return VEXA_BLAS(LAPACKE_cpotrf_work)(LAPACK_COL_MAJOR, uplo, n, A, lda);
}
inline lapack_int potrf(char uplo, blas_int n, std::complex<double>* A, blas_int lda) {
  return VEXA_BLAS(LAPACKE_zpotrf_work)(LAPACK_COL_MAJOR, uplo, n, A, lda);
}

}  // namespace routine
}  // namespace detail

// The Cholesky factor of the Hermitian (symmetric) positive definite matrix whose uplo triangle A
// holds, in that triangle: U^H U = A for 'U', L L^H = A for 'L'; the other triangle is neither
// read nor written. NaN and Inf in the triangle are refused before anything is written: the
// factorization would spread them and report success. A matrix that is not positive definite is
// refused with A as ?potrf left it: the factor's first columns, the rest partly updated.
template <class T>
T& Operations::potrf(char uplo, T& A) {
  detail::check_flag("potrf", "uplo", uplo, "UL");
  const blas_int n = detail::square_order("potrf", "potrf", A);
  detail::refuse_not_finite_triangle("potrf", uplo, A.get(), static_cast<size_t>(n));
  detail::unlocked(Work::solve, double(n) * double(n) * double(n), [&] {
    detail::refuse_not_definite(
        "potrf", detail::routine::potrf(uplo, n, A.get(), detail::leading_dimension(n)));
  });
  return A;
}

}  // namespace Algorithms
