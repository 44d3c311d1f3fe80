"""vexa_io's export: asbuffer lends a container's elements through a memoryview that holds its
own share of their storage; every function that takes a container recognises it by exact class."""

import ctypes
import gc

import numpy as np
import pytest
import vexa
import vexa_io
from helpers import CLASS_NAMES, CONTAINERS, KINDS, Operand, random_array


@pytest.mark.parametrize("container, cut", [(c, None) for c in CONTAINERS] + [("view", 1)])
@pytest.mark.parametrize("kind", KINDS)
def test_writes_seen_both_ways(kind, container, cut, rng):
    """A view of a view too: the buffer must start at the inner window."""
    values = random_array(kind, 12, rng)
    op = Operand(kind, container, values, shape=(3, 4), cut=cut)
    lent = vexa_io.asbuffer(op.obj)
    assert not lent.readonly and lent.shape == ((3, 4) if container == "mat" else (12,))
    a = np.asarray(lent)
    np.testing.assert_array_equal(a.flatten(order="F"), values)
    a *= 2  # through the buffer, seen by the container
    np.testing.assert_array_equal(op.values(), 2 * values)
    index = (2, 1) if container == "mat" else 7
    op.obj[index] = 5.0  # through the container, seen by the buffer
    assert a[index] == 5.0
    assert op.guards_intact()


def test_buffer_outlives_its_containers():
    v = vexa.vecd(1000)
    lent = vexa_io.asbuffer(v[10:20])
    np.asarray(lent)[:] = np.arange(10.0)
    del v
    gc.collect()
    others = [vexa.vecd(1000) for _ in range(20)]  # zeroed: would clear freed storage
    assert all(vexa.dot(o, o) == 0.0 for o in others)
    np.testing.assert_array_equal(np.asarray(lent), np.arange(10.0))


@pytest.mark.parametrize(
    "call, arg, error, text",
    [
        (vexa_io.asbuffer, np.zeros(3), TypeError, "not numpy.ndarray"),
        (vexa_io.asbuffer, 1.0, TypeError, "not float"),
        (vexa_io._reduce, vexa, TypeError, "not module"),
        (vexa_io.asbuffer, vexa.matd(2**62, 0), OverflowError, "4611686018427387904 x 0"),
    ],
)
def test_refused_inputs(call, arg, error, text):
    """Anything but a container is refused with the list of every class."""
    with pytest.raises(error) as info:
        call(arg)
    if error is TypeError:
        classes = ", ".join(CLASS_NAMES)
        assert str(info.value) == f"{call.__name__}() takes a vexa container ({classes}), {text}"
    else:
        assert text in str(info.value)


@pytest.mark.parametrize("name", CLASS_NAMES)
def test_instance_without_container_refused(name):
    # No route makes such an instance any more; whichever step refuses, it is a TypeError.
    cls = getattr(vexa, name)
    with pytest.raises(TypeError):
        vexa_io.asbuffer(cls.__base__.__new__(cls))


def test_exporter_refuses_c_order_for_a_matrix():
    """A consumer asking for a shape without strides assumes C order, which
    only a matrix of one row or column has."""
    get, release = ctypes.pythonapi.PyObject_GetBuffer, ctypes.pythonapi.PyBuffer_Release
    pybuf_nd = 0x8
    view = ctypes.create_string_buffer(256)
    for container, fits in (
        (vexa.matd(1, 3), True),
        (vexa.vecd(3), True),
        (vexa.matd(2, 3), False),
    ):
        exporter = ctypes.py_object(vexa_io.asbuffer(container).obj)
        if fits:
            get(exporter, view, pybuf_nd)
            release(view)
        else:
            with pytest.raises(BufferError, match="column-major"):
                get(exporter, view, pybuf_nd)
    m = vexa.matd(2, 3)
    m[1, 0] = 4.0
    np.testing.assert_array_equal(np.frombuffer(vexa_io.asbuffer(m).obj)[:2], [0.0, 4.0])
