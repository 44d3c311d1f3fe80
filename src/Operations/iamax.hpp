#pragma once

#include <complex>
#include <cstddef>

#include "../Blas.hpp"
#include "Operations.hpp"
#include "checks.hpp"
#include "errors.hpp"
#include "unlocked.hpp"

namespace Algorithms {
namespace detail {
namespace routine {

inline size_t iamax(blas_int n, const float* x) { return VEXA_BLAS(cblas_isamax)(n, x, 1); }
inline size_t iamax(blas_int n, const double* x) { return VEXA_BLAS(cblas_idamax)(n, x, 1); }
inline size_t iamax(blas_int n, const std::complex<float>* x) {
  return VEXA_BLAS(cblas_icamax)(n, x, 1);
}
inline size_t iamax(blas_int n, const std::complex<double>* x) {
  return VEXA_BLAS(cblas_izamax)(n, x, 1);
}

}  // namespace routine
}  // namespace detail

// The 0-based position of the first element of largest |Re| + |Im| among all of x's elements.
// An empty x has none, where BLAS would answer 0 as for a one-element x.
template <class T>
size_t Operations::iamax(const T& x) {
  const blas_int n = detail::to_blas_int("iamax", x.numel());
  if (n == 0) {
    detail::fail("iamax", "vector x is empty");
  }
  return detail::unlocked(Work::level1, n, [&] { return detail::routine::iamax(n, x.get()); });
}

}  // namespace Algorithms
