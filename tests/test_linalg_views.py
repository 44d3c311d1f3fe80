"""column, columns and as_matrix: containers over another container's elements, which they share
for reading and writing and keep alive as a view does."""

import gc

import numpy as np
import pytest
import vexa_linalg as la
from helpers import KINDS, Operand, read, vexa_class


@pytest.mark.parametrize("kind", KINDS)
def test_columns_share_the_matrix(kind, route, rng):
    A = Operand.random(rng, kind, "mat", (3, 4))
    a = A.initial.reshape((3, 4), order="F")
    column, block = route.of(la, "column")(A.obj, 2), route.of(la, "columns")(A.obj, 1, 3)
    assert type(column) is vexa_class("view", kind) and type(block) is vexa_class("mat", kind)
    np.testing.assert_array_equal(read(column, kind), a[:, 2])
    np.testing.assert_array_equal(read(block, kind), a[:, 1:3])
    column[1], block[0, 1] = 5, 7
    assert A.obj[1, 2] == 5 and A.obj[0, 2] == 7 == column[0]
    # As in slicing, a start past the stop, or at the end, gives no columns.
    for start, stop in [(3, 1), (4, 4), (0, 0)]:
        empty = la.columns(A.obj, start, stop)
        assert (empty.dim(0), empty.dim(1), empty.numel()) == (3, 0, 0)
    np.testing.assert_array_equal(read(la.columns(A.obj, 0, 4), kind), read(A.obj, kind))


@pytest.mark.parametrize("kind", KINDS)
@pytest.mark.parametrize("container", ["vec", "view"])
@pytest.mark.parametrize("shape", [(2, 3), (6, 1), (1, 6)])
def test_as_matrix_shares_the_vector(shape, container, kind, route, rng):
    x = Operand.random(rng, kind, container, (6, 1))
    M = route.of(la, "as_matrix")(x.obj, *shape)
    assert type(M) is vexa_class("mat", kind) and (M.dim(0), M.dim(1)) == shape
    np.testing.assert_array_equal(read(M, kind), x.initial.reshape(shape, order="F"))
    M[shape[0] - 1, shape[1] - 1] = 9
    x.check([*x.initial[:5], 9])


@pytest.mark.parametrize("kind", KINDS)
@pytest.mark.parametrize("shape", [(0, 5), (5, 0), (0, 0)])
def test_as_matrix_of_nothing(shape, kind):
    M = la.as_matrix(vexa_class("vec", kind)(4)[2:2], *shape)
    assert (M.dim(0), M.dim(1), M.numel()) == (*shape, 0)


@pytest.mark.parametrize("kind", KINDS)
def test_shared_elements_outlive_their_source(kind):
    A, v = vexa_class("mat", kind)(3, 2), vexa_class("vec", kind)(5)
    A[2, 1], v[3] = 4, 6
    column, block, M = la.column(A, 1), la.columns(A, 1, 2), la.as_matrix(v[1:5], 2, 2)
    del A, v
    gc.collect()
    assert column[2] == block[2, 0] == 4 and M[0, 1] == 6
    column[0] = 8
    assert block[0, 0] == 8
