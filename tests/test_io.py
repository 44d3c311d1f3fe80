"""vexa_io: elements lent through asbuffer and copied in by from_buffer."""

import array
import ctypes
import gc
import re

import numpy as np
import pytest
import vexa
import vexa_io
from conftest import CONTAINERS, DTYPES, KINDS, Operand, random_array, read, vexa_class

# Sources of every layout, cut from one C-ordered 70 x 45 array: more than
# one block of the transposing copy in each direction, and a remainder.
LAYOUTS = {
    "1-D": lambda a: a[0],
    "1-D reversed": lambda a: a[1, ::-1],
    "1-D strided": lambda a: a[:, 3],
    "1-D empty": lambda a: a[0, :0],
    "C": lambda a: a,
    "F": np.asfortranarray,
    "strided": lambda a: a[::2, 1::3],
    "negative strides": lambda a: a[::-1, ::-2],
    "one row": lambda a: a[4:5],
    "empty": lambda a: a[:0],
}


@pytest.mark.parametrize("layout", LAYOUTS)
@pytest.mark.parametrize("kind", KINDS)
def test_round_trip(kind, layout, rng):
    source = LAYOUTS[layout](random_array(kind, (70, 45), rng))
    expected = source.copy()
    c = vexa_io.from_buffer(source)
    assert type(c) is vexa_class("mat" if source.ndim == 2 else "vec", kind)
    source[...] = 0  # a copy: the container keeps its elements
    np.testing.assert_array_equal(read(c, kind), expected)
    back = np.asarray(vexa_io.asbuffer(c))
    assert back.dtype == DTYPES[kind] and back.flags.f_contiguous
    np.testing.assert_array_equal(back, expected)


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
    "make, cls",
    [
        (lambda: array.array("d", [1.0, 2.5]), "vecd"),
        (lambda: array.array("f", [1.0, 2.5]), "vecs"),
        (lambda: memoryview(np.array([1.0, 2.5]).tobytes()).cast("@d"), "vecd"),
        (lambda: (ctypes.c_double * 2)(1.0, 2.5), "vecd"),  # format "<d"
        (lambda: np.array([1.0, 2.5], dtype=np.complex64), "vecc"),
        (lambda: np.array([[1.0], [2.5]], dtype=np.complex128), "matz"),
    ],
)
def test_other_exporters_and_formats(make, cls):
    c = vexa_io.from_buffer(make())
    assert type(c).__name__ == cls
    np.testing.assert_array_equal(np.asarray(vexa_io.asbuffer(c)).ravel(), [1.0, 2.5])


@pytest.mark.parametrize(
    "obj, fmt",
    [
        (np.arange(3), "l"),
        (np.zeros(3, dtype=np.float16), "e"),
        (np.zeros(3, dtype=bool), "?"),
        (b"abc", "B"),
        (np.zeros(3, dtype=">f8"), ">d"),
        ((ctypes.c_double.__ctype_be__ * 3)(), ">d"),
        (np.zeros(3, dtype=">c16"), ">Zd"),
        (np.zeros(3, dtype=np.longdouble), "g"),
    ],
)
def test_refused_element_types(obj, fmt):
    with pytest.raises(
        TypeError, match=re.escape(f"not '{fmt}'; convert first") + ".*numpy.asarray"
    ):
        vexa_io.from_buffer(obj)


@pytest.mark.parametrize(
    "call, arg, error, text",
    [
        (vexa_io.from_buffer, np.float64(1.0), ValueError, "not a 0-D one"),
        (vexa_io.from_buffer, np.zeros((2, 2, 2)), ValueError, "not a 3-D one"),
        (vexa_io.from_buffer, [1.0, 2.0], TypeError, "buffer protocol.*not list"),
        (vexa_io.from_buffer, vexa.vecd(2), TypeError, "buffer protocol.*not vexa.vecd"),
        (vexa_io.asbuffer, np.zeros(3), TypeError, r"vexa container \(vecs.*matz\), not numpy"),
        (vexa_io.asbuffer, 1.0, TypeError, "vexa container"),
        (vexa_io.asbuffer, vexa.matd(2**62, 0), OverflowError, "4611686018427387904 x 0"),
    ],
)
def test_refused_inputs(call, arg, error, text):
    with pytest.raises(error, match=text):
        call(arg)


@pytest.mark.parametrize("name", [p + k for k in KINDS for p in CONTAINERS])
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
