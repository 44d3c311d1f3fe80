#pragma once

#include "Operations.hpp"
#include "axpy.hpp"
#include "checks.hpp"

namespace Algorithms {

// y += x is axpy with a factor of exactly one (zero imaginary part).
template <class T, class S>
S& Operations::sum(const T& x, S& y) {
  const typename T::SampleType one(1);
  detail::routine::axpy(detail::level1_count("sum", x, y), one, x.get(), y.get());
  return y;
}

}  // namespace Algorithms
