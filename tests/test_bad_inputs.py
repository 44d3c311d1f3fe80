"""A seeded campaign of bad calls: each raises the documented exception with the documented text
and leaves every operand as it was, and the overload chain behind each function answers the same
call on fresh operands alike; then views that outlive their vectors, released at random."""

import collections
import functools
import gc
import os
import re

import numpy as np
import pytest
import vexa
from conftest import CONTAINERS, KINDS, TEXTS, Operand, fails, fill, random_array, read, vexa_class

# Parameters of each function: s a coefficient, v any container, M a matrix.
FUNCS = {"scale": "sv", "sum": "vv", "dot": "vv", "copy": "vv", "swap": "vv", "axpy": "svv"}
FUNCS |= {"hdot": "vv", "matvec": "Mvv", "gemv": "ssMvv", "gemm": "ssMMM", "matmul": "MMM"}
FUNCS["ls"] = "Mv"
# Sizes, for a vector and a matrix, of too many bytes to count and of more than can be allocated
SIZES = {4: ([2**62], [2**33, 2**33]), 5: ([2**50], [2**25, 2**25])}
SIZE_ERRORS = {3: TypeError, 4: MemoryError, 5: MemoryError}
SIZE_TEXTS = {3: TEXTS["refused"].format("constructor", name="__init__")}
SIZE_TEXTS |= {4: TEXTS["size overflow"], 5: TEXTS["no memory"]}
SLICES = [(ValueError, TEXTS["zero step"]), (RuntimeError, TEXTS["step"])]
SLICES += [(TypeError, TEXTS["slice index"])]
CALLS, SEEN = collections.Counter(), set()
# Calls per category: 10^4 in all under the ci profile.
COUNT = 1000 if os.environ.get("HYPOTHESIS_PROFILE") == "ci" else 60
CHAIN = [False]  # whether calls go to the overload chain (vexa.NAME.__self__) instead of the front


def function(name):
    front = getattr(vexa, name)
    return front.__self__ if CHAIN[0] else front


@pytest.fixture(scope="module", autouse=True)
def summary():
    yield
    forms = {re.sub(r"\d+", "#", t) for t in SEEN}
    print(f"\nbad calls: {dict(CALLS)}\ndistinct error texts: {len(SEEN)}, {len(forms)} forms")


def make(rng, kind, container=None, shape=None):
    """Random values; a view sits at a random offset inside a longer vector."""
    container = container or str(rng.choice(CONTAINERS))
    shape = [int(d) for d in (rng.integers(4, size=2) if shape is None else shape)]
    if container == "mat":
        return Operand(kind, "mat", random_array(kind, shape, rng).flatten("F"), shape)
    n, lo = shape[0], int(rng.integers(3)) * (container == "view")
    whole = random_array(kind, n + 3 * lo, rng)
    return Operand(kind, container, whole[lo : lo + n], guards=(whole[:lo], whole[lo + n :]))


def objects(args):
    """The arguments as passed: each operand's container."""
    return [a.obj if isinstance(a, Operand) else a for a in args]


def call(rng, names):
    """A call of one of names with operands of one kind, whatever their shapes."""
    name = str(rng.choice(names))
    kind = str(rng.choice(list("cz" if name == "hdot" else KINDS)))
    args = [1.5 if s == "s" else make(rng, kind, "mat" if s == "M" else None) for s in FUNCS[name]]
    return name, kind, args, lambda: function(name)(*objects(args))


