#pragma once

#include <complex>
#include <type_traits>

#include "../Blas.hpp"
#include "Operations.hpp"
#include "checks.hpp"
#include "flags.hpp"
#include "unlocked.hpp"

namespace Algorithms {
namespace detail {
namespace routine {

inline void syrk(CBLAS_UPLO uplo, CBLAS_TRANSPOSE trans, blas_int n, blas_int k, float a,
                 const float* A, blas_int lda, float b, float* C, blas_int ldc) {
  VEXA_BLAS(cblas_ssyrk)(CblasColMajor, uplo, trans, n, k, a, A, lda, b, C, ldc);
}
inline void syrk(CBLAS_UPLO uplo, CBLAS_TRANSPOSE trans, blas_int n, blas_int k, double a,
                 const double* A, blas_int lda, double b, double* C, blas_int ldc) {
  VEXA_BLAS(cblas_dsyrk)(CblasColMajor, uplo, trans, n, k, a, A, lda, b, C, ldc);
}
inline void syrk(CBLAS_UPLO uplo, CBLAS_TRANSPOSE trans, blas_int n, blas_int k,
                 const std::complex<float>& a, const std::complex<float>* A, blas_int lda,
                 const std::complex<float>& b, std::complex<float>* C, blas_int ldc) {
  VEXA_BLAS(cblas_csyrk)(CblasColMajor, uplo, trans, n, k, &a, A, lda, &b, C, ldc);
}
inline void syrk(CBLAS_UPLO uplo, CBLAS_TRANSPOSE trans, blas_int n, blas_int k,
                 const std::complex<double>& a, const std::complex<double>* A, blas_int lda,
                 const std::complex<double>& b, std::complex<double>* C, blas_int ldc) {
  VEXA_BLAS(cblas_zsyrk)(CblasColMajor, uplo, trans, n, k, &a, A, lda, &b, C, ldc);
}
inline void herk(CBLAS_UPLO uplo, CBLAS_TRANSPOSE trans, blas_int n, blas_int k, float a,
                 const std::complex<float>* A, blas_int lda, float b, std::complex<float>* C,
                 blas_int ldc) {
  VEXA_BLAS(cblas_cherk)(CblasColMajor, uplo, trans, n, k, a, A, lda, b, C, ldc);
}
inline void herk(CBLAS_UPLO uplo, CBLAS_TRANSPOSE trans, blas_int n, blas_int k, double a,
                 const std::complex<double>* A, blas_int lda, double b, std::complex<double>* C,
                 blas_int ldc) {
  VEXA_BLAS(cblas_zherk)(CblasColMajor, uplo, trans, n, k, a, A, lda, b, C, ldc);
}

}  // namespace routine

// The expressions of the shape checks, for trans 'N' and for the other letter.
constexpr const char* syrk_expressions[] = {"syrk expression C = aAA^T + bC",
                                            "syrk expression C = aA^TA + bC"};
constexpr const char* herk_expressions[] = {"herk expression C = aAA^H + bC",
                                            "herk expression C = aA^HA + bC"};

}  // namespace detail

// C = a A op(A) + bC ('N') or a op(A) A + bC, on the uplo triangle of C only. herk's
// coefficients are real, syrk's of the kind; trans is checked by the caller.
template <class T, class S, class Coefficient>
S& Operations::rank_k(const char* name, char uplo, char trans, Coefficient a, Coefficient b,
                      const T& A, S& C) {
  constexpr bool hermitian = !std::is_same<Coefficient, typename T::SampleType>::value;
  const char* expression =
      (hermitian ? detail::herk_expressions : detail::syrk_expressions)[trans == 'N' ? 0 : 1];
  detail::check_extents(expression, detail::extent<0>("matrix C", C),
                        detail::extent<1>("matrix C", C));
  detail::check_extents(expression, detail::op_extent("matrix A", A, trans, 0),
                        detail::extent<0>("matrix C", C));
  const blas_int n = detail::to_blas_int(name, C.template dim<0>());
  const blas_int rows = detail::to_blas_int(name, A.template dim<0>());
  const blas_int columns = detail::to_blas_int(name, A.template dim<1>());
  const blas_int k = trans == 'N' ? columns : rows;
  detail::refuse_shared(name, detail::run("matrix C", C.get(), C.numel()),
                        detail::run("matrix A", A.get(), A.numel()));
  detail::unlocked(Work::product, double(n) * double(n) * double(k), [&] {
    const auto call = [](auto... args) {
      if constexpr (hermitian) {
        detail::routine::herk(args...);
      } else {
        detail::routine::syrk(args...);
      }
    };
    call(detail::triangle(uplo), detail::transposition(trans), n, k, a, A.get(),
         detail::leading_dimension(rows), b, C.get(), detail::leading_dimension(n));
  });
  return C;
}

// For complex kinds trans is 'N' or 'T': the product is symmetric, not Hermitian.
template <class T, class S>
S& Operations::syrk(char uplo, char trans, typename T::SampleType a, typename T::SampleType b,
                    const T& A, S& C) {
  using V = typename T::SampleType;
  detail::check_flag("syrk", "uplo", uplo, "UL");
  if constexpr (std::is_floating_point<V>::value) {
    return rank_k("syrk", uplo, detail::checked_trans<V>("syrk", "trans", trans), a, b, A, C);
  } else {
    detail::check_flag("syrk", "trans", trans, "NT");
    return rank_k("syrk", uplo, trans, a, b, A, C);
  }
}

}  // namespace Algorithms
