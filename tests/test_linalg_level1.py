"""vexa_linalg's norms and element-wise functions against numpy: nrm2, asum, iamax, axpby, mul,
scale_rows and scale_columns over every kind and container type."""

import numpy as np
import pytest
import vexa_linalg as la
from helpers import CONTAINERS, DTYPES, KINDS, PAIRS, RTOL, Operand, random_array

COEFFS = {"s": (1.5, -0.5), "d": (1.5, -0.5), "c": (1.5 - 2j, 0.5 + 1j), "z": (1.5 - 2j, 0.5 + 1j)}


def slack(kind, want, scale=10):
    return RTOL[kind] * scale * (1 + np.abs(want).max(initial=0))


def blas_abs(values):
    return np.abs(values.real) + np.abs(values.imag)


@pytest.mark.parametrize("kind", KINDS)
@pytest.mark.parametrize("container", CONTAINERS)
def test_reductions(container, kind, route, rng):
    x = Operand.random(rng, kind, container, (3, 2))
    v = x.initial
    norm, total, index = (route.of(la, name)(x.obj) for name in ("nrm2", "asum", "iamax"))
    assert type(norm) is float and type(total) is float and type(index) is int
    assert norm == pytest.approx(np.linalg.norm(v), rel=RTOL[kind] * 10)
    assert total == pytest.approx(blas_abs(v).sum(), rel=RTOL[kind] * 10)
    assert index == np.argmax(blas_abs(v))
    x.check()


@pytest.mark.parametrize("kind", KINDS)
def test_nrm2_neither_overflows_nor_underflows(kind):
    # The squares of these overflow or vanish in the kind's precision: sqrt(dot) would fail.
    info = np.finfo(DTYPES[kind])
    for value in (float(info.max) / 2, float(info.tiny) * 4):
        x = Operand(kind, "vec", [value, -value, value, value])
        assert la.nrm2(x.obj) == pytest.approx(2 * value, rel=RTOL[kind] * 10)


@pytest.mark.parametrize("kind", KINDS)
def test_iamax_takes_the_first_largest(kind):
    # |Re| + |Im| decides: 2 + 2j counts 4 and comes before -4.
    values = [1, 2 + 2j, -4, 3] if kind in "cz" else [1, -4, 4, 3]
    assert la.iamax(Operand(kind, "view", values).obj) == 1


@pytest.mark.parametrize("kind", KINDS)
@pytest.mark.parametrize("name", ["axpby", "mul"])
@pytest.mark.parametrize("pair", PAIRS, ids="-".join)
def test_axpby_and_mul(pair, name, kind, route, rng):
    # y is longer than x: its last two elements stay as they are.
    x = Operand(kind, pair[0], random_array(kind, 6, rng), (2, 3))
    y = Operand(kind, pair[1], random_array(kind, 8, rng), (2, 4))
    a, b = COEFFS[kind]
    if name == "axpby":
        args, want = (a, x.obj, b, y.obj), a * x.initial + b * y.initial[:6]
    else:
        args, want = (x.obj, y.obj), x.initial * y.initial[:6]
    assert route.of(la, name)(*args) is y.obj
    y.check(want, slack(kind, want))
    x.check()


@pytest.mark.parametrize("kind", KINDS)
@pytest.mark.parametrize("container", CONTAINERS)
def test_one_run_as_both_operands(container, kind, rng):
    x = Operand.random(rng, kind, container, (3, 3))
    a, b = COEFFS[kind]
    assert la.axpby(a, x.obj, b, x.obj) is x.obj
    want = (a + b) * x.initial
    x.check(want, slack(kind, want))
    assert la.mul(x.obj, x.obj) is x.obj
    x.check(want * want, slack(kind, want * want))


@pytest.mark.parametrize("kind", KINDS)
def test_axpby_zero_factors_leave_operands_unread(kind):
    nan, inf = float("nan"), float("inf")
    x = Operand(kind, "vec", [nan, 1, inf])
    y = Operand(kind, "view", [2, nan, 3])
    la.axpby(0.0, x.obj, 2.0, y.obj)
    np.testing.assert_array_equal(y.values(), np.array([4, nan, 6], DTYPES[kind]))
    y = Operand(kind, "view", [2, nan, 3])
    la.axpby(2.0, x.obj, 0.0, y.obj)
    np.testing.assert_array_equal(y.values(), np.array([nan, 2, inf], DTYPES[kind]))
    assert y.guards_intact()


@pytest.mark.parametrize("kind", KINDS)
@pytest.mark.parametrize("name", ["scale_rows", "scale_columns"])
@pytest.mark.parametrize("dc", CONTAINERS)
def test_scale_lines(dc, name, kind, route, rng):
    A = Operand.random(rng, kind, "mat", (3, 4))
    a = A.initial.reshape((3, 4), order="F")
    rows = name == "scale_rows"
    d = Operand.random(rng, kind, dc, ((3 if rows else 4), 2 if dc == "mat" else 1))
    factors = d.initial[: 3 if rows else 4]
    want = (factors[:, None] * a if rows else a * factors[None, :]).flatten("F")
    assert route.of(la, name)(d.obj, A.obj) is A.obj
    A.check(want, slack(kind, want))
    d.check()


@pytest.mark.parametrize("kind", "cz")
@pytest.mark.parametrize("n", [6, 48])  # OpenBLAS's complex kernels differed below 8 or 16
def test_real_complex_factors_keep_infinities(n, kind, rng):
    # Complex arithmetic would give (2 + 0i)(inf + 0i) = inf + NaN i; factors of 2 and 3 keep
    # every product exact. The matrices are 3 x n/3, so a row is every third element.
    values = random_array(kind, n, rng)
    values[::4] = np.resize([np.inf, complex(1, -np.inf), complex(-np.inf, 2)], values[::4].size)
    other = random_array(kind, n, rng)

    def by_parts(r, v, plus=0):
        out = np.empty_like(v)
        out.real, out.imag = r * v.real + np.real(plus), r * v.imag + np.imag(plus)
        return out

    def twos(count):
        return Operand(kind, "vec", np.full(count, 2)).obj

    cases = [
        ("axpby", "view", lambda x, y: (2 + 0j, x, 1 + 0j, y), by_parts(2, values, other)),
        ("axpby", "view", lambda x, y: (2 + 0j, x, 1 + 0j, x), by_parts(3, values)),
        ("scale_rows", "mat", lambda x, y: (twos(3), x), by_parts(2, values)),
        ("scale_columns", "mat", lambda x, y: (twos(n // 3), x), by_parts(2, values)),
    ]
    for name, container, args, want in cases:
        x, y = Operand(kind, container, values, (3, n // 3)), Operand(kind, "view", other)
        written = getattr(la, name)(*args(x.obj, y.obj))
        np.testing.assert_array_equal((y if written is y.obj else x).values(), want)
        assert x.guards_intact() and y.guards_intact()
