"""vexa_io: elements lent through asbuffer and copied in by from_buffer."""

import array
import concurrent.futures
import copy
import ctypes
import gc
import multiprocessing
import pickle
import re
import subprocess
import sys

import numpy as np
import pytest
import vexa
import vexa_io
from helpers import CONTAINERS, DTYPES, KINDS, TEXTS, Operand, random_array, read, vexa_class

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


def storage_bytes(c):
    return np.asarray(vexa_io.asbuffer(c)).tobytes(order="F")


COPIES = {
    **{
        f"pickle {p}": lambda c, p=p: pickle.loads(pickle.dumps(c, protocol=p))
        for p in (2, 3, 4, 5)
    },
    "copy": copy.copy,
    "deepcopy": copy.deepcopy,
}


@pytest.mark.parametrize("how", COPIES)
@pytest.mark.parametrize("container", CONTAINERS)
@pytest.mark.parametrize("kind", KINDS)
def test_pickled_and_copied(kind, container, how, rng):
    """Same class, extents and bits (NaN and signed zero too), independent
    storage."""
    values = random_array(kind, 6, rng)
    values[:3] = [np.nan, -0.0, np.inf]
    original = Operand(kind, container, values, shape=(2, 3)).obj
    copied = COPIES[how](original)
    assert type(copied) is type(original)
    if container == "mat":
        assert (copied.dim(0), copied.dim(1)) == (2, 3)
    assert storage_bytes(copied) == storage_bytes(original)
    index = (1, 2) if container == "mat" else 5
    copied[index] = 1.0
    assert original[index] == values[5]


@pytest.mark.slow
def test_pickle_after_plain_import():
    code = (
        "import copy, pickle, sys, vexa\n"
        "v = vexa.vecd(2); v[1] = 2.5\n"
        "assert 'vexa_io' not in sys.modules\n"
        "for w in (pickle.loads(pickle.dumps(v)), copy.copy(v), copy.deepcopy(v)):\n"
        "    assert type(w) is vexa.vecd and w[1] == 2.5\n"
    )
    child = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True)
    assert child.returncode == 0, child.stderr


@pytest.mark.parametrize("container", ["mat", "view"])
def test_protocol_5_out_of_band(container, rng):
    """The elements leave without a copy, a view's window alone, and come
    back without one: the restored container shares the buffers given, as
    numpy's arrays do."""
    c = Operand("z", container, random_array("z", 6000, rng), shape=(200, 30)).obj
    buffers = []
    data = pickle.dumps(c, protocol=5, buffer_callback=buffers.append)
    assert len(data) < 1000 and len(buffers) == 1
    lent = np.asarray(vexa_io.asbuffer(c))
    assert np.shares_memory(np.asarray(buffers[0]), lent) and buffers[0].raw().nbytes == lent.nbytes
    back = pickle.loads(data, buffers=buffers)
    assert type(back) is type(c) and storage_bytes(back) == storage_bytes(c)
    index = (0, 0) if container == "mat" else 0
    back[index] = 1.0
    assert c[index] == 1.0


class Crafted:
    def __init__(self, *args):
        self.args = args

    def __reduce__(self):
        return vexa_io._restore, self.args


@pytest.mark.parametrize(
    "args, error, text",
    [
        (("vecq", (3,), bytes(24)), ValueError, "restores a vecs, .*, not 'vecq'"),
        ((b"vecd", (3,), bytes(24)), TypeError, "class name"),
        (("vecd", (4,), bytes(24)), ValueError, "24 bytes for the 4 elements"),
        (("matz", (2, 3), bytes(95)), ValueError, "95 bytes for the 6 elements"),
        (("vecd", (-1,), b""), ValueError, "extents from 0"),
        (("vecd", (2**64,), b""), ValueError, "extents from 0"),
        (("matd", (2**62, 2**62), b""), ValueError, "more elements than memory"),
        (("matd", (3,), bytes(24)), ValueError, "tuple of 2 extents"),
        (("viewd", [3], bytes(24)), ValueError, "tuple of 1 extents"),
        (("vecd", (3.0,), bytes(24)), TypeError, "integer extents"),
        (("vecd", (3,), [0.0] * 3), TypeError, "bytes-like"),
        (("vecd", (3,), pickle.PickleBuffer(bytes(24))), TypeError, "contiguous bytes"),
        (("vecd", (3,)), TypeError, "not 2 arguments"),
    ],
)
def test_crafted_pickles_refused(args, error, text):
    """An out-of-band buffer is replaced by a strided one as the pickle loads."""
    data = pickle.dumps(Crafted(*args), protocol=5, buffer_callback=lambda buffer: False)
    with pytest.raises(error, match=text):
        pickle.loads(data, buffers=[memoryview(bytes(48))[::2]])


def test_restore_empty_matrix_of_many_rows():
    m = pickle.loads(pickle.dumps(vexa.matd(2**62, 0)))
    assert (m.dim(0), m.dim(1)) == (2**62, 0)


def scaled_in_worker(c):
    return vexa.scale(2.0, c)


@pytest.mark.slow
def test_process_pool_round_trip(rng):
    sent = [vexa_io.from_buffer(random_array(k, (4, 3), rng)) for k in KINDS]
    sent.append(Operand("z", "view", random_array("z", 5, rng)).obj)
    context = multiprocessing.get_context("spawn")
    with concurrent.futures.ProcessPoolExecutor(1, mp_context=context) as pool:
        back = list(pool.map(scaled_in_worker, sent))
    for c, kind, b in zip(sent, KINDS + "z", back, strict=True):
        assert type(b) is type(c)
        np.testing.assert_array_equal(read(b, kind), 2 * read(c, kind))
