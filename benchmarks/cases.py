"""What the benchmark measures: the calls of vexa beside their scipy and numpy
peers, the vexa_io operations, the operand sizes, and the targets the
measured ratios are held to."""

import math
from dataclasses import dataclass

import numpy as np
import vexa
from kinds import COMPLEX_KINDS, DTYPES
from scipy.linalg import blas, lapack


@dataclass(frozen=True)
class Target:
    """A limit on a measured value: `label` names the value in a FAIL message,
    `text` states the target in the report, {limit} standing for the limit."""

    label: str
    limit: float
    text: str

    def miss(self, value):
        """The FAIL message's part for `value`, or None if it meets the limit."""
        return f"{self.label} {value:.2f} > {self.limit}" if value > self.limit else None

    def __str__(self):
        return self.text.format(limit=self.limit)


# Every target of the benchmark and of examples/cg.py; the checks and the
# report both read them from here.
TARGETS = {
    "small/scipy": Target(
        "scipy", 1.0, "the slower of vexa's first and last overload ≤ {limit} × scipy"
    ),
    "small/numpy": Target("numpy", 0.5, "≤ {limit} × numpy"),
    "last/first": Target("last/first", 1.5, "last ≤ {limit} × first"),
    "large": Target("best", 1.03, "vexa ≤ {limit} × the faster of numpy and scipy"),
    "asbuffer": Target("µs", 0.5, "asbuffer under {limit} µs whatever the size"),
    "from_buffer": Target("numpy", 1.5, "from_buffer ≤ {limit} × numpy.copy of a contiguous array"),
    "from_buffer reordered": Target(
        "numpy", 2.0, "≤ {limit:g} × numpy.asfortranarray of a C-ordered or strided one"
    ),
    "wrap": Target("µs", 1.0, "wrap under {limit:g} µs whatever the size"),
    "pickle": Target(
        "numpy",
        1.2,
        "pickling a matd with protocol 5 (loads of dumps in band, dumps alone out of band) "
        "≤ {limit} × the same for a numpy array of its shape",
    ),
    "cg": Target("vexa/best", 1.0, "vexa/best ≤ {limit:g} at every n"),
    "linalg/vexa": Target(
        "vexa", 1.15, "vexa_linalg ≤ {limit} × the instructions of the vexa neighbour"
    ),
    "linalg/scipy": Target("scipy", 0.5, "≤ {limit} × those of scipy"),
    "linalg large": Target("scipy", 1.03, "vexa_linalg ≤ {limit} × scipy's time"),
    "qr/scipy": Target(
        "scipy",
        0.6,
        "geqrf, ormqr, gels ≤ {limit} × the instructions of scipy.linalg.lapack's wrappers",
    ),
    "qr/lapack": Target("LAPACK", 1.25, "≤ {limit} × their part in LAPACK"),
    "cgls": Target("numpy", 0.5, "vexa ≤ {limit} × the numpy loop's time"),
    "gmres": Target("numpy", 0.25, "vexa ≤ {limit} × the numpy MGS loop's time"),
}


def verdict(*checks):
    """PASS, or FAIL naming each (target, value) over its limit."""
    missed = [text for target, value in checks if (text := target.miss(value))]
    return "FAIL: " + ", ".join(missed) if missed else "PASS"


# Sizes named in the operand layouts: vector length n (h for a two-column
# matrix of as many elements), gemv's g, gemm's m, ls's r rows and c columns.
SMALL = {"n": 8, "h": 4, "g": 8, "m": 8, "r": 8, "c": 8}
LARGE = {"n": 10**6, "h": 5 * 10**5, "g": 4000, "m": 2000, "r": 2000, "c": 500}
EMPTY = dict.fromkeys(SMALL, 0)
LEVEL1, LEVEL1_MATRIX = "x:{n} y:{n}", "x:{h}x2 y:{h}x2"
MATVEC, MATVEC_MATRIX = "A:{g}x{g} x:{g} y:{g}", "A:{g}x{g} x:{g}x1 y:{g}x1"
MATMUL = "A:{m}x{m} X:{m}x{m} Y:{m}x{m}"
LS = "A:{r}x{c} A0:{r}x{c} x:{r} b0:{r}"
LS_MATRIX = "A:{r}x{c} A0:{r}x{c} x:{r}x1 b0:{r}x1"


