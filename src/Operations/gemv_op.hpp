#pragma once

#include "Operations.hpp"
#include "flags.hpp"
#include "gemv.hpp"

namespace Algorithms {

// y = a op(A) x + by, op(A) being A, its transpose ('T') or its conjugate transpose ('C'). Named
// for BLAS's op(A): gemv, which takes no option, already names the product of A as it stands.
template <class T, class S, class R>
R& Operations::gemv_op(char trans, typename T::SampleType a, typename T::SampleType b, const T& A,
                       const S& x, R& y) {
  const char op = detail::checked_trans<typename T::SampleType>("gemv", "trans", trans);
  return gemv_named("gemv", op, a, b, A, x, y);
}

}  // namespace Algorithms
