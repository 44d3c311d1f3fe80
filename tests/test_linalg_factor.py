"""vexa_linalg's solves by a factorization against scipy.linalg, for every kind and container
type of B: the solutions and the factor left in A, and what they refuse (singular and
ill-conditioned matrices, NaN, shared elements) with B left as it was, guard elements
included."""

import numpy as np
import pytest
import scipy.linalg as sla
import vexa_linalg as la
from helpers import (
    CONTAINERS,
    KINDS,
    RTOL,
    SINGLE_KINDS,
    TEXTS,
    Operand,
    fails,
    flat,
    random_array,
)

DOUBLE_KINDS = "".join(k for k in KINDS if k not in SINGLE_KINDS)


def slack(kind, want, scale=50):
    return RTOL[kind] * scale * (1 + np.abs(want).max(initial=0))


def matrix(kind, values):
    values = np.asarray(values)
    return Operand(kind, "mat", values.flatten("F"), values.shape)


def right_hand_sides(rng, kind, container, n, columns=3):
    """B: a vector or a view (guarded) of n elements, or an n x columns matrix; and its values
    as a 2-D array."""
    shape = (n, columns) if container == "mat" else (n, 1)
    B = Operand.random(rng, kind, container, shape)
    return B, B.initial.reshape(shape, order="F")


def well_conditioned(rng, kind, n):
    return random_array(kind, (n, n), rng) + n * np.eye(n)


def unchanged(operand):
    """All of the operand's storage is as it was, NaN included."""
    return np.array_equal(flat(operand.whole, operand.kind), operand.before, equal_nan=True)


def hilbert(n):
    return 1.0 / (np.arange(n)[:, None] + np.arange(n) + 1.0)


@pytest.mark.parametrize("kind", KINDS)
@pytest.mark.parametrize("container", CONTAINERS)
def test_gesv(kind, container, route, rng):
    a = well_conditioned(rng, kind, 4)
    A, (B, b) = matrix(kind, a), right_hand_sides(rng, kind, container, 4)
    want = sla.solve(A.initial.reshape(4, 4, order="F"), b)
    assert route.of(la, "gesv")(A.obj, B.obj) is B.obj
    B.check(want.flatten("F"), slack(kind, want))
    lu, _ = sla.lu_factor(A.initial.reshape(4, 4, order="F"))
    A.check(lu.flatten("F"), slack(kind, lu))


@pytest.mark.parametrize("kind", DOUBLE_KINDS)
def test_gesv_solves_hilbert_of_order_6(kind):
    A = matrix(kind, hilbert(6))
    B = Operand(kind, "view", hilbert(6) @ np.arange(1.0, 7.0))
    la.gesv(A.obj, B.obj)
    B.check(np.arange(1.0, 7.0), 1e-6)  # cond(H6) = 1.5e7


@pytest.mark.parametrize("kind", KINDS)
@pytest.mark.parametrize("name", ["gesv", "posv"])
def test_hilbert_accepted_up_to_the_order_before_refusal(name, kind):
    # Order 11 in double precision (5 in single) is accepted and 12 (6) refused: the bound that
    # spares ?gecon and ?pocon on well-conditioned matrices moves no refusal.
    last = 11 if kind in DOUBLE_KINDS else 5
    h, b = hilbert(last), np.ones(last)
    A, B = matrix(kind, h), Operand(kind, "vec", b)
    call = getattr(la, name)
    call(A.obj, B.obj) if name == "gesv" else call("L", A.obj, B.obj)
    x = B.values()
    assert np.linalg.norm(h @ x - b) <= 50 * RTOL[kind] * np.linalg.norm(h, 1) * np.linalg.norm(x)
    A, B = matrix(kind, hilbert(last + 1)), Operand(kind, "vec", np.ones(last + 1))
    args = (A.obj, B.obj) if name == "gesv" else ("L", A.obj, B.obj)
    error = fails(RuntimeError, None, call, *args, keep=[B])
    assert str(error).startswith(f"In {name}, matrix A is singular to working precision: ")


