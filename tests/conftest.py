"""Shared helpers: the four kinds, their numpy dtypes, and conversions
between numpy arrays and vexa containers (by element access only)."""

import numpy as np
import pytest
import vexa

KINDS = "sdcz"
DTYPES = {"s": np.float32, "d": np.float64, "c": np.complex64, "z": np.complex128}
CONTAINERS = ("vec", "view", "mat")
# Relative tolerance of results computed in each precision.
RTOL = {"s": 2e-5, "d": 1e-12, "c": 2e-5, "z": 1e-12}


def vexa_class(prefix, kind):
    return getattr(vexa, prefix + kind)


def random_array(kind, shape, rng):
    values = rng.standard_normal(shape)
    if kind in "cz":
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
    if type(container).__name__.startswith("mat"):
        rows, cols = container.dim(0), container.dim(1)
        out = np.empty((rows, cols), dtype=DTYPES[kind])
        for i in range(rows):
            for j in range(cols):
                out[i, j] = container[i, j]
        return out
    return np.array([container[i] for i in range(container.numel())], dtype=DTYPES[kind])


def flat(container, kind):
    """Elements in storage order: a matrix column by column."""
    values = read(container, kind)
    return values.flatten(order="F") if values.ndim == 2 else values


class Operand:
    """A container of one kind and type holding given values, in storage
    order. A view sits at offset 2 inside a parent vector with a guard
    element on each side of its window, so tests can check that nothing
    outside the window changes."""

    PAD = 2

    def __init__(self, kind, container, values, shape=None):
        self.kind = kind
        values = np.asarray(values, dtype=DTYPES[kind])
        n = values.size
        if container == "mat":
            rows, cols = shape if shape is not None else (n, 1)
            self.obj = fill(
                vexa_class("mat", kind)(rows, cols), values.reshape((rows, cols), order="F")
            )
            self.parent = None
        elif container == "view":
            self.parent = vexa_class("vec", kind)(n + 2 * self.PAD)
            fill(self.parent, np.full(n + 2 * self.PAD, 7, dtype=DTYPES[kind]))
            self.obj = fill(self.parent[self.PAD : self.PAD + n], values)
        else:
            self.obj = fill(vexa_class("vec", kind)(n), values)
            self.parent = None

    def values(self):
        return flat(self.obj, self.kind)

    def guards_intact(self):
        if self.parent is None:
            return True
        whole = flat(self.parent, self.kind)
        return bool(np.all(whole[: self.PAD] == 7) and np.all(whole[-self.PAD :] == 7))


@pytest.fixture
def rng():
    return np.random.default_rng(20261208)
