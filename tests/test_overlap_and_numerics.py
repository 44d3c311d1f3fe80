"""Operands sharing elements, least squares on rank-deficient, ill-conditioned, rescaled or NaN
input, a zero b in the products, scaling by zero next to NaN, infinities under a real-valued complex
factor, and the text of a matrix without columns."""

import os
import subprocess
import sys

import numpy as np
import pytest
import vexa
from helpers import (
    COMPLEX_KINDS,
    CONTAINERS,
    DTYPES,
    FACTOR,
    KINDS,
    RTOL,
    TEXTS,
    Operand,
    fails,
    flat,
    random_array,
    vexa_class,
)

LEVEL1 = ("axpy", "sum", "copy", "swap")


def level1(name, kind, x, y):
    return getattr(vexa, name)(*level1_args(name, kind, x, y))


def level1_args(name, kind, x, y):
    return (FACTOR[kind], x, y) if name == "axpy" else (x, y)


def refused(message, holders, kind, function, *args):
    """The call raises RuntimeError with exactly message and writes nothing into the containers
    that hold the operands."""
    before = [flat(h, kind) for h in holders]
    fails(RuntimeError, message, function, *args)
    for holder, values in zip(holders, before, strict=True):
        np.testing.assert_array_equal(flat(holder, kind), values)


def vector(kind, n, rng):
    return Operand(kind, "vec", random_array(kind, n, rng)).obj


@pytest.mark.parametrize("kind", KINDS)
@pytest.mark.parametrize("name", LEVEL1)
@pytest.mark.parametrize("xs, ys", [((0, 6), (1, 7)), ((3, 9), (0, 6)), ((1, 4), None)])
def test_level1_partial_overlap_refused(name, xs, ys, kind, route, rng):
    # None stands for the whole vector as y: it starts before x's run and covers it.
    v = vector(kind, 9, rng)
    x, y = v[slice(*xs)], v if ys is None else v[slice(*ys)]
    message = TEXTS["shares"].format("vector y", "vector x", name=name)
    refused(message, [v], kind, route(name), *level1_args(name, kind, x, y))


@pytest.mark.parametrize("kind", KINDS)
@pytest.mark.parametrize("name", LEVEL1)
@pytest.mark.parametrize("container", [*CONTAINERS, "same window"])
def test_level1_on_one_run(name, container, kind, rng):
    # One run as both operands is element-wise: (a + 1)x, 2x, or no change.
    x = Operand(
        kind, "view" if container == "same window" else container, random_array(kind, 6, rng)
    )
    y = x.obj[0:6] if container == "same window" else x.obj
    values = x.values()
    level1(name, kind, x.obj, y)
    want = {"axpy": (FACTOR[kind] + 1) * values, "sum": 2 * values}.get(name, values)
    np.testing.assert_allclose(x.values(), want, RTOL[kind], RTOL[kind])
    assert x.guards_intact()


@pytest.mark.parametrize("kind", KINDS)
def test_reads_and_empty_runs_never_refused(kind, rng):
    v = vector(kind, 9, rng)
    values = flat(v, kind)
    for name in ("dot", "hdot") if kind in COMPLEX_KINDS else ("dot",):
        terms = (np.conj(values[0:6]) if name == "hdot" else values[0:6]) * values[1:7]
        got = getattr(vexa, name)(v[0:6], v[1:7])
        assert abs(got - terms.sum()) <= RTOL[kind] * np.abs(terms).sum()
    for name in LEVEL1:
        level1(name, kind, v[3:3], v[2:8])
    np.testing.assert_array_equal(flat(v, kind), values)


def product_case(kind, rng, x_role, y_role):
    """A 3 x 3 matrix A and the x and y of gemv (or X and Y of gemm), where a role "A" means
    A itself and "v0" or "v1" a run of a vector v starting at that element."""
    A = Operand(kind, "mat", random_array(kind, 9, rng), (3, 3)).obj
    v = vector(kind, 6, rng)
    pick = {"A": A, "v0": v[0:3], "v1": v[1:4], "M": Operand(kind, "mat", np.ones(9), (3, 3)).obj}
    return A, v, pick[x_role], pick[y_role]