@pytest.mark.parametrize("kind", KINDS)
@pytest.mark.parametrize("name", ["gesv", "posv"])
@pytest.mark.parametrize("scale", ["huge", "tiny"])
def test_condition_estimate_unchanged_by_scale(name, scale, kind, rng):
    # Magnitudes whose squares overflow or underflow: the norm before factoring must still be
    # right, or a well-conditioned matrix would be refused.
    factor = (
        {"huge": 1e200, "tiny": 1e-200} if kind in DOUBLE_KINDS else {"huge": 1e30, "tiny": 1e-30}
    )
    a, b = positive_definite(rng, kind, 4, "U")[1], random_array(kind, 4, rng)
    A = matrix(kind, a * factor[scale])
    B = Operand(kind, "vec", b * factor[scale])
    la.gesv(A.obj, B.obj) if name == "gesv" else la.posv("U", A.obj, B.obj)
    want = np.linalg.solve(a.astype(complex), b)
    B.check(want, slack(kind, want))


def assert_lu_factors(kind, a, factors):
    """factors holds L (unit diagonal not stored) and U with L U = P a for a row permutation P.
    Rounding may pick other pivots than scipy's LAPACK on an ill-conditioned matrix."""
    n = a.shape[0]
    product = (np.tril(factors, -1) + np.eye(n)) @ np.triu(factors)
    distances = np.abs(product[:, None, :] - a[None, :, :]).max(axis=2)
    rows = distances.argmin(axis=1)
    assert sorted(rows) == list(range(n))
    assert distances[np.arange(n), rows].max() <= slack(kind, a)


def singular_case(name, kind, rng):
    """A matrix that gesv refuses, and the text of the refusal after "In gesv, "."""
    if name == "zero pivot":  # a zero column stays zero through the elimination
        a = well_conditioned(rng, kind, 4)
        a[:, 1] = 0
        return a, "matrix A is singular: U(2,2) is exactly zero"
    order = 14 if kind in DOUBLE_KINDS else 8
    return hilbert(order), "matrix A is singular to working precision: "


@pytest.mark.parametrize("kind", KINDS)
@pytest.mark.parametrize("container", CONTAINERS)
@pytest.mark.parametrize("case", ["zero pivot", "working precision"])
def test_gesv_refuses_singular_matrix_leaving_b(case, kind, container, route, rng):
    a, text = singular_case(case, kind, rng)
    n = a.shape[0]
    A, (B, _) = matrix(kind, a), right_hand_sides(rng, kind, container, n)
    error = fails(RuntimeError, None, route.of(la, "gesv"), A.obj, B.obj, keep=[B])
    assert str(error).startswith("In gesv, " + text)
    assert_lu_factors(kind, A.initial.reshape(n, n, order="F"), A.values().reshape(n, n, order="F"))


@pytest.mark.parametrize("kind", KINDS)
@pytest.mark.parametrize("where", ["A", "B"])
@pytest.mark.parametrize("value, found", [(np.nan, "NaN"), (np.inf, "Inf")])
def test_gesv_refuses_nan_and_inf_before_touching_anything(where, value, found, kind, rng):
    a = well_conditioned(rng, kind, 3)
    B, _ = right_hand_sides(rng, kind, "view", 3)
    if where == "A":
        a[2, 1] = value
    else:
        B = Operand(kind, "view", np.array([1.0, value, 2.0]))
    A = matrix(kind, a)
    operand = "matrix A" if where == "A" else "vector B"
    message = TEXTS["not finite"].format(operand, found, name="gesv")
    fails(RuntimeError, message, la.gesv, A.obj, B.obj)
    assert unchanged(A) and unchanged(B)


