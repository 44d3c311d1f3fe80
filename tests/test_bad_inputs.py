"""A campaign of bad calls drawn by Hypothesis: each raises the documented exception with the
documented text and leaves every operand as it was, and the overload chain behind each function
answers the same call on fresh operands alike; then views that outlive their vectors, released at
random."""

import collections
import functools
import gc
import re

import numpy as np
import pytest
import vexa
from helpers import (
    CHAIN,
    CI,
    CONTAINERS,
    FAST,
    KINDS,
    PARAMS,
    PROFILE,
    REAL_KINDS,
    TEXTS,
    Operand,
    fails,
    fill,
    kinds_of,
    random_array,
    read,
    vexa_class,
)
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

# Sizes, for a vector and a matrix, of too many bytes to count and of more than can be allocated
SIZES = {4: ([2**62], [2**33, 2**33]), 5: ([2**50], [2**25, 2**25])}
SIZE_ERRORS = {3: TypeError, 4: MemoryError, 5: MemoryError}
SIZE_TEXTS = {3: TEXTS["refused"].format("constructor", name="__init__")}
SIZE_TEXTS |= {4: TEXTS["size overflow"], 5: TEXTS["no memory"]}
SLICES = [(ValueError, TEXTS["zero step"]), (RuntimeError, TEXTS["step"])]
SLICES += [(TypeError, TEXTS["slice index"])]
WITH_MATRIX = [name for name in PARAMS if "M" in PARAMS[name]]
CALLS, SEEN = collections.Counter(), set()
# Calls per category: 10^4 in all under the ci profile.
CAMPAIGN = settings(
    PROFILE, max_examples=1000 if CI else 60, suppress_health_check=[HealthCheck.too_slow]
)


class Draw:
    """Choices drawn by Hypothesis, recorded so that the same call can be built again, on fresh
    operands, for the other route."""

    def __init__(self, data):
        self.data, self.record, self.replay = data, [], None
        self.seed = data.draw(st.integers(0, 2**32 - 1))  # of the operands' values
        self.rng = np.random.default_rng(self.seed)

    def take(self, strategy):
        if self.replay is not None:
            return next(self.replay)
        value = self.data.draw(strategy)
        self.record.append(value)
        return value

    def again(self):
        self.replay, self.rng = iter(self.record), np.random.default_rng(self.seed)

    def choice(self, items):
        return self.take(st.sampled_from(list(items)))

    def integer(self, low, high):
        return self.take(st.integers(low, high))

    def chance(self, percent):
        return self.integer(0, 99) < percent

    def values(self, kind, shape):
        return random_array(kind, shape, self.rng)


@pytest.fixture(scope="module", autouse=True)
def summary():
    yield
    forms = {re.sub(r"\d+", "#", t) for t in SEEN}
    print(f"\nbad calls: {dict(CALLS)}\ndistinct error texts: {len(SEEN)}, {len(forms)} forms")


def make(draw, kind, container=None, shape=None):
    """Random values; a view sits at a random offset inside a longer vector."""
    container = container or draw.choice(CONTAINERS)
    shape = [draw.integer(0, 3) for _ in "mn"] if shape is None else [int(d) for d in shape]
    if container == "mat":
        return Operand(kind, "mat", draw.values(kind, shape).flatten("F"), shape)
    n, lo = shape[0], draw.integer(0, 2) * (container == "view")
    whole = draw.values(kind, n + 3 * lo)
    return Operand(kind, container, whole[lo : lo + n], guards=(whole[:lo], whole[lo + n :]))


def objects(args):
    """The arguments as passed: each operand's container."""
    return [a.obj if isinstance(a, Operand) else a for a in args]


def call(draw, route, names):
    """A call of one of names with operands of one kind, whatever their shapes."""
    name = draw.choice(names)
    kind = draw.choice(kinds_of(name))
    args = [
        1.5 if s == "s" else make(draw, kind, "mat" if s == "M" else None) for s in PARAMS[name]
    ]
    return name, kind, args, lambda: route(name)(*objects(args))


def miscall(draw, route, category):
    """No overload takes the call: an argument of a wrong kind, class or name, or a wrong count."""
    # Kinds mismatch only between two containers.
    names = {"kind": [n for n in PARAMS if len(PARAMS[n].strip("s")) > 1], "A": WITH_MATRIX}
    name, kind, args, run = call(draw, route, names.get(category, list(PARAMS)))
    i = draw.choice([p for p, s in enumerate(PARAMS[name]) if s != "s"])
    text = TEXTS["refused"].format("function", name=name)
    if category == "kind" and "s" in PARAMS[name] and kind in REAL_KINDS and draw.chance(30):
        args[0] = 1j  # a complex coefficient with real containers
    elif category == "kind":
        other = draw.choice([k for k in kinds_of(name) if k != kind])
        args[i] = make(draw, other, args[i].container)
    elif category == "class":
        args[i] = draw.choice([None, 2, [1.0], np.zeros(2), "vecd", vexa, vexa.vecd])
    elif category == "A":  # a vector or view where the matrix goes
        args[PARAMS[name].index("M")] = make(draw, kind, draw.choice(["vec", "view"]))
        text = TEXTS["not a matrix"].format(name=name) if name in ("gemv", "matvec") else text
    elif category == "keyword":
        key, value = draw.choice(["x", "y", "arg1"]), args.pop()
        run = functools.partial(route(name), *objects(args), **{key: value.obj})
        return TypeError, text, run, args + [value]
    elif draw.chance(50):
        args.pop()
    else:
        args.append(args[-1])
    return TypeError, text, run, args


