#pragma once

#include <complex>

#include "../Blas.hpp"
#include "Operations.hpp"
#include "checks.hpp"
#include "unlocked.hpp"

namespace Algorithms {
namespace detail {
namespace routine {

// x = diag(d) x: a triangular band matrix with no band beside its diagonal, stored as the
// diagonal alone (leading dimension 1).
inline void tbmv(blas_int n, const float* d, float* x) {
  VEXA_BLAS(cblas_stbmv)(CblasColMajor, CblasUpper, CblasNoTrans, CblasNonUnit, n, 0, d, 1, x, 1);
}
inline void tbmv(blas_int n, const double* d, double* x) {
  VEXA_BLAS(cblas_dtbmv)(CblasColMajor, CblasUpper, CblasNoTrans, CblasNonUnit, n, 0, d, 1, x, 1);
}
inline void tbmv(blas_int n, const std::complex<float>* d, std::complex<float>* x) {
  VEXA_BLAS(cblas_ctbmv)(CblasColMajor, CblasUpper, CblasNoTrans, CblasNonUnit, n, 0, d, 1, x, 1);
}
inline void tbmv(blas_int n, const std::complex<double>* d, std::complex<double>* x) {
  VEXA_BLAS(cblas_ztbmv)(CblasColMajor, CblasUpper, CblasNoTrans, CblasNonUnit, n, 0, d, 1, x, 1);
}

}  // namespace routine
}  // namespace detail

// y = x∘y over x's elements, unconjugated. One run as both operands squares it: BLAS forbids
// that aliasing, but a band of width zero reads each element and its diagonal entry before it
// writes the element, which the tests check for every kind.
template <class T, class S>
S& Operations::mul(const T& x, S& y) {
  const blas_int n = detail::level1_count("mul", x, y);
  detail::refuse_partial_overlap("mul", x.get(), y.get(), n);
  detail::unlocked(Work::level1, n, [&] { detail::routine::tbmv(n, x.get(), y.get()); });
  return y;
}

}  // namespace Algorithms
