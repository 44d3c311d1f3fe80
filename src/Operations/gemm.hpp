#pragma once

#include <complex>

#include "../Blas.hpp"
#include "Operations.hpp"
#include "checks.hpp"
#include "flags.hpp"
#include "unlocked.hpp"

namespace Algorithms {

namespace detail {
namespace routine {

inline void gemm(CBLAS_TRANSPOSE transa, CBLAS_TRANSPOSE transb, blas_int m, blas_int n, blas_int k,
                 float a, const float* A, blas_int lda, const float* X, blas_int ldx, float b,
                 float* Y, blas_int ldy) {
  VEXA_BLAS(cblas_sgemm)(CblasColMajor, transa, transb, m, n, k, a, A, lda, X, ldx, b, Y, ldy);
}
inline void gemm(CBLAS_TRANSPOSE transa, CBLAS_TRANSPOSE transb, blas_int m, blas_int n, blas_int k,
                 const std::complex<float>& a, const std::complex<float>* A, blas_int lda,
                 const std::complex<float>* X, blas_int ldx, const std::complex<float>& b,
                 std::complex<float>* Y, blas_int ldy) {
  VEXA_BLAS(cblas_cgemm)(CblasColMajor, transa, transb, m, n, k, &a, A, lda, X, ldx, &b, Y, ldy);
}
inline void gemm(CBLAS_TRANSPOSE transa, CBLAS_TRANSPOSE transb, blas_int m, blas_int n, blas_int k,
                 double a, const double* A, blas_int lda, const double* X, blas_int ldx, double b,
                 double* Y, blas_int ldy) {
  VEXA_BLAS(cblas_dgemm)(CblasColMajor, transa, transb, m, n, k, a, A, lda, X, ldx, b, Y, ldy);
}
inline void gemm(CBLAS_TRANSPOSE transa, CBLAS_TRANSPOSE transb, blas_int m, blas_int n, blas_int k,
                 const std::complex<double>& a, const std::complex<double>* A, blas_int lda,
                 const std::complex<double>* X, blas_int ldx, const std::complex<double>& b,
                 std::complex<double>* Y, blas_int ldy) {
  VEXA_BLAS(cblas_zgemm)(CblasColMajor, transa, transb, m, n, k, &a, A, lda, X, ldx, &b, Y, ldy);
}

}  // namespace routine
}  // namespace detail

namespace detail {

// Y = a op(A) op(X) + bY needs op(A): M x K, op(X): K x N and Y: M x N.
template <class T, class S, class R>
void validate_gemm_op(const char* expression, char transa, char transb, const T& A, const S& X,
                      R& Y) {
  check_extents(expression, op_extent("matrix A", A, transa, 0), extent<0>("matrix Y", Y));
  check_extents(expression, op_extent("matrix X", X, transb, 1), extent<1>("matrix Y", Y));
  check_extents(expression, op_extent("matrix A", A, transa, 1),
                op_extent("matrix X", X, transb, 0));
}

// The expressions of the shape checks, by transa and then transb: 'N', 'T', 'C'.
constexpr const char* gemm_expressions[] = {
    "gemm expression Y = aAX + bY",     "gemm expression Y = aAX^T + bY",
    "gemm expression Y = aAX^H + bY",   "gemm expression Y = aA^TX + bY",
    "gemm expression Y = aA^TX^T + bY", "gemm expression Y = aA^TX^H + bY",
    "gemm expression Y = aA^HX + bY",   "gemm expression Y = aA^HX^T + bY",
    "gemm expression Y = aA^HX^H + bY"};

}  // namespace detail

template <class T, class S, class R>
void validate_gemm(const T& A, const S& X, R& Y) {
  detail::validate_gemm_op(detail::gemm_expressions[0], 'N', 'N', A, X, Y);
}

template <class T, class S, class R>
R& Operations::gemm_named(const char* name, char transa, char transb, typename T::SampleType a,
                          typename T::SampleType b, const T& A, const S& X, R& Y) {
  const int expression = 3 * detail::trans_index(transa) + detail::trans_index(transb);
  detail::validate_gemm_op(detail::gemm_expressions[expression], transa, transb, A, X, Y);
  const blas_int rowsA = detail::to_blas_int(name, A.template dim<0>());
  const blas_int columnsA = detail::to_blas_int(name, A.template dim<1>());
  const blas_int rowsX = detail::to_blas_int(name, X.template dim<0>());
  const blas_int columnsX = detail::to_blas_int(name, X.template dim<1>());
  // op(A) is m x k and op(X) k x n.
  const blas_int m = transa == 'N' ? rowsA : columnsA, k = transa == 'N' ? columnsA : rowsA;
  const blas_int n = transb == 'N' ? columnsX : rowsX;
  const auto written = detail::run("matrix Y", Y.get(), Y.numel());
  detail::refuse_shared(name, written, detail::run("matrix A", A.get(), A.numel()));
  detail::refuse_shared(name, written, detail::run("matrix X", X.get(), X.numel()));
  detail::unlocked(Work::product, double(m) * double(n) * double(k), [&] {
    detail::routine::gemm(detail::transposition(transa), detail::transposition(transb), m, n, k, a,
                          A.get(), detail::leading_dimension(rowsA), X.get(),
                          detail::leading_dimension(rowsX), b, Y.get(),
                          detail::leading_dimension(m));
  });
  return Y;
}

template <class T, class S, class R>
R& Operations::gemm(typename T::SampleType a, typename T::SampleType b, const T& A, const S& X,
                    R& Y) {
  return gemm_named("gemm", 'N', 'N', a, b, A, X, Y);
}

}  // namespace Algorithms
