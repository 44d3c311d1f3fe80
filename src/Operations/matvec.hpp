#pragma once

#include "Operations.hpp"
#include "gemv.hpp"

namespace Algorithms {

// y = Ax + y: the product is added to what y holds.
template <class T, class S, class R>
R& Operations::matvec(const T& A, const S& x, R& y) {
  const typename T::SampleType one(1);
  return gemv_named("matvec", 'N', one, one, A, x, y);
}

}  // namespace Algorithms
