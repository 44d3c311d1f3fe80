"""gemv/matvec, gemm/matmul and ls against numpy; shape, size and type errors."""

import re

import numpy as np
import pytest
import vexa
from helpers import (
    COMPLEX_KINDS,
    CONTAINERS,
    KINDS,
    RTOL,
    TEXTS,
    Operand,
    fails,
    random_array,
    vexa_class,
)

GEMV, GEMM = TEXTS["gemv"], TEXTS["gemm"]
SHORT = TEXTS["short for A"].replace("{name}", "NAME")  # NAME: the function called
COEFFS = {"gemv": (2.0, 1.0), "gemm": (2.0, 1.0)}
OVERLOADS = {"matvec": 108, "gemv": 108, "ls": 12, "gemm": 4, "matmul": 4}


def close(got, want, kind, scale=10):
    tol = RTOL[kind] * scale
    np.testing.assert_allclose(got, want, rtol=tol, atol=tol * (1 + np.abs(want).max(initial=0)))


VALUE_CASES = [("gemv", x, y) for x in CONTAINERS for y in CONTAINERS] + [("gemm", "mat", "mat")]


@pytest.mark.parametrize("kind", KINDS)
@pytest.mark.parametrize("name, xc, yc", VALUE_CASES)
def test_products_against_numpy(name, xc, yc, kind, rng):
    # gemv reads only the first column of a matrix x and writes only that of a matrix y.
    xshape, yshape = ((3, 4), (2, 4)) if name == "gemm" else ((3, 2), (2, 3))
    a = random_array(kind, (2, 3), rng)
    A = Operand(kind, "mat", a.flatten("F"), (2, 3))
    x = Operand.random(rng, kind, xc, xshape if xc == "mat" else (3, 1))
    y = Operand.random(rng, kind, yc, yshape if yc == "mat" else (2, 1))
    xv, want = x.values(), y.values().astype(complex)
    product = (a @ xv.reshape(xshape, order="F")).flatten("F") if name == "gemm" else a @ xv[:3]
    unit = "matmul" if name == "gemm" else "matvec"
    pairs = [(2, -1), (0.5, 2.0)] + ([(1.5 - 2j, 0.5 + 1j)] if kind in COMPLEX_KINDS else [])
    for function, coefficients in [(name, p) for p in pairs] + [(unit, ())] * 2:
        assert getattr(vexa, function)(*coefficients, A.obj, x.obj, y.obj) is y.obj
        alpha, beta = coefficients or (1, 1)
        want[: product.size] = alpha * product + beta * want[: product.size]
        close(y.values(), want, kind)
    np.testing.assert_array_equal(y.values()[product.size :], want[product.size :])
    np.testing.assert_array_equal(A.values(), a.flatten("F"))
    np.testing.assert_array_equal(x.values(), xv)
    assert x.guards_intact() and y.guards_intact()


A23, NOT_A_MATRIX = ("mat", (2, 3)), TypeError(TEXTS["not a matrix"].format(name="NAME"))
ERROR_CASES = [  # A, x (or X) and y (or Y) as (container, shape), expected error
    *[(A23, (c, (4, 1)), (c, (3, 1)), GEMV.format(1, 3, "x dimension 0: 4")) for c in CONTAINERS],
    *[
        (A23, (c, (3, 1)), (d, (1, 1)), GEMV.format(0, 2, "y dimension 0: 1"))
        for c, d in zip(CONTAINERS, CONTAINERS[::-1], strict=True)
    ],
    (A23, ("mat", (3, 0)), ("vec", (2, 1)), SHORT.format("x", 0, 3)),
    (A23, ("view", (3, 1)), ("mat", (2, 0)), SHORT.format("y", 0, 2)),
    (A23, ("mat", (4, 0)), ("mat", (2, 0)), GEMV.format(1, 3, "x dimension 0: 4")),
    (("vec", (3, 1)), ("vec", (3, 1)), ("view", (3, 1)), NOT_A_MATRIX),
    (("view", (3, 1)), ("mat", (3, 1)), ("vec", (3, 1)), NOT_A_MATRIX),
    (A23, ("mat", (4, 5)), ("mat", (3, 6)), GEMM.format("A", 0, 2, "Y dimension 0: 3")),
    (A23, ("mat", (4, 5)), ("mat", (2, 6)), GEMM.format("X", 1, 5, "Y dimension 1: 6")),
    (A23, ("mat", (2, 4)), ("mat", (2, 4)), GEMM.format("A", 1, 3, "X dimension 0: 2")),
    *[(A23, (c, (2, 1)), None, SHORT.format("x", 2, 3)) for c in CONTAINERS],
]


@pytest.mark.parametrize("kind", KINDS)
@pytest.mark.parametrize("a, x, y, error", ERROR_CASES)
def test_errors_leave_operands_alone(a, x, y, error, kind, route, rng):
    ops = [Operand.random(rng, kind, c, shape) for c, shape in filter(None, (a, x, y))]
    error = error if isinstance(error, Exception) else RuntimeError(error)
    names = ("gemm", "matmul") if "gemm" in str(error) else ("gemv", "matvec")
    for name in names if y is not None else ("ls",):
        message = str(error).replace("NAME", name)
        operands = (*COEFFS.get(name, ()), *(o.obj for o in ops))
        fails(type(error), message, route(name), *operands, keep=ops)