@dataclass(frozen=True)
class Case:
    """One vexa function beside its peers. The statements call `function` (the
    vexa function), `routine` (scipy's) and `copy` (each library's own)."""

    function: str
    routine: str  # scipy's, "real|complex" where the kinds differ
    vexa: str
    scipy: str
    numpy: str
    # Operands ("name:length" or "name:rowsxcols") of the kind's first and last overload
    # that a call can select; scipy and numpy get the first's data.
    first: str
    last: str | None

    def kinds(self, kinds):
        """Those of `kinds` that scipy has the routine for."""
        if "|" not in self.routine:
            return list(kinds)
        return [kind for kind in kinds if self.routine.split("|")[kind in COMPLEX_KINDS]]

    def routine_of(self, kind):
        return (
            self.routine.split("|")[kind in COMPLEX_KINDS] if "|" in self.routine else self.routine
        )


# ls consumes A and x, so every side restores them by two copies before solving.
CASES = [
    Case("scale", "scal", "function(unit, x)", "routine(unit, x)", "x *= unit", "x:{n}",
         "x:{h}x2"),
    Case("sum", "axpy", "function(x, y)", "routine(x, y, a=1.0)", "y += x", LEVEL1,
         LEVEL1_MATRIX),
    Case("dot", "dot|dotu", "function(x, y)", "routine(x, y)", "np.dot(x, y)", LEVEL1,
         LEVEL1_MATRIX),
    Case("copy", "copy", "function(x, y)", "routine(x, y)", "y[:] = x", LEVEL1, LEVEL1_MATRIX),
    Case("swap", "swap", "function(x, y)", "routine(x, y)", "t = x.copy(); x[:] = y; y[:] = t",
         LEVEL1, LEVEL1_MATRIX),
    Case("axpy", "axpy", "function(alpha, x, y)", "routine(x, y, a=alpha)", "y += alpha * x",
         LEVEL1, LEVEL1_MATRIX),
    Case("hdot", "|dotc", "function(x, y)", "routine(x, y)", "np.vdot(x, y)", LEVEL1,
         LEVEL1_MATRIX),
    Case("matvec", "gemv", "function(A, x, y)", "routine(1.0, A, x, 1.0, y, overwrite_y=1)",
         "y += A @ x", MATVEC, MATVEC_MATRIX),
    Case("gemv", "gemv", "function(alpha, beta, A, x, y)",
         "routine(alpha, A, x, beta, y, overwrite_y=1)",
         "np.add(alpha * (A @ x), beta * y, out=y)", MATVEC, MATVEC_MATRIX),
    Case("gemm", "gemm", "function(alpha, beta, A, X, Y)",
         "routine(alpha, A, X, beta, Y, overwrite_c=1)",
         "np.add(alpha * (A @ X), beta * Y, out=Y)", MATMUL, None),
    Case("matmul", "gemm", "function(A, X, Y)", "routine(1.0, A, X, 1.0, Y, overwrite_c=1)",
         "Y += A @ X", MATMUL, None),
    Case("ls", "gels", "copy(A0, A); copy(b0, x); function(A, x)",
         "copy(A0_flat, A_flat); copy(b0, x); "
         "routine(A, x, lwork=lwork, overwrite_a=1, overwrite_b=1)",
         "np.linalg.lstsq(A0, b0, rcond=None)", LS, LS_MATRIX),
]  # fmt: skip


@dataclass(frozen=True)
class ElementCase:
    """Element access, the same statement on a vexa container and a numpy array."""

    name: str
    statement: str
    layout: str


ELEMENTS = [
    ElementCase("read vec", "x[3]", "x:{n}"),
    ElementCase("write vec", "x[3] = unit", "x:{n}"),
    ElementCase("read mat", "A[2, 3]", "A:{g}x{g}"),
    ElementCase("write mat", "A[2, 3] = unit", "A:{g}x{g}"),
]


@dataclass(frozen=True)
class IoCase:
    operation: str
    vexa_io: str
    numpy: str | None  # the reference; None where the target is a time
    target: Target  # on vexa_io/numpy, or on vexa_io's µs


