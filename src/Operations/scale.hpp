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
inline void complex_scal(blas_int n, const std::complex<float>& s, std::complex<float>* x) {
  cblas_cscal(n, &s, x, 1);
}
inline void complex_scal(blas_int n, const std::complex<double>& s, std::complex<double>* x) {
  cblas_zscal(n, &s, x, 1);
}

// OpenBLAS's complex kernels, given a zero factor, spoil or zero the
// neighbours of an element holding NaN. The real kernel multiplies each
// part on its own: a part becomes zero, or NaN if it is NaN or infinite.
// The 2n parts go in two runs of n, so counts stay within the BLAS integer.
template <class R>
void scal(blas_int n, const std::complex<R>& s, std::complex<R>* x) {
  if (s == std::complex<R>(0)) {
    R* parts = reinterpret_cast<R*>(x);
    scal(n, s.real(), parts);
    scal(n, s.real(), parts + n);
  } else {
    complex_scal(n, s, x);
  }
}

}  // namespace routine
}  // namespace detail

template <class T>
T& Operations::scale(typename T::SampleType s, T& x) {
  detail::routine::scal(detail::to_blas_int("scale", x.numel()), s, x.get());
  return x;
}

}  // namespace Algorithms
