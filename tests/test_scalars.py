"""Complex numbers of any type, numpy's scalars among them, are no scalar of a real kind: the fast
front, the overload chain and the element slots refuse them as they refuse a Python complex,
without a warning and without touching an operand; real numpy scalars are taken."""

import operator
import warnings

import numpy as np
import pytest
import vexa
from conftest import CONTAINERS, Operand

COMPLEX = [1 + 2j, np.complex128(1 + 2j), np.complex64(1 + 2j), np.complex128(3), np.complex64(3)]
REFUSED = "{}(): incompatible function arguments."


def calls(obj, value):
    """Every way a scalar reaches a real kind: coefficients through front and chain, and elements
    through the slots and the registered method."""
    index = (0, 0) if type(obj).__name__.startswith("mat") else 0
    for function in (vexa.scale, vexa.scale.__self__):
        yield "scale", lambda f=function: f(value, obj)
    for function in (vexa.axpy, vexa.axpy.__self__):
        yield "axpy", lambda f=function: f(value, obj, obj)
    yield "__setitem__", lambda: operator.setitem(obj, index, value)
    yield "__setitem__", lambda: type(obj).__setitem__(obj, index, value)


@pytest.mark.parametrize("value", COMPLEX, ids=repr)
@pytest.mark.parametrize("container", CONTAINERS)
@pytest.mark.parametrize("kind", "sd")
def test_complex_numbers_are_refused(kind, container, value):
    operand = Operand(kind, container, [1.0, -2.0, 3.0])
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")  # not "error": a warning turned error would refuse too
        for name, call in calls(operand.obj, value):
            with pytest.raises(TypeError) as info:
                call()
            assert str(info.value).startswith(REFUSED.format(name))
    assert caught == []
    assert operand.values().tolist() == [1.0, -2.0, 3.0] and operand.guards_intact()


@pytest.mark.parametrize("value", [np.float64(-2), np.float32(-2), np.int64(-2)], ids=repr)
@pytest.mark.parametrize("kind", "sd")
def test_real_numpy_scalars_are_taken(kind, value):
    operand = Operand(kind, "vec", [1.0, -2.0, 3.0])
    for _, call in calls(operand.obj, value):  # scaled by 4, negated twice, x[0] set
        call()
    assert operand.values().tolist() == [-2.0, -8.0, 12.0]
