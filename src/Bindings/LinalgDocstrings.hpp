#pragma once

// The docstrings of vexa_linalg's functions. Each begins with the function's
// signature and a "--" line, from which Python makes the function's
// __text_signature__, so help() and inspect show the parameters by name.

namespace Bindings {
namespace linalg_docs {

constexpr const char* gemv = R"(gemv(trans, a, b, A, x, y, /)
--

y <- a op(A) x + b y, in place; returns y itself.

trans  "N": op(A) = A; "T": its transpose; "C": its conjugate transpose
       (the transpose for kinds s and d).
a, b   coefficients of the kind.
A      a matrix; call op(A) rows x cols.
x      a vector, view or matrix with x.dim(0) == cols; a matrix is read
       through its first column.
y      likewise with y.dim(0) == rows; its first rows elements are written.
When op(A) has no columns, y becomes b y (a zero b clears it, NaN included).

Raises ValueError for another trans, and RuntimeError, before anything is
written, when the extents disagree, a matrix x or y holds too few elements,
or y shares elements with A or x.)";

constexpr const char* gemm = R"(gemm(transa, transb, a, b, A, X, Y, /)
--

Y <- a op(A) op(X) + b Y, in place; returns Y itself.

transa, transb  "N", "T" or "C", for A and for X, as in gemv.
a, b            coefficients of the kind.
A, X, Y         matrices: op(A) is m x k, op(X) k x n and Y m x n.

Raises ValueError for another option, and RuntimeError, before anything is
written, when the extents disagree or Y shares elements with A or X.)";

constexpr const char* syrk = R"(syrk(uplo, trans, a, b, A, C, /)
--

C <- a A A^T + b C (trans "N") or a A^T A + b C (trans "T"), on the uplo
triangle of C only; returns C itself. The product is symmetric, not
Hermitian: no element is conjugated.

uplo   "U" or "L": the triangle of C written; the other stays as it is.
trans  "N" or "T"; for kinds s and d also "C", which means "T".
a, b   coefficients of the kind.
A      a matrix, n x k for "N" and k x n for "T".
C      an n x n matrix.

Raises ValueError for another option, and RuntimeError, before anything is
written, when the extents disagree or C shares elements with A.)";

constexpr const char* herk = R"(herk(uplo, trans, a, b, A, C, /)
--

Kinds c and z: C <- a A A^H + b C (trans "N") or a A^H A + b C (trans "C"),
on the uplo triangle of C only; returns C itself. The imaginary parts of C's
diagonal become zero.

uplo   "U" or "L": the triangle of C written; the other stays as it is.
trans  "N" or "C".
a, b   real coefficients (float).
A      a matrix, n x k for "N" and k x n for "C".
C      an n x n matrix.

Raises ValueError for another option, and RuntimeError, before anything is
written, when the extents disagree or C shares elements with A.)";

constexpr const char* ger = R"(ger(a, x, y, A, /)
--

A <- a x y^T + A, in place (unconjugated for kinds c and z); returns A itself.

a     a coefficient of the kind.
A     an m x n matrix.
x, y  vectors, views or matrices with x.dim(0) == m and y.dim(0) == n; a
      matrix is read through its first column.

Raises RuntimeError, before anything is written, when the extents disagree, a
matrix x or y holds too few elements, or A shares elements with x or y.)";

constexpr const char* gerc = R"(gerc(a, x, y, A, /)
--

Kinds c and z: A <- a x y^H + A, in place; returns A itself.

a     a coefficient of the kind.
A     an m x n matrix.
x, y  vectors, views or matrices with x.dim(0) == m and y.dim(0) == n; a
      matrix is read through its first column.

Raises RuntimeError, before anything is written, when the extents disagree, a
matrix x or y holds too few elements, or A shares elements with x or y.)";

constexpr const char* trsv = R"(trsv(uplo, trans, diag, A, x, /)
--

x <- op(A)^-1 x, solving with the uplo triangle of A; returns x itself.

