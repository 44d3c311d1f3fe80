#pragma once

#include <complex>
#include <string>

#include "../Blas.hpp"
#include "Operations.hpp"
#include "checks.hpp"
#include "flags.hpp"
#include "unlocked.hpp"

namespace Algorithms {
namespace detail {
namespace routine {

inline void trsv(CBLAS_UPLO uplo, CBLAS_TRANSPOSE trans, CBLAS_DIAG diag, blas_int n,
                 const float* A, blas_int lda, float* x) {
  VEXA_BLAS(cblas_strsv)(CblasColMajor, uplo, trans, diag, n, A, lda, x, 1);
}
inline void trsv(CBLAS_UPLO uplo, CBLAS_TRANSPOSE trans, CBLAS_DIAG diag, blas_int n,
                 const double* A, blas_int lda, double* x) {
  VEXA_BLAS(cblas_dtrsv)(CblasColMajor, uplo, trans, diag, n, A, lda, x, 1);
}
inline void trsv(CBLAS_UPLO uplo, CBLAS_TRANSPOSE trans, CBLAS_DIAG diag, blas_int n,
                 const std::complex<float>* A, blas_int lda, std::complex<float>* x) {
  VEXA_BLAS(cblas_ctrsv)(CblasColMajor, uplo, trans, diag, n, A, lda, x, 1);
}
inline void trsv(CBLAS_UPLO uplo, CBLAS_TRANSPOSE trans, CBLAS_DIAG diag, blas_int n,
                 const std::complex<double>* A, blas_int lda, std::complex<double>* x) {
  VEXA_BLAS(cblas_ztrsv)(CblasColMajor, uplo, trans, diag, n, A, lda, x, 1);
}

}  // namespace routine

// The order of a matrix that must be square: a triangle, or a matrix to factor.
template <class T>
blas_int square_order(const char* name, const char* expression, const T& A) {
  check_extents(expression, extent<0>("matrix A", A), extent<1>("matrix A", A));
  return to_blas_int(name, A.template dim<0>());
}

// A triangular solve with a non-unit diagonal divides by every diagonal element; an exact zero
// would fill the solution with infinities and NaN. The position counts from 1, as LAPACK's
// info does.
template <class V>
void refuse_singular(const char* name, char diag, const V* A, blas_int n) {
  if (diag == 'U') {
    return;
  }
  const size_t order = static_cast<size_t>(n);
  for (size_t i = 0; i < order; ++i) {
    if (A[i * (order + 1)] == V(0)) {
      const std::string position = std::to_string(i + 1);
      fail(name, "matrix A is singular: A(" + position + "," + position + ") is zero");
    }
  }
}

// The expressions of the shape checks, by trans: 'N', 'T', 'C'.
constexpr const char* trsv_expressions[] = {
    "trsv expression x = A^-1x", "trsv expression x = A^-Tx", "trsv expression x = A^-Hx"};

}  // namespace detail

// x = op(A)^-1 x for the uplo triangle of A, whose diagonal is taken as ones for diag 'U'. x is
// read as gemv reads its x: its first as many elements as A has columns.
template <class T, class S>
S& Operations::trsv(char uplo, char trans, char diag, const T& A, S& x) {
  detail::check_flag("trsv", "uplo", uplo, "UL");
  const char op = detail::checked_trans<typename T::SampleType>("trsv", "trans", trans);
  detail::check_flag("trsv", "diag", diag, "NU");
  const char* expression = detail::trsv_expressions[detail::trans_index(op)];
  const blas_int n = detail::square_order("trsv", expression, A);
  detail::check_extents(expression, detail::extent<0>("matrix A", A),
                        detail::extent<0>("vector x", x));
  detail::require_elements("trsv", "x", x.numel(), static_cast<size_t>(n));
  detail::refuse_shared("trsv", detail::run("vector x", x.get(), static_cast<size_t>(n)),
                        detail::run("matrix A", A.get(), A.numel()));
  detail::refuse_singular("trsv", diag, A.get(), n);
  detail::unlocked(Work::solve, double(n) * double(n), [&] {
    detail::routine::trsv(detail::triangle(uplo), detail::transposition(op), detail::diagonal(diag),
                          n, A.get(), detail::leading_dimension(n), x.get());
  });
  return x;
}

}  // namespace Algorithms
