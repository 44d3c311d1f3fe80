"""vexa_io's import: from_buffer copies a buffer's elements into a new container, wrap makes a
container whose storage is the buffer itself."""

import array
import ctypes
import gc
import re

import numpy as np
import pytest
import vexa
import vexa_io
from helpers import DTYPES, KINDS, STUBS, TEXTS, random_array, read, vexa_class

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


def test_refusals_name_every_kind():
    """The element types, their formats and the classes a buffer makes, as the kinds table has
    them."""
    formats = [memoryview(np.zeros(1, DTYPES[k])).format for k in KINDS]
    listed = ", ".join(f"'{f}'" for f in formats[:-1]) + f" or '{formats[-1]}'"
    dtypes = ", ".join(kind.dtype for kind in STUBS.KINDS.values())
    with pytest.raises(TypeError) as info:
        vexa_io.from_buffer(np.zeros(3, dtype=np.int16))
    assert str(info.value).startswith(f"from_buffer() takes elements of format {listed} ({dtypes})")
    made = ", ".join(p + k for k in KINDS for p in ("vec", "mat"))
    with pytest.raises(TypeError, match=re.escape(f"cls is one of {made}, or None")):
        vexa_io.wrap(np.zeros(3), int)


@pytest.mark.parametrize(
    "arg, error, text",
    [
        (np.float64(1.0), ValueError, "not a 0-D one"),
        (np.zeros((2, 2, 2)), ValueError, "not a 3-D one"),
        ([1.0, 2.0], TypeError, "buffer protocol.*not list"),
        (vexa.vecd(2), TypeError, "buffer protocol.*not vexa.vecd"),
    ],
)
def test_refused_inputs(arg, error, text):
    with pytest.raises(error, match=text):
        vexa_io.from_buffer(arg)


def test_typed_results(rng):
    """from_buffer and wrap with a class: exactly that class, or TypeError."""
    data = np.asfortranarray(random_array("d", (3, 2), rng))
    assert type(vexa_io.from_buffer(data, vexa.matd)) is vexa.matd
    assert type(vexa_io.wrap(data[:, 0], None)) is vexa.vecd


# Arrays that wrap shares: the container's class, and the index of one element.
SHARED = {
    "1-D": (lambda a: a[:, 0].copy(), "vec", 3),
    "F": (np.asfortranarray, "mat", (3, 1)),
    "one row, C order": (lambda a: a[2:3], "mat", (0, 1)),
    "one column, C order": (lambda a: np.ascontiguousarray(a[:, 1:2]), "mat", (3, 0)),
}


@pytest.mark.parametrize("layout", SHARED)
@pytest.mark.parametrize("kind", KINDS)
def test_wrap_works_in_place(kind, layout, rng):
    make, prefix, index = SHARED[layout]
    a = make(random_array(kind, (5, 3), rng))
    cls = vexa_class(prefix, kind)
    c = vexa_io.wrap(a, cls)
    assert type(c) is cls
    c[index] = 7.0
    assert a[index] == 7.0
    before = a.copy()
    assert vexa.scale(2.0, c) is c
    np.testing.assert_array_equal(a, 2 * before)
    assert np.shares_memory(np.asarray(vexa_io.asbuffer(c)), a)


def misaligned():
    return np.frombuffer(bytearray(25), offset=1, count=3)


def read_only():
    a = np.zeros(3)
    a.flags.writeable = False
    return a


@pytest.mark.parametrize(
    "call, make, cls, error, text",
    [
        (vexa_io.wrap, read_only, None, BufferError, "read-only; from_buffer"),
        (vexa_io.wrap, lambda: b"x" * 16, None, BufferError, "read-only"),
        (vexa_io.wrap, lambda: np.zeros((2, 3)), None, ValueError, "not C order.*asfortranarray"),
        (vexa_io.wrap, lambda: np.zeros(6)[::2], None, ValueError, "not a strided one"),
        (vexa_io.wrap, lambda: np.zeros((4, 6), order="F")[::2], None, ValueError, "strided"),
        (vexa_io.wrap, lambda: np.zeros(()), None, ValueError, "not a 0-D one; reshape"),
        (vexa_io.wrap, lambda: np.zeros((2, 2, 2)), None, ValueError, "not a 3-D one"),
        (vexa_io.wrap, misaligned, None, ValueError, "aligned to 8 bytes"),
        (vexa_io.wrap, lambda: np.arange(3), None, TypeError, "not 'l'; convert first"),
        (vexa_io.wrap, lambda: [1.0], None, TypeError, "buffer protocol.*not list"),
        (vexa_io.wrap, lambda: np.zeros(3), vexa.vecs, TypeError, "vexa.vecs, but a 1-D buffer"),
        (vexa_io.wrap, lambda: np.zeros(3), vexa.matd, TypeError, "makes a vexa.vecd"),
        (vexa_io.from_buffer, lambda: np.zeros((3, 1)), vexa.vecd, TypeError, "2-D buffer"),
        (vexa_io.from_buffer, lambda: np.zeros(3), vexa.viewd, TypeError, "cls is one of"),
        (vexa_io.from_buffer, lambda: np.zeros(3), float, TypeError, "not <class 'float'>"),
    ],
)
def test_conversion_refusals(call, make, cls, error, text):
    with pytest.raises(error, match=text):
        call(make(), cls)


def test_wrapped_buffer_held_until_the_last_share():
    """numpy holds the bytearray's buffer for as long as the array lives;
    the container, its views and asbuffer's results hold the array."""
    memory = bytearray(48)
    with pytest.raises(TypeError):
        vexa_io.wrap(np.frombuffer(memory), vexa.matd)
    memory += b"\0" * 8  # a refusal keeps nothing
    c = vexa_io.wrap(np.frombuffer(memory))
    view, lent = c[2:5], vexa_io.asbuffer(c)
    del c
    gc.collect()
    with pytest.raises(BufferError):
        memory.append(0)
    view[0] = 2.5  # still the same memory
    del view
    with pytest.raises(BufferError):
        memory.append(0)
    assert lent[2] == 2.5
    del lent
    memory.append(0)


def test_overlap_refused_across_wraps():
    a = np.arange(10.0)
    x, y = vexa_io.wrap(a[0:6]), vexa_io.wrap(a[3:9])
    text = TEXTS["shares"].format("vector y", "vector x", name="axpy")
    with pytest.raises(RuntimeError, match=re.escape(text)):
        vexa.axpy(1.0, x, y)
    np.testing.assert_array_equal(a, np.arange(10.0))
