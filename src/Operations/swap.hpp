#pragma once

#include <complex>

#include "../Blas.hpp"
#include "Operations.hpp"
#include "checks.hpp"
#include "unlocked.hpp"

namespace Algorithms {
namespace detail {
namespace routine {

inline void swap(blas_int n, float* x, float* y) { VEXA_BLAS(cblas_sswap)(n, x, 1, y, 1); }
inline void swap(blas_int n, double* x, double* y) { VEXA_BLAS(cblas_dswap)(n, x, 1, y, 1); }
inline void swap(blas_int n, std::complex<float>* x, std::complex<float>* y) {
  VEXA_BLAS(cblas_cswap)(n, x, 1, y, 1);
}
inline void swap(blas_int n, std::complex<double>* x, std::complex<double>* y) {
  VEXA_BLAS(cblas_zswap)(n, x, 1, y, 1);
}

}  // namespace routine
}  // namespace detail

template <class T, class S>
void Operations::swap(T& x, S& y) {
  const blas_int n = detail::level1_count("swap", x, y);
  detail::refuse_partial_overlap("swap", x.get(), y.get(), n);
  // One run as both operands is left as it is, without leaning on how BLAS
  // treats aliasing, which it forbids.
  if (x.get() != y.get()) {
    detail::unlocked(Work::level1, n, [&] { detail::routine::swap(n, x.get(), y.get()); });
  }
}

}  // namespace Algorithms
