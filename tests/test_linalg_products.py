"""vexa_linalg's products, rank updates and triangular solves against numpy, for every option,
kind and container type: what is written, and that nothing else is (guard elements around views,
the columns of a matrix operand beyond its first, the other triangle)."""

import numpy as np
import pytest
import vexa_linalg as la
from helpers import CONTAINERS, KINDS, PAIRS, RTOL, Operand, random_array, vexa_class

COEFFS = {"s": (1.5, -0.5), "d": (1.5, -0.5), "c": (1.5 - 2j, 0.5 + 1j), "z": (1.5 - 2j, 0.5 + 1j)}
REAL_COEFFS = (1.5, -0.5)


def op(a, trans):
    """op(a): a, its transpose, or its conjugate transpose (a plain transpose for real values)."""
    return a if trans == "N" else a.T if trans == "T" else a.conj().T


def slack(kind, want, scale=10):
    return RTOL[kind] * scale * (1 + np.abs(want).max(initial=0))


def matrix(rng, kind, shape, values=None):
    """A matrix Operand, random unless values are given, and its values as a 2-D array."""
    values = random_array(kind, shape, rng) if values is None else values
    A = Operand(kind, "mat", np.asarray(values).flatten("F"), shape)
    return A, A.initial.reshape(shape, order="F")


def vector_like(rng, kind, container, n):
    """n elements as a vector or view, or as the first column of a two-column matrix."""
    return Operand.random(rng, kind, container, (n, 2) if container == "mat" else (n, 1))


@pytest.mark.parametrize("kind", KINDS)
@pytest.mark.parametrize("trans", "NTC")
@pytest.mark.parametrize("xc, yc", PAIRS)
def test_gemv(trans, xc, yc, kind, route, rng):
    A, a = matrix(rng, kind, (3, 2))
    rows, cols = op(a, trans).shape
    x, y = vector_like(rng, kind, xc, cols), vector_like(rng, kind, yc, rows)
    alpha, beta = COEFFS[kind]
    want = alpha * op(a, trans) @ x.initial[:cols] + beta * y.initial[:rows]
    assert route.of(la, "gemv")(trans, alpha, beta, A.obj, x.obj, y.obj) is y.obj
    y.check(want, slack(kind, want))
    A.check()
    x.check()


@pytest.mark.parametrize("kind", KINDS)
@pytest.mark.parametrize("trans, shape", [("N", (3, 0)), ("T", (0, 3)), ("C", (0, 3))])
def test_gemv_over_no_columns_still_applies_b(trans, shape, kind):
    # A sum over no terms: y becomes b*y, and a zero b overwrites NaN, as for a longer sum.
    A, x = vexa_class("mat", kind)(*shape), vexa_class("vec", kind)(0)
    y = Operand(kind, "view", [1.0, np.nan, -2.0])
    la.gemv(trans, 2.0, 0.5, A, x, y.obj)
    np.testing.assert_array_equal(y.values(), [0.5, np.nan, -1.0])
    assert y.guards_intact()
    la.gemv(trans, 2.0, 0.0, A, x, y.obj)
    y.check([0, 0, 0])


@pytest.mark.parametrize("kind", KINDS)
@pytest.mark.parametrize("transa", "NTC")
@pytest.mark.parametrize("transb", "NTC")
def test_gemm(transa, transb, kind, route, rng):
    m, n, k = 3, 4, 2
    A, a = matrix(rng, kind, (m, k) if transa == "N" else (k, m))
    X, x = matrix(rng, kind, (k, n) if transb == "N" else (n, k))
    Y, y = matrix(rng, kind, (m, n))
    alpha, beta = COEFFS[kind]
    want = (alpha * op(a, transa) @ op(x, transb) + beta * y).flatten("F")
    assert route.of(la, "gemm")(transa, transb, alpha, beta, A.obj, X.obj, Y.obj) is Y.obj
    Y.check(want, slack(kind, want))
    A.check()
    X.check()


