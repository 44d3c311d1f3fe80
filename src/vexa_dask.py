"""Least squares on dask arrays: ``x, rss = vexa_dask.lstsq(A, b)``.

Each row block [A_i | b_i] is reduced on its worker to the (n + 1) x (n + 1)
upper triangle of its QR factorization (vexa_linalg.geqrf); only that
triangle leaves the worker. The triangles are stacked and factored again in
a tree of bounded fan-in, and the last one holds [[R, c], [0, rho]]: R is
A's R factor up to the signs of its rows, R x = c gives the solution and
rho**2 is the residual sum of squares. The solution comes from vexa.ls on
that triangle, so its rank and condition tests give the verdict that
vexa.ls on the whole of A would give.
"""

import math

try:
    import dask
    import dask.array as da
    import numpy as np
except ImportError as err:
    raise ImportError(
        "vexa_dask needs dask, which vexa installs as an extra: pip install 'vexa[dask]'"
    ) from err

import vexa
import vexa_io
import vexa_linalg

__all__ = ["lstsq"]

# The kinds by element type: the letter of vexa's classes.
_KINDS = {
    np.dtype(np.float32): "s",
    np.dtype(np.float64): "d",
    np.dtype(np.complex64): "c",
    np.dtype(np.complex128): "z",
}

# At most this many triangles meet in one task of the tree.
_FAN_IN = 8

# What a block may hold besides finite numbers, as bits that the tree ORs.
_A_NAN, _A_INF, _B_NAN, _B_INF = 1, 2, 4, 8

# vexa.ls ends some refusals with what its operands hold afterwards; here
# those operands are lstsq's own copies, and the caller's arrays are
# untouched.
_OPERANDS_TAIL = "; A and x now hold"


def lstsq(A, b, /):
    """Least-squares solution of A x = b for dask arrays A (m x n, m >= n, chunked by rows only)
    and b (m,) of one element type: float32, float64, complex64 or complex128.

    Returns (x, rss): x a numpy array of n elements of that type, rss the residual sum of squares
    as a float. Runs on dask's current scheduler. A rank-deficient A, or a solution without
    meaning in working precision, raises RuntimeError with vexa.ls's text, as does NaN or Inf in
    A or b.
    """
    A, b = _checked(A, b)
    m, n = A.shape
    width = n + 1
    # One leaf per row block, in A's and b's own graph, so that work they
    # share (one array sliced into both) runs once.
    leaves = da.blockwise(
        _leaf,
        "ij",
        A,
        "ij",
        b,
        "i",
        A.dtype,
        None,
        width,
        None,
        dtype=object,
        adjust_chunks={"i": 1, "j": 1},
        meta=np.empty((0, 0), dtype=object),
    )
    level = list(leaves.to_delayed()[:, 0])
    while len(level) > 1:
        level = [
            dask.delayed(_combine, pure=True)(level[i : i + _FAN_IN], A.dtype, width)
            for i in range(0, len(level), _FAN_IN)
        ]
    flags, triangle = level[0].compute()
    _refuse_not_finite(flags)
    return _solve(triangle, m, n)


def _checked(A, b):
    """A and b after the checks that need no data, b chunked as A's rows."""
    for name, array in (("A", A), ("b", b)):
        if not isinstance(array, da.Array):
            raise TypeError(f"vexa_dask.lstsq: {name} must be a dask array, not {type(array)!r}")
    if A.ndim != 2 or b.ndim != 1:
        raise ValueError(f"vexa_dask.lstsq: A must be 2-D and b 1-D, not {A.ndim}-D and {b.ndim}-D")
    if A.dtype not in _KINDS:
        raise TypeError(
            f"vexa_dask.lstsq: A has element type {A.dtype}; vexa computes with float32, "
            "float64, complex64 or complex128: convert with A.astype(...)"
        )
    if b.dtype != A.dtype:
        raise TypeError(
            f"vexa_dask.lstsq: A and b must have one element type, not {A.dtype} and {b.dtype}: "
            "convert one with astype(...)"
        )
    if any(math.isnan(extent) for extent in (*A.shape, *b.shape)):
        raise ValueError(
            "vexa_dask.lstsq: A and b need known chunk sizes: call compute_chunk_sizes() on them"
        )
    m, n = A.shape
    if b.shape[0] != m:
        raise ValueError(f"vexa_dask.lstsq: b has {b.shape[0]} elements, A {m} rows")
    if not 0 < n <= m:
        raise ValueError(
            f"vexa_dask.lstsq: A has {m} rows and {n} columns; it needs at least one column and "
            "no fewer rows than columns"
        )
    if len(A.chunks[1]) != 1:
        raise ValueError(
            f"vexa_dask.lstsq: A must be chunked by rows only, but its {n} columns are in "
            f"{len(A.chunks[1])} chunks: rechunk it with A.rechunk({{1: -1}})"
        )
    if b.chunks[0] != A.chunks[0]:
        b = b.rechunk((A.chunks[0],))
    return A, b


