"""Shared test helpers: the four kinds and their numpy dtypes, the module's functions and classes,
the two routes into a call, conversions between numpy arrays and vexa containers (by element
access only), operands that show what a call changed, and the texts vexa prints."""

import operator
import os
import runpy
from collections.abc import Callable
from pathlib import Path
from types import SimpleNamespace
from typing import NamedTuple

import numpy as np
import pytest
import vexa
from hypothesis import settings

# stubs/generate.py, whose tables give the kinds, and each function's parameters by role: s a
# scalar of the kind, m a matrix, a or o any container.
STUBS = SimpleNamespace(
    **runpy.run_path(str(Path(__file__).resolve().parent.parent / "stubs" / "generate.py"))
)
KINDS = "".join(STUBS.KINDS)  # their letters, in registration order
COMPLEX_KINDS = "".join(k for k in KINDS if STUBS.KINDS[k].is_complex)
REAL_KINDS = "".join(k for k in KINDS if not STUBS.KINDS[k].is_complex)
DTYPES = {k: np.dtype(kind.dtype).type for k, kind in STUBS.KINDS.items()}
# Kinds of single precision: their real counterpart is float32.
SINGLE_KINDS = "".join(k for k in KINDS if DTYPES[STUBS.KINDS[k].real] == np.float32)
CONTAINERS = STUBS.CONTAINERS
# Relative tolerance of results computed in each precision.
RTOL = {k: 2e-5 if k in SINGLE_KINDS else 1e-12 for k in KINDS}
TINY = {k: 16 * np.finfo(DTYPES[k]).tiny for k in KINDS}  # results in the subnormal range


def _raised(call):
    """The text of the TypeError that call raises."""
    try:
        call()
    except TypeError as error:
        return str(error)
    raise AssertionError("no TypeError")


# Error texts: {name} is the refusing function, {} the other parts that vary.
TEXTS = {
    "refused": "{name}(): incompatible {} arguments. The following argument types are supported:",
    "not a matrix": "In {name}, operand A must be a matrix",
    "limit": "In {name}, size {} exceeds the BLAS integer limit 2147483647",
    "short y": "In {name}, vector y has {} elements, fewer than the {} of vector x",
    "short for A": "In {name}, vector {} has {} elements, fewer than the {} that matrix A requires",
    "gemv": "In gemv expression y = aAx + by, matrix A dimension {}: {}, doesn't match vector {}",
    "gemm": "In gemm expression Y = aAX + bY, matrix {} dimension {}: {}, doesn't match matrix {}",
    # The texts of a solve by ?gels, ls's and every other's.
    "rank": "In {name}, matrix A does not have full rank: diagonal element {} of its triangular"
    " factor is zero; A and x now hold the solver's partial results",
    "negligible": "In {name}, matrix A does not have full rank to working precision: diagonal"
    " element {} of its triangular factor is negligible; A and x now hold the solver's"
    " factorization and solution",
    "singular": "In {name}, matrix A is singular to working precision: its column-scaled"
    " triangular factor has a reciprocal condition number below machine epsilon; A and x now"
    " hold the solver's factorization and solution",
    "undetermined": "In {name}, the least-squares solution is not determined to working"
    " precision: its residual is too large for the condition of A; A and x now hold the"
    " solver's factorization and solution",
    "shares": "In {name}, {} shares elements with {}",
    # What a solve found in an operand: "NaN", "Inf" or "NaN and Inf".
    "not finite": "In {name}, {} contains {}",
    "index": "index {} exceeds max number of elements {}",
    "position": "requested array index {}exceeds max number of elements {}",
    "dimension index": "index for dimension {}{}exceeds max number of elements for that"
    " dimension {}",
    "dimension": "dimension {} invalid for {}",
    "step": "stepsizes larger than 1 invalid for vector",
    "zero step": "slice step cannot be zero",
    # Python's own text, which changes between versions.
    "slice index": _raised(lambda: [][slice(1.5, None)]),
    "no constructor": "vexa.view{}: No constructor defined!",
    "vector head": "Column vector of size: {}\n",
    "matrix head": "Matrix of size: ({}, {})\n",
    "size overflow": "std::bad_array_new_length",
    "no memory": "std::bad_alloc",
}


def vexa_class(prefix, kind):
    return getattr(vexa, prefix + kind)


CLASS_NAMES = [cls for kind in STUBS.KINDS.values() for cls in kind.classes]  # registration order
MATRICES = tuple(vexa_class("mat", kind) for kind in KINDS)


def is_matrix(obj):
    return isinstance(obj, MATRICES)


# The module's functions in registration order: its public attributes that are no classes.
FUNCTIONS = tuple(n for n, v in vars(vexa).items() if n[0] != "_" and not isinstance(v, type))
# Each function's parameters, from the stub table: s a scalar, M a matrix, v any container.
PARAMS = {
    name: "".join({"s": "s", "m": "M"}.get(p[-1], "v") for p in roles.split(" -> ")[0].split())
    for name, roles in STUBS.FUNCTIONS.items()
}


def kinds_of(name):
    return COMPLEX_KINDS if name in STUBS.COMPLEX_ONLY else KINDS


