#pragma once

#include <complex>

#include "../Blas.hpp"
#include "Operations.hpp"
#include "checks.hpp"
#include "unlocked.hpp"

namespace Algorithms {

namespace detail {
namespace routine {

inline void gemm(blas_int m, blas_int n, blas_int k, float a, const float* A, blas_int lda,
                 const float* X, blas_int ldx, float b, float* Y, blas_int ldy) {
  VEXA_BLAS(cblas_sgemm)(CblasColMajor, CblasNoTrans, CblasNoTrans, m, n, k, a, A, lda, X, ldx, b,
                         Y, ldy);
}
inline void gemm(blas_int m, blas_int n, blas_int k, const std::complex<float>& a,
                 const std::complex<float>* A, blas_int lda, const std::complex<float>* X,
                 blas_int ldx, const std::complex<float>& b, std::complex<float>* Y, blas_int ldy) {
  VEXA_BLAS(cblas_cgemm)(CblasColMajor, CblasNoTrans, CblasNoTrans, m, n, k, &a, A, lda, X, ldx, &b,
                         Y, ldy);
}
inline void gemm(blas_int m, blas_int n, blas_int k, double a, const double* A, blas_int lda,
                 const double* X, blas_int ldx, double b, double* Y, blas_int ldy) {
  VEXA_BLAS(cblas_dgemm)(CblasColMajor, CblasNoTrans, CblasNoTrans, m, n, k, a, A, lda, X, ldx, b,
                         Y, ldy);
}
inline void gemm(blas_int m, blas_int n, blas_int k, const std::complex<double>& a,
                 const std::complex<double>* A, blas_int lda, const std::complex<double>* X,
                 blas_int ldx, const std::complex<double>& b, std::complex<double>* Y,
                 blas_int ldy) {
  VEXA_BLAS(cblas_zgemm)(CblasColMajor, CblasNoTrans, CblasNoTrans, m, n, k, &a, A, lda, X, ldx, &b,
                         Y, ldy);
}

}  // namespace routine
}  // namespace detail

// Y = aAX + bY needs A: M x K, X: K x N and Y: M x N.
template <class T, class S, class R>
void validate_gemm(const T& A, const S& X, R& Y) {
  constexpr const char* expression = "gemm expression Y = aAX + bY";
  detail::check_extents(expression, detail::extent<0>("matrix A", A),
                        detail::extent<0>("matrix Y", Y));
  detail::check_extents(expression, detail::extent<1>("matrix X", X),
                        detail::extent<1>("matrix Y", Y));
  detail::check_extents(expression, detail::extent<1>("matrix A", A),
                        detail::extent<0>("matrix X", X));
}

template <class T, class S, class R>
R& Operations::gemm_named(const char* name, typename T::SampleType a, typename T::SampleType b,
                          const T& A, const S& X, R& Y) {
  validate_gemm(A, X, Y);
  const blas_int m = detail::to_blas_int(name, A.template dim<0>());
  const blas_int n = detail::to_blas_int(name, X.template dim<1>());
  const blas_int k = detail::to_blas_int(name, A.template dim<1>());
  const auto written = detail::run("matrix Y", Y.get(), Y.numel());
  detail::refuse_shared(name, written, detail::run("matrix A", A.get(), A.numel()));
  detail::refuse_shared(name, written, detail::run("matrix X", X.get(), X.numel()));
  detail::unlocked(Work::product, double(m) * double(n) * double(k), [&] {
    detail::routine::gemm(m, n, k, a, A.get(), detail::leading_dimension(m), X.get(),
                          detail::leading_dimension(k), b, Y.get(), detail::leading_dimension(m));
  });
  return Y;
}

template <class T, class S, class R>
R& Operations::gemm(typename T::SampleType a, typename T::SampleType b, const T& A, const S& X,
                    R& Y) {
  return gemm_named("gemm", a, b, A, X, Y);
}

}  // namespace Algorithms
