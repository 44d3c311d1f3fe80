"""vexa_linalg's QR factorization against LAPACK through numpy, for every kind and container type:
what it writes, that nothing else is written (guard elements around views, a matrix tau's other
columns), that a rank-deficient matrix is factored rather than refused, and its refusals."""

import numpy as np
import pytest
import vexa
import vexa_io
import vexa_linalg as la
from helpers import (
    CONTAINERS,
    DTYPES,
    KINDS,
    RTOL,
    TEXTS,
    Operand,
    fails,
    flat,
    random_array,
    read,
)

# (20, 17) has enough reflectors that geqrf asks ?geqrf for its workspace.
SHAPES = [(5, 3), (3, 5), (4, 4), (1, 3), (3, 0), (20, 17)]


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


def householder_q(h, tau):
    """The m x m product H(1) ... H(k) of ?geqrf's reflectors, H(i) = I - tau_i v v^H."""
    m = h.shape[0]
    q = np.eye(m, dtype=complex)
    for i, t in enumerate(tau):
        v = np.zeros(m, complex)
        v[i], v[i + 1 :] = 1, h[i + 1 :, i]
        q = q @ (np.eye(m) - t * np.outer(v, v.conj()))
    return q


def op(q, trans):
    return q if trans == "N" else q.conj().T


ORMQR_TRANS = [(k, t) for k in KINDS for t in ("NTC" if k in "sd" else "NC")]


@pytest.mark.parametrize("kind, trans", ORMQR_TRANS)
# (40, 36): enough reflectors for ?ormqr's blocked code, in the workspace its query asks for.
@pytest.mark.parametrize("shape", [(5, 3), (3, 5), (40, 36)], ids=str)
@pytest.mark.parametrize("side, container", [("L", c) for c in CONTAINERS] + [("R", "mat")])
@pytest.mark.parametrize("tau_container", ["view", "mat"])
def test_ormqr_applies_q(kind, trans, shape, side, container, tau_container, route, rng):
    # The factors come from numpy's ?geqrf, so that ormqr is checked apart from geqrf.
    h, t = lapack_geqrf(random_array(kind, shape, rng))
    A, _ = matrix(rng, kind, shape, h)
    tau = Operand(kind, tau_container, t, (t.size, 1))
    m = shape[0]
    c_shape = (2, m) if side == "R" else (m, 2) if container == "mat" else (m, 1)
    C = Operand.random(rng, kind, container, c_shape)
    c, q = C.initial.reshape(c_shape, order="F"), op(householder_q(h, t), trans)
    want = q @ c if side == "L" else c @ q
    want = want.flatten("F")
    assert route.of(la, "ormqr")(side, trans, A.obj, tau.obj, C.obj) is C.obj
    C.check(want, slack(kind, want))
    A.check()
    tau.check()


def test_geqrf_then_ormqr_gives_back_a(rng):
    a = random_array("d", (6, 4), rng)
    A, _ = matrix(rng, "d", a.shape, a)
    tau = Operand("d", "vec", np.zeros(4))
    la.geqrf(A.obj, tau.obj)
    r = np.triu(read(A.obj, "d"))
    R, _ = matrix(rng, "d", r.shape, r)
    la.ormqr("L", "N", A.obj, tau.obj, R.obj)
    R.check(a.flatten("F"), slack("d", a))


def qr_operands(kind, rng, c_shape=(5, 2), c_container="mat"):
    """A 5 x 3 matrix as geqrf leaves it, its tau, and a C."""
    h, t = lapack_geqrf(random_array(kind, (5, 3), rng))
    A, _ = matrix(rng, kind, (5, 3), h)
    return A, Operand(kind, "view", t), Operand.random(rng, kind, c_container, c_shape)


ORMQR_REFUSALS = [
    ("L", "X", {}, ValueError, "In ormqr, trans must be 'N', 'T' or 'C'", "sd"),
    ("L", "T", {}, ValueError, "In ormqr, trans must be 'N' or 'C'", "cz"),
    ("U", "N", {}, ValueError, "In ormqr, side must be 'L' or 'R'", KINDS),
    (
        "L",
        "N",
        {"c_shape": (4, 2)},
        RuntimeError,
        "In ormqr expression C = QC, matrix A dimension 0: 5, doesn't match matrix C"
        " dimension 0: 4",
        KINDS,
    ),
    (
        "R",
        "C",
        {"c_shape": (5, 1), "c_container": "view"},
        RuntimeError,
        "In ormqr expression C = CQ^{H}, matrix A dimension 0: 5, doesn't match vector C"
        " dimension 1: 1",
        KINDS,
    ),
]


