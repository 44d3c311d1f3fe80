#pragma once

#include <complex>

#include "../Blas.hpp"
#include "Operations.hpp"
#include "checks.hpp"
#include "scale.hpp"
#include "unlocked.hpp"

namespace Algorithms {
namespace detail {
namespace routine {

inline void axpy(blas_int n, float a, const float* x, float* y) {
  VEXA_BLAS(cblas_saxpy)(n, a, x, 1, y, 1);
}
inline void axpy(blas_int n, double a, const double* x, double* y) {
  VEXA_BLAS(cblas_daxpy)(n, a, x, 1, y, 1);
}
inline void complex_axpy(blas_int n, const std::complex<float>& a, const std::complex<float>* x,
                         std::complex<float>* y) {
  VEXA_BLAS(cblas_caxpy)(n, &a, x, 1, y, 1);
}
inline void complex_axpy(blas_int n, const std::complex<double>& a, const std::complex<double>* x,
                         std::complex<double>* y) {
  VEXA_BLAS(cblas_zaxpy)(n, &a, x, 1, y, 1);
}

// As scal: a factor with no imaginary part adds part by part.
template <class R>
[[gnu::always_inline]] inline void axpy(blas_int n, const std::complex<R>& a,
                                        const std::complex<R>* x, std::complex<R>* y) {
  if (!on_parts(n, a, [](auto... args) { axpy(args...); }, x, y)) {
    complex_axpy(n, a, x, y);
  }
}

}  // namespace routine

// y += a*x over n elements. When x and y are one run, BLAS's ban on aliasing
// bites (OpenBLAS's complex kernels read parts they have just written), so
// the run is scaled by a + 1 instead.
template <class V>
[[gnu::always_inline]] inline void add_scaled(blas_int n, const V& a, const V* x, V* y) {
  if (x == y) {
    routine::scal(n, a + V(1), y);
  } else {
    routine::axpy(n, a, x, y);
  }
}

}  // namespace detail

// Always inlined: its own work, checks and one BLAS call, costs less than a call of its own.
template <class T, class S>
[[gnu::always_inline]] inline S& Operations::axpy(typename T::SampleType a, const T& x, S& y) {
  const blas_int n = detail::level1_count("axpy", x, y);
  detail::refuse_partial_overlap("axpy", x.get(), y.get(), n);
  detail::unlocked(Work::level1, n, [&] { detail::add_scaled(n, a, x.get(), y.get()); });
  return y;
}

}  // namespace Algorithms
