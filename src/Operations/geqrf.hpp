#pragma once

#include <algorithm>
#include <complex>
#include <cstddef>
#include <memory>
#include <string>

#include "../Blas.hpp"
#include "Operations.hpp"
#include "checks.hpp"
#include "unlocked.hpp"

namespace Algorithms {
namespace detail {
namespace routine {

// ?geqrf through LAPACKE's interface without its allocation: the caller
// allocates the workspace before touching A. With lwork -1 the call only
// writes the workspace size it wants to work[0].
inline lapack_int geqrf(blas_int m, blas_int n, float* A, blas_int lda, float* tau, float* work,
                        blas_int lwork) {
  return VEXA_BLAS(LAPACKE_sgeqrf_work)(LAPACK_COL_MAJOR, m, n, A, lda, tau, work, lwork);
}
inline lapack_int geqrf(blas_int m, blas_int n, double* A, blas_int lda, double* tau, double* work,
                        blas_int lwork) {
  return VEXA_BLAS(LAPACKE_dgeqrf_work)(LAPACK_COL_MAJOR, m, n, A, lda, tau, work, lwork);
}
inline lapack_int geqrf(blas_int m, blas_int n, std::complex<float>* A, blas_int lda,
                        std::complex<float>* tau, std::complex<float>* work, blas_int lwork) {
  return VEXA_BLAS(LAPACKE_cgeqrf_work)(LAPACK_COL_MAJOR, m, n, A, lda, tau, work, lwork);
}
inline lapack_int geqrf(blas_int m, blas_int n, std::complex<double>* A, blas_int lda,
                        std::complex<double>* tau, std::complex<double>* work, blas_int lwork) {
  return VEXA_BLAS(LAPACKE_zgeqrf_work)(LAPACK_COL_MAJOR, m, n, A, lda, tau, work, lwork);
}

}  // namespace routine

// The elements a LAPACK routine asks for in its workspace query, and at
// least least: a query whose arguments the routine rejects leaves 0, and the
// real call then rejects them again before any work.
template <class V>
size_t workspace_size(V wanted, size_t least) {
  return std::max(static_cast<size_t>(std::real(wanted)), least);
}

// Below this many reflectors ?geqrf and ?ormqr apply them one at a time
// whatever their workspace (their blocks hold 32 in reference LAPACK and in
// OpenBLAS), so the least workspace they accept serves: no query, and no
// block-sized workspace to allocate, which on small matrices cost as much as
// the routine.
constexpr size_t unblocked_reflectors = 16;

// A routine that ends with a status only reports an argument it rejected,
// which the checks before it make impossible; a nonzero status is refused
// all the same rather than reported as success.
inline void refuse_rejected(const char* name, lapack_int info) {
  if (info != 0) {
    fail(name, "the routine rejected its argument " + std::to_string(-info));
  }
}

// The reflector factors of an m x n matrix A: tau holds min(m, n) of them,
// read as gemv reads x (its first extent, a matrix through its first
// column). Returns their count.
template <class T>
size_t reflector_count(const char* name, const T& A, size_t tauExtent, size_t tauElements) {
  const size_t k = std::min(A.template dim<0>(), A.template dim<1>());
  if (tauExtent != k) {
    fail(name, "vector tau dimension 0: " + std::to_string(tauExtent) +
                   ", doesn't match min(m, n) of matrix A: " + std::to_string(k));
  }
  require_elements(name, "tau", tauElements, k);
  return k;
}

}  // namespace detail

// QR factorization of the m x n matrix A in place by Householder
// reflections: R on and above the diagonal, the reflectors' vectors below
// it, their factors in tau. No rank or condition test: a rank-deficient A
// has a factorization too, with zeros on R's diagonal.
template <class T, class S>
S& Operations::geqrf(T& A, S& tau) {
  using V = typename T::SampleType;
  const size_t k = detail::reflector_count("geqrf", A, tau.template dim<0>(), tau.numel());
  const blas_int m = detail::to_blas_int("geqrf", A.template dim<0>());
  const blas_int n = detail::to_blas_int("geqrf", A.template dim<1>());
  detail::refuse_shared("geqrf", detail::run("vector tau", tau.get(), k),
                        detail::run("matrix A", A.get(), A.numel()));
  const blas_int lda = detail::leading_dimension(m);
  size_t lwork = std::max<size_t>(n, 1);
  if (k >= detail::unblocked_reflectors) {
    V wanted = 0;
    detail::routine::geqrf(m, n, A.get(), lda, tau.get(), &wanted, -1);
    lwork = detail::workspace_size(wanted, lwork);
  }
  // Left uninitialised: the routine writes before it reads.
  const std::unique_ptr<V[]> work(new V[lwork]);
  const blas_int workSize = detail::to_blas_int("geqrf", lwork);
  const lapack_int info = detail::unlocked(Work::solve, double(m) * double(n) * double(k), [&] {
    return detail::routine::geqrf(m, n, A.get(), lda, tau.get(), work.get(), workSize);
  });
  detail::refuse_rejected("geqrf", info);
  return tau;
}

}  // namespace Algorithms