@pytest.mark.parametrize(
    "kind, side, trans, shapes, error, message",
    [(k, *case[:5]) for case in ORMQR_REFUSALS for k in case[5]],
)
def test_ormqr_refusals_leave_every_operand(kind, side, trans, shapes, error, message, route, rng):
    A, tau, C = qr_operands(kind, rng, **shapes)
    text = message.format(H="H" if kind in "cz" else "T")
    fails(error, text, route.of(la, "ormqr"), side, trans, A.obj, tau.obj, C.obj, keep=(A, tau, C))


@pytest.mark.parametrize("kind", KINDS)
def test_ormqr_refuses_tau_of_another_extent(kind, route, rng):
    A, _, C = qr_operands(kind, rng)
    tau = Operand.random(rng, kind, "vec", (2, 1))
    message = "In ormqr, vector tau dimension 0: 2, doesn't match min(m, n) of matrix A: 3"
    fails(RuntimeError, message, route.of(la, "ormqr"), "L", "N", A.obj, tau.obj, C.obj)
    for operand in (A, tau, C):
        operand.check()


def overlapping(A, tau, v):
    """ormqr's operands of a 5 x 3 A where one shares elements with another, by what is
    refused; v is a vector of 8 elements."""
    return {
        ("matrix C", "matrix A"): (A, tau, la.columns(A, 1, 3)),
        ("vector C", "vector tau"): (A, v[0:3], v[2:7]),
        ("vector tau", "matrix A"): (A, la.column(A, 2)[0:3], v[0:5]),
    }


@pytest.mark.parametrize("kind", KINDS)
@pytest.mark.parametrize(
    "written, other",
    [("matrix C", "matrix A"), ("vector C", "vector tau"), ("vector tau", "matrix A")],
)
def test_ormqr_refuses_shared_elements(kind, written, other, route, rng):
    A, tau, _ = qr_operands(kind, rng)
    v = Operand.random(rng, kind, "vec", (8, 1))
    args = overlapping(A.obj, tau.obj, v.obj)[written, other]
    message = TEXTS["shares"].format(written, other, name="ormqr")
    fails(RuntimeError, message, route.of(la, "ormqr"), "L", "N", *args, keep=(A, tau, v))


def solved(name, a, b):
    """name ("gels" or "ls") on copies of a and b, wrapped in place: the text of its refusal
    (None if it solved), a and b as it left them."""
    a, b = np.asfortranarray(a.copy()), np.asfortranarray(b.copy())
    call = la.gels if name == "gels" else vexa.ls
    try:
        call(vexa_io.wrap(a), vexa_io.wrap(b))
        return None, a, b
    except RuntimeError as error:
        return str(error), a, b


def hilbert(kind, n):
    return (1 / (np.arange(n)[:, None] + np.arange(n) + 1)).astype(DTYPES[kind])


def gels_cases(kind, rng):
    """(name, a, b of three columns with max(m, n) rows): solvable and refused."""
    zero_column = random_array(kind, (6, 3), rng)
    zero_column[:, 1] = 0
    tall, wide = random_array(kind, (6, 3), rng), random_array(kind, (3, 5), rng)
    cases = [("tall", tall), ("wide", wide), ("zero column", zero_column)]
    cases += [("hilbert 6", hilbert(kind, 6)), ("hilbert 14", hilbert(kind, 14))]
    return [(name, a, random_array(kind, (max(a.shape), 3), rng)) for name, a in cases]


@pytest.mark.parametrize("kind", KINDS)
def test_gels_one_column_is_ls_bit_for_bit(kind, rng):
    verdicts = set()
    for _, a, b in gels_cases(kind, rng):
        text, a_ls, x = solved("ls", a, b[:, 0])
        verdicts.add(text is None)
        for column in (b[:, 0], b[:, :1]):  # a vector, and a matrix of one column
            got, a_gels, x_gels = solved("gels", a, column)
            assert got == (text and text.replace("In ls,", "In gels,"))
            assert a_gels.tobytes() == a_ls.tobytes()
            assert x_gels.tobytes() == x.tobytes()
    assert verdicts == {True, False}  # some cases solved, some refused