@pytest.mark.parametrize("kind", KINDS)
def test_gesv_refuses_shapes_and_shared_elements(kind, rng):
    A = Operand.random(rng, kind, "mat", (3, 3))
    B = Operand.random(rng, kind, "mat", (2, 2))
    expression = "In gesv expression B = A^-1B, "
    message = expression + "matrix A dimension 0: 3, doesn't match matrix B dimension 0: 2"
    fails(RuntimeError, message, la.gesv, A.obj, B.obj, keep=[A, B])
    wide = Operand.random(rng, kind, "mat", (3, 4))
    message = expression + "matrix A dimension 0: 3, doesn't match matrix A dimension 1: 4"
    fails(RuntimeError, message, la.gesv, wide.obj, B.obj, keep=[wide, B])
    whole = Operand.random(rng, kind, "mat", (3, 4))
    square, column = la.columns(whole.obj, 0, 3), la.column(whole.obj, 2)
    message = TEXTS["shares"].format("vector B", "matrix A", name="gesv")
    fails(RuntimeError, message, la.gesv, square, column, keep=[whole])


def positive_definite(rng, kind, n, uplo):
    """A Hermitian positive definite matrix as an Operand whose other triangle holds NaN, which
    nothing may read; and the matrix itself."""
    m = random_array(kind, (n, n), rng)
    full = m @ m.conj().T + n * np.eye(n)
    other = np.tril(np.ones((n, n), bool), -1) if uplo == "U" else np.triu(np.ones((n, n), bool), 1)
    return matrix(kind, np.where(other, np.nan, full)), full, other


def assert_factor(kind, A, full, other, uplo):
    """A's uplo triangle holds full's Cholesky factor; its other triangle is as it was."""
    n = full.shape[0]
    want = np.where(other, np.nan, sla.cholesky(full, lower=uplo == "L"))
    got = A.values().reshape(n, n, order="F")
    np.testing.assert_allclose(got, want, rtol=0, atol=slack(kind, want[~other]))


@pytest.mark.parametrize("kind", KINDS)
@pytest.mark.parametrize("container", CONTAINERS)
@pytest.mark.parametrize("uplo", "UL")
def test_posv(kind, container, uplo, route, rng):
    A, full, other = positive_definite(rng, kind, 4, uplo)
    B, b = right_hand_sides(rng, kind, container, 4)
    want = sla.solve(full, b, assume_a="pos")
    assert route.of(la, "posv")(uplo, A.obj, B.obj) is B.obj
    B.check(want.flatten("F"), slack(kind, want))
    assert_factor(kind, A, full, other, uplo)


@pytest.mark.parametrize("kind", KINDS)
@pytest.mark.parametrize("uplo", "UL")
def test_potrf(kind, uplo, route, rng):
    A, full, other = positive_definite(rng, kind, 5, uplo)
    assert route.of(la, "potrf")(uplo, A.obj) is A.obj
    assert_factor(kind, A, full, other, uplo)


@pytest.mark.parametrize("kind", KINDS)
@pytest.mark.parametrize("container", CONTAINERS)
@pytest.mark.parametrize("uplo", "UL")
def test_potrs_with_the_factor_of_potrf(kind, container, uplo, route, rng):
    A, full, other = positive_definite(rng, kind, 4, uplo)
    B, b = right_hand_sides(rng, kind, container, 4)
    la.potrf(uplo, A.obj)
    factor = A.values()
    assert route.of(la, "potrs")(uplo, A.obj, B.obj) is B.obj
    want = sla.solve(full, b, assume_a="pos")
    B.check(want.flatten("F"), slack(kind, want))
    np.testing.assert_array_equal(A.values(), factor)


def indefinite(rng, kind, uplo):
    """A positive definite 4 x 4 matrix made indefinite by one diagonal entry, whose third
    leading minor is then negative."""
    A, full, _ = positive_definite(rng, kind, 4, uplo)
    full[2, 2] = -1
    return matrix(
        kind, full
    ), "matrix A is not positive definite: the leading minor of order 3 is not"


