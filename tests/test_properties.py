"""Differential tests against numpy over random shapes (zero extents too), views at random
offsets into longer vectors, random values and coefficients: every call returns its output
object, matches numpy, and changes exactly the elements it should; all other storage stays."""

import numpy as np
import pytest
import vexa
from helpers import (
    COMPLEX_KINDS,
    CONTAINERS,
    DTYPES,
    FUNCTIONS,
    KINDS,
    PAIRS,
    PARAMS,
    PROFILE,
    REAL_KINDS,
    RTOL,
    TINY,
    Operand,
    kinds_of,
    random_array,
)
from hypothesis import given
from hypothesis import strategies as st

# Functions of two vectors; of a matrix and two vectors, or three matrices.
TWO = [f for f in FUNCTIONS if PARAMS[f].strip("s") == "vv"]
LEVEL1 = [(f, k, *p) for f in TWO for k in kinds_of(f) for p in PAIRS]
PRODUCTS = [
    (f, k, *p) for f in FUNCTIONS if PARAMS[f].endswith("Mvv") for k in KINDS for p in PAIRS
]
PRODUCTS += [(f, k, "mat", "mat") for f in FUNCTIONS if PARAMS[f].endswith("MMM") for k in KINDS]


def prop(test):
    return PROFILE(given(data=st.data())(test))


def ints(data, low, high):
    return data.draw(st.integers(low, high))


def arg(data, kind, container, shape, add=0):
    """An operand of random values; a view is cut, as a view of a view, from a longer vector."""
    rng, n = np.random.default_rng(ints(data, 0, 2**32)), int(np.prod(shape))
    if container == "mat":
        return Operand(kind, "mat", (random_array(kind, shape, rng) + add).flatten("F"), shape)
    lo, tail = (ints(data, 0, 4), ints(data, 0, 3)) if container == "view" else (0, 0)
    whole = random_array(kind, lo + n + tail, rng) + add
    guards, cut = (whole[:lo], whole[lo + n :]), ints(data, 0, lo)
    return Operand(kind, container, whole[lo : lo + n], guards=guards, cut=cut)


def shape(data, container, limit=8, rows=None):
    """At most limit elements; with rows given, a column of that length (a matrix of 1-3)."""
    cols = ints(data, 1 if rows is not None else 0, 3) if container == "mat" else 0
    rows = rows if rows is not None else ints(data, 0, limit // cols if cols else limit)
    return (rows, cols) if container == "mat" else (rows,)


def coef(data, kind):
    """A coefficient as passed (ints and floats go through conversion) and as the kind stores it."""
    value = data.draw(
        st.integers(-3, 3) | st.floats(-3, 3) | st.complex_numbers(max_magnitude=3, allow_nan=False)
    )
    value = value if kind in COMPLEX_KINDS or not isinstance(value, complex) else value.real
    return value, complex(DTYPES[kind](value))


@pytest.mark.parametrize("kind,container", [(k, c) for k in KINDS for c in CONTAINERS])
@prop
def test_scale(kind, container, data):
    x, (s, s_ref) = arg(data, kind, container, shape(data, container)), coef(data, kind)
    assert vexa.scale(s, x.obj) is x.obj
    x.check(s_ref * x.initial, RTOL[kind] * np.abs(s_ref * x.initial))


@pytest.mark.parametrize("name,kind,cx,cy", LEVEL1)
@prop
def test_level1(name, kind, cx, cy, data):
    y = arg(data, kind, cy, shape(data, cy))
    x = arg(data, kind, cx, shape(data, cx, y.initial.size))
    (a, a_ref), xv, yv, rt = coef(data, kind), x.initial, y.initial[: x.initial.size], RTOL[kind]
    result = getattr(vexa, name)(*((a, x.obj, y.obj) if name == "axpy" else (x.obj, y.obj)))
    if name in ("dot", "hdot"):
        assert type(result) is (float if kind in REAL_KINDS else complex)
        products = (np.conj(xv) if name == "hdot" else xv) * yv
        assert abs(result - products.sum()) <= rt * np.abs(products).sum() + TINY[kind]
        x.check(), y.check()
    elif name == "swap":
        assert result is None
        x.check(yv), y.check(xv)
    else:
        assert result is y.obj
        new = {"copy": xv, "sum": xv + yv, "axpy": a_ref * xv + yv}[name]
        x.check(), y.check(new, 0 if name == "copy" else rt * (np.abs(new - yv) + np.abs(yv)))


@pytest.mark.parametrize("name,kind,cx,cy", PRODUCTS)
@prop
def test_products(name, kind, cx, cy, data):
    """y = aAx + by with x and y taking part by their first columns; gemm with n columns."""
    m, k, unit = ints(data, 0, 5), ints(data, 0, 5), "s" not in PARAMS[name]
    three = PARAMS[name].endswith("MMM")  # X and Y matrices
    n = ints(data, 0, 4) if three else 1
    if three:
        A, x, y = (arg(data, kind, "mat", s) for s in ((m, k), (k, n), (m, n)))
    else:
        A = arg(data, kind, "mat", (m, k))
        x, y = (arg(data, kind, c, shape(data, c, rows=r)) for c, r in ((cx, k), (cy, m)))
    (a, a_ref), (b, b_ref) = ((1, 1), (1, 1)) if unit else (coef(data, kind), coef(data, kind))
    operands = (A.obj, x.obj, y.obj)
    assert getattr(vexa, name)(*(operands if unit else (a, b, *operands))) is y.obj
    Am, xm = A.initial.reshape((m, k), order="F"), x.initial[: k * n].reshape((k, n), order="F")
    ym = y.initial[: m * n].reshape((m, n), order="F")
    bound = abs(a_ref) * np.abs(Am) @ np.abs(xm) + abs(b_ref) * np.abs(ym)
    A.check(), x.check()
    y.check((a_ref * Am @ xm + b_ref * ym).ravel("F"), RTOL[kind] * bound.ravel("F"))


@pytest.mark.parametrize("kind,cx", [(k, c) for k in KINDS for c in CONTAINERS])
@prop
def test_ls(kind, cx, data):
    m, n = ints(data, 0, 5), ints(data, 0, 5)
    r = max(m - n, 0)  # x holds residual components after the solution
    A = arg(data, kind, "mat", (m, n), add=5 * np.eye(m, n))  # well conditioned, full rank
    cols = ints(data, 1, 3) if cx == "mat" else 1
    rows = -(-max(m, n) // cols) + ints(data, 0, 2)
    x = arg(data, kind, cx, (rows, cols) if cx == "mat" else (rows,))
    Am, b = A.initial.reshape((m, n), order="F"), x.initial[:m]
    assert vexa.ls(A.obj, x.obj) is None
    solution, cond = np.linalg.lstsq(Am, b)[0], np.linalg.cond(Am) if m and n else 1
    slack = 10 * RTOL[kind] * cond**2 * (np.linalg.norm(b) + 1)
    x.check(np.r_[solution, np.zeros(r)], np.r_[np.full(n, slack), np.full(r, np.inf)])