def miscall(rng, category):
    """No overload takes the call: an argument of a wrong kind, class or name, or a wrong count."""
    names = {"kind": list(FUNCS)[1:], "A": ["matvec", "gemv", "gemm", "matmul", "ls"]}
    name, kind, args, run = call(rng, names.get(category, list(FUNCS)))
    i = int(rng.choice([p for p, s in enumerate(FUNCS[name]) if s != "s"]))
    text = TEXTS["refused"].format("function", name=name)
    if category == "kind" and "s" in FUNCS[name] and kind in "sd" and rng.random() < 0.3:
        args[0] = 1j  # a complex coefficient with real containers
    elif category == "kind":
        other = rng.choice([k for k in ("cz" if name == "hdot" else KINDS) if k != kind])
        args[i] = make(rng, str(other), type(args[i].obj).__name__[:-1])
    elif category == "class":
        args[i] = [None, 2, [1.0], np.zeros(2), "vecd", vexa, vexa.vecd][int(rng.integers(7))]
    elif category == "A":  # a vector or view where the matrix goes
        args[FUNCS[name].index("M")] = make(rng, kind, str(rng.choice(["vec", "view"])))
        text = TEXTS["not a matrix"].format(name=name) if name in ("gemv", "matvec") else text
    elif category == "keyword":
        key, value = str(rng.choice(["x", "y", "arg1"])), args.pop()
        run = functools.partial(function(name), *objects(args), **{key: value.obj})
        return TypeError, text, run, args + [value]
    elif rng.random() < 0.5:
        args.pop()
    else:
        args.append(args[-1])
    return TypeError, text, run, args


def short(rng, category):
    """Operands shorter than the call needs, or product extents beyond the BLAS integer."""
    pool = {"short y": list(FUNCS)[1:7], "short x": ["ls", "gemv", "matvec"]}
    name, kind, args, run = call(rng, pool.get(category, ["gemv", "matvec", "gemm", "matmul"]))
    m, k, n = (int(d) for d in rng.integers(1, 4, size=3))
    which, needed = ("x", k) if rng.random() < 0.5 else ("y", m)
    if category == "short y":
        args[-2:] = [make(rng, kind, None, (k, 1)), make(rng, kind, None, (rng.integers(k), 1))]
    elif name == "ls":
        which, needed = "x", max(m, k)
        args[:] = [make(rng, kind, "mat", (m, k)), make(rng, kind, None, (rng.integers(needed), 1))]
    elif category == "short x":  # a matrix with no columns claims rows that it does not hold
        x = make(rng, kind, "mat", (k, 0)) if which == "x" else make(rng, kind, None, (k, n))
        y = make(rng, kind, "mat", (m, 0)) if which == "y" else make(rng, kind, None, (m, n))
        args[-3:] = [make(rng, kind, "mat", (m, k)), x, y]
    else:  # extents above 2147483647 that hold no elements
        big, vec = 2**31 + int(rng.integers(2**40)), name in ("gemv", "matvec")
        m, k, n = (rng.permutation([big, 0] if vec else [big, 0, 0]).tolist() + [0])[:3]
        args[-3:] = [make(rng, kind, "mat", s) for s in ((m, k), (k, n), (m, n))]
        return RuntimeError, TEXTS["limit"].format(big, name=name), run, args
    if category == "short y":
        return RuntimeError, TEXTS["short y"].format(args[-1].obj.numel(), k, name=name), run, args
    count = args[-1 if which == "y" or name == "ls" else -2].obj.numel()
    return RuntimeError, TEXTS["short for A"].format(which, count, needed, name=name), run, args


def position_error(i, j, rows, cols):
    pos = (i + j * rows) % 2**64  # wraps like the native size arithmetic
    if pos >= rows * cols:
        return TEXTS["position"].format(pos, rows * cols)
    d, idx, extent = (0, i, rows) if i >= rows else (1, j, cols)
    return TEXTS["dimension index"].format(d, idx, extent) if idx >= extent else None