uplo   "U" or "L": the triangle of A read; the other is not.
trans  "N", "T" or "C", as in gemv.
diag   "N": A's diagonal as it stands; "U": ones, without reading it.
A      an n x n matrix.
x      a vector, view or matrix with x.dim(0) == n; a matrix is solved
       through its first column. Its first n elements are written.

Raises ValueError for another option, and RuntimeError, before anything is
written, when the extents disagree, a matrix x holds too few elements, x
shares elements with A, or (diag "N") an element of A's diagonal is exactly
zero: "matrix A is singular: A(i,i) is zero", i counting from 1 as LAPACK's
info does, that is the element A[i - 1, i - 1].)";

constexpr const char* trsm = R"(trsm(side, uplo, trans, diag, a, A, B, /)
--

B <- a op(A)^-1 B (side "L") or a B op(A)^-1 (side "R"), solving with the
uplo triangle of A; returns B itself.

side   "L" or "R".
uplo   "U" or "L": the triangle of A read; the other is not.
trans  "N", "T" or "C", as in gemv.
diag   "N": A's diagonal as it stands; "U": ones, without reading it.
a      a coefficient of the kind.
A      a matrix, m x m for "L" and n x n for "R".
B      an m x n matrix.

Raises ValueError for another option, and RuntimeError, before anything is
written, when the extents disagree, B shares elements with A, or (diag "N")
an element of A's diagonal is exactly zero: "matrix A is singular: A(i,i) is
zero", i counting from 1 as LAPACK's info does.)";

constexpr const char* nrm2 = R"(nrm2(x, /)
--

The Euclidean norm of all of x's elements (a matrix's Frobenius norm), as a
float. BLAS scales as it sums: elements whose squares overflow or underflow
give the right norm, where sqrt(dot(x, x)) would not.)";

constexpr const char* asum = R"(asum(x, /)
--

The sum over all of x's elements of |Re x_i| + |Im x_i|, as a float: BLAS's
definition, which for kinds c and z is not the sum of magnitudes.)";

constexpr const char* iamax = R"(iamax(x, /)
--

The 0-based index, among all of x's elements, of the first whose
|Re x_i| + |Im x_i| is largest (BLAS's measure), as an int.

Raises RuntimeError for an empty x.)";

constexpr const char* axpby = R"(axpby(a, x, b, y, /)
--

y <- a x + b y over x's element count, in place; returns y itself. As BLAS
defines it, a zero a leaves x unread and a zero b leaves y's old values
unread, NaN included. x and y may be the very same run of elements (y then
becomes (a + b) y).

a, b  coefficients of the kind.
x, y  vectors, views or matrices (a matrix as its elements in storage order);
      y holds at least as many elements as x.

Raises RuntimeError, before anything is written, when y holds fewer elements
than x or shares some of them with x without being the same run.)";

constexpr const char* mul = R"(mul(x, y, /)
--

y <- x * y element by element over x's element count, unconjugated, in
place; returns y itself. x and y may be the very same run (y is squared).

x, y  vectors, views or matrices (a matrix as its elements in storage order);
      y holds at least as many elements as x.

Raises RuntimeError, before anything is written, when y holds fewer elements
than x or shares some of them with x without being the same run.

The routine is ?tbmv with no band beside the diagonal, which OpenBLAS hands,
however short x, to every thread of its pool: threadpoolctl's
threadpool_limits(1) spares that cost.)";

constexpr const char* scaleRows = R"(scale_rows(d, A, /)
--

A <- diag(d) A: row i of A times d[i], in place; returns A itself.

d  a vector, view or matrix with d.dim(0) == A.dim(0); a matrix is read
   through its first column.
A  a matrix.

Raises RuntimeError, before anything is written, when the extents disagree, a
matrix d holds too few elements, or A shares elements with d.)";

constexpr const char* scaleColumns = R"(scale_columns(d, A, /)
--

