#pragma once

#include <complex>
#include <limits>

#include "../Blas.hpp"
#include "Operations.hpp"
#include "checks.hpp"
#include "unlocked.hpp"

namespace Algorithms {
namespace detail {
namespace routine {

// Every inc-th element of x, n of them.
inline void scal(blas_int n, float s, float* x, blas_int inc = 1) {
  VEXA_BLAS(cblas_sscal)(n, s, x, inc);
}
inline void scal(blas_int n, double s, double* x, blas_int inc = 1) {
  VEXA_BLAS(cblas_dscal)(n, s, x, inc);
}
inline void complex_scal(blas_int n, const std::complex<float>& s, std::complex<float>* x,
                         blas_int inc = 1) {
  VEXA_BLAS(cblas_cscal)(n, &s, x, inc);
}
inline void complex_scal(blas_int n, const std::complex<double>& s, std::complex<double>* x,
                         blas_int inc = 1) {
  VEXA_BLAS(cblas_zscal)(n, &s, x, inc);
}

// The parts of complex elements, each real part before its imaginary part.
template <class R>
R* parts(std::complex<R>* x) {
  return reinterpret_cast<R*>(x);
}
template <class R>
const R* parts(const std::complex<R>* x) {
  return reinterpret_cast<const R*>(x);
}

// A complex factor with an exact zero imaginary part works on each part of
// each element on its own: the real kind's routine, with the factor's real
// part, over the 2n interleaved parts. Complex arithmetic would make
// (2 + 0i)(inf + 0i) = inf + NaN i, OpenBLAS's short and long complex
// kernels disagree on infinities, and given a zero factor they spoil or zero
// the neighbours of an element holding NaN. The parts go in two runs of n, so
// counts stay within the BLAS integer. Returns false for any other factor.
template <class R, class Routine, class... Elements>
[[gnu::always_inline]] inline bool on_parts(blas_int n, const std::complex<R>& a, Routine routine,
                                            Elements*... x) {
  if (a.imag() != 0) {
    return false;
  }
  routine(n, a.real(), parts(x)...);
  routine(n, a.real(), (parts(x) + n)...);
  return true;
}

template <class R>
[[gnu::always_inline]] inline void scal(blas_int n, const std::complex<R>& s, std::complex<R>* x) {
  if (!on_parts(n, s, [](auto... args) { scal(args...); }, x)) {
    complex_scal(n, s, x);
  }
}

// Every inc-th element of x, n of them: with a factor that has no imaginary part, their real
// parts and their imaginary parts as two runs of real numbers 2 inc apart, when that distance
// is a BLAS integer.
template <class R>
void scal(blas_int n, const std::complex<R>& s, std::complex<R>* x, blas_int inc) {
  if (s.imag() == 0 && inc <= std::numeric_limits<blas_int>::max() / 2) {
    scal(n, s.real(), parts(x), 2 * inc);
    scal(n, s.real(), parts(x) + 1, 2 * inc);
  } else {
    complex_scal(n, s, x, inc);
  }
}

}  // namespace routine
}  // namespace detail

// Always inlined: its own work, checks and one BLAS call, costs less than a call of its own.
template <class T>
[[gnu::always_inline]] inline T& Operations::scale(typename T::SampleType s, T& x) {
  const blas_int n = detail::to_blas_int("scale", x.numel());
  detail::unlocked(Work::level1, n, [&] { detail::routine::scal(n, s, x.get()); });
  return x;
}

}  // namespace Algorithms
