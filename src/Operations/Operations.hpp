#pragma once

#include <cstddef>

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

 private:
  template <class T, class S, class R>
  static R& gemv_named(const char* name, typename T::SampleType a, typename T::SampleType b,
                       const T& A, const S& x, R& y);
  template <class T, class S, class R>
  static R& gemm_named(const char* name, typename T::SampleType a, typename T::SampleType b,
                       const T& A, const S& X, R& Y);
};

}  // namespace Algorithms
