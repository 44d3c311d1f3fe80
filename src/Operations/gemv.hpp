#pragma once

#include <algorithm>
#include <complex>

#include "../Blas.hpp"
#include "Operations.hpp"
#include "checks.hpp"
#include "errors.hpp"
#include "flags.hpp"
#include "scale.hpp"
#include "unlocked.hpp"

namespace Algorithms {

namespace detail {
namespace routine {

inline void gemv(CBLAS_TRANSPOSE trans, blas_int m, blas_int n, float a, const float* A,
                 blas_int lda, const float* x, float b, float* y) {
  VEXA_BLAS(cblas_sgemv)(CblasColMajor, trans, m, n, a, A, lda, x, 1, b, y, 1);
}
inline void gemv(CBLAS_TRANSPOSE trans, blas_int m, blas_int n, const std::complex<float>& a,
                 const std::complex<float>* A, blas_int lda, const std::complex<float>* x,
                 const std::complex<float>& b, std::complex<float>* y) {
  VEXA_BLAS(cblas_cgemv)(CblasColMajor, trans, m, n, &a, A, lda, x, 1, &b, y, 1);
}
inline void gemv(CBLAS_TRANSPOSE trans, blas_int m, blas_int n, double a, const double* A,
                 blas_int lda, const double* x, double b, double* y) {
  VEXA_BLAS(cblas_dgemv)(CblasColMajor, trans, m, n, a, A, lda, x, 1, b, y, 1);
}
inline void gemv(CBLAS_TRANSPOSE trans, blas_int m, blas_int n, const std::complex<double>& a,
                 const std::complex<double>* A, blas_int lda, const std::complex<double>* x,
                 const std::complex<double>& b, std::complex<double>* y) {
  VEXA_BLAS(cblas_zgemv)(CblasColMajor, trans, m, n, &a, A, lda, x, 1, &b, y, 1);
}

}  // namespace routine
}  // namespace detail

namespace detail {

// y = a op(A) x + by needs x as long as op(A) is wide and y as long as op(A) is tall.
template <class T, class S, class R>
void validate_gemv_op(const char* expression, char trans, const T& A, const S& x, R& y) {
  check_extents(expression, op_extent("matrix A", A, trans, 1), extent<0>("vector x", x));
  check_extents(expression, op_extent("matrix A", A, trans, 0), extent<0>("vector y", y));
}

// The expressions of the shape checks, by trans: 'N', 'T', 'C'.
constexpr const char* gemv_expressions[] = {"gemv expression y = aAx + by",
                                            "gemv expression y = aA^Tx + by",
                                            "gemv expression y = aA^Hx + by"};

}  // namespace detail

template <class T, class S, class R>
void validate_gemv(const T& A, const S& x, R& y) {
  detail::validate_gemv_op(detail::gemv_expressions[0], 'N', A, x, y);
}

template <class T, class S, class R>
R& Operations::gemv_named(const char* name, char trans, typename T::SampleType a,
                          typename T::SampleType b, const T& A, const S& x, R& y) {
  if constexpr (!is_matrix<T>::value) {
    throw operand_type_error(detail::message(name, "operand A must be a matrix"));
  } else {
    detail::validate_gemv_op(detail::gemv_expressions[detail::trans_index(trans)], trans, A, x, y);
    const blas_int m = detail::to_blas_int(name, A.template dim<0>());
    const blas_int n = detail::to_blas_int(name, A.template dim<1>());
    // op(A) is rows x columns.
    const blas_int rows = trans == 'N' ? m : n, columns = trans == 'N' ? n : m;
    detail::require_elements(name, "x", x.numel(), static_cast<size_t>(columns));
    detail::require_elements(name, "y", y.numel(), static_cast<size_t>(rows));
    // The call reads A whole and the first columns elements of x, and writes
    // the first rows of y.
    const auto written = detail::run("vector y", y.get(), static_cast<size_t>(rows));
    detail::refuse_shared(name, written, detail::run("matrix A", A.get(), A.numel()));
    detail::refuse_shared(name, written,
                          detail::run("vector x", x.get(), static_cast<size_t>(columns)));
    if (columns == 0) {
      // BLAS returns early on an empty product without applying b; the
      // result of a sum over no terms is b*y. A zero b overwrites y, NaN
      // included, as BLAS does, which scaling by zero would not.
      const typename T::SampleType zero(0);
      if (b == zero) {
        std::fill_n(y.get(), rows, zero);
      } else {
        detail::unlocked(Work::level1, rows, [&] { detail::routine::scal(rows, b, y.get()); });
      }
    } else {
      detail::unlocked(Work::product, double(m) * double(n), [&] {
        detail::routine::gemv(detail::transposition(trans), m, n, a, A.get(),
                              detail::leading_dimension(m), x.get(), b, y.get());
      });
    }
    return y;
  }
}

template <class T, class S, class R>
R& Operations::gemv(typename T::SampleType a, typename T::SampleType b, const T& A, const S& x,
                    R& y) {
  return gemv_named("gemv", 'N', a, b, A, x, y);
}

}  // namespace Algorithms