A <- A diag(d): column j of A times d[j], in place; returns A itself.

d  a vector, view or matrix with d.dim(0) == A.dim(1); a matrix is read
   through its first column.
A  a matrix.

Raises RuntimeError, before anything is written, when the extents disagree, a
matrix d holds too few elements, or A shares elements with d.)";

constexpr const char* column = R"(column(A, j, /)
--

A new view over column j of the matrix A: it shares A's elements, as a slice
shares a vector's, and keeps them alive after A is gone.

Raises RuntimeError when A has no column j.)";

constexpr const char* columns = R"(columns(A, start, stop, /)
--

A new matrix over columns start to stop - 1 of the matrix A: it shares A's
elements (a contiguous run in column-major order) and keeps them alive after
A is gone. As in slicing, a start past stop gives no columns.

Raises RuntimeError when stop exceeds A's column count.)";

constexpr const char* asMatrix = R"(as_matrix(x, rows, cols, /)
--

A new rows x cols matrix over the elements of the vector or view x, in
column-major order: it shares them and keeps them alive after x is gone.

Raises RuntimeError unless rows * cols is x's element count.)";

constexpr const char* geqrf = R"(geqrf(A, tau, /)
--

QR factorization of A in place by Householder reflections; returns tau
itself. A = Q R with Q = H(1) H(2) ... H(k), k = min(m, n), each
H(i) = I - tau[i - 1] v v^H: R on and above A's diagonal, the vector v of
H(i) below it in column i - 1 (its leading 1 not stored), as LAPACK's
?geqrf leaves them; ormqr applies Q or its transpose.

A    an m x n matrix, overwritten.
tau  a vector, view or matrix with tau.dim(0) == min(m, n); a matrix is
     written through its first column.

No rank or condition test: a rank-deficient A is factored too (R then has
zeros, or elements small beside their column's norm, on its diagonal).
NaN and Inf are not refused and spread through the factors.

Raises RuntimeError, before anything is written, when tau's extent is not
min(m, n), a matrix tau holds too few elements, or tau shares elements with
A.)";

constexpr const char* ormqr = R"(ormqr(side, trans, A, tau, C, /)
--

C <- op(Q) C (side "L") or C op(Q) (side "R"), in place; returns C itself.
Q is the product of the reflectors that geqrf(A, tau) left in A and tau,
of order m = A.dim(0): the full m x m factor, never formed.

side   "L" or "R".
trans  "N": op(Q) = Q; for kinds s and d "T" (or "C", which means "T"):
       its transpose; for kinds c and z "C": its conjugate transpose ("T"
       is refused, Q being unitary, not orthogonal).
A      the m x n matrix geqrf factored; its reflectors are read. The
       routine sets each reflector's diagonal element to one while it
       applies it and puts it back: A ends as it was, but another thread
       reading it during the call may see the ones.
tau    a vector, view or matrix with tau.dim(0) == min(m, n), read as geqrf
       wrote it.
C      a matrix with m rows ("L") or m columns ("R"), or a vector or view of
       m elements taken as one column ("L").

Raises ValueError for another option, and RuntimeError, before anything is
written, when the extents disagree, a matrix tau holds too few elements, C
shares elements with A or tau, or tau shares elements with A.)";

constexpr const char* gels = R"(gels(A, B, /)
--

Least squares (m >= n) or minimum norm (m < n) solutions of A X = B, one
for each column of B, in place by QR or LQ factorization; returns B itself.
A column of B holds b in its first m elements on entry and the solution x
in its first n on return; for m > n its elements n to m - 1 hold the
residual's components (their norm is that of b - A x). A holds the
factorization. A vector or view B gives exactly what vexa.ls gives.

A  an m x n matrix, overwritten.
B  a matrix of max(m, n) rows (one right-hand side per column), or a vector
   or view of max(m, n) elements (one right-hand side). Elements m to n - 1
   of a column (m < n) are not read.

