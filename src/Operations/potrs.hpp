#pragma once

#include <complex>
#include <cstddef>

#include "../Blas.hpp"
#include "Operations.hpp"
#include "checks.hpp"
#include "factor_checks.hpp"
#include "flags.hpp"
#include "solve_checks.hpp"
#include "trsv.hpp"
#include "unlocked.hpp"

namespace Algorithms {
namespace detail {
namespace routine {

// ?potrs through LAPACKE's interface without its NaN scan: the callers scan the factor's
// triangle and B themselves. The arguments are valid by construction; it has nothing to report.
inline void potrs(char uplo, blas_int n, blas_int nrhs, const float* A, blas_int lda, float* B,
                  blas_int ldb) {
  VEXA_BLAS(LAPACKE_spotrs_work)(LAPACK_COL_MAJOR, uplo, n, nrhs, A, lda, B, ldb);
}
inline void potrs(char uplo, blas_int n, blas_int nrhs, const double* A, blas_int lda, double* B,
                  blas_int ldb) {
  VEXA_BLAS(LAPACKE_dpotrs_work)(LAPACK_COL_MAJOR, uplo, n, nrhs, A, lda, B, ldb);
}
inline void potrs(char uplo, blas_int n, blas_int nrhs, const std::complex<float>* A, blas_int lda,
                  std::complex<float>* B, blas_int ldb) {
  VEXA_BLAS(LAPACKE_cpotrs_work)(LAPACK_COL_MAJOR, uplo, n, nrhs, A, lda, B, ldb);
}
inline void potrs(char uplo, blas_int n, blas_int nrhs, const std::complex<double>* A, blas_int lda,
                  std::complex<double>* B, blas_int ldb) {
  VEXA_BLAS(LAPACKE_zpotrs_work)(LAPACK_COL_MAJOR, uplo, n, nrhs, A, lda, B, ldb);
}

}  // namespace routine
}  // namespace detail

// B = A^-1 B with the Cholesky factor of A in A's uplo triangle, as potrf leaves it. NaN and Inf
// in that triangle or in B, and an exact zero on the factor's diagonal (a factor potrf never
// makes, which would fill B with infinities), are refused before B is touched.
template <class T, class S>
S& Operations::potrs(char uplo, const T& A, S& B) {
  detail::check_flag("potrs", "uplo", uplo, "UL");
  const char* expression = "potrs expression B = A^-1B";
  const blas_int n = detail::square_order("potrs", expression, A);
  const detail::RightHandSides rhs = detail::right_hand_sides("potrs", expression, A, B);
  detail::refuse_shared("potrs", detail::run(rhs.operand, B.get(), rhs.elements),
                        detail::run("matrix A", A.get(), A.numel()));
  detail::refuse_not_finite_triangle("potrs", uplo, A.get(), static_cast<size_t>(n));
  detail::refuse_not_finite("potrs", rhs.operand, B.get(), rhs.elements);
  detail::refuse_singular("potrs", 'N', A.get(), n);
  const blas_int ld = detail::leading_dimension(n);
  detail::unlocked(Work::solve, double(n) * double(n) * double(rhs.count),
                   [&] { detail::routine::potrs(uplo, n, rhs.count, A.get(), ld, B.get(), ld); });
  return B;
}

}  // namespace Algorithms