def short(draw, route, category):
    """Operands shorter than the call needs, or product extents beyond the BLAS integer."""
    pool = {"short y": [n for n in PARAMS if PARAMS[n].endswith("vv") and "M" not in PARAMS[n]]}
    pool["short x"] = [n for n in WITH_MATRIX if PARAMS[n].count("v")]
    name, kind, args, run = call(
        draw, route, pool.get(category, [n for n in WITH_MATRIX if len(PARAMS[n]) > 2])
    )
    m, k, n = (draw.integer(1, 3) for _ in "mkn")
    which, needed = ("x", k) if draw.chance(50) else ("y", m)
    if category == "short y":
        args[-2:] = [
            make(draw, kind, None, (k, 1)),
            make(draw, kind, None, (draw.integer(0, k - 1), 1)),
        ]
    elif name == "ls":
        which, needed = "x", max(m, k)
        short_x = make(draw, kind, None, (draw.integer(0, needed - 1), 1))
        args[:] = [make(draw, kind, "mat", (m, k)), short_x]
    elif category == "short x":  # a matrix with no columns claims rows that it does not hold
        x = make(draw, kind, "mat", (k, 0)) if which == "x" else make(draw, kind, None, (k, n))
        y = make(draw, kind, "mat", (m, 0)) if which == "y" else make(draw, kind, None, (m, n))
        args[-3:] = [make(draw, kind, "mat", (m, k)), x, y]
    else:  # extents above 2147483647 that hold no elements
        big, vec = 2**31 + draw.integer(0, 2**40 - 1), "v" in PARAMS[name]
        m, k, n = (list(draw.take(st.permutations([big, 0] if vec else [big, 0, 0]))) + [0])[:3]
        args[-3:] = [make(draw, kind, "mat", s) for s in ((m, k), (k, n), (m, n))]
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


def indices(draw, route, category):
    """Negative, float, huge and too large indices, dimensions and sizes."""
    kind, container, op = draw.choice(KINDS), draw.choice(CONTAINERS), draw.integer(0, 5)
    operand, mat = make(draw, kind, container), container == "mat"
    obj, n = operand.obj, 2**63 + draw.integer(0, 2**62 - 1)
    bad = draw.choice([-1 - draw.integer(0, 8), 1.0, 2**64 + draw.integer(0, 8)])
    method, error, text = draw.choice(["getitem", "setitem"]), RuntimeError, None
    if op == 0:  # no overload takes the index
        error, args = TypeError, [(0, bad) if mat else bad]
        text = TEXTS["refused"].format("function", name=f"__{method}__")
    while op == 1 and text is None:  # an index past the end, small or huge
        i, j = (draw.choice([draw.integer(0, 4), n]) for _ in "ij")
        args = [(i, j) if mat else i]
        if mat:
            text = position_error(i, j, obj.dim(0), obj.dim(1))
        elif i >= obj.numel():
            text = TEXTS["index"].format(i, obj.numel())
    if op == 2:
        args = [draw.choice([1 + mat + draw.integer(0, 4), n])]
        text = TEXTS["dimension"].format(args[0], "matrix" if mat else "vector")
        return error, text, lambda: obj.dim(*args), [operand]
    if op >= 3:  # constructors; view classes have none
        sizes, new = [bad, 1][: 1 + mat] if op == 3 else SIZES[op][mat], vexa_class(container, kind)
        if container == "view":
            return TypeError, TEXTS["no constructor"].format(kind), lambda: new(1), []
        return SIZE_ERRORS[op], SIZE_TEXTS[op], lambda: new(*sizes), []
    args += [1.0] if method == "setitem" else []
    return error, text, lambda: getattr(route, method)(obj, *args), [operand]


def slices(draw, route, category):
    operand = make(draw, draw.choice(KINDS), draw.choice(["vec", "view"]))
    obj = operand.obj
    a, op = draw.integer(1, obj.numel() + 3), draw.integer(0, 3)
    b, step = draw.integer(0, a - 1), draw.choice([-3, -1, 2, 5])
    cut = [slice(a, b, 0), slice(b, a, step), slice(b + 0.5, a), slice(a, b)][op]
    # The last: a start past the stop.
    return *(SLICES + [(None, "")])[op], lambda: route.getitem(obj, cut), [operand]


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


@pytest.mark.slow
@pytest.mark.parametrize("category", CATEGORIES)
@CAMPAIGN
@given(data=st.data())
def test_bad_calls(category, data):
    draw = Draw(data)
    fast = attempt(*CATEGORIES[category](draw, FAST, category))
    draw.again()  # the same call through the chain, on fresh operands
    assert attempt(*CATEGORIES[category](draw, CHAIN, category)) == fast
    CALLS[category] += 1


@pytest.mark.slow  # a hundred full collections
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