RANK_K = [("syrk", k, t) for k in KINDS for t in ("NTC" if k in "sd" else "NT")]
RANK_K += [("herk", k, t) for k in "cz" for t in "NC"]


@pytest.mark.parametrize("name, kind, trans", RANK_K)
@pytest.mark.parametrize("uplo", "UL")
def test_rank_k_writes_one_triangle(name, kind, trans, uplo, route, rng):
    A, a = matrix(rng, kind, (3, 2))
    other = "C" if name == "herk" else "T"
    product = a @ op(a, other) if trans == "N" else op(a, other) @ a
    n = product.shape[0]
    C, c = matrix(rng, kind, (n, n))
    alpha, beta = REAL_COEFFS if name == "herk" else COEFFS[kind]
    want = alpha * product + beta * c
    if name == "herk":  # BLAS zeroes the imaginary parts of the diagonal
        np.fill_diagonal(want, want.diagonal().real)
    triangle = np.triu(np.ones((n, n), bool)) if uplo == "U" else np.tril(np.ones((n, n), bool))
    want = np.where(triangle, want, c).flatten("F")
    assert route.of(la, name)(uplo, trans, alpha, beta, A.obj, C.obj) is C.obj
    C.check(want, slack(kind, want))
    A.check()


@pytest.mark.parametrize("name, kind", [("ger", k) for k in KINDS] + [("gerc", k) for k in "cz"])
@pytest.mark.parametrize("xc, yc", PAIRS)
def test_rank_1(name, kind, xc, yc, route, rng):
    A, a = matrix(rng, kind, (3, 2))
    x, y = vector_like(rng, kind, xc, 3), vector_like(rng, kind, yc, 2)
    alpha = COEFFS[kind][0]
    right = y.initial[:2].conj() if name == "gerc" else y.initial[:2]
    want = (a + alpha * np.outer(x.initial[:3], right)).flatten("F")
    assert route.of(la, name)(alpha, x.obj, y.obj, A.obj) is A.obj
    A.check(want, slack(kind, want))
    x.check()
    y.check()


def triangular(rng, kind, n, uplo, diag):
    """A well-conditioned n x n matrix Operand, and the triangle a solve reads: the other triangle
    holds values that must not be read, and a unit diagonal stands for ones."""
    values = random_array(kind, (n, n), rng) + 4 * np.eye(n)
    A, a = matrix(rng, kind, (n, n), values)
    t = np.triu(a) if uplo == "U" else np.tril(a)
    if diag == "U":
        np.fill_diagonal(t, 1)
    return A, t


SOLVE_OPTIONS = [(u, t, d) for u in "UL" for t in "NTC" for d in "NU"]


@pytest.mark.parametrize("kind", KINDS)
@pytest.mark.parametrize("uplo, trans, diag", SOLVE_OPTIONS)
@pytest.mark.parametrize("xc", CONTAINERS)
def test_trsv(uplo, trans, diag, xc, kind, route, rng):
    A, t = triangular(rng, kind, 3, uplo, diag)
    x = vector_like(rng, kind, xc, 3)
    want = np.linalg.solve(op(t, trans), x.initial[:3])
    assert route.of(la, "trsv")(uplo, trans, diag, A.obj, x.obj) is x.obj
    x.check(want, slack(kind, want, 50))
    A.check()


@pytest.mark.parametrize("kind", KINDS)
@pytest.mark.parametrize("uplo, trans, diag", SOLVE_OPTIONS)
@pytest.mark.parametrize("side", "LR")
def test_trsm(side, uplo, trans, diag, kind, route, rng):
    A, t = triangular(rng, kind, 3 if side == "L" else 2, uplo, diag)
    B, b = matrix(rng, kind, (3, 2))
    alpha = COEFFS[kind][0]
    inverse = np.linalg.inv(op(t, trans))
    want = (alpha * (inverse @ b if side == "L" else b @ inverse)).flatten("F")
    assert route.of(la, "trsm")(side, uplo, trans, diag, alpha, A.obj, B.obj) is B.obj
    B.check(want, slack(kind, want, 50))
    A.check()