PRODUCT_OVERLAPS = [  # function, x (or X), y (or Y), and the operand y shares elements with
    *[(f, "v0", "A", "matrix A") for f in ("gemv", "matvec")],
    *[(f, "A", "A", "matrix A") for f in ("gemv", "matvec")],
    *[(f, "v0", "v1", "vector x") for f in ("gemv", "matvec")],
    *[(f, "A", "A", "matrix A") for f in ("gemm", "matmul")],
    *[(f, "M", "M", "matrix X") for f in ("gemm", "matmul")],
]


@pytest.mark.parametrize("kind", KINDS)
@pytest.mark.parametrize("name, xr, yr, other", PRODUCT_OVERLAPS)
def test_products_refuse_shared_output(name, xr, yr, other, kind, route, rng):
    A, v, x, y = product_case(kind, rng, xr, yr)
    coefficients = (2.0, 0.5) if name in ("gemv", "gemm") else ()
    written = "matrix Y" if name in ("gemm", "matmul") else "vector y"
    message = TEXTS["shares"].format(written, other, name=name)
    refused(message, [A, v, x, y], kind, route(name), *coefficients, A, x, y)


@pytest.mark.parametrize("kind", KINDS)
def test_products_read_one_operand_twice(kind, rng):
    # A and x (or X) may share elements: both are only read.
    A = Operand(kind, "mat", random_array(kind, 9, rng), (3, 3)).obj
    a = flat(A, kind).reshape((3, 3), order="F")
    y, Y = vexa_class("vec", kind)(3), vexa_class("mat", kind)(3, 3)
    vexa.matvec(A, A, y)
    vexa.matmul(A, A, Y)
    np.testing.assert_allclose(flat(y, kind), a @ a[:, 0], RTOL[kind] * 10, RTOL[kind] * 10)
    np.testing.assert_allclose(
        flat(Y, kind), (a @ a).flatten("F"), RTOL[kind] * 10, RTOL[kind] * 10
    )


@pytest.mark.parametrize("kind", KINDS)
def test_ls_refuses_x_sharing_a(kind, route, rng):
    # A matrix owns its elements, so only A itself as x can share them.
    A = Operand(kind, "mat", random_array(kind, 9, rng) + 5 * np.eye(3).ravel(), (3, 3)).obj
    message = TEXTS["shares"].format("vector x", "matrix A", name="ls")
    refused(message, [A], kind, route("ls"), A, A)


# Its factor is itself (no rotation is needed, nothing rounds) and the second pivot is 1e-30 of its
# column's norm; a column scaled by 1e-30 alone is no fault.
NEAR = np.array([[1, 1], [0, 1e-30]])
RANK_CASES = [  # A, the diagonal element named, and whether an exactly zero one is possible
    (np.ones((3, 2)), 2, True),
    (np.zeros((3, 2)), 1, False),
    (np.zeros((2, 3)), 1, False),
    (np.r_[NEAR, [[0, 0]]], 2, False),
    (np.c_[NEAR.T, [0, 0]], 2, False),
]


@pytest.mark.parametrize("kind", KINDS)
@pytest.mark.parametrize("a, element, may_be_zero", RANK_CASES)
def test_ls_numerically_singular(a, element, may_be_zero, kind):
    # Whether rounding leaves the pivot of the ones exactly zero depends on the kernels.
    A = Operand(kind, "mat", a.flatten("F"), a.shape).obj
    x = Operand(kind, "vec", [1, 2, 3]).obj
    with pytest.raises(RuntimeError) as info:
        vexa.ls(A, x)
    allowed = {TEXTS["negligible"].format(element, name="ls")}
    allowed |= {TEXTS["rank"].format(element, name="ls")} if may_be_zero else set()
    assert str(info.value) in allowed


