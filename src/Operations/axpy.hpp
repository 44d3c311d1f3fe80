#pragma once

#include <complex>

#include "../Blas.hpp"
#include "Operations.hpp"
#include "checks.hpp"

namespace Algorithms {
namespace detail {
namespace routine {

inline void axpy(blas_int n, float a, const float* x, float* y) { cblas_saxpy(n, a, x, 1, y, 1); }
inline void axpy(blas_int n, double a, const double* x, double* y) {
  cblas_daxpy(n, a, x, 1, y, 1);
}
inline void axpy(blas_int n, const std::complex<float>& a, const std::complex<float>* x,
                 std::complex<float>* y) {
  cblas_caxpy(n, &a, x, 1, y, 1);
}
inline void axpy(blas_int n, const std::complex<double>& a, const std::complex<double>* x,
                 std::complex<double>* y) {
  cblas_zaxpy(n, &a, x, 1, y, 1);
}

}  // namespace routine
}  // namespace detail

template <class T, class S>
S& Operations::axpy(typename T::SampleType a, const T& x, S& y) {
  detail::routine::axpy(detail::level1_count("axpy", x, y), a, x.get(), y.get());
  return y;
}

}  // namespace Algorithms
