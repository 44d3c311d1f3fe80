"""The fast front of each module function against its overload chain
(vexa.NAME.__self__): for every overload, and for the calls the front hands
over to the chain, the same result, exception, returned object and operand
contents afterwards."""

import re
from decimal import Decimal
from fractions import Fraction

import numpy as np
import pytest
import vexa
from helpers import (
    CHAIN,
    COMPLEX_KINDS,
    CONTAINERS,
    FAST,
    FUNCTIONS,
    KINDS,
    ROUTES,
    Operand,
    flat,
    random_array,
    vexa_class,
)

SHAPES = {"vec": (3,), "view": (3,), "mat": (3, 3)}
NEXT_KIND = dict(zip(KINDS, KINDS[1:] + KINDS[0], strict=True))


class Real(float):
    pass


class Unconvertible:
    """No number, with a repr that makes pybind11 add its note on missing headers."""

    def __repr__(self):
        return "std::nothing"


class BadFloat:
    def __float__(self):
        raise ValueError("no float today")


class ComplexOnly:
    """A complex number whose float() fails: the real kinds' conversion raises ValueError."""

    def __complex__(self):
        return 1 + 2j

    def __float__(self):
        raise ValueError("no float")


# Scalars other than the kind's own type (float for s and d, complex for c and z), on every
# overload; further ones, one for each way a value converts, on each kind's first overload.
SCALARS = {"int": 2, "float": -0.75, "complex": 1.5 - 0.5j, "float subclass": Real(0.25)}
FURTHER = {"numpy.float64": np.float64(0.5), "numpy.complex128": np.complex128(1 - 1j)}
FURTHER |= {"numpy.float32": np.float32(-1.5), "numpy.int64": np.int64(3)}
FURTHER |= {"numpy.complex64": np.complex64(0.5j), "0-d float array": np.array(1.25)}
FURTHER |= {"0-d complex array": np.array(2 - 1j), "Fraction": Fraction(1, 4)}
FURTHER |= {"Decimal": Decimal("-0.5"), "no number": Unconvertible(), "ValueError": BadFloat()}
FURTHER |= {"complex only": ComplexOnly(), "huge int": 10**400}
CALLS = ("exact", "mismatched kinds", "keyword", "extra argument", "missing argument")


def overloads(name):
    """Each overload's parameters, from the chain's docstring: the class name
    of a container parameter, None for a scalar."""
    signatures = re.findall(r"^\d+\. \w+\((.*)\) ->", CHAIN(name).__doc__, re.M)
    types = [re.findall(r"arg\d+: ([^,]+)", signature) for signature in signatures]
    return [[t[5:] if t.startswith("vexa.") else None for t in params] for params in types]


CASES = [
    (name, params, call)
    for name in FUNCTIONS
    for params in overloads(name)
    for call in CALLS + (tuple(SCALARS) if None in params else ())
]
FIRSTS = {(name, next(p for p in params if p)[-1]): params for name in FUNCTIONS
          for params in reversed(overloads(name)) if None in params}  # fmt: skip
CASES += [(name, params, call) for (name, _), params in FIRSTS.items() for call in FURTHER]
assert {name for name, _, _ in CASES} == set(FUNCTIONS)


def outcome(function, params, classes, arrays, call):
    """Result (index of the operand returned, repr of anything else, or the
    exception's type and text) and every operand's storage afterwards."""
    scalar = (SCALARS | FURTHER).get(call, 0.1 - 0.3j if classes[0][-1] in COMPLEX_KINDS else 0.1)
    ops = [
        Operand(c[-1], c[:-1], a.flatten(order="F"), a.shape)
        for c, a in zip(classes, arrays, strict=True)
    ]
    containers = iter(op.obj for op in ops)
    args = [scalar if p is None else next(containers) for p in params]
    kwargs = {f"arg{len(args) - 1}": args.pop()} if call == "keyword" else {}
    args = args + args[-1:] if call == "extra argument" else args
    args = args[:-1] if call == "missing argument" else args
    try:
        result = function(*args, **kwargs)
        result = next((i for i, op in enumerate(ops) if op.obj is result), repr(result))
    except Exception as error:
        result = (type(error), str(error))
    return result, [flat(op.whole, op.kind) for op in ops]


