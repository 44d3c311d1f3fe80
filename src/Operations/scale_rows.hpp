#pragma once

#include "Operations.hpp"
#include "checks.hpp"
#include "scale.hpp"
#include "unlocked.hpp"

namespace Algorithms {

// A = diag(d) A (Rows) or A diag(d): line i of A, a row or a column, times d[i], one ?scal per
// line. A row is every rows-th element; a band routine (?tbmv) down each column would work on
// contiguous elements, but costs several times a ?scal per call on small matrices. d is read as
// gemv reads its x: its first as many elements as A has lines.
template <bool Rows, class T, class S>
S& Operations::scale_lines(const char* name, const T& d, S& A) {
  const char* expression =
      Rows ? "scale_rows expression A = diag(d)A" : "scale_columns expression A = Adiag(d)";
  detail::check_extents(expression,
                        Rows ? detail::extent<0>("matrix A", A) : detail::extent<1>("matrix A", A),
                        detail::extent<0>("vector d", d));
  const blas_int m = detail::to_blas_int(name, A.template dim<0>());
  const blas_int n = detail::to_blas_int(name, A.template dim<1>());
  const blas_int lines = Rows ? m : n, length = Rows ? n : m;
  detail::require_elements(name, "d", d.numel(), static_cast<size_t>(lines));
  detail::refuse_shared(name, detail::run("matrix A", A.get(), A.numel()),
                        detail::run("vector d", d.get(), static_cast<size_t>(lines)));
  detail::unlocked(Work::level1, double(m) * double(n), [&] {
    for (blas_int i = 0; i < lines && length > 0; ++i) {
      if constexpr (Rows) {
        detail::routine::scal(length, d.get()[i], A.get() + i, m);
      } else {
        detail::routine::scal(length, d.get()[i], A.get() + size_t(i) * size_t(m));
      }
    }
  });
  return A;
}

template <class T, class S>
S& Operations::scale_rows(const T& d, S& A) {
  return scale_lines<true>("scale_rows", d, A);
}

}  // namespace Algorithms