PAIRS = [(a, b) for a in CONTAINERS for b in CONTAINERS]
FACTOR = {k: 1.5 - 0.5j if k in COMPLEX_KINDS else -1.25 for k in KINDS}


class Route(NamedTuple):
    """One way into vexa: what it calls for a module function, and how it reads and writes an
    element."""

    name: str
    function: Callable
    getitem: Callable
    setitem: Callable

    def __call__(self, name):
        return self.function(getattr(vexa, name))

    def of(self, module, name):
        """What the route calls for a function of another module of the package."""
        return self.function(getattr(module, name))


# The module function's front and the classes' element slots (obj[key]); the pybind11 overload
# chain behind the front (vexa.NAME.__self__) and the registered methods behind the slots.
FAST = Route("fast", lambda front: front, operator.getitem, operator.setitem)
CHAIN = Route(
    "chain",
    lambda front: front.__self__,
    lambda obj, key: type(obj).__getitem__(obj, key),
    lambda obj, key, value: type(obj).__setitem__(obj, key, value),
)
ROUTES = (FAST, CHAIN)
CI = os.environ.get("HYPOTHESIS_PROFILE") == "ci"
settings.register_profile("vexa-quick", max_examples=10, deadline=None)
settings.register_profile("ci", max_examples=30, deadline=None)
PROFILE = settings.get_profile("ci" if CI else "vexa-quick")


def random_array(kind, shape, rng):
    values = rng.standard_normal(shape)
    if kind in COMPLEX_KINDS:
        values = values + 1j * rng.standard_normal(shape)
    return values.astype(DTYPES[kind])


def fill(container, array):
    """Writes a numpy array into a container: 1-D for vectors and views,
    2-D for matrices."""
    if array.ndim == 2:
        for (i, j), value in np.ndenumerate(array):
            container[i, j] = value.item()
    else:
        for i, value in enumerate(array):
            container[i] = value.item()
    return container


def read(container, kind):
    """The container's elements as a numpy array (2-D for matrices)."""
    if is_matrix(container):
        rows, cols = container.dim(0), container.dim(1)
        out = np.empty((rows, cols), dtype=DTYPES[kind])
        for i in range(rows if cols else 0):  # a matrix without columns may claim 2**40 rows
            for j in range(cols):
                out[i, j] = container[i, j]
        return out
    return np.array([container[i] for i in range(container.numel())], dtype=DTYPES[kind])


def flat(container, kind):
    """Elements in storage order: a matrix column by column."""
    values = read(container, kind)
    return values.flatten(order="F") if values.ndim == 2 else values


class Operand:
    """A container of one kind and type holding given values, in storage order, and all its
    storage as it was. A view is cut from a longer parent vector with guard elements around
    its window: two sevens on each side, or the given head and tail; with cut, as a view of a
    view. Tests can then check what a call changed."""

    def __init__(self, kind, container, values, shape=None, guards=None, cut=None):
        values = np.asarray(values, dtype=DTYPES[kind])
        self.kind, self.container, n, lo = kind, container, values.size, 0
        if container == "mat":
            rows, cols = shape if shape is not None else (n, 1)
            self.whole = fill(
                vexa_class("mat", kind)(rows, cols), values.reshape((rows, cols), order="F")
            )
            self.obj = self.whole
        elif container == "view":
            head, tail = guards if guards is not None else [np.full(2, 7)] * 2
            whole, lo = np.concatenate([head, values, tail]).astype(DTYPES[kind]), len(head)
            self.whole = fill(vexa_class("vec", kind)(whole.size), whole)
            if cut is None:
                self.obj = self.whole[lo : lo + n]
            else:
                self.obj = self.whole[cut:][lo - cut : lo - cut + n]
        else:
            self.whole = self.obj = fill(vexa_class("vec", kind)(n), values)
        self.before = flat(self.whole, kind).astype(complex)
        self.window = slice(lo, lo + n)
        # Complex, so expected results are computed in double precision for every kind.
        self.initial = self.before[self.window]

    @classmethod
    def random(cls, rng, kind, container, shape):
        """Random values, as many as shape (rows, columns) holds."""
        return cls(kind, container, random_array(kind, int(np.prod(shape)), rng), shape)

    def values(self):
        return flat(self.obj, self.kind)

    def guards_intact(self):
        """Nothing outside the window changed."""
        outside = np.ones(self.before.size, bool)
        outside[self.window] = False
        return bool(np.all(flat(self.whole, self.kind)[outside] == self.before[outside]))

    def check(self, new=(), slack=0.0):
        """The window's first len(new) elements are within slack of new; all other storage
        is unchanged."""
        want, tol = self.before.copy(), np.zeros(self.before.size)
        changed = slice(self.window.start, self.window.start + len(new))
        want[changed], tol[changed] = new, slack + TINY[self.kind]
        assert np.all(np.abs(flat(self.whole, self.kind) - want) <= tol)


def fails(error, text, call, *args, keep=(), first_line=False):
    """call(*args) raises error with message text (any message for None; with first_line,
    the first line of a longer message may do) and changes none of the operands in keep.
    Returns the exception."""
    with pytest.raises(error) as info:
        call(*args)
    message = str(info.value)
    assert text is None or (message.split("\n")[0] if first_line else message) == text
    for operand in keep:
        operand.check()
    return info.value
