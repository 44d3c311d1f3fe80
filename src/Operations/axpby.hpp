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

// OpenBLAS's extension ?axpby, which its cblas.h declares in the bundled and the system builds.
inline void axpby(blas_int n, float a, const float* x, float b, float* y) {
  VEXA_BLAS(cblas_saxpby)(n, a, x, 1, b, y, 1);
}
inline void axpby(blas_int n, double a, const double* x, double b, double* y) {
  VEXA_BLAS(cblas_daxpby)(n, a, x, 1, b, y, 1);
}
inline void complex_axpby(blas_int n, const std::complex<float>& a, const std::complex<float>* x,
                          const std::complex<float>& b, std::complex<float>* y) {
  VEXA_BLAS(cblas_caxpby)(n, &a, x, 1, &b, y, 1);
}
inline void complex_axpby(blas_int n, const std::complex<double>& a, const std::complex<double>* x,
                          const std::complex<double>& b, std::complex<double>* y) {
  VEXA_BLAS(cblas_zaxpby)(n, &a, x, 1, &b, y, 1);
}

// As scal: factors with no imaginary part work on the parts, in two runs of n.
template <class R>
void axpby(blas_int n, const std::complex<R>& a, const std::complex<R>* x, const std::complex<R>& b,
           std::complex<R>* y) {
  if (a.imag() == 0 && b.imag() == 0) {
    axpby(n, a.real(), parts(x), b.real(), parts(y));
    axpby(n, a.real(), parts(x) + n, b.real(), parts(y) + n);
  } else {
    complex_axpby(n, a, x, b, y);
  }
}

}  // namespace routine
}  // namespace detail

// y = ax + by over x's elements. As BLAS defines it, a zero a leaves x unread and a zero b
// leaves y's old values unread, NaN included. One run as both operands is scaled by a + b, for
// the reason that axpy gives.
template <class T, class S>
S& Operations::axpby(typename T::SampleType a, const T& x, typename T::SampleType b, S& y) {
  const blas_int n = detail::level1_count("axpby", x, y);
  detail::refuse_partial_overlap("axpby", x.get(), y.get(), n);
  detail::unlocked(Work::level1, n, [&] {
    if (x.get() == y.get()) {
      detail::routine::scal(n, a + b, y.get());
    } else {
      detail::routine::axpby(n, a, x.get(), b, y.get());
    }
  });
  return y;
}

}  // namespace Algorithms
