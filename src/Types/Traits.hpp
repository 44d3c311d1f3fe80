#pragma once

#include <type_traits>

namespace Algorithms {

template <class T>
class Matrix;

template <class T>
struct is_matrix : std::false_type {};
template <class T>
struct is_matrix<Matrix<T>> : std::true_type {};

}  // namespace Algorithms
