"""vexa_dask.lstsq against numpy's lstsq and against vexa.ls on the whole matrix, on dask's
threaded scheduler and on a two-worker LocalCluster; skipped where dask is not installed."""

import sys

import numpy as np
import pytest
import vexa
import vexa_io
from helpers import COMPLEX_KINDS, DTYPES, KINDS, RTOL, random_array

dask = pytest.importorskip("dask")
da = pytest.importorskip("dask.array")
vexa_dask = pytest.importorskip("vexa_dask")

# Uneven row blocks, more of them than one task of the tree combines, with one
# block shorter than a triangle and one empty.
CHUNKS = (40, 3, 0, 57) + (30,) * 9
ROWS = sum(CHUNKS)

# The refusals of vexa.ls end with what its operands then hold; lstsq's
# texts stop before that.
TAIL = "; A and x now hold"


@pytest.fixture(scope="module")
def cluster():
    distributed = pytest.importorskip("distributed")
    with (
        distributed.LocalCluster(
            n_workers=2,
            threads_per_worker=1,
            processes=True,
            host="127.0.0.1",
            dashboard_address=None,
        ) as local,
        distributed.Client(local, set_as_default=False) as client,
    ):
        yield client


@pytest.fixture(params=["threads", pytest.param("cluster", marks=pytest.mark.slow)])
def scheduler(request):
    """Runs the test under dask's threaded scheduler, then under the LocalCluster."""
    chosen = "threads" if request.param == "threads" else request.getfixturevalue("cluster")
    with dask.config.set(scheduler=chosen):
        yield


def ls_text(A, b):
    """What vexa.ls says of the whole problem, without the tail about its operands."""
    x = np.array(b)
    with pytest.raises(RuntimeError) as refusal:
        vexa.ls(vexa_io.wrap(np.asfortranarray(A)), vexa_io.wrap(x))
    return str(refusal.value).split(TAIL)[0]


def lstsq_text(A, b, chunks=CHUNKS):
    with pytest.raises(RuntimeError) as refusal:
        vexa_dask.lstsq(da.from_array(A, chunks=(chunks, -1)), da.from_array(b, chunks=chunks))
    return str(refusal.value)


def relative_error(x, exact):
    return np.linalg.norm(x - exact) / np.linalg.norm(exact)


@pytest.mark.parametrize("kind", KINDS)
@pytest.mark.parametrize(
    "chunks, b_chunks", [(CHUNKS, 100), ((4, 2), -1)], ids=["blocks", "square"]
)
def test_agrees_with_numpy(kind, chunks, b_chunks, scheduler, rng):
    rows, n = sum(chunks), 5 if len(chunks) > 2 else 6
    A, b = random_array(kind, (rows, n), rng), random_array(kind, rows, rng)
    kept = A.copy(), b.copy()
    x, rss = vexa_dask.lstsq(da.from_array(A, chunks=(chunks, -1)), da.from_array(b, b_chunks))
    wide = np.complex128 if kind in COMPLEX_KINDS else np.float64
    exact, residual = np.linalg.lstsq(A.astype(wide), b.astype(wide), rcond=None)[:2]
    assert isinstance(x, np.ndarray) and x.shape == (n,) and x.dtype == DTYPES[kind]
    assert type(rss) is float
    tolerance = RTOL[kind] * np.linalg.cond(A.astype(wide))
    assert relative_error(x, exact) < tolerance
    if rows > n:
        assert rss == pytest.approx(residual[0], rel=tolerance)
    else:
        assert rss < (tolerance * np.linalg.norm(b)) ** 2
    np.testing.assert_array_equal(A, kept[0])
    np.testing.assert_array_equal(b, kept[1])


def test_every_block_rank_deficient(scheduler, rng):
    # An intercept and a dummy per block, each zero outside its block: no
    # block has full rank, the whole matrix has.
    blocks, size = 4, 25
    A = np.zeros((blocks * size, 1 + blocks))
    A[:, 0] = 1
    for j in range(blocks):
        A[j * size : (j + 1) * size, 1 + j] = rng.standard_normal(size)
    b = rng.standard_normal(blocks * size)
    assert all(np.linalg.matrix_rank(A[j * size : (j + 1) * size]) < 1 + blocks for j in range(4))
    x, rss = vexa_dask.lstsq(da.from_array(A, chunks=(size, -1)), da.from_array(b, chunks=size))
    exact, residual = np.linalg.lstsq(A, b, rcond=None)[:2]
    assert relative_error(x, exact) < 1e-12
    assert rss == pytest.approx(residual[0], rel=1e-12)


def rank_deficient(rng):
    """A column of zeros: ls's exact zero pivot."""
    A = rng.standard_normal((ROWS, 4))
    A[:, 2] = 0
    return A, rng.standard_normal(ROWS)


