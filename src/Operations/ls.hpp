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
#include "solve_checks.hpp"
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

}  // namespace routine

}  // namespace detail

// Least squares (m >= n) or minimum norm (m < n) solution of Ax = b in
// place: x holds b on entry and the solution on return, A its QR or LQ
// factorization. NaN or Inf in A or b, and every allocation, fail before
// either is touched; a factor or solution without meaning in working
// precision fails after the solve.
template <class T, class S>
void Operations::ls(const T& A, S& x) {
  using V = typename T::SampleType;
  const size_t rows = std::max(A.template dim<0>(), A.template dim<1>());
  detail::require_elements("ls", "x", x.numel(), rows);
  const blas_int m = detail::to_blas_int("ls", A.template dim<0>());
  const blas_int n = detail::to_blas_int("ls", A.template dim<1>());
  detail::refuse_shared("ls", detail::run("vector x", x.get(), rows),
                        detail::run("matrix A", A.get(), A.numel()));
  detail::SolveChecks<V> checks("ls", m, n, A.get());
  // Only b = x[0:m] is read; x[m:n] only receives the solution.
  detail::refuse_not_finite("ls", "vector x", x.get(), static_cast<size_t>(m));
  const blas_int lda = detail::leading_dimension(m);
  const blas_int ldb = detail::leading_dimension(std::max(m, n));
  // A rejected argument leaves the size at 0; the solve below rejects it
  // again, before any work.
  V wanted = 0;
  detail::routine::gels(m, n, A.get(), lda, x.get(), ldb, &wanted, -1);
  const size_t k = static_cast<size_t>(std::min(m, n));
  // ?gels needs at least k + max(k, 1) elements, ?trcon 3k; the checks' copy
  // of the factor and its line scales (k * k + k) follow them.
  const size_t lwork =
      std::max({static_cast<size_t>(std::real(wanted)), k + std::max<size_t>(k, 1), 3 * k});
  // Left uninitialised: the routines write before they read.
  const std::unique_ptr<V[]> scratch(new V[lwork + detail::SolveChecks<V>::space_size(k)]);
  const std::unique_ptr<detail::trcon_extra<V>[]> extra(new detail::trcon_extra<V>[k]);
  V* const work = scratch.get();
  const blas_int workSize = detail::to_blas_int("ls", lwork);
  // The solve and the tests of its results touch no caller's object; a refusal leaves after the
  // lock is retaken, with x back in the caller's units.
  detail::unlocked(Work::solve, double(m) * double(n) * double(std::min(m, n)), [&] {
    int exponent = 0;
    const detail::RangeKept<V> kept(x.get(), rows, 1, static_cast<size_t>(m), rows, &exponent);
    detail::refuse_solver_status(
        "ls", detail::routine::gels(m, n, A.get(), lda, x.get(), ldb, work, workSize));
    checks.factor(A.get(), lda, work + lwork, work, extra.get());
    checks.solution(x.get());
  });
}

}  // namespace Algorithms
