#pragma once

#include <complex>

#include "Operations.hpp"
#include "checks.hpp"

namespace Algorithms {
namespace routine {

inline float dotu(blas_int n, const float* x, const float* y) { return cblas_sdot(n, x, 1, y, 1); }
inline double dotu(blas_int n, const double* x, const double* y) {
  return cblas_ddot(n, x, 1, y, 1);
}
// Complex results come back through a zeroed local, never as a returned
// struct, whose calling convention differs between BLAS builds.
inline std::complex<float> dotu(blas_int n, const std::complex<float>* x,
                                const std::complex<float>* y) {
  std::complex<float> result(0.0f, 0.0f);
  cblas_cdotu_sub(n, x, 1, y, 1, &result);
  return result;
}
inline std::complex<double> dotu(blas_int n, const std::complex<double>* x,
                                 const std::complex<double>* y) {
  std::complex<double> result(0.0, 0.0);
  cblas_zdotu_sub(n, x, 1, y, 1, &result);
  return result;
}
inline std::complex<float> dotc(blas_int n, const std::complex<float>* x,
                                const std::complex<float>* y) {
  std::complex<float> result(0.0f, 0.0f);
  cblas_cdotc_sub(n, x, 1, y, 1, &result);
  return result;
}
inline std::complex<double> dotc(blas_int n, const std::complex<double>* x,
                                 const std::complex<double>* y) {
  std::complex<double> result(0.0, 0.0);
  cblas_zdotc_sub(n, x, 1, y, 1, &result);
  return result;
}

}  // namespace routine

template <class T, class S>
typename T::SampleType Operations::dot(const T& x, S& y) {
  return routine::dotu(level1_count("dot", x, y), x.get(), y.get());
}

// Conjugates x, the first operand.
template <class T, class S>
typename T::SampleType Operations::hdot(const T& x, S& y) {
  return routine::dotc(level1_count("hdot", x, y), x.get(), y.get());
}

}  // namespace Algorithms