@pytest.mark.parametrize("kind", KINDS)
def test_degenerate_extents(kind, capfd, rng):
    mat, vec = vexa_class("mat", kind), vexa_class("vec", kind)
    y, Y = Operand.random(rng, kind, "vec", (2, 1)), Operand.random(rng, kind, "mat", (2, 3))
    want_y, want_Y = 0.5 * y.values(), 0.5 * Y.values()
    # A sum over no terms leaves b*y; the unit forms then leave y as it is.
    vexa.matvec(mat(2, 0), mat(0, 1), vexa.gemv(2, 0.5, mat(2, 0), vec(0), y.obj))
    vexa.matmul(mat(2, 0), mat(0, 3), vexa.gemm(2, 0.5, mat(2, 0), mat(0, 3), Y.obj))
    close(y.values(), want_y, kind)
    close(Y.values(), want_Y, kind)
    # Without rows there is nothing to compute.
    vexa.matvec(mat(0, 3), vec(3), vexa.gemv(2.0, 0.5, mat(0, 3), vec(3), vec(0)))
    vexa.matmul(mat(0, 3), mat(3, 2), vexa.gemm(2.0, 0.5, mat(0, 3), mat(3, 2), mat(0, 2)))
    assert capfd.readouterr() == ("", "")
    for name in ("gemv", "matvec", "gemm", "matmul"):
        args = mat(0, 2**31), mat(2**31, 0), vec(0) if name in ("gemv", "matvec") else mat(0, 0)
        message = TEXTS["limit"].format(2**31, name=name)
        fails(RuntimeError, message, getattr(vexa, name), *COEFFS.get(name, ()), *args)


@pytest.mark.parametrize("kind", KINDS)
@pytest.mark.parametrize("xc", CONTAINERS)
@pytest.mark.parametrize("m, n", [(3, 3), (5, 3), (3, 5)])
def test_ls_against_lstsq(m, n, xc, kind, rng):
    a, p = random_array(kind, (m, n), rng), max(m, n)
    A = Operand(kind, "mat", a.flatten("F"), (m, n))
    # A matrix x is one right-hand side made of its first p storage elements.
    x = Operand.random(rng, kind, xc, (3, 3) if xc == "mat" else (p, 1))
    b = x.values()
    assert vexa.ls(A.obj, x.obj) is None
    solution, residual = np.linalg.lstsq(a.astype(complex), b[:m], rcond=None)[:2]
    close(x.values()[:n], solution, kind, 50)
    close(np.sum(np.abs(x.values()[n:m]) ** 2), residual.sum(), kind, 50)
    np.testing.assert_array_equal(x.values()[p:], b[p:])
    assert x.guards_intact()


LS_FAULTS = [  # where to spoil [A | b], with what, and the error
    (np.s_[:, 1], 0, TEXTS["rank"].format(2, name="ls")),
    (np.s_[1, 0], np.nan, TEXTS["not finite"].format("matrix A", "NaN", name="ls")),
    (np.s_[1, 3], np.nan, TEXTS["not finite"].format("vector x", "NaN", name="ls")),
]


@pytest.mark.parametrize("kind", KINDS)
@pytest.mark.parametrize("xc", CONTAINERS)
@pytest.mark.parametrize("spot, value, message", LS_FAULTS)
def test_ls_failures(spot, value, message, xc, kind, rng):
    ab = random_array(kind, (4, 4), rng)
    ab[spot] = value
    A, x = Operand(kind, "mat", ab[:, :3].flatten("F"), (4, 3)), Operand(kind, xc, ab[:, 3])
    fails(RuntimeError, message, vexa.ls, A.obj, x.obj)


@pytest.mark.parametrize("name", OVERLOADS)
def test_overload_docstrings(name):
    # Entries run from kind s and vectors to kind z and matrices, each with its docstring.
    doc, count = getattr(vexa, name).__doc__, OVERLOADS[name]
    first = {108: "vecs vecs vecs", 12: "mats vecs", 4: "mats mats mats"}[count].split()
    assert len(re.findall(rf"^\d+\. {name}\(", doc, re.M)) == count
    entries = re.findall(rf"^(\d+)\. {name}\((.*)\) -> .*\n\n{name}\n", doc, re.M)
    assert [int(number) for number, _ in entries] == list(range(1, count + 1))
    assert re.findall(r"vexa\.(\w+)", entries[0][1]) == first
    assert re.findall(r"vexa\.(\w+)", entries[-1][1]) == ["matz"] * len(first)


def test_calls_matching_no_overload():
    A, x = vexa.matd(2, 2), vexa.vecd(2)
    for name, call in (
        ("gemv", lambda: vexa.gemv(1.0, A, x, x, b=1.0)),
        ("matvec", lambda: vexa.matvec(vexa.matc(2, 2), x, x)),
        ("gemm", lambda: vexa.gemm(1.0, 1.0, vexa.mats(2, 2), A, A)),
        ("matmul", lambda: vexa.matmul(A, x, A)),
        ("ls", lambda: vexa.ls(x, x)),
    ):
        fails(TypeError, TEXTS["refused"].format("function", name=name), call, first_line=True)
