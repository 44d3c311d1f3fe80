#pragma once

#include <cmath>
#include <complex>
#include <type_traits>

namespace Algorithms {

template <class T>
class Matrix;

template <class T>
struct is_matrix : std::false_type {};
template <class T>
struct is_matrix<Matrix<T>> : std::true_type {};

// The real type of a kind: float for float and for std::complex<float>.
template <class V>
using real_of = decltype(std::abs(V()));

}  // namespace Algorithms