SCALES = 10.0 ** np.arange(-3, 4)
WIDE = np.array([1e-150, 1, 1e150])


def fit_cases():
    """(kind, matrix, column factors, whether ls must refuse it): polynomial fits on t = 0..20 with
    t in other units (column j times scale**j), and in double a matrix with columns of norms 1e-150,
    1 and 1e150. Complex kinds also turn column j by a phase, which keeps every condition number."""
    cases, t = [], np.arange(21.0)
    for kind in KINDS:
        phase = np.exp(1j * np.pi / 4) if kind in "cz" else 1
        for degree in (2, 5, 10):
            powers = np.arange(degree + 1)
            factors = [(scale * phase) ** powers for scale in SCALES]
            # In single precision a degree-10 fit has no correct digit, whatever the units.
            refuse = degree == 10 and kind in "sc"
            cases.append((kind, np.vander(t, degree + 1, increasing=True), factors, refuse))
        if kind in "dz":
            cases.append((kind, np.eye(6, 3) + np.arange(18.0).reshape(6, 3) / 17, [WIDE], False))
    return cases


@pytest.mark.parametrize("kind, a, factors, refuse", fit_cases())
def test_ls_verdict_does_not_depend_on_units(kind, a, factors, refuse, rng):
    # Data the model nearly fits, so that the bound below says something for degree 10.
    y = (a @ random_array(kind, a.shape[1], rng)).astype(DTYPES[kind])
    oracle, residual = np.linalg.lstsq(a, y.astype(complex), rcond=None)[:2]  # in the units of a
    norms, scaled = np.linalg.norm(a, axis=0), np.linalg.cond(a / np.linalg.norm(a, axis=0))
    # The perturbation bound of least squares, in the norm of the column-scaled problem.
    rho = np.sqrt(residual.sum()) / np.linalg.norm(y)
    bound = 10 * np.finfo(DTYPES[kind]).eps * scaled * (1 + scaled * rho)
    for factor in factors:
        if np.max(np.abs(a * factor)) > np.finfo(DTYPES[kind]).max:
            continue  # beyond the range of single precision
        values = (a * factor).astype(DTYPES[kind])
        A = Operand(kind, "mat", values.flatten("F"), a.shape).obj
        x = Operand(kind, "vec", y).obj
        if refuse:
            fails(RuntimeError, None, vexa.ls, A, x)
            continue
        vexa.ls(A, x)
        # Back in the units of a, the solution is the same, to the accuracy its condition allows.
        got = flat(x, kind)[: a.shape[1]] * factor
        assert np.linalg.norm((got - oracle) * norms) <= bound * np.linalg.norm(oracle * norms)


def kahan(n, kind, theta=1.3):
    """The Kahan matrix: upper triangular, every pivot far from its column's norm, nearly
    singular. Complex kinds turn it by a diagonal unitary similarity: the same singular values,
    and a real diagonal, so that ?gels leaves it exactly as it is."""
    s, c = np.sin(theta), np.cos(theta)
    k = np.diag(s ** np.arange(n)) @ (np.eye(n) - c * np.triu(np.ones((n, n)), 1))
    if kind in "cz":
        turn = np.exp(1j * np.subtract.outer(np.arange(n), np.arange(n)))
        k = np.where(np.eye(n) == 1, k, k * turn)
    return k.astype(DTYPES[kind])