Raises RuntimeError, before anything is written, when B's extent is not
max(m, n), B shares elements with A, or A or the first m rows of B hold NaN
or Inf ("In gels, matrix B contains NaN"). After the solve, with A and B
holding the solver's results, each column of B back in its own units,
when A does not have full rank to working precision, when its column-scaled
triangular factor has a reciprocal condition number below machine epsilon,
or when for m > n a column's residual is too large for the condition of A
to determine its solution: the tests and texts of vexa.ls, named gels.)";
// Solves by a factorization.

constexpr const char* gesv = R"(gesv(A, B, /)
--

Solves A X = B by LU factorization with partial pivoting, in place: A <- its
factors L and U (L's unit diagonal not stored), B <- X; returns B itself.

A  an n x n matrix.
B  a vector or view of n elements (one right-hand side), or a matrix with n
   rows (one right-hand side per column).

Raises RuntimeError, before anything is written, when A is not square, B's
extent differs from A's, B shares elements with A, or A or B contains NaN or
Inf. After factoring A it estimates the reciprocal condition number (?gecon,
with A's 1-norm taken before factoring; not run where a bound from the
factors already shows that the estimate would pass) and raises RuntimeError,
with A holding its factors and B as it was, for an exactly zero pivot, "matrix A is
singular: U(i,i) is exactly zero" (i counting from 1), or for an estimate
below the kind's machine epsilon, "matrix A is singular to working
precision: ...".)";

constexpr const char* posv = R"(posv(uplo, A, B, /)
--

Solves A X = B for a Hermitian (for kinds s and d: symmetric) positive
definite A by Cholesky factorization, in place: A's uplo triangle <- its
factor as potrf writes it, B <- X; returns B itself.

uplo  "U" or "L": the triangle of A read and written; the other is neither.
A     an n x n matrix.
B     a vector or view of n elements (one right-hand side), or a matrix with
      n rows (one right-hand side per column).

Raises ValueError for another uplo, and RuntimeError, before anything is
written, when A is not square, B's extent differs from A's, B shares
elements with A, or A's uplo triangle or B contains NaN or Inf. After
factoring A it estimates the reciprocal condition number (?pocon, with A's
1-norm taken before factoring; not run where a bound from the factor already
shows that the estimate would pass) and raises RuntimeError, with B as it was,
for a matrix that is not positive definite, "matrix A is not positive
definite: the leading minor of order i is not" (A then as potrf leaves it),
or for an estimate below the kind's machine epsilon, "matrix A is singular
to working precision: ..." (A then holds its factor).)";

constexpr const char* potrf = R"(potrf(uplo, A, /)
--

The Cholesky factor of the Hermitian (for kinds s and d: symmetric) positive
definite matrix A, in place in its uplo triangle: "U" writes U with
U^H U = A, "L" writes L with L L^H = A; the other triangle is neither read
nor written. Returns A itself.

Raises ValueError for another uplo, and RuntimeError when A is not square or
its uplo triangle contains NaN or Inf (before anything is written), and when
A is not positive definite: "matrix A is not positive definite: the leading
minor of order i is not". A's triangle is then as LAPACK's ?potrf left it,
partly factored: keep a copy of A to retry with.)";

constexpr const char* potrs = R"(potrs(uplo, A, B, /)
--

B <- A^-1 B with the Cholesky factor that potrf(uplo, A) left in A's uplo
triangle; returns B itself.

uplo  "U" or "L", as given to potrf.
A     an n x n matrix; only its uplo triangle is read.
B     a vector or view of n elements (one right-hand side), or a matrix with
      n rows (one right-hand side per column).

Raises ValueError for another uplo, and RuntimeError, before anything is
written, when A is not square, B's extent differs from A's, B shares
elements with A, A's uplo triangle or B contains NaN or Inf, or an element
of A's diagonal is exactly zero (no factor of potrf's): "matrix A is
singular: A(i,i) is zero".)";

}  // namespace linalg_docs
}  // namespace Bindings
