"""The checks of ls as properties of their rule: a fit whose residual leaves it undetermined is
refused and its zero-residual twin solved; neither verdict depends on the units of the columns or
of b; Inf, like NaN, is refused before anything is touched; the residual components stay in b's
units; and the rank test does not grow with the number of rows."""

import numpy as np
import pytest
import vexa
import vexa_io
from helpers import DTYPES, KINDS, TEXTS, Operand, fails, flat, random_array

ROWS, COLUMNS = 40, 8
# Sylvester's Hadamard matrix over sqrt(8): orthogonal, every element of one magnitude, so every
# column of U S H has the same norm and column scaling leaves the condition number as it is.
HADAMARD = np.array([[1.0]])
for _ in range(3):
    HADAMARD = np.block([[HADAMARD, HADAMARD], [HADAMARD, -HADAMARD]])
HADAMARD /= np.sqrt(COLUMNS)


def solve(kind, a, b):
    """ls on copies of a and b: the text of its refusal (None if it solved) and x."""
    m, n = a.shape
    x = np.zeros(max(m, n), DTYPES[kind])
    x[:m] = b
    A, X = vexa_io.from_buffer(np.asfortranarray(a, DTYPES[kind])), vexa_io.from_buffer(x)
    try:
        vexa.ls(A, X)
        text = None
    except RuntimeError as error:
        text = str(error)
    return text, np.array(vexa_io.asbuffer(X))


def fit(kind, rng, kappa, rho):
    """A (ROWS x COLUMNS) with condition number kappa and equal column norms, z, and b = A z + r
    with r orthogonal to A's range and ||r|| = rho * ||A|| * ||z||."""
    u = np.linalg.qr(random_array("z" if kind in "cz" else "d", (ROWS, ROWS), rng))[0]
    a = u[:, :COLUMNS] @ np.diag(np.logspace(0, -np.log10(kappa), COLUMNS)) @ HADAMARD
    z = random_array("z" if kind in "cz" else "d", COLUMNS, rng)
    r = u[:, COLUMNS:] @ random_array("z" if kind in "cz" else "d", ROWS - COLUMNS, rng)
    b = a @ z + r * (rho * np.linalg.norm(z) / np.linalg.norm(r))
    return a, z, b


def weighted_error(a, x, z):
    norms = np.linalg.norm(a, axis=0)
    return np.linalg.norm((x - z) * norms) / np.linalg.norm(z * norms)


# eps * kappa is 1e-3; the least-squares term eps * kappa^2 * rho is 1e-5 or 100 (each within a
# factor of 64 by the 1-norm and the rounding of the data), so the verdict has room on both sides.
TERMS = [(1e-5, None), (1e2, "undetermined")]


def units(kind):
    """Factors for the columns and b: powers of ten, some near the ends of the kind's range,
    where ?gels scales A or b itself (the solution stays in range)."""
    far = 300 if kind in "dz" else 33
    yield np.ones(COLUMNS), 1.0
    yield 10.0 ** np.array([-3, 2, 0, 1, -1, 3, -2, 0]), 1e-4
    for sign in (1, -1):
        yield np.full(COLUMNS, 10.0 ** (sign * far)), 10.0 ** (sign * far)
        yield np.ones(COLUMNS), 10.0 ** (sign * far)


@pytest.mark.parametrize("kind", KINDS)
@pytest.mark.parametrize("term, verdict", TERMS)
def test_ls_least_squares_term_decides(term, verdict, kind, rng):
    eps = np.finfo(DTYPES[kind]).eps
    kappa = 1e-3 / eps
    a, z, b = fit(kind, rng, kappa, term / (1e-3 * kappa))
    for columns, factor in units(kind):
        text, x = solve(kind, a * columns, b * factor)
        assert text == (verdict and TEXTS[verdict].format(name="ls"))
        if verdict is None:
            assert weighted_error(a, x[:COLUMNS] * columns / factor, z) < 0.05


@pytest.mark.parametrize("kind", KINDS)
def test_ls_zero_residual_twin_is_solved(kind, rng):
    # The refused fit's matrix, with b in its range: the error is eps * kappa, whatever the units.
    eps = np.finfo(DTYPES[kind]).eps
    a, z, _ = fit(kind, rng, 1e-3 / eps, 0)
    for columns, factor in units(kind):
        text, x = solve(kind, a * columns, (a @ z) * factor)
        assert text is None
        assert weighted_error(a, x[:COLUMNS] * columns / factor, z) < 0.05


@pytest.mark.parametrize("kind", KINDS)
@pytest.mark.parametrize("exponent", [0, 1, -1])
def test_ls_residual_in_the_units_of_b(exponent, kind, rng):
    # Near the ends of the range ?gels scales b and may leave the residual components so scaled.
    far = (300 if kind in "dz" else 33) * exponent
    a, _, b = fit(kind, rng, 10, 0.5)
    a, b = a.astype(DTYPES[kind]), (b * 10.0**far).astype(DTYPES[kind])
    text, x = solve(kind, a, b)
    assert text is None
    residual = b.astype(complex) - a.astype(complex) @ x[:COLUMNS].astype(complex)
    tolerance = 1e-3 if kind in "sc" else 1e-10
    scale = 10.0**-far  # compared in b's own units, so that the squares stay in range
    got, want = np.linalg.norm(x[COLUMNS:] * scale), np.linalg.norm(residual * scale)
    assert abs(got - want) <= tolerance * want


