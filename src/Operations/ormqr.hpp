#pragma once

#include <algorithm>
#include <complex>
#include <cstddef>
#include <memory>
#include <type_traits>

#include "../Blas.hpp"
#include "Operations.hpp"
#include "checks.hpp"
#include "columns_operand.hpp"
#include "flags.hpp"
#include "geqrf.hpp"
#include "unlocked.hpp"

namespace Algorithms {
namespace detail {
namespace routine {

// ?ormqr and ?unmqr through LAPACKE's interface without its allocation. With
// lwork -1 the call only writes the workspace size it wants to work[0]. The
// routines set each reflector's diagonal element of A to one while they
// apply it, and put it back.
inline lapack_int ormqr(char side, char trans, blas_int m, blas_int n, blas_int k, const float* A,
                        blas_int lda, const float* tau, float* C, blas_int ldc, float* work,
                        blas_int lwork) {
  return VEXA_BLAS(LAPACKE_sormqr_work)(LAPACK_COL_MAJOR, side, trans, m, n, k, A, lda, tau, C, ldc,
                                        work, lwork);
}
inline lapack_int ormqr(char side, char trans, blas_int m, blas_int n, blas_int k, const double* A,
                        blas_int lda, const double* tau, double* C, blas_int ldc, double* work,
                        blas_int lwork) {
  return VEXA_BLAS(LAPACKE_dormqr_work)(LAPACK_COL_MAJOR, side, trans, m, n, k, A, lda, tau, C, ldc,
                                        work, lwork);
}
inline lapack_int ormqr(char side, char trans, blas_int m, blas_int n, blas_int k,
                        const std::complex<float>* A, blas_int lda, const std::complex<float>* tau,
                        std::complex<float>* C, blas_int ldc, std::complex<float>* work,
                        blas_int lwork) {
  return VEXA_BLAS(LAPACKE_cunmqr_work)(LAPACK_COL_MAJOR, side, trans, m, n, k, A, lda, tau, C, ldc,
                                        work, lwork);
}
inline lapack_int ormqr(char side, char trans, blas_int m, blas_int n, blas_int k,
                        const std::complex<double>* A, blas_int lda,
                        const std::complex<double>* tau, std::complex<double>* C, blas_int ldc,
                        std::complex<double>* work, blas_int lwork) {
  return VEXA_BLAS(LAPACKE_zunmqr_work)(LAPACK_COL_MAJOR, side, trans, m, n, k, A, lda, tau, C, ldc,
                                        work, lwork);
}

}  // namespace routine

// The expressions of the shape checks, by side ('L', 'R') and then trans ('N', 'T', 'C').
constexpr const char* ormqr_expressions[] = {
    "ormqr expression C = QC", "ormqr expression C = Q^TC", "ormqr expression C = Q^HC",
    "ormqr expression C = CQ", "ormqr expression C = CQ^T", "ormqr expression C = CQ^H"};

}  // namespace detail

// C = op(Q) C ('L') or C op(Q) ('R'), Q the product of the reflectors that geqrf left in A and
// tau: of order A.dim(0), with min(A.dim(0), A.dim(1)) reflectors. trans is 'N' or 'T' for real
// kinds ('C' means 'T'), 'N' or 'C' for complex ones, whose Q is unitary, not orthogonal.
template <class T, class S, class R>
R& Operations::ormqr(char side, char trans, const T& A, const S& tau, R& C) {
  using V = typename T::SampleType;
  detail::check_flag("ormqr", "side", side, "LR");
  char op = 'N';
  if constexpr (std::is_floating_point<V>::value) {
    op = detail::checked_trans<V>("ormqr", "trans", trans);
  } else {
    detail::check_flag("ormqr", "trans", trans, "NC");
    op = trans;
  }
  const bool left = side == 'L';
  const char* expression = detail::ormqr_expressions[(left ? 0 : 3) + detail::trans_index(op)];
  const detail::ColumnsOperand c = detail::columns_operand("matrix C", "vector C", C);
  detail::check_extents(expression, detail::extent<0>("matrix A", A), c.extent(left ? 0 : 1));
  const size_t k = detail::reflector_count("ormqr", A, tau.template dim<0>(), tau.numel());
  const blas_int m = detail::to_blas_int("ormqr", c.rows);
  const blas_int n = detail::to_blas_int("ormqr", c.columns);
  const blas_int order = detail::to_blas_int("ormqr", A.template dim<0>());
  const blas_int reflectors = static_cast<blas_int>(k);
  const auto written = detail::run(c.operand, C.get(), c.rows * c.columns);
  detail::refuse_shared("ormqr", written, detail::run("matrix A", A.get(), A.numel()));
  detail::refuse_shared("ormqr", written, detail::run("vector tau", tau.get(), k));
  // The routine writes A's diagonal for a moment: tau must not lie there either.
  detail::refuse_shared("ormqr", detail::run("vector tau", tau.get(), k),
                        detail::run("matrix A", A.get(), A.numel()));
  const blas_int lda = detail::leading_dimension(order), ldc = detail::leading_dimension(m);
  size_t lwork = std::max<size_t>(left ? n : m, 1);
  if (k >= detail::unblocked_reflectors) {
    V wanted = 0;
    detail::routine::ormqr(side, op, m, n, reflectors, A.get(), lda, tau.get(), C.get(), ldc,
                           &wanted, -1);
    lwork = detail::workspace_size(wanted, lwork);
  }
  // Left uninitialised: the routine writes before it reads.
  const std::unique_ptr<V[]> work(new V[lwork]);
  const blas_int workSize = detail::to_blas_int("ormqr", lwork);
  const lapack_int info = detail::unlocked(Work::product, double(m) * double(n) * double(k), [&] {
    return detail::routine::ormqr(side, op, m, n, reflectors, A.get(), lda, tau.get(), C.get(), ldc,
                                  work.get(), workSize);
  });
  detail::refuse_rejected("ormqr", info);
  return C;
}

}  // namespace Algorithms
