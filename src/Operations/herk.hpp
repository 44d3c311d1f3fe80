#pragma once

#include "Operations.hpp"
#include "checks.hpp"
#include "syrk.hpp"

namespace Algorithms {

// Complex kinds: C = a A A^H + bC ('N') or a A^H A + bC ('C'), a and b real. BLAS zeroes the
// imaginary parts of C's diagonal.
template <class T, class S>
S& Operations::herk(char uplo, char trans, real_of<typename T::SampleType> a,
                    real_of<typename T::SampleType> b, const T& A, S& C) {
  detail::check_flag("herk", "uplo", uplo, "UL");
  detail::check_flag("herk", "trans", trans, "NC");
  return rank_k("herk", uplo, trans, a, b, A, C);
}

}  // namespace Algorithms
