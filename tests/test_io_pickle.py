"""Pickling and copying of containers through vexa_io's reducer and reconstructor."""

import concurrent.futures
import copy
import multiprocessing
import pickle
import subprocess
import sys

import numpy as np
import pytest
import vexa
import vexa_io
from helpers import CLASS_NAMES, CONTAINERS, KINDS, Operand, random_array, read


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
        (("vecq", (3,), bytes(24)), ValueError, f"restores a {', '.join(CLASS_NAMES)}, not 'vecq'"),
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


def holders():
    """The objects that hold a share of a container's elements: asbuffer's exporter, and the
    elements that a reduction passes on."""
    v = vexa.vecd(3)
    return {"SharedElements": vexa_io.asbuffer(v).obj, "PickledElements": vexa_io._reduce(v)[1][2]}


@pytest.mark.parametrize("name", ["SharedElements", "PickledElements"])
def test_holder_types_are_sealed(name):
    """Only vexa_io makes them, and Python code cannot change their type: a __new__ given to
    one could make a holder of no elements."""
    cls = type(holders()[name])
    assert cls.__name__ == name
    for make in (cls, lambda: cls.__new__(cls), lambda: object.__new__(cls)):
        with pytest.raises(TypeError):
            make()
    for change in (
        lambda: setattr(cls, "__new__", staticmethod(lambda c: object.__new__(c))),
        lambda: setattr(cls, "extra", 1),
        lambda: delattr(cls, "__reduce_ex__"),
    ):
        with pytest.raises(TypeError):
            change()
    assert not hasattr(cls, "extra")


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
