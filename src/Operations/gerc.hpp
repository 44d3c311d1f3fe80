#pragma once

#include "Operations.hpp"
#include "ger.hpp"

namespace Algorithms {

// Complex kinds: A = a x y^H + A.
template <class T, class S, class R>
R& Operations::gerc(typename T::SampleType a, const T& x, const S& y, R& A) {
  return rank_1<true>("gerc", a, x, y, A);
}

}  // namespace Algorithms
