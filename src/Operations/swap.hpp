#pragma once

#include <complex>

#include "../Blas.hpp"
#include "Operations.hpp"
#include "checks.hpp"

namespace Algorithms {
namespace detail {
namespace routine {

inline void swap(blas_int n, float* x, float* y) { cblas_sswap(n, x, 1, y, 1); }
inline void swap(blas_int n, double* x, double* y) { cblas_dswap(n, x, 1, y, 1); }
inline void swap(blas_int n, std::complex<float>* x, std::complex<float>* y) {
  cblas_cswap(n, x, 1, y, 1);
}
inline void swap(blas_int n, std::complex<double>* x, std::complex<double>* y) {
  cblas_zswap(n, x, 1, y, 1);
}

}  // namespace routine
}  // namespace detail

template <class T, class S>
void Operations::swap(T& x, S& y) {
  detail::routine::swap(detail::level1_count("swap", x, y), x.get(), y.get());
}

}  // namespace Algorithms