@pytest.mark.parametrize("name, params, call", CASES)
def test_front_agrees_with_chain(name, params, call, rng):
    classes = [p for p in params if p is not None]
    if call == "mismatched kinds":
        classes[-1] = classes[-1][:-1] + NEXT_KIND[classes[-1][-1]]
    arrays = [random_array(c[-1], SHAPES[c[:-1]], rng) for c in classes]
    front = outcome(FAST(name), params, classes, arrays, call)
    chain = outcome(CHAIN(name), params, classes, arrays, call)
    assert front[0] == chain[0]
    assert all(a.tobytes() == b.tobytes() for a, b in zip(front[1], chain[1], strict=True))


class Counted:
    """A number whose conversions count themselves."""

    def __init__(self):
        self.floats = self.complexes = 0

    def __float__(self):
        self.floats += 1
        return 2.0

    def __complex__(self):
        self.complexes += 1
        return 2 + 1j


# Calls whose scalar meets containers of another kind, or none: the containers decide, on both
# routes, before any conversion.
MISMATCHED = {
    "huge int, mixed kinds": ("axpy", 10**400, "vecd", "vecc"),
    "complex only, numpy array": ("scale", ComplexOnly(), np.zeros(3)),
    "complex only, mixed kinds": ("axpy", ComplexOnly(), "vecz", "vecd"),
    "complex only, complex kind": ("scale", ComplexOnly(), "vecz"),
    "complex only, real kind": ("scale", ComplexOnly(), "vecd"),
}


@pytest.mark.parametrize("case", MISMATCHED)
def test_containers_decide_before_the_scalar_converts(case):
    name, scalar, *classes = MISMATCHED[case]
    results = []
    for route in ROUTES:
        args = [getattr(vexa, c)(3) if isinstance(c, str) else c for c in classes]
        results.append(attempt(route(name), scalar, *args))
    assert results[0] == results[1]
    assert results[0][0] is not ValueError or classes == ["vecd"]
    assert results[0][0] is not OverflowError


@pytest.mark.parametrize("name", ["scale", "axpy", "gemv"])
@pytest.mark.parametrize("kind", KINDS)
def test_a_call_converts_its_scalar_once_on_each_route(name, kind):
    vec, other = vexa_class("vec", kind), vexa_class("vec", NEXT_KIND[kind])
    containers = {
        "scale": lambda last: [last(3)],
        "axpy": lambda last: [vec(3), last(3)],
        "gemv": lambda last: [0.5, vexa_class("mat", kind)(2, 2), vec(2), last(2)],
    }[name]
    for route in ROUTES:
        value, mixed = Counted(), Counted()
        route(name)(value, *containers(vec))
        assert (value.floats, value.complexes) == ((0, 1) if kind in COMPLEX_KINDS else (1, 0))
        with pytest.raises(TypeError):
            route(name)(mixed, *containers(other if name != "scale" else np.zeros))
        assert (mixed.floats, mixed.complexes) == (0, 0)


def attempt(function, *args):
    try:
        return "value", repr(function(*args))
    except Exception as error:  # the comparison is the point: any exception must match
        return type(error), str(error)


KEYS = [0, 2, 3, -1, 2**64, 1.0, True, (0, 2), (2, 0), (3, 0), (0, 3), [1, 1], (0,), slice(1, 3)]
VALUES = [1.5, 2, 1 - 2j, Real(0.5), "x", np.float32(0.5), np.complex64(1j), np.array(-2.5)]
VALUES += [Fraction(3, 4), Unconvertible(), BadFloat(), ComplexOnly(), 10**400]


@pytest.mark.parametrize("kind", KINDS)
@pytest.mark.parametrize("container", CONTAINERS)
def test_element_slots_match_the_registered_methods(kind, container):
    for key in KEYS:
        fast, slow = (Operand(kind, container, range(9), SHAPES[container]).obj for _ in "ab")
        assert attempt(FAST.getitem, fast, key) == attempt(CHAIN.getitem, slow, key)
        for value in VALUES:
            wrote = attempt(FAST.setitem, fast, key, value)
            assert wrote == attempt(CHAIN.setitem, slow, key, value)
            assert flat(fast, kind).tolist() == flat(slow, kind).tolist()


def raised_text(call, *args):
    try:
        call(*args)
    except TypeError as error:
        return str(error)
    raise AssertionError("no TypeError")


def test_objects_of_other_classes_go_to_the_chain():
    """The front finds a container's class by the address of its type object: objects of many
    new classes, at as many addresses, beside a real container, are no container to it, and the
    chain refuses each call with its own text."""
    x = vexa.vecd(3)
    for i in range(300):
        other = type(f"Other{i}", (), {"__repr__": lambda self: "other"})()
        for args in ((other, x), (x, other)):
            assert raised_text(FAST("dot"), *args) == raised_text(CHAIN("dot"), *args)
