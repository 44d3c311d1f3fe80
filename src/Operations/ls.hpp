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

// Up to this order k = min(m, n), ?gels factors and applies its reflectors
// unblocked whatever workspace it gets: ?geqrf, ?gelqf, ?ormqr and ?ormlq
// block only a k beyond their block size, 32 in vexa's OpenBLAS. The
// minimum workspace that LAPACK documents for ?gels, k + max(k, nrhs) for nrhs
// right-hand sides, then serves exactly as well as the size that a query
// would ask for, and the solve skips the query. benchmarks/gels_workspace.py finds
// the same bits either way and, up to this order, the solve without the
// query faster; from order 48 on the two take about as long, and from 128
// on the blocked algorithms make the larger workspace up to twice as fast.
constexpr size_t gelsUnblockedOrder = 32;

// Scratch of count elements of V and extras of E, secured on construction
// and left uninitialised (the routines write before they read): inside the
// object up to a bound, so that a small solve does not allocate, and on the
// heap beyond it, where the call's own work dwarfs an allocation's.
template <class V, class E>
class Scratch {
 public:
  static constexpr size_t localBytes = 4096;

  Scratch(size_t count, size_t extras) {
    static_assert(alignof(E) <= alignof(V), "the extras follow the elements");
    if (count <= localBytes / sizeof(V) && extras <= (localBytes - count * sizeof(V)) / sizeof(E)) {
      m_elements = reinterpret_cast<V*>(m_local);
      m_extras = reinterpret_cast<E*>(m_local + count * sizeof(V));
    } else {
      m_heapElements.reset(new V[count]);
      m_heapExtras.reset(new E[extras]);
      m_elements = m_heapElements.get();
      m_extras = m_heapExtras.get();
    }
  }
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;

  V* elements() const { return m_elements; }
  E* extras() const { return m_extras; }

 private:
  alignas(V) unsigned char m_local[localBytes];
  std::unique_ptr<V[]> m_heapElements;
  std::unique_ptr<E[]> m_heapExtras;
  V* m_elements = nullptr;
  E* m_extras = nullptr;
};

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
  const size_t k = static_cast<size_t>(std::min(m, n));
  // A larger problem asks ?gels for the workspace it wants. A rejected
  // argument leaves that size at 0; the solve below rejects it again, before
  // any work.
  V wanted = 0;
  if (k > gelsUnblockedOrder) {
    routine::gels(m, n, nrhs, A, lda, B, ldb, &wanted, -1);
  }
  // ?gels needs at least k + max(k, nrhs) elements, ?trcon 3k; the checks' copy
  // of the factor and its line scales (k * k + k) follow them.
  const size_t lwork =
      std::max({static_cast<size_t>(std::real(wanted)), k + std::max(k, columns), 3 * k});
  const Scratch<V, trcon_extra<V>> scratch(lwork + SolveChecks<V>::space_size(k), k);
  // The power of two each right-hand side is kept in range by: one on the
  // stack for a single one.
  int single = 0;
  const std::unique_ptr<int[]> several(nrhs > 1 ? new int[columns] : nullptr);
  int* const exponents = nrhs > 1 ? several.get() : &single;
  V* const work = scratch.elements();
  const blas_int workSize = to_blas_int(name, lwork);
  // The solve and the tests of its results touch no caller's object; a
  // refusal leaves after the lock is retaken, with B back in the caller's
  // units. Each further right-hand side adds about m * n to the work.
  const double amount = double(m) * double(n) * (double(k) + double(nrhs - 1));
  unlocked(Work::solve, amount, [&] {
    const RangeKept<V> kept(B, rows, columns, static_cast<size_t>(m), rows, exponents);
    refuse_solver_status(name, routine::gels(m, n, nrhs, A, lda, B, ldb, work, workSize));
    checks.factor(A, lda, work + lwork, work, scratch.extras());
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
