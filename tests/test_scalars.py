"""Complex numbers of any type, numpy's scalars and arrays among them, are no scalar of a real kind:
the fast front, the overload chain and the element slots refuse them as they refuse a Python
complex, without a warning and without touching an operand; every other number is taken by every
kind. A value is converted once, and an exception of its own conversion propagates unchanged."""

import numbers
import operator
import warnings
from decimal import Decimal
from fractions import Fraction

import numpy as np
import pytest
import vexa
from helpers import CONTAINERS, KINDS, REAL_KINDS, TEXTS, Operand, is_matrix, vexa_class

COMPLEX = [1 + 2j, np.complex128(1 + 2j), np.complex64(1 + 2j), np.complex128(3), np.complex64(3)]
COMPLEX += [np.array(1 + 2j)]


def refusal(name, error):
    """Whether error is the refusal of a call of name that no overload takes."""
    return str(error).split("\n")[0] == TEXTS["refused"].format("function", name=name)


def calls(route, obj, value):
    """Every way a scalar reaches a real kind along route: as a coefficient, or as an element."""
    index = (0, 0) if is_matrix(obj) else 0
    yield "scale", lambda: route("scale")(value, obj)
    yield "axpy", lambda: route("axpy")(value, obj, obj)
    yield "__setitem__", lambda: route.setitem(obj, index, value)


@pytest.mark.parametrize("value", COMPLEX, ids=repr)
@pytest.mark.parametrize("container", CONTAINERS)
@pytest.mark.parametrize("kind", REAL_KINDS)
def test_complex_numbers_are_refused(kind, container, value, route):
    operand = Operand(kind, container, [1.0, -2.0, 3.0])
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")  # not "error": a warning turned error would refuse too
        for name, call in calls(route, operand.obj, value):
            with pytest.raises(TypeError) as info:
                call()
            assert refusal(name, info.value)
    assert caught == []
    assert operand.values().tolist() == [1.0, -2.0, 3.0] and operand.guards_intact()


REAL = [np.float64(-2), np.float32(-2), np.int64(-2), Decimal(-2), np.array(-2.0), Fraction(-2)]


@pytest.mark.parametrize("value", REAL, ids=repr)
@pytest.mark.parametrize("kind", KINDS)
def test_real_numbers_are_taken(kind, value, route):
    operand = Operand(kind, "vec", [1.0, -2.0, 3.0])
    for _, call in calls(route, operand.obj, value):  # scaled by -2, negated, x[0] set
        call()
    assert operand.values().tolist() == [-2.0, -4.0, 6.0]


class Raising:
    """A number whose conversion raises the given exception; counts its calls."""

    def __init__(self, error):
        self.error, self.calls = error, 0

    def __float__(self):
        self.calls += 1
        raise self.error


@pytest.mark.parametrize("error", [KeyboardInterrupt, MemoryError, ValueError, TypeError])
@pytest.mark.parametrize("kind", KINDS)
def test_a_value_is_converted_once_and_its_exception_propagates(kind, error):
    x, y = Operand(kind, "vec", [1.0, -2.0, 3.0]), Operand(kind, "vec", [4.0, 5.0, 6.0])
    A = vexa_class("mat", kind)(3, 3)
    routes = {
        "scale": lambda v: vexa.scale(v, x.obj),
        "axpy": lambda v: vexa.axpy(v, x.obj, y.obj),
        "gemv": lambda v: vexa.gemv(v, v, A, x.obj, y.obj),
        "__setitem__": lambda v: operator.setitem(x.obj, 0, v),
    }
    for name, route in routes.items():
        value = Raising(error("raised by __float__"))
        with pytest.raises(error) as info:
            route(value)
        assert value.calls == 1
        # A TypeError means no number: the call's own refusal. Anything else is the value's.
        if error is TypeError:
            assert refusal(name, info.value)
        else:
            assert info.value is value.error
        x.check()
        y.check()


def twins():
    """Two identical classes whose values are 2 as float() and 2+5j as complex()."""

    def make():
        class Twin:
            def __float__(self):
                return 2.0

            def __complex__(self):
                return 2 + 5j

        return Twin

    return make(), make()


def verdicts(cls):
    """What each kind makes of an instance, as a scale factor or an element, or that it refuses."""
    found = []
    for kind in KINDS:
        x = vexa_class("vec", kind)(1)
        for call in (vexa.scale, lambda value, x: operator.setitem(x, 0, value)):
            x[0] = 1
            try:
                call(cls(), x)
                found.append(x[0])
            except TypeError:
                found.append("refused")
    return found


@pytest.mark.parametrize("abc", [numbers.Complex, numbers.Real])
def test_a_verdict_does_not_depend_on_what_ran_before(abc):
    used, fresh = twins()
    verdicts(used)  # judged before the registration
    abc.register(used)
    abc.register(fresh)
    assert verdicts(used) == verdicts(fresh)
    assert verdicts(fresh)[-1] == (2 + 5j if abc is numbers.Complex else 2)
