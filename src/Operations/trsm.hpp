#pragma once

#include <complex>

#include "../Blas.hpp"
#include "Operations.hpp"
#include "checks.hpp"
#include "flags.hpp"
#include "trsv.hpp"
#include "unlocked.hpp"

namespace Algorithms {
namespace detail {
namespace routine {

inline void trsm(CBLAS_SIDE side, CBLAS_UPLO uplo, CBLAS_TRANSPOSE trans, CBLAS_DIAG diag,
                 blas_int m, blas_int n, float a, const float* A, blas_int lda, float* B,
                 blas_int ldb) {
  VEXA_BLAS(cblas_strsm)(CblasColMajor, side, uplo, trans, diag, m, n, a, A, lda, B, ldb);
}
inline void trsm(CBLAS_SIDE side, CBLAS_UPLO uplo, CBLAS_TRANSPOSE trans, CBLAS_DIAG diag,
                 blas_int m, blas_int n, double a, const double* A, blas_int lda, double* B,
                 blas_int ldb) {
  VEXA_BLAS(cblas_dtrsm)(CblasColMajor, side, uplo, trans, diag, m, n, a, A, lda, B, ldb);
}
inline void trsm(CBLAS_SIDE side, CBLAS_UPLO uplo, CBLAS_TRANSPOSE trans, CBLAS_DIAG diag,
                 blas_int m, blas_int n, const std::complex<float>& a, const std::complex<float>* A,
                 blas_int lda, std::complex<float>* B, blas_int ldb) {
  VEXA_BLAS(cblas_ctrsm)(CblasColMajor, side, uplo, trans, diag, m, n, &a, A, lda, B, ldb);
}
inline void trsm(CBLAS_SIDE side, CBLAS_UPLO uplo, CBLAS_TRANSPOSE trans, CBLAS_DIAG diag,
                 blas_int m, blas_int n, const std::complex<double>& a,
                 const std::complex<double>* A, blas_int lda, std::complex<double>* B,
                 blas_int ldb) {
  VEXA_BLAS(cblas_ztrsm)(CblasColMajor, side, uplo, trans, diag, m, n, &a, A, lda, B, ldb);
}

}  // namespace routine

// The expressions of the shape checks, by side ('L', 'R') and then trans ('N', 'T', 'C').
constexpr const char* trsm_expressions[] = {
    "trsm expression B = aA^-1B", "trsm expression B = aA^-TB", "trsm expression B = aA^-HB",
    "trsm expression B = aBA^-1", "trsm expression B = aBA^-T", "trsm expression B = aBA^-H"};

}  // namespace detail

// B = a op(A)^-1 B ('L') or a B op(A)^-1 ('R') for the uplo triangle of A, whose diagonal is
// taken as ones for diag 'U'.
template <class T, class S>
S& Operations::trsm(char side, char uplo, char trans, char diag, typename T::SampleType a,
                    const T& A, S& B) {
  detail::check_flag("trsm", "side", side, "LR");
  detail::check_flag("trsm", "uplo", uplo, "UL");
  const char op = detail::checked_trans<typename T::SampleType>("trsm", "trans", trans);
  detail::check_flag("trsm", "diag", diag, "NU");
  const bool left = side == 'L';
  const char* expression = detail::trsm_expressions[(left ? 0 : 3) + detail::trans_index(op)];
  const blas_int order = detail::square_order("trsm", expression, A);
  detail::check_extents(expression, detail::extent<0>("matrix A", A),
                        left ? detail::extent<0>("matrix B", B) : detail::extent<1>("matrix B", B));
  const blas_int m = detail::to_blas_int("trsm", B.template dim<0>());
  const blas_int n = detail::to_blas_int("trsm", B.template dim<1>());
  detail::refuse_shared("trsm", detail::run("matrix B", B.get(), B.numel()),
                        detail::run("matrix A", A.get(), A.numel()));
  detail::refuse_singular("trsm", diag, A.get(), order);
  detail::unlocked(Work::solve, double(m) * double(n) * double(order), [&] {
    detail::routine::trsm(detail::side_of(side), detail::triangle(uplo), detail::transposition(op),
                          detail::diagonal(diag), m, n, a, A.get(),
                          detail::leading_dimension(order), B.get(), detail::leading_dimension(m));
  });
  return B;
}

}  // namespace Algorithms
