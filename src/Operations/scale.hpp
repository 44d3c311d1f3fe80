#pragma once

#include <complex>

#include "../Blas.hpp"
#include "Operations.hpp"
#include "checks.hpp"

namespace Algorithms {
namespace detail {
namespace routine {

inline void scal(blas_int n, float s, float* x) { cblas_sscal(n, s, x, 1); }
inline void scal(blas_int n, double s, double* x) { cblas_dscal(n, s, x, 1); }
inline void scal(blas_int n, const std::complex<float>& s, std::complex<float>* x) {
  cblas_cscal(n, &s, x, 1);
}
inline void scal(blas_int n, const std::complex<double>& s, std::complex<double>* x) {
  cblas_zscal(n, &s, x, 1);
}

}  // namespace routine
}  // namespace detail

template <class T>
T& Operations::scale(typename T::SampleType s, T& x) {
  detail::routine::scal(detail::to_blas_int("scale", x.numel()), s, x.get());
  return x;
}

}  // namespace Algorithms
