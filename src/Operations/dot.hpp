#pragma once

#include <complex>

#include "../Blas.hpp"
#include "Operations.hpp"
#include "checks.hpp"
#include "unlocked.hpp"

namespace Algorithms {
namespace detail {
namespace routine {

inline float dotu(blas_int n, const float* x, const float* y) {
  return VEXA_BLAS(cblas_sdot)(n, x, 1, y, 1);
}
inline double dotu(blas_int n, const double* x, const double* y) {
  return VEXA_BLAS(cblas_ddot)(n, x, 1, y, 1);
}
// Complex results come back through a zeroed local, never as a returned
// struct, whose calling convention differs between BLAS builds.
template <class T, class Routine>
T complex_dot(Routine routine, blas_int n, const T* x, const T* y) {
  T result(0, 0);
  routine(n, x, 1, y, 1, &result);
  return result;
}

inline std::complex<float> dotu(blas_int n, const std::complex<float>* x,
                                const std::complex<float>* y) {
  return complex_dot(VEXA_BLAS(cblas_cdotu_sub), n, x, y);
}
inline std::complex<double> dotu(blas_int n, const std::complex<double>* x,
                                 const std::complex<double>* y) {
  return complex_dot(VEXA_BLAS(cblas_zdotu_sub), n, x, y);
}
inline std::complex<float> dotc(blas_int n, const std::complex<float>* x,
                                const std::complex<float>* y) {
  return complex_dot(VEXA_BLAS(cblas_cdotc_sub), n, x, y);
}
inline std::complex<double> dotc(blas_int n, const std::complex<double>* x,
                                 const std::complex<double>* y) {
  return complex_dot(VEXA_BLAS(cblas_zdotc_sub), n, x, y);
}

}  // namespace routine
}  // namespace detail

template <class T, class S>
typename T::SampleType Operations::dot(const T& x, S& y) {
  const blas_int n = detail::level1_count("dot", x, y);
  return detail::unlocked(Work::level1, n,
                          [&] { return detail::routine::dotu(n, x.get(), y.get()); });
}

// Conjugates x, the first operand.
template <class T, class S>
typename T::SampleType Operations::hdot(const T& x, S& y) {
  const blas_int n = detail::level1_count("hdot", x, y);
  return detail::unlocked(Work::level1, n,
                          [&] { return detail::routine::dotc(n, x.get(), y.get()); });
}

}  // namespace Algorithms
