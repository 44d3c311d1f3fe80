#pragma once

#include <complex>
#include <type_traits>

#include "../Blas.hpp"
#include "Operations.hpp"
#include "checks.hpp"
#include "unlocked.hpp"

namespace Algorithms {
namespace detail {
namespace routine {

// A += a x y^T, unconjugated for the complex kinds.
inline void ger(blas_int m, blas_int n, float a, const float* x, const float* y, float* A,
                blas_int lda) {
  VEXA_BLAS(cblas_sger)(CblasColMajor, m, n, a, x, 1, y, 1, A, lda);
}
inline void ger(blas_int m, blas_int n, double a, const double* x, const double* y, double* A,
                blas_int lda) {
  VEXA_BLAS(cblas_dger)(CblasColMajor, m, n, a, x, 1, y, 1, A, lda);
}
inline void ger(blas_int m, blas_int n, const std::complex<float>& a, const std::complex<float>* x,
                const std::complex<float>* y, std::complex<float>* A, blas_int lda) {
  VEXA_BLAS(cblas_cgeru)(CblasColMajor, m, n, &a, x, 1, y, 1, A, lda);
}
inline void ger(blas_int m, blas_int n, const std::complex<double>& a,
                const std::complex<double>* x, const std::complex<double>* y,
                std::complex<double>* A, blas_int lda) {
  VEXA_BLAS(cblas_zgeru)(CblasColMajor, m, n, &a, x, 1, y, 1, A, lda);
}
// A += a x y^H.
inline void gerc(blas_int m, blas_int n, const std::complex<float>& a, const std::complex<float>* x,
                 const std::complex<float>* y, std::complex<float>* A, blas_int lda) {
  VEXA_BLAS(cblas_cgerc)(CblasColMajor, m, n, &a, x, 1, y, 1, A, lda);
}
inline void gerc(blas_int m, blas_int n, const std::complex<double>& a,
                 const std::complex<double>* x, const std::complex<double>* y,
                 std::complex<double>* A, blas_int lda) {
  VEXA_BLAS(cblas_zgerc)(CblasColMajor, m, n, &a, x, 1, y, 1, A, lda);
}

}  // namespace routine
}  // namespace detail

// A = a x y^T + A, or a x y^H + A when conjugated. x and y are read as gemv reads its x: their
// first as many elements as A has rows and columns.
template <bool Conjugate, class T, class S, class R>
R& Operations::rank_1(const char* name, typename T::SampleType a, const T& x, const S& y, R& A) {
  const char* expression =
      Conjugate ? "gerc expression A = axy^H + A" : "ger expression A = axy^T + A";
  detail::check_extents(expression, detail::extent<0>("matrix A", A),
                        detail::extent<0>("vector x", x));
  detail::check_extents(expression, detail::extent<1>("matrix A", A),
                        detail::extent<0>("vector y", y));
  const blas_int m = detail::to_blas_int(name, A.template dim<0>());
  const blas_int n = detail::to_blas_int(name, A.template dim<1>());
  detail::require_elements(name, "x", x.numel(), static_cast<size_t>(m));
  detail::require_elements(name, "y", y.numel(), static_cast<size_t>(n));
  const auto written = detail::run("matrix A", A.get(), A.numel());
  detail::refuse_shared(name, written, detail::run("vector x", x.get(), static_cast<size_t>(m)));
  detail::refuse_shared(name, written, detail::run("vector y", y.get(), static_cast<size_t>(n)));
  detail::unlocked(Work::product, double(m) * double(n), [&] {
    if constexpr (Conjugate) {
      detail::routine::gerc(m, n, a, x.get(), y.get(), A.get(), detail::leading_dimension(m));
    } else {
      detail::routine::ger(m, n, a, x.get(), y.get(), A.get(), detail::leading_dimension(m));
    }
  });
  return A;
}

template <class T, class S, class R>
R& Operations::ger(typename T::SampleType a, const T& x, const S& y, R& A) {
  return rank_1<false>("ger", a, x, y, A);
}

}  // namespace Algorithms
