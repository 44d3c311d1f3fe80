#pragma once

#include <complex>

#include "../Blas.hpp"
#include "Operations.hpp"
#include "checks.hpp"
#include "unlocked.hpp"

namespace Algorithms {
namespace detail {
namespace routine {

inline void copy(blas_int n, const float* x, float* y) { VEXA_BLAS(cblas_scopy)(n, x, 1, y, 1); }
inline void copy(blas_int n, const double* x, double* y) { VEXA_BLAS(cblas_dcopy)(n, x, 1, y, 1); }
inline void copy(blas_int n, const std::complex<float>* x, std::complex<float>* y) {
  VEXA_BLAS(cblas_ccopy)(n, x, 1, y, 1);
}
inline void copy(blas_int n, const std::complex<double>* x, std::complex<double>* y) {
  VEXA_BLAS(cblas_zcopy)(n, x, 1, y, 1);
}

}  // namespace routine
}  // namespace detail

// Always inlined: its own work, checks and one BLAS call, costs less than a call of its own.
template <class T, class S>
[[gnu::always_inline]] inline S& Operations::copy(const T& x, S& y) {
  const blas_int n = detail::level1_count("copy", x, y);
  detail::refuse_partial_overlap("copy", x.get(), y.get(), n);
  // One run as both operands is left as it is, without leaning on how BLAS
  // treats aliasing, which it forbids.
  if (x.get() != y.get()) {
    detail::unlocked(Work::level1, n, [&] { detail::routine::copy(n, x.get(), y.get()); });
  }
  return y;
}

}  // namespace Algorithms
