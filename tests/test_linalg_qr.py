"""vexa_linalg's QR factorization against LAPACK through numpy, for every kind and container type:
what it writes, that nothing else is written (guard elements around views, a matrix tau's other
columns), that a rank-deficient matrix is factored rather than refused, and its refusals."""

import numpy as np
import pytest
import vexa_linalg as la
from helpers import CONTAINERS, KINDS, RTOL, TEXTS, Operand, fails, random_array

SHAPES = [(5, 3), (3, 5), (4, 4), (1, 3), (3, 0)]


def matrix(rng, kind, shape, values=None):
    values = random_array(kind, shape, rng) if values is None else values
    return Operand(kind, "mat", np.asarray(values).flatten("F"), shape), np.asarray(values)


def column_like(rng, kind, container, n):
    """n elements as a vector or view, or as the first column of a two-column matrix."""
    return Operand.random(rng, kind, container, (n, 2) if container == "mat" else (n, 1))


def slack(kind, want):
    return RTOL[kind] * 50 * (1 + np.abs(want).max(initial=0))


def lapack_geqrf(a):
    """?geqrf's factors of a through numpy, which returns them transposed."""
    h, tau = np.linalg.qr(a, mode="raw")
    return h.T, tau


@pytest.mark.parametrize("kind", KINDS)
@pytest.mark.parametrize("shape", SHAPES, ids=str)
@pytest.mark.parametrize("container", CONTAINERS)
def test_geqrf_writes_the_factors_and_tau(kind, shape, container, route, rng):
    A, a = matrix(rng, kind, shape)
    tau = column_like(rng, kind, container, min(shape))
    want_qr, want_tau = lapack_geqrf(a)
    assert route.of(la, "geqrf")(A.obj, tau.obj) is tau.obj
    A.check(want_qr.flatten("F"), slack(kind, want_qr))
    tau.check(want_tau, slack(kind, want_tau))


@pytest.mark.parametrize("kind", KINDS)
def test_geqrf_factors_a_rank_deficient_matrix(kind, rng):
    # A zero column (a dummy variable absent from a block) makes R singular; geqrf still factors.
    a = random_array(kind, (6, 3), rng)
    a[:, 1] = 0
    A, _ = matrix(rng, kind, a.shape, a)
    tau = column_like(rng, kind, "vec", 3)
    la.geqrf(A.obj, tau.obj)
    want_qr, want_tau = lapack_geqrf(a)
    A.check(want_qr.flatten("F"), slack(kind, want_qr))
    tau.check(want_tau, slack(kind, want_tau))
    assert A.obj[1, 1] == 0


GEQRF_REFUSALS = {
    "tau too long": (
        lambda k, rng: column_like(rng, k, "view", 4),
        "vector tau dimension 0: 4, doesn't match min(m, n) of matrix A: 3",
    ),
    "tau too short": (
        lambda k, rng: column_like(rng, k, "vec", 2),
        "vector tau dimension 0: 2, doesn't match min(m, n) of matrix A: 3",
    ),
    "matrix tau without columns": (
        lambda k, rng: Operand(k, "mat", [], (3, 0)),
        "vector tau has 0 elements, fewer than the 3 that matrix A requires",
    ),
}


@pytest.mark.parametrize("kind", KINDS)
@pytest.mark.parametrize("make_tau, message", GEQRF_REFUSALS.values(), ids=GEQRF_REFUSALS)
def test_geqrf_refusals_leave_both_operands(kind, make_tau, message, route, rng):
    A, _ = matrix(rng, kind, (5, 3))
    tau = make_tau(kind, rng)
    fails(
        RuntimeError, f"In geqrf, {message}", route.of(la, "geqrf"), A.obj, tau.obj, keep=(A, tau)
    )


@pytest.mark.parametrize("kind", KINDS)
def test_geqrf_refuses_tau_inside_a(kind, route, rng):
    A, _ = matrix(rng, kind, (3, 2))
    tau = la.column(A.obj, 1)[0:2]
    message = TEXTS["shares"].format("vector tau", "matrix A", name="geqrf")
    fails(RuntimeError, message, route.of(la, "geqrf"), A.obj, tau, keep=(A,))