@pytest.mark.parametrize("kind", KINDS)
@pytest.mark.parametrize("n", [60, 200])
@pytest.mark.parametrize("wide", [False, True])
def test_ls_refuses_kahan(wide, n, kind, rng):
    # Wide: its transpose and a zero column, whose factor L is that transpose.
    k = np.c_[kahan(n, kind).T, np.zeros(n)] if wide else kahan(n, kind)
    b = np.r_[random_array(kind, n, rng), 0].astype(DTYPES[kind])
    A, x = Operand(kind, "mat", k.flatten("F"), k.shape).obj, Operand(kind, "vec", b).obj
    if kind in "dz" and n == 60:  # well within double precision
        vexa.ls(A, x)
        want = np.linalg.lstsq(k, b[:n], rcond=None)[0]
        np.testing.assert_allclose(flat(x, kind)[: k.shape[1]], want, 1e-6, 1e-12)
        return
    fails(RuntimeError, TEXTS["singular"].format(name="ls"), vexa.ls, A, x)
    # The scaled factor was a copy: A is as ?gels left it, which here is the matrix itself.
    np.testing.assert_array_equal(flat(A, kind), k.flatten("F"))


@pytest.mark.parametrize("kind", KINDS)
@pytest.mark.parametrize("shape", [(3, 2), (2, 3)])
def test_ls_nan_checks_what_the_solver_reads(shape, kind, route, rng):
    m, n = shape
    a, b = random_array(kind, shape, rng) + np.eye(*shape), random_array(kind, 4, rng)
    # NaN in both reports A; a NaN imaginary part counts as NaN.
    spoilt = [(np.nan, np.nan, "matrix A")]
    if kind in "cz":
        spoilt.append((complex(1, np.nan), None, "matrix A"))
        spoilt.append((None, complex(np.nan, 1), "vector x"))
    for in_a, in_b, holder in spoilt:
        aa, bb = a.copy(), b.copy()
        aa[1, 1] = aa[1, 1] if in_a is None else in_a
        bb[m - 1] = bb[m - 1] if in_b is None else in_b
        A, x = Operand(kind, "mat", aa.flatten("F"), shape).obj, Operand(kind, "vec", bb).obj
        text = TEXTS["not finite"].format(holder, "NaN", name="ls")
        refused(text, [A, x], kind, route("ls"), A, x)
    # Past b = x[0:m], NaN is no concern of ls: x[m:n] only receives the solution, and the
    # solver never reads beyond max(m, n) elements.
    b[m:] = np.nan
    A, x = Operand(kind, "mat", a.flatten("F"), shape).obj, Operand(kind, "vec", b).obj
    vexa.ls(A, x)
    solution = np.linalg.lstsq(a, b[:m], rcond=None)[0]
    np.testing.assert_allclose(flat(x, kind)[:n], solution, 100 * RTOL[kind], 100 * RTOL[kind])
    assert np.isnan(x[3])


@pytest.mark.slow
def test_ls_nan_checks_without_lapacke_nancheck():
    # LAPACKE_NANCHECK=0 turns off LAPACKE's own scan, read once per process: the NaN test
    # runs again in a child process that has it.
    test = f"{__file__}::test_ls_nan_checks_what_the_solver_reads"
    child = subprocess.run(
        [sys.executable, "-m", "pytest", "-q", "-p", "no:cacheprovider", test],
        env={**os.environ, "LAPACKE_NANCHECK": "0"},
        capture_output=True,
        text=True,
        timeout=300,
    )
    assert child.returncode == 0, child.stdout + child.stderr


@pytest.mark.parametrize("kind", KINDS)
@pytest.mark.parametrize("yc", CONTAINERS)
@pytest.mark.parametrize("k", [0, 3])
def test_zero_b_overwrites_nan(k, yc, kind, rng):
    a = random_array(kind, (2, k), rng)
    A = Operand(kind, "mat", a.flatten("F"), (2, k)).obj
    x = vector(kind, k, rng)
    y = Operand(kind, yc, np.full(2, np.nan), (2, 1))
    vexa.gemv(2.0, 0.0, A, x, y.obj)
    np.testing.assert_allclose(y.values(), 2 * a @ flat(x, kind), RTOL[kind] * 10, RTOL[kind] * 10)
    assert y.guards_intact()
    X = Operand(kind, "mat", random_array(kind, 3 * k, rng), (k, 3)).obj
    Y = Operand(kind, "mat", np.full(6, np.nan), (2, 3)).obj
    vexa.gemm(2.0, 0.0, A, X, Y)
    want = 2 * a @ flat(X, kind).reshape((k, 3), order="F")
    np.testing.assert_allclose(flat(Y, kind), want.flatten("F"), RTOL[kind] * 10, RTOL[kind] * 10)


