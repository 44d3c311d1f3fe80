#pragma once

#include <complex>
#include <type_traits>

namespace Algorithms {

template <class T>
class Vector;
template <class T>
class VectorView;
template <class T>
class Matrix;

template <class T>
struct is_matrix : std::false_type {};
template <class T>
struct is_matrix<Matrix<T>> : std::true_type {};

template <class T>
struct is_complex : std::false_type {};
template <class T>
struct is_complex<std::complex<T>> : std::true_type {};

}  // namespace Algorithms