def indices(rng, category):
    """Negative, float, huge and too large indices, dimensions and sizes."""
    kind, container, op = str(rng.choice(list(KINDS))), str(rng.choice(CONTAINERS)), rng.integers(6)
    operand, mat = make(rng, kind, container), container == "mat"
    obj, n = operand.obj, 2**63 + int(rng.integers(2**62))
    bad = [-1 - int(rng.integers(9)), 1.0, 2**64 + int(rng.integers(9))][int(rng.integers(3))]
    method, error, text = str(rng.choice(["__getitem__", "__setitem__"])), RuntimeError, None
    if op == 0:  # no overload takes the index
        error, args = TypeError, [(0, bad) if mat else bad]
        text = TEXTS["refused"].format("function", name=method)
    while op == 1 and text is None:  # an index past the end, small or huge
        i, j = ([int(rng.integers(5)), n][int(rng.integers(2))] for _ in "ij")
        args = [(i, j) if mat else i]
        if mat:
            text = position_error(i, j, obj.dim(0), obj.dim(1))
        elif i >= obj.numel():
            text = TEXTS["index"].format(i, obj.numel())
    if op == 2:
        method, args = "dim", [[1 + mat + int(rng.integers(5)), n][int(rng.integers(2))]]
        text = TEXTS["dimension"].format(args[0], "matrix" if mat else "vector")
    if op >= 3:  # constructors; view classes have none
        sizes, new = [bad, 1][: 1 + mat] if op == 3 else SIZES[op][mat], vexa_class(container, kind)
        if container == "view":
            return TypeError, TEXTS["no constructor"].format(kind), lambda: new(1), []
        return SIZE_ERRORS[op], SIZE_TEXTS[op], lambda: new(*sizes), []
    args += [1.0] if method == "__setitem__" else []
    return error, text, lambda: getattr(obj, method)(*args), [operand]


def slices(rng, category):
    operand = make(rng, str(rng.choice(list(KINDS))), str(rng.choice(["vec", "view"])))
    obj = operand.obj
    a, op = int(rng.integers(1, obj.numel() + 4)), int(rng.integers(4))
    b, step = int(rng.integers(a)), int(rng.choice([-3, -1, 2, 5]))
    cut = [slice(a, b, 0), slice(b, a, step), slice(b + 0.5, a), slice(a, b)][op]
    return *(SLICES + [(None, "")])[op], lambda: obj[cut], [operand]  # the last: start past stop


CATEGORIES = dict.fromkeys(["kind", "class", "A", "keyword", "count"], miscall)
CATEGORIES |= dict.fromkeys(["short y", "short x", "extent"], short)
CATEGORIES |= {"index": indices, "slice": slices}


def attempt(error, text, run, args):
    """One bad call: what it gave (an empty view's length, or the exception's type and text),
    having left every operand as it was."""
    if error is None:  # a start past the stop is no error: it cuts an empty view
        outcome = run().numel()
        assert outcome == 0
    else:  # a refusal goes on to list the overloads
        raised = fails(error, text, run, first_line=True)
        outcome = (type(raised), str(raised))
        SEEN.add(text)
    for operand in args:
        if isinstance(operand, Operand):
            operand.check()
    return outcome


@pytest.mark.parametrize("category", CATEGORIES)
def test_bad_calls(category):
    rng = np.random.default_rng(list(CATEGORIES).index(category))
    for _ in range(COUNT):
        state = rng.bit_generator.state
        front = attempt(*CATEGORIES[category](rng, category))
        rng.bit_generator.state, CHAIN[0] = state, True  # the same call, fresh operands
        try:
            assert attempt(*CATEGORIES[category](rng, category)) == front
        finally:
            CHAIN[0] = False
        CALLS[category] += 1


def test_views_outlive_their_vectors():
    rng = np.random.default_rng(5)
    for _ in range(10):
        kind = str(rng.choice(list(KINDS)))
        values = random_array(kind, int(rng.integers(1, 30)), rng)
        live = [(fill(vexa_class("vec", kind)(values.size), values), 0)]
        for _ in range(10):  # views of views of random earlier objects
            obj, offset = live[int(rng.integers(len(live)))]
            lo = int(rng.integers(obj.numel() + 1))
            live.append((obj[lo : int(rng.integers(lo, obj.numel() + 1))], offset + lo))
        del obj
        while live:  # released in random order; a write through a survivor shows in all others
            live.pop(int(rng.integers(len(live))))
            gc.collect()
            for view, offset in live:
                assert np.array_equal(read(view, kind), values[offset : offset + view.numel()])
            if live:
                view, offset = live[int(rng.integers(len(live)))]
                vexa.scale(2.0, view)
                values[offset : offset + view.numel()] *= 2
            view = None
