#pragma once

#include <complex>

#include "../Blas.hpp"
#include "Operations.hpp"
#include "checks.hpp"
#include "unlocked.hpp"

namespace Algorithms {
namespace detail {
namespace routine {

inline float nrm2(blas_int n, const float* x) { return VEXA_BLAS(cblas_snrm2)(n, x, 1); }
inline double nrm2(blas_int n, const double* x) { return VEXA_BLAS(cblas_dnrm2)(n, x, 1); }
inline float nrm2(blas_int n, const std::complex<float>* x) {
  return VEXA_BLAS(cblas_scnrm2)(n, x, 1);
}
inline double nrm2(blas_int n, const std::complex<double>* x) {
  return VEXA_BLAS(cblas_dznrm2)(n, x, 1);
}

}  // namespace routine
}  // namespace detail

// The Euclidean norm of all of x's elements (a matrix's Frobenius norm). BLAS scales as it
// sums, so large and tiny elements neither overflow nor vanish.
template <class T>
real_of<typename T::SampleType> Operations::nrm2(const T& x) {
  const blas_int n = detail::to_blas_int("nrm2", x.numel());
  return detail::unlocked(Work::level1, n, [&] { return detail::routine::nrm2(n, x.get()); });
}

}  // namespace Algorithms