@pytest.mark.parametrize("kind", KINDS)
@pytest.mark.parametrize("container", CONTAINERS)
@pytest.mark.parametrize("uplo", "UL")
def test_posv_refuses_an_indefinite_matrix_leaving_b(kind, container, uplo, route, rng):
    A, text = indefinite(rng, kind, uplo)
    B, _ = right_hand_sides(rng, kind, container, 4)
    fails(RuntimeError, "In posv, " + text, route.of(la, "posv"), uplo, A.obj, B.obj, keep=[B])
    A, _ = indefinite(rng, kind, uplo)
    fails(RuntimeError, "In potrf, " + text, route.of(la, "potrf"), uplo, A.obj)


@pytest.mark.parametrize("kind", KINDS)
@pytest.mark.parametrize("container", CONTAINERS)
def test_posv_refuses_an_ill_conditioned_matrix_leaving_b(kind, container, rng):
    n = 12 if kind in DOUBLE_KINDS else 7
    A, (B, _) = matrix(kind, hilbert(n)), right_hand_sides(rng, kind, container, n)
    error = fails(RuntimeError, None, la.posv, "L", A.obj, B.obj, keep=[B])
    assert str(error).startswith("In posv, matrix A is singular to working precision: ")


@pytest.mark.parametrize("kind", KINDS)
@pytest.mark.parametrize("name", ["posv", "potrf", "potrs"])
@pytest.mark.parametrize("uplo", "UL")
def test_nan_refused_in_the_triangle_read_only(name, kind, uplo, rng):
    A, full, other = positive_definite(rng, kind, 3, uplo)
    B = Operand(kind, "view", [1.0, np.nan, 2.0])
    args = (uplo, A.obj) if name == "potrf" else (uplo, A.obj, B.obj)
    # NaN in the other triangle (from positive_definite) is no refusal; NaN in B is.
    if name != "potrf":
        fails(RuntimeError, f"In {name}, vector B contains NaN", getattr(la, name), *args)
    inside = (0, 2) if uplo == "U" else (2, 0)
    values = np.where(other, 0, full)
    values[inside] = complex(np.inf, np.nan) if kind in "cz" else np.inf
    A = matrix(kind, values)
    B = Operand(kind, "view", [1.0, 0.0, 2.0])
    args = (uplo, A.obj) if name == "potrf" else (uplo, A.obj, B.obj)
    found = "NaN and Inf" if kind in "cz" else "Inf"
    fails(RuntimeError, f"In {name}, matrix A contains {found}", getattr(la, name), *args)
    assert unchanged(A) and unchanged(B)


@pytest.mark.parametrize("kind", KINDS)
def test_potrs_refuses_a_zero_on_the_diagonal(kind, rng):
    A = matrix(kind, np.triu(well_conditioned(rng, kind, 3)))
    A.obj[1, 1] = 0
    B, _ = right_hand_sides(rng, kind, "mat", 3)
    message = "In potrs, matrix A is singular: A(2,2) is zero"
    fails(RuntimeError, message, la.potrs, "U", A.obj, B.obj, keep=[B])


@pytest.mark.parametrize("kind", KINDS)
@pytest.mark.parametrize("name", ["posv", "potrs"])
def test_options_shapes_and_shared_elements_refused(name, kind, rng):
    A, B = Operand.random(rng, kind, "mat", (3, 3)), Operand.random(rng, kind, "view", (3, 1))
    function = getattr(la, name)
    fails(
        ValueError, f"In {name}, uplo must be 'U' or 'L'", function, "u", A.obj, B.obj, keep=[A, B]
    )
    short = Operand.random(rng, kind, "vec", (2, 1))
    message = (
        f"In {name} expression B = A^-1B, matrix A dimension 0: 3, doesn't match vector B"
        " dimension 0: 2"
    )
    fails(RuntimeError, message, function, "U", A.obj, short.obj, keep=[A, short])
    whole = Operand.random(rng, kind, "mat", (3, 5))
    square, right = la.columns(whole.obj, 0, 3), la.columns(whole.obj, 2, 5)
    message = TEXTS["shares"].format("matrix B", "matrix A", name=name)
    fails(RuntimeError, message, function, "L", square, right, keep=[whole])
