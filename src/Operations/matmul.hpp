#pragma once

#include "Operations.hpp"
#include "gemm.hpp"

namespace Algorithms {

// Y = AX + Y: the product is added to what Y holds.
template <class T, class S, class R>
R& Operations::matmul(const T& A, const S& X, R& Y) {
  const typename T::SampleType one(1);
  return gemm_named("matmul", 'N', 'N', one, one, A, X, Y);
}

}  // namespace Algorithms
