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

// ?gels through LAPACKE's interface without its NaN scan or allocation: the
// solve scans A and b itself, and allocates the workspace before touching
// either. With lwork -1 the call only writes the workspace size it wants to
// work[0].
inline lapack_int gels(blas_int m, blas_int n, blas_int nrhs, float* A, blas_int lda, float* B,
                       blas_int ldb, float* work, blas_int lwork) {
  return VEXA_BLAS(LAPACKE_sgels_work)(LAPACK_COL_MAJOR, 'N', m, n, nrhs, A, lda, B, ldb, work,
                                       lwork);
}
inline lapack_int gels(blas_int m, blas_int n, blas_int nrhs, double* A, blas_int lda, double* B,
                       blas_int ldb, double* work, blas_int lwork) {
  return VEXA_BLAS(LAPACKE_dgels_work)(LAPACK_COL_MAJOR, 'N', m, n, nrhs, A, lda, B, ldb, work,
                                       lwork);
}
inline lapack_int gels(blas_int m, blas_int n, blas_int nrhs, std::complex<float>* A, blas_int lda,
                       std::complex<float>* B, blas_int ldb, std::complex<float>* work,
                       blas_int lwork) {
  return VEXA_BLAS(LAPACKE_cgels_work)(LAPACK_COL_MAJOR, 'N', m, n, nrhs, A, lda, B, ldb, work,
                                       lwork);
}
inline lapack_int gels(blas_int m, blas_int n, blas_int nrhs, std::complex<double>* A, blas_int lda,
                       std::complex<double>* B, blas_int ldb, std::complex<double>* work,
                       blas_int lwork) {
  return VEXA_BLAS(LAPACKE_zgels_work)(LAPACK_COL_MAJOR, 'N', m, n, nrhs, A, lda, B, ldb, work,
                                       lwork);
}

}  // namespace routine

// The solve by ?gels of ls and gels, after their checks of shapes and
// overlap: the m x n matrix A, and nrhs right-hand sides in the columns of
// B, each max(m, n) elements long (ldb apart), of which the first m are
// read. operand names B in the refusals. NaN or Inf in A or a right-hand
// side, and every allocation, fail before either is touched; a factor or a
// solution without meaning in working precision fails after the solve,
// with every right-hand side back in the caller's units.
template <class V>
void solve_least_squares(const char* name, const char* operand, blas_int m, blas_int n,
                         blas_int nrhs, V* A, V* B) {
  const size_t rows = static_cast<size_t>(std::max(m, n)), columns = static_cast<size_t>(nrhs);
  SolveChecks<V> checks(name, m, n, A);
  // Only b = B[0:m] is read; B[m:n] only receives the solution.
  for (size_t j = 0; j < columns; ++j) {
    refuse_not_finite(name, operand, B + j * rows, static_cast<size_t>(m));
  }
  if (nrhs == 0) {
    // Nothing to solve: ?gels would return without factoring A.
    return;
  }
  const blas_int lda = leading_dimension(m), ldb = leading_dimension(std::max(m, n));
  V wanted = 0;
  routine::gels(m, n, nrhs, A, lda, B, ldb, &wanted, -1);
  const size_t k = static_cast<size_t>(std::min(m, n));
  // ?gels needs at least k + max(k, nrhs) elements, ?trcon 3k; the checks' copy
  // of the factor and its line scales (k * k + k) follow them.
  const size_t lwork =
      std::max({static_cast<size_t>(std::real(wanted)), k + std::max(k, columns), 3 * k});
  // Left uninitialised: the routines write before they read.
  const std::unique_ptr<V[]> scratch(new V[lwork + SolveChecks<V>::space_size(k)]);
  const std::unique_ptr<trcon_extra<V>[]> extra(new trcon_extra<V>[k]);
  // The power of two each right-hand side is kept in range by: one on the
  // stack for a single one.
  int single = 0;
  const std::unique_ptr<int[]> several(nrhs > 1 ? new int[columns] : nullptr);
  int* const exponents = nrhs > 1 ? several.get() : &single;
  V* const work = scratch.get();
  const blas_int workSize = to_blas_int(name, lwork);
  // The solve and the tests of its results touch no caller's object; a
  // refusal leaves after the lock is retaken, with B back in the caller's
  // units. Each further right-hand side adds about m * n to the work.
  const double amount = double(m) * double(n) * (double(k) + double(nrhs - 1));
  unlocked(Work::solve, amount, [&] {
    const RangeKept<V> kept(B, rows, columns, static_cast<size_t>(m), rows, exponents);
    refuse_solver_status(name, routine::gels(m, n, nrhs, A, lda, B, ldb, work, workSize));
    checks.factor(A, lda, work + lwork, work, extra.get());
    for (size_t j = 0; j < columns; ++j) {
      checks.solution(B + j * rows);
    }
  });
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
  detail::refuse_shared("ls", detail::run("vector x", x.get(), rows),
                        detail::run("matrix A", A.get(), A.numel()));
  detail::solve_least_squares("ls", "vector x", m, n, 1, A.get(), x.get());
}

}  // namespace Algorithms
