#pragma once

#include <algorithm>
#include <cstddef>
#include <string>

#include "../Blas.hpp"
#include "Operations.hpp"
#include "checks.hpp"
#include "columns_operand.hpp"
#include "errors.hpp"
#include "ls.hpp"

namespace Algorithms {

// Least squares (m >= n) or minimum norm (m < n) solutions of A X = B in
// place, one for each column of B (max(m, n) rows): each column holds b in
// its first m elements on entry and the solution in its first n on return,
// A its QR or LQ factorization. The solve and its checks are ls's, column by
// column.
template <class T, class S>
S& Operations::gels(T& A, S& B) {
  const size_t rows = std::max(A.template dim<0>(), A.template dim<1>());
  const detail::ColumnsOperand b = detail::columns_operand("matrix B", "vector B", B);
  if (b.rows != rows) {
    detail::fail("gels", std::string(b.operand) + " dimension 0: " + std::to_string(b.rows) +
                             ", doesn't match max(m, n) of matrix A: " + std::to_string(rows));
  }
  const blas_int m = detail::to_blas_int("gels", A.template dim<0>());
  const blas_int n = detail::to_blas_int("gels", A.template dim<1>());
  const blas_int nrhs = detail::to_blas_int("gels", b.columns);
  detail::refuse_shared("gels", detail::run(b.operand, B.get(), rows * b.columns),
                        detail::run("matrix A", A.get(), A.numel()));
  detail::solve_least_squares("gels", b.operand, m, n, nrhs, A.get(), B.get());
  return B;
}

}  // namespace Algorithms
