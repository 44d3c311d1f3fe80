#pragma once

#include <complex>
#include <cstddef>

#include "../Blas.hpp"
#include "Operations.hpp"
#include "checks.hpp"
#include "factor_checks.hpp"
#include "solve_checks.hpp"
#include "trsv.hpp"
#include "unlocked.hpp"

namespace Algorithms {
namespace detail {
namespace routine {

// ?getrf, ?gecon and ?getrs through LAPACKE's interface without its NaN scan or allocation:
// gesv scans A and B itself and allocates the workspace before touching either. The arguments
// are valid by construction: ?getrs has nothing to report, and what ?gecon reports besides,
// its estimate shows.
inline lapack_int getrf(blas_int n, float* A, blas_int lda, lapack_int* pivots) {
  return VEXA_BLAS(LAPACKE_sgetrf_work)(LAPACK_COL_MAJOR, n, n, A, lda, pivots);
}
inline lapack_int getrf(blas_int n, double* A, blas_int lda, lapack_int* pivots) {
  return VEXA_BLAS(LAPACKE_dgetrf_work)(LAPACK_COL_MAJOR, n, n, A, lda, pivots);
}
inline lapack_int getrf(blas_int n, std::complex<float>* A, blas_int lda, lapack_int* pivots) {
  return VEXA_BLAS(LAPACKE_cgetrf_work)(LAPACK_COL_MAJOR, n, n, A, lda, pivots);
}
inline lapack_int getrf(blas_int n, std::complex<double>* A, blas_int lda, lapack_int* pivots) {
  return VEXA_BLAS(LAPACKE_zgetrf_work)(LAPACK_COL_MAJOR, n, n, A, lda, pivots);
}

inline void gecon(blas_int n, const float* A, blas_int lda, float norm, float& rcond, float* work,
                  lapack_int* extra) {
  VEXA_BLAS(LAPACKE_sgecon_work)(LAPACK_COL_MAJOR, '1', n, A, lda, norm, &rcond, work, extra);
}
inline void gecon(blas_int n, const double* A, blas_int lda, double norm, double& rcond,
                  double* work, lapack_int* extra) {
  VEXA_BLAS(LAPACKE_dgecon_work)(LAPACK_COL_MAJOR, '1', n, A, lda, norm, &rcond, work, extra);
}
inline void gecon(blas_int n, const std::complex<float>* A, blas_int lda, float norm, float& rcond,
                  std::complex<float>* work, float* extra) {
  VEXA_BLAS(LAPACKE_cgecon_work)(LAPACK_COL_MAJOR, '1', n, A, lda, norm, &rcond, work, extra);
}
inline void gecon(blas_int n, const std::complex<double>* A, blas_int lda, double norm,
                  double& rcond, std::complex<double>* work, double* extra) {
  VEXA_BLAS(LAPACKE_zgecon_work)(LAPACK_COL_MAJOR, '1', n, A, lda, norm, &rcond, work, extra);
}

inline void getrs(blas_int n, blas_int nrhs, const float* A, blas_int lda, const lapack_int* pivots,
                  float* B, blas_int ldb) {
  VEXA_BLAS(LAPACKE_sgetrs_work)(LAPACK_COL_MAJOR, 'N', n, nrhs, A, lda, pivots, B, ldb);
}
inline void getrs(blas_int n, blas_int nrhs, const double* A, blas_int lda,
                  const lapack_int* pivots, double* B, blas_int ldb) {
  VEXA_BLAS(LAPACKE_dgetrs_work)(LAPACK_COL_MAJOR, 'N', n, nrhs, A, lda, pivots, B, ldb);
}
inline void getrs(blas_int n, blas_int nrhs, const std::complex<float>* A, blas_int lda,
                  const lapack_int* pivots, std::complex<float>* B, blas_int ldb) {
  VEXA_BLAS(LAPACKE_cgetrs_work)(LAPACK_COL_MAJOR, 'N', n, nrhs, A, lda, pivots, B, ldb);
}
inline void getrs(blas_int n, blas_int nrhs, const std::complex<double>* A, blas_int lda,
                  const lapack_int* pivots, std::complex<double>* B, blas_int ldb) {
  VEXA_BLAS(LAPACKE_zgetrs_work)(LAPACK_COL_MAJOR, 'N', n, nrhs, A, lda, pivots, B, ldb);
}

}  // namespace routine
}  // namespace detail

// B = A^-1 B by LU factorization with partial pivoting: A receives its factors L and U (L's unit
// diagonal not stored), B the solutions. The checks of factor_checks.hpp, in their order: a
// singular A, exactly or to working precision, is refused after the factorization with B as it
// was. ?gecon, which costs more than the factorization and the solve together up to n = 8, runs
// only where a bound from the factors leaves the verdict open.
template <class T, class S>
S& Operations::gesv(const T& A, S& B) {
  using V = typename T::SampleType;
  const char* expression = "gesv expression B = A^-1B";
  const blas_int n = detail::square_order("gesv", expression, A);
  const detail::RightHandSides rhs = detail::right_hand_sides("gesv", expression, A, B);
  detail::refuse_shared("gesv", detail::run(rhs.operand, B.get(), rhs.elements),
                        detail::run("matrix A", A.get(), A.numel()));
  detail::refuse_not_finite("gesv", "matrix A", A.get(), A.numel());
  detail::refuse_not_finite("gesv", rhs.operand, B.get(), rhs.elements);
  const size_t order = static_cast<size_t>(n);
  const detail::ConditionWorkspace<V> space(order, true);
  const real_of<V> norm = detail::one_norm(A.get(), order);
  const blas_int ld = detail::leading_dimension(n);
  detail::unlocked(Work::solve, double(n) * double(n) * (double(n) + double(rhs.count)), [&] {
    detail::refuse_zero_pivot("gesv", detail::routine::getrf(n, A.get(), ld, space.pivots()));
    // ||A^-1||_1 <= ||U^-1||_1 ||L^-1||_1, the row exchanges changing no norm.
    const auto bound = [&] {
      return norm * detail::inverse_bounds(true, false, false, A.get(), order, space.reals()).one *
             detail::inverse_bounds(false, true, false, A.get(), order, space.reals()).one;
    };
    if (order > detail::bounded_orders || !detail::condition_settled(bound())) {
      real_of<V> rcond = 0;
      detail::routine::gecon(n, A.get(), ld, norm, rcond, space.work(), space.extra());
      detail::refuse_ill_conditioned("gesv", rcond);
    }
    detail::routine::getrs(n, rhs.count, A.get(), ld, space.pivots(), B.get(), ld);
  });
  return B;
}

}  // namespace Algorithms
