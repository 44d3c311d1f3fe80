#pragma once

#include <cstddef>

#include "../Types.hpp"

namespace Algorithms {

// Every operation is a static member template, defined in its own header.
// Each is one BLAS or LAPACKE call on the operands' own storage; the routine
// is picked at compile time by overloads on the scalar kind.
struct Operations {
  template <class T>
  static T& scale(typename T::SampleType s, T& x);
  template <class T, class S>
  static S& axpy(typename T::SampleType a, const T& x, S& y);
  template <class T, class S>
  static S& sum(const T& x, S& y);
  template <class T, class S>
  static S& copy(const T& x, S& y);
  template <class T, class S>
  static void swap(T& x, S& y);
  template <class T, class S>
  static typename T::SampleType dot(const T& x, S& y);
  template <class T, class S>
  static typename T::SampleType hdot(const T& x, S& y);
  template <class T, class S, class R>
  static R& gemv(typename T::SampleType a, typename T::SampleType b, const T& A, const S& x, R& y);
  template <class T, class S, class R>
  static R& matvec(const T& A, const S& x, R& y);
  template <class T, class S, class R>
  static R& gemm(typename T::SampleType a, typename T::SampleType b, const T& A, const S& X, R& Y);
  template <class T, class S, class R>
  static R& matmul(const T& A, const S& X, R& Y);
  template <class T, class S>
  static void ls(const T& A, S& x);
  template <class T, class StreamType>
  static void show(const T& x, StreamType& output);

  // Transposing, triangular and band forms, and views onto a matrix's columns. A one-letter
  // option comes first: trans 'N', 'T' or 'C', uplo 'U' or 'L', diag 'N' or 'U', side 'L' or 'R'.
  template <class T, class S, class R>
  static R& gemv_op(char trans, typename T::SampleType a, typename T::SampleType b, const T& A,
                    const S& x, R& y);
  template <class T, class S, class R>
  static R& gemm_op(char transa, char transb, typename T::SampleType a, typename T::SampleType b,
                    const T& A, const S& X, R& Y);
  template <class T, class S>
  static S& syrk(char uplo, char trans, typename T::SampleType a, typename T::SampleType b,
                 const T& A, S& C);
  template <class T, class S>
  static S& herk(char uplo, char trans, real_of<typename T::SampleType> a,
                 real_of<typename T::SampleType> b, const T& A, S& C);
  template <class T, class S, class R>
  static R& ger(typename T::SampleType a, const T& x, const S& y, R& A);
  template <class T, class S, class R>
  static R& gerc(typename T::SampleType a, const T& x, const S& y, R& A);
  template <class T, class S>
  static S& trsv(char uplo, char trans, char diag, const T& A, S& x);
  template <class T, class S>
  static S& trsm(char side, char uplo, char trans, char diag, typename T::SampleType a, const T& A,
                 S& B);
  template <class T>
  static real_of<typename T::SampleType> nrm2(const T& x);
  template <class T>
  static real_of<typename T::SampleType> asum(const T& x);
  template <class T>
  static size_t iamax(const T& x);
  template <class T, class S>
  static S& axpby(typename T::SampleType a, const T& x, typename T::SampleType b, S& y);
  template <class T, class S>
  static S& mul(const T& x, S& y);
  template <class T, class S>
  static S& scale_rows(const T& d, S& A);
  template <class T, class S>
  static S& scale_columns(const T& d, S& A);
  template <class T>
  static VectorView<typename T::SampleType> column(const T& A, size_t j);
  template <class T>
  static Matrix<typename T::SampleType> columns(const T& A, size_t start, size_t stop);
  template <class T>
  static Matrix<typename T::SampleType> as_matrix(const T& x, size_t rows, size_t columns);

  // QR factorization and least squares with several right-hand sides. geqrf leaves the reflectors
  // in A and their factors in tau; ormqr applies the Q they make, side 'L' or 'R', trans 'N',
  // 'T' or 'C' by kind; gels solves for every column of B.
  template <class T, class S>
  static S& geqrf(T& A, S& tau);
  template <class T, class S, class R>
  static R& ormqr(char side, char trans, const T& A, const S& tau, R& C);
  template <class T, class S>
  static S& gels(T& A, S& B);
  // Solves by a factorization of a square A, which receives the factor: B is a vector or view
  // (one right-hand side) or a matrix (one per column), and receives the solutions.
  template <class T, class S>
  static S& gesv(const T& A, S& B);
  template <class T, class S>
  static S& posv(char uplo, const T& A, S& B);
  template <class T>
  static T& potrf(char uplo, T& A);
  template <class T, class S>
  static S& potrs(char uplo, const T& A, S& B);

 private:
  // The products of gemv, matvec and gemv_op, and of gemm, matmul and gemm_op, with checked
  // transpositions ('N' for an operand as it stands).
  template <class T, class S, class R>
  static R& gemv_named(const char* name, char trans, typename T::SampleType a,
                       typename T::SampleType b, const T& A, const S& x, R& y);
  template <class T, class S, class R>
  static R& gemm_named(const char* name, char transa, char transb, typename T::SampleType a,
                       typename T::SampleType b, const T& A, const S& X, R& Y);
  // syrk and herk: C = a A op(A) + b C or a op(A) A + b C.
  template <class T, class S, class Coefficient>
  static S& rank_k(const char* name, char uplo, char trans, Coefficient a, Coefficient b,
                   const T& A, S& C);
  // ger and gerc: A = a x op(y) + A.
  template <bool Conjugate, class T, class S, class R>
  static R& rank_1(const char* name, typename T::SampleType a, const T& x, const S& y, R& A);
  // scale_rows and scale_columns: A = diag(d) A or A diag(d).
  template <bool Rows, class T, class S>
  static S& scale_lines(const char* name, const T& d, S& A);
};

}  // namespace Algorithms
