#pragma once

#include <complex>

#include "../Blas.hpp"
#include "Operations.hpp"
#include "checks.hpp"
#include "unlocked.hpp"

namespace Algorithms {
namespace detail {
namespace routine {

inline float asum(blas_int n, const float* x) { return VEXA_BLAS(cblas_sasum)(n, x, 1); }
inline double asum(blas_int n, const double* x) { return VEXA_BLAS(cblas_dasum)(n, x, 1); }
inline float asum(blas_int n, const std::complex<float>* x) {
  return VEXA_BLAS(cblas_scasum)(n, x, 1);
}
inline double asum(blas_int n, const std::complex<double>* x) {
  return VEXA_BLAS(cblas_dzasum)(n, x, 1);
}

}  // namespace routine
}  // namespace detail

// The sum of |Re| + |Im| over all of x's elements, as BLAS defines it: for complex kinds not the
// sum of magnitudes.
template <class T>
real_of<typename T::SampleType> Operations::asum(const T& x) {
  const blas_int n = detail::to_blas_int("asum", x.numel());
  return detail::unlocked(Work::level1, n, [&] { return detail::routine::asum(n, x.get()); });
}

}  // namespace Algorithms