def undetermined(rng):
    """Two nearly equal columns and a residual far larger than the fit: ls's least-squares
    test refuses, though the condition alone passes."""
    A = rng.standard_normal((ROWS, 3))
    A[:, 2] = A[:, 1] + 1e-7 * rng.standard_normal(ROWS)
    away = rng.standard_normal(ROWS)
    away -= A @ np.linalg.lstsq(A, away, rcond=None)[0]
    return A, A @ np.ones(3) + 1e4 * away / np.linalg.norm(away)


@pytest.mark.parametrize("problem", [rank_deficient, undetermined])
def test_refuses_with_the_verdict_of_ls_on_the_whole_matrix(problem, rng):
    A, b = problem(rng)
    assert lstsq_text(A, b) == ls_text(A, b)


def test_refuses_a_combination_of_columns(rng):
    # Rounding decides whether the pivot is exactly zero or negligible.
    A = rng.standard_normal((ROWS, 4))
    A[:, 3] = 3 * A[:, 1] - 2 * A[:, 0]
    b = rng.standard_normal(ROWS)
    for text in lstsq_text(A, b), ls_text(A, b):
        assert text.startswith("In ls, matrix A does not have full rank")
        assert "diagonal element 4 of its triangular factor is" in text


def test_pivot_limit_grows_with_the_rows(rng):
    # A pivot that the final triangle's n + 1 rows would pass, but A's rows
    # make negligible, as they do for ls on the whole matrix.
    rows = 40000
    A = rng.standard_normal((rows, 2))
    A[:, 1] = A[:, 0] + 1e-14 * rng.standard_normal(rows)
    b = rng.standard_normal(rows)
    expected = ls_text(A, b)
    assert "negligible" in expected
    assert lstsq_text(A, b, chunks=10000) == expected


@pytest.mark.parametrize(
    "where, expected",
    [
        ({"A": [(50, 1, np.nan)]}, "matrix A contains NaN"),
        ({"A": [(5, 0, np.nan), (300, 4, -np.inf)]}, "matrix A contains NaN and Inf"),
        ({"b": [(120, np.inf)], "A": [(300, 2, np.inf)]}, "matrix A contains Inf"),
        ({"b": [(ROWS - 1, np.nan)]}, "vector b contains NaN"),
    ],
    ids=["NaN", "NaN and Inf", "A before b", "b"],
)
def test_refuses_nan_and_inf_in_any_block(where, expected, scheduler, rng):
    A, b = rng.standard_normal((ROWS, 5)), rng.standard_normal(ROWS)
    for *index, value in where.get("A", []):
        A[tuple(index)] = value
    for i, value in where.get("b", []):
        b[i] = value
    assert lstsq_text(A, b) == "In ls, " + expected
    if "A" in where:
        assert ls_text(A, b) == "In ls, " + expected


def test_shared_work_runs_once(rng):
    # A and b cut from one array: each of its blocks is made once.
    made = []

    def block(x):
        made.append(x.shape)
        return x + rng.standard_normal(x.shape)

    whole = da.zeros((ROWS, 6), chunks=(CHUNKS, -1)).map_blocks(block, meta=np.empty((0, 0)))
    with dask.config.set(scheduler="sync"):
        vexa_dask.lstsq(whole[:, :5], whole[:, 5])
    assert len(made) == len(CHUNKS)


def test_refusals_before_any_work(rng):
    A, b = da.from_array(rng.standard_normal((100, 4)), chunks=(25, 2)), da.ones(100, chunks=25)
    with pytest.raises(ValueError, match=r"chunked by rows only.*A\.rechunk\(\{1: -1\}\)"):
        vexa_dask.lstsq(A, b)
    A = A.rechunk({1: -1})
    with pytest.raises(TypeError, match="one element type, not float64 and float32"):
        vexa_dask.lstsq(A, b.astype(np.float32))
    with pytest.raises(TypeError, match="element type int64"):
        vexa_dask.lstsq(A.astype(np.int64), b.astype(np.int64))
    with pytest.raises(TypeError, match="must be a dask array"):
        vexa_dask.lstsq(A, np.ones(100))
    with pytest.raises(ValueError, match="b has 99 elements, A 100 rows"):
        vexa_dask.lstsq(A, b[:99])
    with pytest.raises(ValueError, match="no fewer rows than columns"):
        vexa_dask.lstsq(A[:3], b[:3])
    with pytest.raises(ValueError, match="2-D and b 1-D"):
        vexa_dask.lstsq(A, b[:, None])


def test_import_without_dask_names_the_extra(monkeypatch):
    monkeypatch.setitem(sys.modules, "dask", None)
    monkeypatch.setitem(sys.modules, "dask.array", None)
    monkeypatch.delitem(sys.modules, "vexa_dask")
    with pytest.raises(ImportError, match=r"pip install 'vexa\[dask\]'"):
        import vexa_dask  # noqa: F401
