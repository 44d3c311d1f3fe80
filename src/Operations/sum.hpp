#pragma once

#include "Operations.hpp"
#include "axpy.hpp"
#include "checks.hpp"
#include "unlocked.hpp"

namespace Algorithms {

// y += x is axpy with a factor of exactly one (zero imaginary part).
// Always inlined: its own work, checks and one BLAS call, costs less than a call of its own.
template <class T, class S>
[[gnu::always_inline]] inline S& Operations::sum(const T& x, S& y) {
  const typename T::SampleType one(1);
  const blas_int n = detail::level1_count("sum", x, y);
  detail::refuse_partial_overlap("sum", x.get(), y.get(), n);
  detail::unlocked(Work::level1, n, [&] { detail::add_scaled(n, one, x.get(), y.get()); });
  return y;
}

}  // namespace Algorithms