def spoilt_cases(kind):
    """(value in A, value in b, operand named, what it holds)."""
    cases = [
        (np.inf, None, "matrix A", "Inf"),
        (None, -np.inf, "vector x", "Inf"),
        (np.inf, np.nan, "matrix A", "Inf"),
        ("both", None, "matrix A", "NaN and Inf"),
    ]
    if kind in "cz":
        cases += [(complex(1, -np.inf), None, "matrix A", "Inf")]
        cases += [(None, complex(np.inf, np.nan), "vector x", "NaN and Inf")]
    return cases


@pytest.mark.parametrize("kind", KINDS)
@pytest.mark.parametrize("shape", [(3, 2), (2, 3)])
def test_ls_refuses_inf_untouched(shape, kind, route, rng):
    m, n = shape
    a, b = random_array(kind, shape, rng) + np.eye(*shape), random_array(kind, max(m, n), rng)
    for in_a, in_b, holder, found in spoilt_cases(kind):
        aa, bb = a.copy(), b.copy()
        if in_a == "both":
            aa[0, 0], aa[m - 1, n - 1] = np.nan, -np.inf
        elif in_a is not None:
            aa[m - 1, 0] = in_a
        if in_b is not None:
            bb[m - 1] = in_b
        A = Operand(kind, "mat", aa.flatten("F"), shape)
        x = Operand(kind, "view", bb)
        text = TEXTS["not finite"].format(holder, found, name="ls")
        fails(RuntimeError, text, route("ls"), A.obj, x.obj)
        for operand in (A, x):  # guard elements included; NaN equals NaN here
            np.testing.assert_array_equal(flat(operand.whole, kind), operand.before)


def line_fit(kind, rows):
    """y = 2 + 3 t + a little on t in [2, 3]: a column-scaled condition number about 17."""
    t = np.linspace(2.0, 3.0, rows)
    a = np.c_[np.ones(rows), t]
    return a.astype(DTYPES[kind]), (2 + 3 * t + 1e-3 * np.sin(40 * t)).astype(DTYPES[kind])


@pytest.mark.parametrize("kind", "sc")
def test_ls_tall_single_precision_line_fit(kind):
    # max(m, n) * eps of the column's norm was 0.119 here: the second pivot, 0.115 of its column's
    # norm, was refused as negligible.
    a, b = line_fit(kind, 10**6)
    text, x = solve(kind, a, b)
    assert text is None
    oracle = np.linalg.lstsq(a.astype(complex), b.astype(complex), rcond=None)[0]
    assert weighted_error(a.astype(complex), x[:2], oracle) < 1e-4


@pytest.mark.slow
def test_ls_nine_million_rows_of_ones():
    # The rank limit passed 1 of the column's norm at 8.4 million rows in single precision.
    rows = 9 * 10**6
    b = np.float32(1) + np.float32(1e-3) * np.cos(np.arange(rows, dtype=np.float32))
    text, x = solve("s", np.ones((rows, 1), np.float32), b)
    assert text is None
    # Within half the digits of single precision: a sum over 9 million rows rounds.
    assert abs(x[0] - b.astype(np.float64).mean()) < np.sqrt(np.finfo(np.float32).eps)


@pytest.mark.parametrize("kind", KINDS)
def test_ls_refusal_leaves_the_solution(kind, rng):
    # The refused fit: x holds what ?gels computed, its residual components included, and A the
    # factorization whose R has A's column norms.
    eps = np.finfo(DTYPES[kind]).eps
    kappa = 1e-3 / eps
    a, _, b = fit(kind, rng, kappa, 1e2 / (1e-3 * kappa))
    a, b = a.astype(DTYPES[kind]), b.astype(DTYPES[kind])
    A = Operand(kind, "mat", a.flatten("F"), a.shape)
    x = Operand(kind, "vec", b)
    fails(RuntimeError, TEXTS["undetermined"].format(name="ls"), vexa.ls, A.obj, x.obj)
    r = np.triu(flat(A.obj, kind).reshape(a.shape, order="F")[:COLUMNS])
    np.testing.assert_allclose(np.linalg.norm(r, axis=0), np.linalg.norm(a, axis=0), rtol=100 * eps)
    values = x.values()
    # Q^H b, split as R z and the residual: its norm is b's.
    np.testing.assert_allclose(
        np.linalg.norm(np.r_[r @ values[:COLUMNS], values[COLUMNS:]]),
        np.linalg.norm(b),
        rtol=1e-3 if kind in "sc" else 1e-10,
    )


# Orders either side of where ls sizes ?gels' workspace without asking it (32), and of where its
# scratch stops fitting in the call's own buffer of 4 KiB (k = 29, 20, 20 and 13 in kinds s, d, c
# and z).
ORDERS = [1, 13, 14, 20, 21, 29, 30, 32, 33]


@pytest.mark.parametrize("kind", KINDS)
@pytest.mark.parametrize("k", ORDERS)
@pytest.mark.parametrize("tall", [True, False], ids=["tall", "wide"])
def test_ls_at_every_workspace_size(tall, k, kind, rng):
    m, n = (k + 3, k) if tall else (k, k + 3)
    a, b = random_array(kind, (m, n), rng), random_array(kind, m, rng)
    text, x = solve(kind, a, b)
    assert text is None
    wide = np.complex128 if kind in "cz" else np.float64
    expected = np.linalg.lstsq(a.astype(wide), b.astype(wide), rcond=None)[0]
    error = np.linalg.norm(x[:n] - expected) / np.linalg.norm(expected)
    assert error < 1e4 * np.finfo(DTYPES[kind]).eps
