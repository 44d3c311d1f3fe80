"""Level-1 module functions against numpy: values, which elements change, results and their
types, argument matching, the operand checks, and the overload chains behind each function."""

import contextlib
import re

import numpy as np
import pytest
import vexa
from helpers import (
    COMPLEX_KINDS,
    CONTAINERS,
    DTYPES,
    FACTOR,
    FUNCTIONS,
    KINDS,
    PAIRS,
    PARAMS,
    REAL_KINDS,
    RTOL,
    SINGLE_KINDS,
    TEXTS,
    Operand,
    fails,
    kinds_of,
    random_array,
)

OPS = [name for name in FUNCTIONS if "M" not in PARAMS[name]]  # those without a matrix
KIND_OPS = [(k, op) for k in KINDS for op in OPS if k in kinds_of(op)]
# An empty x (nx 0) for every operation; an x longer than y (nx 6) for those with two operands.
EMPTY_OR_SHORT = [(k, op, nx) for k, op in KIND_OPS for nx in (0, 6) if not (nx and op == "scale")]


def operands(kind, pair, rng, nx=6, ny=8):
    """x and y of the given container types; matrices have two rows and several columns."""
    x = Operand(kind, pair[0], random_array(kind, nx, rng), shape=(2, nx // 2))
    y = Operand(kind, pair[1], random_array(kind, ny, rng), shape=(2, ny // 2))
    return x, y


def output(op, x, y):
    """The object an operation returns: its output operand, or None for "swap"."""
    return {"scale": x.obj, "swap": None}.get(op, y.obj)


def call(route, op, kind, x, y):
    args = {"scale": (FACTOR[kind], x.obj), "axpy": (FACTOR[kind], x.obj, y.obj)}
    return route(op)(*args.get(op, (x.obj, y.obj)))


@pytest.mark.parametrize("pair", PAIRS, ids="-".join)
@pytest.mark.parametrize("kind, op", KIND_OPS)
def test_values(route, kind, op, pair, rng):
    x, y = operands(kind, pair, rng)
    ex, ey = x.values(), y.values()
    n, a = ex.size, FACTOR[kind]
    result = call(route, op, kind, x, y)
    if op in ("dot", "hdot"):
        assert type(result) is (complex if kind in COMPLEX_KINDS else float)
        # Computed in the operands' precision: the value is exactly representable there.
        assert np.array(result, dtype=DTYPES[kind]).item() == result
        terms = (np.conj(ex) if op == "hdot" else ex).astype(complex) * ey[:n]
        assert abs(result - terms.sum()) <= RTOL[kind] * np.abs(terms).sum()
    else:
        assert result is output(op, x, y)
    if op == "scale":
        ex = a * ex
    elif op == "swap":
        ex, ey[:n] = ey[:n].copy(), ex
    elif op in ("sum", "copy", "axpy"):
        ey[:n] = {"sum": ex + ey[:n], "copy": ex, "axpy": a * ex + ey[:n]}[op]
    for operand, expected in ((x, ex), (y, ey)):
        np.testing.assert_allclose(operand.values(), expected, RTOL[kind], RTOL[kind])
        assert operand.guards_intact()


@pytest.mark.parametrize("kind", KINDS)
@pytest.mark.parametrize("factor", [2, 2.0, 1j])
def test_scalar_conversion(kind, factor):
    x = Operand(kind, "vec", [1.5, -3]).obj
    refused = kind in REAL_KINDS and isinstance(factor, complex)
    with pytest.raises(TypeError) if refused else contextlib.nullcontext():
        assert vexa.scale(factor, x) is x
    assert (x[0], x[1]) == ((1.5, -3) if refused else (1.5 * factor, -3 * factor))


@pytest.mark.parametrize("kind", KINDS)
def test_dot_conjugation_and_precision(kind):
    third, three = (Operand(kind, "vec", [v]).obj for v in (np.float32(1 / 3), 3))
    # (1/3 in single precision) * 3 rounds to 1 in single precision, not in double.
    assert vexa.dot(third, three) == (1.0 if kind in SINGLE_KINDS else float(np.float32(1 / 3)) * 3)
    if kind in COMPLEX_KINDS:
        i = Operand(kind, "vec", [1j]).obj
        assert (vexa.dot(i, i), vexa.hdot(i, i)) == (-1, 1)


BAD_CALLS = {
    "mixed kinds": lambda v: vexa.axpy(1.0, v["s"], v["d"]),
    "mixed kinds with a view": lambda v: vexa.sum(v["s"], v["d"][0:2]),
    "mixed complex kinds": lambda v: vexa.dot(v["z"], v["c"]),
    "hdot of a real kind": lambda v: vexa.hdot(v["d"], v["d"]),
    "complex factor for a real kind": lambda v: vexa.axpy(1j, v["s"], v["s"]),
    "keyword argument": lambda v: vexa.sum(v["d"], arg1=v["d"]),
}


@pytest.mark.parametrize("bad", BAD_CALLS)
def test_no_matching_overload(bad):
    v = {kind: Operand(kind, "vec", [1, 2]).obj for kind in KINDS}
    with pytest.raises(TypeError):
        BAD_CALLS[bad](v)
    assert all((c[0], c[1]) == (1, 2) for c in v.values())


@pytest.mark.parametrize("pair", PAIRS, ids="-".join)
@pytest.mark.parametrize("kind, op, nx", EMPTY_OR_SHORT)
def test_empty_and_short_operands(route, kind, op, pair, nx, rng):
    x, y = operands(kind, pair, rng, nx, ny=4)
    x0, y0 = x.values(), y.values()
    if nx == 0:
        result = call(route, op, kind, x, y)
        assert result == 0 if op in ("dot", "hdot") else result is output(op, x, y)
    else:
        fails(RuntimeError, TEXTS["short y"].format(4, 6, name=op), call, route, op, kind, x, y)
    assert np.array_equal(x.values(), x0) and np.array_equal(y.values(), y0)
    assert x.guards_intact() and y.guards_intact()


@pytest.mark.parametrize("op", [op for op in OPS if "s" in kinds_of(op)])
def test_blas_integer_range(op):
    try:  # calloc'd and never written, so it costs no memory
        big = vexa.vecs(2**31 + 1)
    except MemoryError:
        pytest.skip("no address space for an 8 GB vector")
    args = {"scale": (2.0, big), "axpy": (2.0, big, big)}.get(op, (big, big))
    fails(RuntimeError, TEXTS["limit"].format(2**31 + 1, name=op), getattr(vexa, op), *args)


DOCS = {"scale": "scale an object", "sum": "add objects", "copy": "copy an object into another"}
DOCS |= {"swap": "swap objects into another", "axpy": "axpy objects", "dot": "dot product"}
DOCS["hdot"] = "hermetian dot product"


@pytest.mark.parametrize("name", OPS)
def test_overload_chain(name):
    kinds, seconds = kinds_of(name), ([""] if name == "scale" else CONTAINERS)
    expected = [
        tuple(c + k for c in (a, b) if c) for k in kinds for a in CONTAINERS for b in seconds
    ]
    doc = getattr(vexa, name).__doc__
    assert doc == getattr(vexa, name).__self__.__doc__
    entries = re.findall(rf"^(\d+)\. {name}\((.*)\) -> (.*)\n\n(.*)$", doc, re.M)
    assert [int(e[0]) for e in entries] == list(range(1, len(expected) + 1))
    assert [tuple(re.findall(r"vexa\.(\w+)", e[1])) for e in entries] == expected
    assert all(e[3] == DOCS[name] for e in entries)
    if name in ("scale", "sum", "copy", "axpy"):
        assert [e[2] for e in entries] == ["vexa." + classes[-1] for classes in expected]