@pytest.mark.parametrize("kind", KINDS)
@pytest.mark.parametrize("container", CONTAINERS)
@pytest.mark.parametrize("spot", [0, 1, 8])
def test_scale_by_zero_is_element_wise(spot, container, kind, rng):
    # Each finite part becomes zero; a NaN or infinite part becomes NaN (OpenBLAS 0.3.31) or
    # zero (older OpenBLAS, whose real routine sets every element for a zero factor), but never
    # reaches its neighbours.
    values = random_array(kind, 9, rng)
    values[spot] = complex(np.nan, 1) if kind in COMPLEX_KINDS else np.nan
    values[(spot + 4) % 9] = complex(2, np.inf) if kind in COMPLEX_KINDS else -np.inf
    x = Operand(kind, container, values, (3, 3))
    parts = (np.real, np.imag) if kind in COMPLEX_KINDS else (np.real,)
    for zero in (0, 0.0, 0j) if kind in COMPLEX_KINDS else (0, 0.0):
        vexa.scale(zero, x.obj)
        for part in parts:
            got, finite = part(x.values()), np.isfinite(part(values))
            assert np.all(got[finite] == 0) and np.all((got == 0) | np.isnan(got))
        assert x.guards_intact()


def by_parts(r, values, plus=0):
    """Each part of values times r, plus the same part of plus, in the values' precision."""
    out = np.empty_like(values)
    out.real, out.imag = r * values.real + np.real(plus), r * values.imag + np.imag(plus)
    return out


@pytest.mark.parametrize("kind", COMPLEX_KINDS)
@pytest.mark.parametrize("container", ["vec", "view"])
@pytest.mark.parametrize("n", [3, 37])  # OpenBLAS's complex kernels differed below 8 or 16
def test_real_complex_factor_works_part_by_part(n, container, kind, rng):
    # Complex arithmetic would give (2 + 0i)(inf + 0i) = inf + NaN i. Factors of 2 and 3 keep
    # every product exact, so the results are exact too.
    x = random_array(kind, n, rng)
    infinities = [np.inf, complex(1, np.inf), complex(-np.inf, 2), complex(2, -np.inf)]
    x[::4] = np.resize(infinities, x[::4].size)
    y = random_array(kind, n, rng)
    cases = [
        ("scale", lambda X, Y: (complex(2, 0), X), lambda: by_parts(2, x)),
        ("sum", lambda X, Y: (X, Y), lambda: x + y),
        ("axpy", lambda X, Y: (complex(2, 0), X, Y), lambda: by_parts(2, x, y)),
        ("sum", lambda X, Y: (X, X), lambda: by_parts(2, x)),
        ("axpy", lambda X, Y: (complex(2, -0.0), X, X), lambda: by_parts(3, x)),
    ]
    for name, args, want in cases:
        X, Y = Operand(kind, container, x), Operand(kind, container, y)
        written = getattr(vexa, name)(*args(X.obj, Y.obj))
        np.testing.assert_array_equal(flat(written, kind), want())
        assert X.guards_intact() and Y.guards_intact()


@pytest.mark.parametrize("kind", KINDS)
def test_repr_of_rows_without_columns(kind):
    # One line per row would take hours here, in repr and in messages quoting it alike.
    m = vexa_class("mat", kind)(2**40, 0)
    assert repr(m) == TEXTS["matrix head"].format(2**40, 0)
    with pytest.raises(TypeError):
        vexa.ls(m, vexa_class("vec", "s" if kind == "d" else "d")(1))