# Operands of IO_CASES: a 1000x1000 C-ordered array, and the same shape cut
# from every other row and column of a 2000x2000 one.
IO_CASES = [
    IoCase("asbuffer, vecd of 8", "asbuffer(small_vec)", None, TARGETS["asbuffer"]),
    IoCase("asbuffer, matd 1000x1000", "asbuffer(large_mat)", None, TARGETS["asbuffer"]),
    IoCase("from_buffer, 10^6 float64", "from_buffer(flat)", "np.copy(flat)",
           TARGETS["from_buffer"]),
    IoCase("from_buffer, 1000x1000 C order", "from_buffer(c_order)",
           "np.asfortranarray(c_order)", TARGETS["from_buffer reordered"]),
    IoCase("from_buffer, 1000x1000 strided", "from_buffer(strided)",
           "np.asfortranarray(strided)", TARGETS["from_buffer reordered"]),
    IoCase("wrap, float64 of 8", "wrap(small_array)", None, TARGETS["wrap"]),
    IoCase("wrap, 1000x1000 F order", "wrap(f_order)", None, TARGETS["wrap"]),
    IoCase("pickle 5 round trip, matd 1000x1000", "loads(dumps(large_mat, protocol=5))",
           "loads(dumps(f_order, protocol=5))", TARGETS["pickle"]),
    IoCase("pickle 5 out of band, matd 1000x1000",
           "dumps(large_mat, protocol=5, buffer_callback=out_of_band)",
           "dumps(f_order, protocol=5, buffer_callback=out_of_band)", TARGETS["pickle"]),
]  # fmt: skip


def scalars(kind):
    """Coefficients that keep repeated in-place updates bounded (`unit` scales exactly)."""
    if kind in COMPLEX_KINDS:
        return {"alpha": 0.5 + 0.25j, "beta": 0.5 - 0.25j, "unit": 1j}
    return {"alpha": 0.5, "beta": 0.5, "unit": -1.0}


def operands(kind, layout, sizes, seed=1):
    """Vexa containers and numpy arrays (matrices in Fortran order) holding the
    same random values, as (container, array) by name. Large containers are
    filled by copying one filled chunk into consecutive views, as element
    writes would take minutes."""
    rng, made = np.random.default_rng(seed), {}
    for item in layout.format(**sizes).split():
        name, shape = item.split(":")
        dims = [int(dim) for dim in shape.split("x")]
        size, count = math.prod(dims), min(math.prod(dims), 4099)
        chunk = rng.standard_normal(count) + (
            1j * rng.standard_normal(count) if kind in COMPLEX_KINDS else 0
        )
        chunk = chunk.astype(DTYPES[kind])
        piece, flat = getattr(vexa, "vec" + kind)(count), getattr(vexa, "vec" + kind)(size)
        for index, value in enumerate(chunk):
            piece[index] = value.item()
        for start in range(0, size, max(1, count)):
            stop = min(start + count, size)
            vexa.copy(piece[0 : stop - start], flat[start:stop])
        array = np.resize(chunk, size)
        if len(dims) == 2:
            flat = vexa.copy(flat, getattr(vexa, "mat" + kind)(*dims))
            array = array.reshape(dims, order="F")
        made[name] = (flat, array)
    return made


def vexa_namespace(function, kind, made):
    containers = {name: container for name, (container, _) in made.items()}
    return {"function": getattr(vexa, function), "copy": vexa.copy, **scalars(kind), **containers}


def reference_namespaces(case, kind, made):
    """Namespaces of the scipy call and of the numpy expression, each with its
    own arrays holding the data of the vexa operands."""
    routine = case.routine_of(kind)
    arrays = {name: array for name, (_, array) in made.items()}
    scipy_ns = {**arrays, **scalars(kind), "copy": getattr(blas, kind + "copy")}
    if routine == "gels":
        lwork = getattr(lapack, kind + "gels_lwork")(*arrays["A"].shape, 1)[0]
        scipy_ns.update(routine=getattr(lapack, kind + "gels"), lwork=int(lwork.real))
        scipy_ns.update(
            {name + "_flat": arrays[name].reshape(-1, order="F") for name in ("A", "A0")}
        )
    else:
        scipy_ns["routine"] = getattr(blas, kind + routine)
    numpy_ns = {name: array.copy(order="F") for name, array in arrays.items()}
    return scipy_ns, numpy_ns | scalars(kind) | {"np": np}


def work(function, kind):
    """The unit and amount of work of one call on large operands: floating-point
    operations for gemm and matmul, elements of the largest operand otherwise."""
    if function in ("gemm", "matmul"):
        return "GFLOP/s", 2 * LARGE["m"] ** 3 * (4 if kind in COMPLEX_KINDS else 1)
    count = {"matvec": LARGE["g"] ** 2, "gemv": LARGE["g"] ** 2, "ls": LARGE["r"] * LARGE["c"]}
    return "G elements/s", count.get(function, LARGE["n"])