@pytest.mark.parametrize("kind", KINDS)
def test_gels_several_columns_solves_or_refuses_as_ls_does(kind, rng):
    for name, a, b in gels_cases(kind, rng):
        texts = [solved("ls", a, b[:, j])[0] for j in range(3)]
        first = next((t for t in texts if t is not None), None)
        text, _, x = solved("gels", a, b)
        assert text == (first and first.replace("In ls,", "In gels,")), name
        if text is None:
            n = a.shape[1]
            want = np.linalg.lstsq(a.astype(complex), b[: a.shape[0]].astype(complex))[0]
            np.testing.assert_allclose(x[:n], want, rtol=0, atol=slack(kind, want) * 100)


def gels_operands(kind, rng, shape, container, columns=3):
    """A of shape and B of max(m, n) rows: a view with guard elements, or a matrix."""
    A, _ = matrix(rng, kind, shape)
    b_shape = (max(shape), columns if container == "mat" else 1)
    return A, Operand.random(rng, kind, container, b_shape)


@pytest.mark.parametrize("kind", KINDS)
@pytest.mark.parametrize("container", ["view", "mat"])
@pytest.mark.parametrize(
    "where, operand",
    [("A", "matrix A"), ("B", "{} B")],
)
def test_gels_refuses_nan_untouched(kind, container, where, operand, route, rng):
    A, B = gels_operands(kind, rng, (5, 3), container)
    spoilt = A if where == "A" else B
    # The last element read: A's last, or the last of B's last column's first m rows.
    position = spoilt.window.start + len(spoilt.initial) - 1
    spoilt.before[position] = np.nan
    if container == "mat" or where == "A":
        rows = spoilt.whole.dim(0)
        spoilt.whole[position % rows, position // rows] = np.nan
    else:
        spoilt.whole[position] = np.nan
    holder = operand.format("matrix" if container == "mat" else "vector")
    text = TEXTS["not finite"].format(holder, "NaN", name="gels")
    fails(RuntimeError, text, route.of(la, "gels"), A.obj, B.obj)
    for kept in (A, B):  # guard elements included; NaN equals NaN here
        np.testing.assert_array_equal(flat(kept.whole, kind), kept.before)


@pytest.mark.parametrize("kind", KINDS)
def test_gels_leaves_rows_past_m_unread(kind, route, rng):
    # A wide A reads only B's first m rows; the rest only receive the solution.
    a = random_array(kind, (2, 4), rng)
    b = random_array(kind, (4, 2), rng)
    b[2:] = np.nan
    A, _ = matrix(rng, kind, a.shape, a)
    B, _ = matrix(rng, kind, b.shape, b)
    route.of(la, "gels")(A.obj, B.obj)
    want = np.linalg.lstsq(a.astype(complex), b[:2].astype(complex))[0].flatten("F")
    np.testing.assert_allclose(flat(B.obj, kind), want, atol=slack(kind, want))


@pytest.mark.parametrize("kind", KINDS)
@pytest.mark.parametrize(
    "shape, b_shape, container, operand",
    [((5, 3), (3, 2), "mat", "matrix B"), ((3, 5), (3, 1), "view", "vector B")],
)
def test_gels_refuses_b_of_other_rows(kind, shape, b_shape, container, operand, route, rng):
    A, _ = matrix(rng, kind, shape)
    B = Operand.random(rng, kind, container, b_shape)
    text = f"In gels, {operand} dimension 0: 3, doesn't match max(m, n) of matrix A: 5"
    fails(RuntimeError, text, route.of(la, "gels"), A.obj, B.obj, keep=(A, B))


@pytest.mark.parametrize("kind", KINDS)
def test_gels_refuses_b_sharing_a(kind, route, rng):
    A, _ = matrix(rng, kind, (4, 3))
    message = TEXTS["shares"].format("vector B", "matrix A", name="gels")
    fails(RuntimeError, message, route.of(la, "gels"), A.obj, la.column(A.obj, 2), keep=(A,))
