#pragma once

#include <complex>
#include <cstddef>

#include "../Blas.hpp"
#include "Operations.hpp"
#include "checks.hpp"
#include "factor_checks.hpp"
#include "flags.hpp"
#include "potrf.hpp"
#include "potrs.hpp"
#include "solve_checks.hpp"
#include "trsv.hpp"
#include "unlocked.hpp"

namespace Algorithms {
namespace detail {
namespace routine {

// ?pocon through LAPACKE's interface without its allocation: posv allocates the workspace before
// touching anything. What it reports besides rcond, its estimate shows.
inline void pocon(char uplo, blas_int n, const float* A, blas_int lda, float norm, float& rcond,
                  float* work, lapack_int* extra) {
  VEXA_BLAS(LAPACKE_spocon_work)(LAPACK_COL_MAJOR, uplo, n, A, lda, norm, &rcond, work, extra);
}
inline void pocon(char uplo, blas_int n, const double* A, blas_int lda, double norm, double& rcond,
                  double* work, lapack_int* extra) {
  VEXA_BLAS(LAPACKE_dpocon_work)(LAPACK_COL_MAJOR, uplo, n, A, lda, norm, &rcond, work, extra);
}
inline void pocon(char uplo, blas_int n, const std::complex<float>* A, blas_int lda, float norm,
                  float& rcond, std::complex<float>* work, float* extra) {
  VEXA_BLAS(LAPACKE_cpocon_work)(LAPACK_COL_MAJOR, uplo, n, A, lda, norm, &rcond, work, extra);
}
inline void pocon(char uplo, blas_int n, const std::complex<double>* A, blas_int lda, double norm,
                  double& rcond, std::complex<double>* work, double* extra) {
  VEXA_BLAS(LAPACKE_zpocon_work)(LAPACK_COL_MAJOR, uplo, n, A, lda, norm, &rcond, work, extra);
}

}  // namespace routine
}  // namespace detail

// B = A^-1 B for the Hermitian (symmetric) positive definite matrix whose uplo triangle A holds:
// that triangle receives its Cholesky factor, as potrf writes it, B the solutions. The checks of
// factor_checks.hpp, in their order, with A's 1-norm read from the triangle before factoring: a
// matrix that is not positive definite, or singular to working precision, is refused after the
// factorization with B as it was. ?pocon runs only where a bound from the factor leaves the
// verdict open.
template <class T, class S>
S& Operations::posv(char uplo, const T& A, S& B) {
  using V = typename T::SampleType;
  detail::check_flag("posv", "uplo", uplo, "UL");
  const char* expression = "posv expression B = A^-1B";
  const blas_int n = detail::square_order("posv", expression, A);
  const detail::RightHandSides rhs = detail::right_hand_sides("posv", expression, A, B);
  detail::refuse_shared("posv", detail::run(rhs.operand, B.get(), rhs.elements),
                        detail::run("matrix A", A.get(), A.numel()));
  const size_t order = static_cast<size_t>(n);
  detail::refuse_not_finite_triangle("posv", uplo, A.get(), order);
  detail::refuse_not_finite("posv", rhs.operand, B.get(), rhs.elements);
  const detail::ConditionWorkspace<V> space(order, false);
  const real_of<V> norm = detail::hermitian_one_norm(uplo, A.get(), order, space.reals());
  const blas_int ld = detail::leading_dimension(n);
  detail::unlocked(Work::solve, double(n) * double(n) * (double(n) + double(rhs.count)), [&] {
    detail::refuse_not_definite("posv", detail::routine::potrf(uplo, n, A.get(), ld));
    // ||A^-1||_1 <= ||F^-1||_1 ||F^-1||_inf for A = F^H F or F F^H.
    const auto bound = [&] {
      const auto inverse =
          detail::inverse_bounds(uplo == 'U', false, true, A.get(), order, space.reals());
      return norm * inverse.one * inverse.infinity;
    };
    if (order > detail::bounded_orders || !detail::condition_settled(bound())) {
      real_of<V> rcond = 0;
      detail::routine::pocon(uplo, n, A.get(), ld, norm, rcond, space.work(), space.extra());
      detail::refuse_ill_conditioned("posv", rcond);
    }
    detail::routine::potrs(uplo, n, rhs.count, A.get(), ld, B.get(), ld);
  });
  return B;
}

}  // namespace Algorithms