def _not_finite(values, nan, inf):
    """nan and inf as bits for what values hold: one sum over them, and a second pass only when
    the sum is not finite."""
    if np.isfinite(values.sum()):
        return 0
    return (nan if np.isnan(values).any() else 0) | (inf if np.isinf(values).any() else 0)


def _leaf(a, b, dtype, width):
    """One row block: (flags, the triangle of [a | b]), or (flags, None) if it holds NaN or Inf."""
    rows = a.shape[0]
    block = np.empty((rows, width), dtype=dtype, order="F")
    block[:, :-1] = a
    block[:, -1] = b
    flags = _not_finite(block[:, :-1], _A_NAN, _A_INF) | _not_finite(block[:, -1], _B_NAN, _B_INF)
    if flags:
        return flags, None
    return 0, _triangle(block, width)


def _combine(parts, dtype, width):
    """The triangle of several triangles stacked, and the union of their flags."""
    flags = 0
    for part_flags, _ in parts:
        flags |= part_flags
    if flags:
        return flags, None
    stacked = np.empty((len(parts) * width, width), dtype=dtype, order="F")
    for i, (_, triangle) in enumerate(parts):
        stacked[i * width : (i + 1) * width] = triangle
    return 0, _triangle(stacked, width)


def _triangle(block, width):
    """The width x width upper triangle of block's QR factorization (rows past block's own are
    zero). block is column-major and becomes geqrf's workspace."""
    rows = min(block.shape[0], width)
    triangle = np.zeros((width, width), dtype=block.dtype)
    if rows == 0:
        return triangle
    kind = _KINDS[block.dtype]
    tau = getattr(vexa, "vec" + kind)(rows)
    vexa_linalg.geqrf(vexa_io.wrap(block, getattr(vexa, "mat" + kind)), tau)
    triangle[:rows] = np.triu(block[:rows])
    return triangle


def _refuse_not_finite(flags):
    """ls's refusal of NaN and Inf, A's before b's, over every block at once."""
    for operand, nan, inf in (("matrix A", _A_NAN, _A_INF), ("vector b", _B_NAN, _B_INF)):
        found = [word for bit, word in ((nan, "NaN"), (inf, "Inf")) if flags & bit]
        if found:
            raise RuntimeError(f"In ls, {operand} contains {' and '.join(found)}")


def _solve(triangle, m, n):
    """x and rss from the final triangle [[R, c], [0, rho]] of the whole of [A | b]."""
    _refuse_rank(triangle[:n, :n], m, n)
    # [R; 0] x = [c; rho] is the whole least-squares problem in n + 1 rows:
    # the same R, hence the same condition, and the same residual, which
    # ls's least-squares test weighs. For m = n A has no residual, and the
    # square R x = c is what ls would solve.
    rows = n + 1 if m > n else n
    R = np.asfortranarray(triangle[:rows, :n])
    x = np.array(triangle[:rows, n])
    try:
        vexa.ls(vexa_io.wrap(R, getattr(vexa, "mat" + _KINDS[R.dtype])), vexa_io.wrap(x))
    except RuntimeError as err:
        raise RuntimeError(str(err).split(_OPERANDS_TAIL)[0]) from None
    return x[:n].copy(), float(abs(triangle[n, n])) ** 2


def _refuse_rank(R, m, n):
    """ls's rank tests on A's R factor: its pivot limit grows with A's rows, which the final ls,
    on n + 1 rows, does not know of."""
    pivots = np.abs(np.diagonal(R))
    zero = np.flatnonzero(pivots == 0)
    if zero.size:
        raise RuntimeError(
            f"In ls, matrix A does not have full rank: diagonal element {zero[0] + 1} of its "
            "triangular factor is zero"
        )
    # Column norms without overflow: each column divided by its largest
    # magnitude first, which is positive since no pivot is zero.
    largest = np.abs(R).max(axis=0)
    norms = largest * np.linalg.norm(R / largest, axis=0)
    limit = math.sqrt(max(m, n)) * np.finfo(R.dtype).eps
    negligible = np.flatnonzero(~(pivots > limit * norms))
    if negligible.size:
        raise RuntimeError(
            "In ls, matrix A does not have full rank to working precision: diagonal element "
            f"{negligible[0] + 1} of its triangular factor is negligible"
        )
