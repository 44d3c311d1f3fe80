#pragma once

#include "Operations.hpp"
#include "flags.hpp"
#include "gemm.hpp"

namespace Algorithms {

// Y = a op(A) op(X) + bY, each op being the operand, its transpose ('T') or its conjugate
// transpose ('C'). Named for BLAS's op(A), as gemv_op is.
template <class T, class S, class R>
R& Operations::gemm_op(char transa, char transb, typename T::SampleType a, typename T::SampleType b,
                       const T& A, const S& X, R& Y) {
  using V = typename T::SampleType;
  const char opA = detail::checked_trans<V>("gemm", "transa", transa);
  const char opX = detail::checked_trans<V>("gemm", "transb", transb);
  return gemm_named("gemm", opA, opX, a, b, A, X, Y);
}

}  // namespace Algorithms
