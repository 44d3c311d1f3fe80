#pragma once

#include <type_traits>

#include "../Blas.hpp"
#include "../Types/Traits.hpp"
#include "checks.hpp"

namespace Algorithms {
namespace detail {

// A checked trans option of kind V: 'N', 'T' or 'C', where 'C' of a real kind is 'T', so that
// calls and messages see one letter for one meaning.
template <class V>
char checked_trans(const char* name, const char* flag, char value) {
  check_flag(name, flag, value, "NTC");
  return value == 'C' && std::is_floating_point<V>::value ? 'T' : value;
}

// The position of a checked trans letter in the tables of expressions: 'N', 'T', 'C'.
inline int trans_index(char trans) { return trans == 'N' ? 0 : trans == 'T' ? 1 : 2; }

// CBLAS's constants for checked option letters.
inline CBLAS_TRANSPOSE transposition(char trans) {
  return trans == 'N' ? CblasNoTrans : trans == 'T' ? CblasTrans : CblasConjTrans;
}
inline CBLAS_UPLO triangle(char uplo) { return uplo == 'U' ? CblasUpper : CblasLower; }
inline CBLAS_DIAG diagonal(char diag) { return diag == 'U' ? CblasUnit : CblasNonUnit; }
inline CBLAS_SIDE side_of(char side) { return side == 'L' ? CblasLeft : CblasRight; }

// Extent d of op(A) as the shape checks name it: the other extent of A when trans transposes.
template <class T>
Extent op_extent(const char* operand, const T& A, char trans, size_t d) {
  const size_t stored = trans == 'N' ? d : 1 - d;
  return {operand, stored, stored == 0 ? A.template dim<0>() : A.template dim<1>()};
}

}  // namespace detail
}  // namespace Algorithms
