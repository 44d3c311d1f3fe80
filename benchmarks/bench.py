"""Call overhead and throughput of vexa, side by side with scipy.linalg.blas
(scipy.linalg.lapack for "ls") and numpy, in one process.

    .venv/bin/python benchmarks/bench.py [--quick] [--out DIR]

Small operands (8 elements, 8x8) measure the cost of a call, large ones the
throughput. Times are minima over interleaved repeats; every ratio compares
times from the same run. Writes results.md, results.json, overhead.png and
throughput.png to DIR: by default benchmarks/results, the committed results,
for a full run and build/bench-quick for a quick one, which may never write
over the committed results.
"""

import argparse
import ctypes
import json
import math
import os
import pickle
import platform
import time
import timeit
from pathlib import Path
from typing import NamedTuple

import matplotlib
import numpy as np
import scipy
import vexa
import vexa_io
from scipy.linalg import blas, lapack
from threadpoolctl import threadpool_limits

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

RESULTS = Path(__file__).resolve().parent / "results"
QUICK_OUT = RESULTS.parent.parent / "build" / "bench-quick"
# What PASS and FAIL mean, on the console and atop results.md.
LEGEND = [
    "A target is a limit on a ratio of times: vexa's time over the faster peer's (scipy, "
    "numpy), or over vexa's own call on its first overload. PASS: the measured ratio is at most "
    "the limit; FAIL names each ratio over its limit.",
    "A quick run (--quick) takes fewer and shorter repeats, so misses there are expected noise "
    "on a shared 2-core machine; the full run committed in benchmarks/results is the one that "
    "counts.",
    "First and last overload: each vexa function is one pybind11 overload chain over the kinds "
    "and container combinations; first and last are the positions in that chain of the first "
    "and the last overload a call of the kind can select. The chain alone tries overloads in "
    "order, so a late one costs more; vexa's fast front picks the overload directly, which "
    "makes the position irrelevant (target last/first ≤ 1.5). gemm and matmul have one "
    "overload per kind, hence no last.",
]
DTYPES = {"s": np.float32, "d": np.float64, "c": np.complex64, "z": np.complex128}
SMALL = {"n": 8, "h": 4, "g": 8, "m": 8, "r": 8, "c": 8}
LARGE = {"n": 10**6, "h": 5 * 10**5, "g": 4000, "m": 2000, "r": 2000, "c": 500}
EMPTY = dict.fromkeys(SMALL, 0)
L1, L1M = "x:{n} y:{n}", "x:{h}x2 y:{h}x2"
MV, MVM = "A:{g}x{g} x:{g} y:{g}", "A:{g}x{g} x:{g}x1 y:{g}x1"
MM = "A:{m}x{m} X:{m}x{m} Y:{m}x{m}"
LS, LSM = "A:{r}x{c} A0:{r}x{c} x:{r} b0:{r}", "A:{r}x{c} A0:{r}x{c} x:{r}x1 b0:{r}x1"


class Case(NamedTuple):
    function: str
    routine: str  # scipy's, "real|complex" where the kinds differ
    vexa: str
    scipy: str
    numpy: str
    # Operands ("name:length" or "name:rowsxcols") of the kind's first and last overload
    # that a call can select; scipy and numpy get the first's data.
    first: str
    last: str | None


class SmallRow(NamedTuple):  # SMALL_COLUMNS; element access has only vexa and numpy times
    function: str
    kind: str
    vexa_first: float
    vexa_last: float | None
    scipy: float | None
    numpy: float
    vexa_scipy: float | None
    vexa_numpy: float
    last_first: float | None
    result: str


class DispatchRow(NamedTuple):  # DISPATCH_COLUMNS
    function: str
    front_first: float
    front_last: float
    last_first: float
    chain_first: float
    chain_last: float
    result: str


class LargeRow(NamedTuple):  # LARGE_COLUMNS
    function: str
    kind: str
    vexa: float
    scipy: float
    numpy: float
    vexa_scipy: float
    vexa_best: float
    vexa_vexa: float
    gflops: float | None  # gemm only
    result: str


class IoCase(NamedTuple):
    operation: str
    vexa_io: str
    numpy: str | None  # the reference; None where the target is a time
    limit: float  # on vexa_io/numpy, or on vexa_io's seconds


class IoRow(NamedTuple):  # IO_COLUMNS
    operation: str
    vexa_io: float
    numpy: float | None
    ratio: float | None
    result: str


# ls consumes A and x, so every side restores them by two copies before solving.
# fmt: off
CASES = [Case(*case) for case in [
    ("scale", "scal", "f(u, x)", "g(u, x)", "x *= u", "x:{n}", "x:{h}x2"),
    ("sum", "axpy", "f(x, y)", "g(x, y, a=1.0)", "y += x", L1, L1M),
    ("dot", "dot|dotu", "f(x, y)", "g(x, y)", "np.dot(x, y)", L1, L1M),
    ("copy", "copy", "f(x, y)", "g(x, y)", "y[:] = x", L1, L1M),
    ("swap", "swap", "f(x, y)", "g(x, y)", "t = x.copy(); x[:] = y; y[:] = t", L1, L1M),
    ("axpy", "axpy", "f(a, x, y)", "g(x, y, a=a)", "y += a * x", L1, L1M),
    ("hdot", "|dotc", "f(x, y)", "g(x, y)", "np.vdot(x, y)", L1, L1M),
    ("matvec", "gemv", "f(A, x, y)", "g(1.0, A, x, 1.0, y, overwrite_y=1)", "y += A @ x", MV, MVM),
    ("gemv", "gemv", "f(a, b, A, x, y)", "g(a, A, x, b, y, overwrite_y=1)",
     "np.add(a * (A @ x), b * y, out=y)", MV, MVM),
    ("gemm", "gemm", "f(a, b, A, X, Y)", "g(a, A, X, b, Y, overwrite_c=1)",
     "np.add(a * (A @ X), b * Y, out=Y)", MM, None),
    ("matmul", "gemm", "f(A, X, Y)", "g(1.0, A, X, 1.0, Y, overwrite_c=1)", "Y += A @ X", MM, None),
    ("ls", "gels", "cp(A0, A); cp(b0, x); f(A, x)",
     "cp(A0f, Af); cp(b0, x); g(A, x, lwork=lw, overwrite_a=1, overwrite_b=1)",
     "np.linalg.lstsq(A0, b0, rcond=None)", LS, LSM),
]]
# Operands of IO_CASES: a 1000x1000 C-ordered array, and the same shape cut
# from every other row and column of a 2000x2000 one.
IO_CASES = [
    IoCase("asbuffer, vecd of 8", "asbuffer(v)", None, 0.5e-6),
    IoCase("asbuffer, matd 1000x1000", "asbuffer(m)", None, 0.5e-6),
    IoCase("from_buffer, 10^6 float64", "from_buffer(a)", "np.copy(a)", 1.5),
    IoCase("from_buffer, 1000x1000 C order", "from_buffer(c)", "np.asfortranarray(c)", 2.0),
    IoCase("from_buffer, 1000x1000 strided", "from_buffer(t)", "np.asfortranarray(t)", 2.0),
    IoCase("wrap, float64 of 8", "wrap(w)", None, 1e-6),
    IoCase("wrap, 1000x1000 F order", "wrap(f)", None, 1e-6),
    IoCase("pickle 5 round trip, matd 1000x1000", "loads(dumps(m, protocol=5))",
           "loads(dumps(f, protocol=5))", 1.2),
    IoCase("pickle 5 out of band, matd 1000x1000", "dumps(m, protocol=5, buffer_callback=oob)",
           "dumps(f, protocol=5, buffer_callback=oob)", 1.2),
]
ELEMENTS = [("read vec", "x[3]", "x:{n}"), ("write vec", "x[3] = u", "x:{n}"),
            ("read mat", "A[2, 3]", "A:{g}x{g}"), ("write mat", "A[2, 3] = u", "A:{g}x{g}")]
SMALL_COLUMNS = ["function", "kind", "vexa first ns", "vexa last ns", "scipy ns", "numpy ns",
                 "vexa/scipy", "vexa/numpy", "last/first", "result"]
DISPATCH_COLUMNS = ["function", "front first ns", "front last ns", "last/first",
                    "chain first ns", "chain last ns", "result"]
LARGE_COLUMNS = ["function", "kind", "vexa ms", "scipy ms", "numpy ms", "vexa/scipy", "vexa/best",
                 "vexa/vexa", "vexa GFLOP/s", "result"]
IO_COLUMNS = ["operation", "vexa_io µs", "numpy µs", "vexa_io/numpy", "result"]
THROUGHPUT_COLUMNS = ["function", "kind", "unit", "vexa", "scipy", "numpy"]
# fmt: on


def scalars(kind):
    """Coefficients that keep repeated in-place updates bounded ("u" scales exactly)."""
    if kind in "cz":
        return {"a": 0.5 + 0.25j, "b": 0.5 - 0.25j, "u": 1j}
    return {"a": 0.5, "b": 0.5, "u": -1.0}


def operands(kind, layout, sizes, seed=1):
    """Vexa containers and numpy arrays (matrices in Fortran order) holding the
    same random values, by name. Large containers are filled by copying one
    filled chunk into consecutive views, as element writes would take minutes."""
    rng, made = np.random.default_rng(seed), {}
    for item in layout.format(**sizes).split():
        name, shape = item.split(":")
        dims = [int(d) for d in shape.split("x")]
        size, count = math.prod(dims), min(math.prod(dims), 4099)
        chunk = rng.standard_normal(count) + (
            1j * rng.standard_normal(count) if kind in "cz" else 0
        )
        chunk = chunk.astype(DTYPES[kind])
        piece, flat = getattr(vexa, "vec" + kind)(count), getattr(vexa, "vec" + kind)(size)
        for i, value in enumerate(chunk):
            piece[i] = value.item()
        for start in range(0, size, max(1, count)):
            stop = min(start + count, size)
            vexa.copy(piece[0 : stop - start], flat[start:stop])
        array = np.resize(chunk, size)
        if len(dims) == 2:
            flat = vexa.copy(flat, getattr(vexa, "mat" + kind)(*dims))
            array = array.reshape(dims, order="F")
        made[name] = (flat, array)
    return made


def vexa_ns(name, kind, made):
    containers = {k: v for k, (v, _) in made.items()}
    return {"f": getattr(vexa, name), "cp": vexa.copy, **scalars(kind), **containers}


def reference_ns(case, kind, made):
    """Namespaces of the scipy call and of the numpy expression, each with its
    own arrays holding the data of the vexa operands."""
    routine = case.routine.split("|")[kind in "cz"] if "|" in case.routine else case.routine
    arrays = {k: a for k, (_, a) in made.items()}
    scipy_ns = {**arrays, **scalars(kind), "cp": getattr(blas, kind + "copy")}
    if routine == "gels":
        lwork = getattr(lapack, kind + "gels_lwork")(*arrays["A"].shape, 1)[0]
        scipy_ns.update(g=getattr(lapack, kind + "gels"), lw=int(lwork.real))
        scipy_ns.update({k + "f": arrays[k].reshape(-1, order="F") for k in ("A", "A0")})
    else:
        scipy_ns["g"] = getattr(blas, kind + routine)
    numpy_ns = {k: a.copy(order="F") for k, a in arrays.items()} | scalars(kind) | {"np": np}
    return scipy_ns, numpy_ns


def timers(entries, budget):
    """A timeit.Timer per (statement, namespace), the namespace bound to local
    variables of the timing loop, with the number of executions that takes
    about `budget` seconds."""
    made = []
    for stmt, ns in entries:
        timer = timeit.Timer(stmt, "; ".join(f"{k} = _ns[{k!r}]" for k in ns), globals={"_ns": ns})
        number = 1
        while (elapsed := timer.timeit(number)) < budget / 10:
            number *= 10
        made.append((timer, max(1, int(number * budget / elapsed))))
    return made


def race(entries, repeat, budget):
    """Seconds per execution of each (statement, namespace): the minimum over
    `repeat` rounds of about `budget` seconds, the rounds interleaving the
    entries so that drift hits all alike."""
    best = [math.inf] * len(entries)
    timed = timers(entries, budget)
    for _ in range(repeat):
        for i, (timer, number) in enumerate(timed):
            best[i] = min(best[i], timer.timeit(number) / number)
    return best


def race_large(entries, seconds, batch=0.002, turn=0.05):
    """Seconds per execution of each (statement, namespace) on large operands:
    the fastest batch of about `batch` seconds (one execution if that takes
    longer). The entries take turns of about `turn` seconds, each opened by an
    untimed batch that brings its operands back into the caches, for about
    `seconds` in all and at least three rounds, so a passing load from
    elsewhere on the machine hits all alike."""
    best = [math.inf] * len(entries)
    timed = timers(entries, batch)
    start, rounds = time.perf_counter(), 0
    while rounds < 3 or time.perf_counter() - start < seconds:
        for i, (timer, number) in enumerate(timed):
            timer.timeit(number)
            begin = time.perf_counter()
            while True:
                best[i] = min(best[i], timer.timeit(number) / number)
                if time.perf_counter() - begin >= turn:
                    break
        rounds += 1
    return best


def work(function, kind):
    """The unit and amount of work of one call on large operands: floating-point
    operations for gemm and matmul, elements of the largest operand otherwise."""
    if function in ("gemm", "matmul"):
        return "GFLOP/s", 2 * LARGE["m"] ** 3 * (4 if kind in "cz" else 1)
    count = {"matvec": LARGE["g"] ** 2, "gemv": LARGE["g"] ** 2, "ls": LARGE["r"] * LARGE["c"]}
    return "G elements/s", count.get(function, LARGE["n"])


def throughput(row):
    unit, amount = work(row.function, row.kind)
    return [row.function, row.kind, unit] + [amount / t / 1e9 for t in row[2:5]]


def kinds_of(case, kinds):
    return [k for k in kinds if "|" not in case.routine or case.routine.split("|")[k in "cz"]]


def verdict(*checks):
    failed = [f"{name} {value:.2f} > {limit}" for name, value, limit in checks if value > limit]
    return "FAIL: " + ", ".join(failed) if failed else "PASS"


def small_rows(repeat, budget):
    rows = []
    for case in CASES:
        for kind in kinds_of(case, "sdcz"):
            made = operands(kind, case.first, SMALL)
            first = vexa_ns(case.function, kind, made)
            last = case.last and vexa_ns(case.function, kind, operands(kind, case.last, SMALL))
            scipy_ns, numpy_ns = reference_ns(case, kind, made)
            entries = [(case.vexa, first), (case.scipy, scipy_ns), (case.numpy, numpy_ns)]
            times = race(entries + ([(case.vexa, last)] if last else []), repeat, budget)
            t_first, t_scipy, t_numpy = times[:3]
            t_last = times[3] if last else None
            worst, pos = max(t_first, t_last or 0), t_last and t_last / t_first
            checks = [("scipy", worst / t_scipy, 1.0), ("numpy", worst / t_numpy, 0.5)]
            checks += [("last/first", pos, 1.5)] if pos else []
            ratios = worst / t_scipy, worst / t_numpy, pos
            row = SmallRow(
                case.function, kind, t_first, t_last, t_scipy, t_numpy, *ratios, verdict(*checks)
            )
            rows.append(row)
    for name, stmt, layout in ELEMENTS:
        for kind in "sdcz":
            made = operands(kind, layout, SMALL)
            spaces = [
                {k: pair[side] for k, pair in made.items()} | scalars(kind) for side in (0, 1)
            ]
            t_vexa, t_numpy = race([(stmt, spaces[0]), (stmt, spaces[1])], repeat, budget)
            rows.append(
                SmallRow(name, kind, t_vexa, None, None, t_numpy, None, t_vexa / t_numpy, None, "—")
            )
    return rows


def dispatch_rows(repeat, budget):
    """Empty operands: the call alone, on the chain's first and last overload
    that a call can select, through the front and through the overload chain."""
    rows = []
    for case in CASES:
        kinds, call = kinds_of(case, "sdcz"), case.vexa.split("; ")[-1]
        first = vexa_ns(case.function, kinds[0], operands(kinds[0], case.first, EMPTY))
        last = vexa_ns(
            case.function, kinds[-1], operands(kinds[-1], case.last or case.first, EMPTY)
        )
        chain = {"f": getattr(vexa, case.function).__self__}
        entries = [(call, first), (call, last), (call, first | chain), (call, last | chain)]
        front_first, front_last, chain_first, chain_last = race(entries, repeat, budget)
        pos = front_last / front_first
        result = verdict(("last/first", pos, 1.5))
        row = DispatchRow(
            case.function, front_first, front_last, pos, chain_first, chain_last, result
        )
        rows.append(row)
    return rows


def large_rows(kinds, seconds):
    """One BLAS thread per library: numpy, scipy and vexa each bring an
    OpenBLAS whose workers spin for about 0.1 s after a call, so with their
    default threads the three pools take the two cores from each other and
    vexa timed against itself spreads by up to 16%. The second vexa entry,
    the same values in containers allocated anew, is the control: where the
    operands sit in memory moves these times by several percent."""
    rows = []
    with threadpool_limits(limits=1, user_api="blas"):
        for case in CASES:
            for kind in kinds_of(case, kinds):
                made = operands(kind, case.first, LARGE)
                scipy_ns, numpy_ns = reference_ns(case, kind, made)
                again = vexa_ns(case.function, kind, operands(kind, case.first, LARGE))
                entries = [(case.vexa, vexa_ns(case.function, kind, made)), (case.vexa, again)]
                entries.append((case.scipy, scipy_ns))
                times = race_large(entries + [(case.numpy, numpy_ns)], seconds)
                t_vexa, t_again, t_scipy, t_numpy = times
                ratio = t_vexa / min(t_scipy, t_numpy)
                ratios = t_vexa / t_scipy, ratio, t_vexa / t_again
                unit, amount = work(case.function, kind)
                gflops = amount / t_vexa / 1e9 if unit == "GFLOP/s" else None
                result = verdict(("best", ratio, 1.03))
                row = LargeRow(
                    case.function, kind, t_vexa, t_scipy, t_numpy, *ratios, gflops, result
                )
                rows.append(row)
                del made, entries, scipy_ns, numpy_ns, again
    return rows


def io_rows(seconds):
    """vexa_io against the numpy call that makes the same array, or against
    a time for asbuffer, which must not depend on the size."""
    rng = np.random.default_rng(2)
    ns = {"asbuffer": vexa_io.asbuffer, "from_buffer": vexa_io.from_buffer, "np": np,
          "v": vexa.vecd(8), "m": vexa.matd(1000, 1000), "a": rng.standard_normal(10**6),
          "c": rng.standard_normal((1000, 1000)),
          "t": rng.standard_normal((2000, 2000))[::2, ::2],
          "wrap": vexa_io.wrap, "w": np.zeros(8),
          "f": np.asfortranarray(rng.standard_normal((1000, 1000))),
          "dumps": pickle.dumps, "loads": pickle.loads, "oob": lambda buffer: False}  # fmt: skip
    rows = []
    for case in IO_CASES:
        entries = [(case.vexa_io, ns)] + ([(case.numpy, ns)] if case.numpy else [])
        times = race_large(entries, seconds)
        if case.numpy:
            ratio = times[0] / times[1]
            rows.append(IoRow(case.operation, times[0], times[1], ratio,
                              verdict(("numpy", ratio, case.limit))))  # fmt: skip
        else:
            rows.append(IoRow(case.operation, times[0], None, None,
                              verdict(("µs", times[0] * 1e6, case.limit * 1e6))))  # fmt: skip
    return rows


def machine():
    """CPU, versions, OPENBLAS_* settings, and the configuration and core of
    every OpenBLAS library loaded in this process (numpy, scipy and vexa each
    bring their own)."""
    cpu = [line.split(":")[1].strip() for line in open("/proc/cpuinfo") if "model name" in line]
    env = {k: v for k, v in os.environ.items() if k.startswith("OPENBLAS")} or "none set"
    facts = [f"CPU {cpu[0] if cpu else platform.processor()}, {os.cpu_count()} cores; "
             f"Python {platform.python_version()}, numpy {np.__version__}, scipy "
             f"{scipy.__version__}; OPENBLAS_* environment: {env}"]  # fmt: skip
    for path in sorted(
        {line.split()[-1] for line in open("/proc/self/maps") if "openblas" in line}
    ):
        lib = ctypes.CDLL(path)
        for suffix in ("64_", ""):
            if hasattr(lib, "scipy_openblas_get_config" + suffix):
                config = getattr(lib, "scipy_openblas_get_config" + suffix)
                core = getattr(lib, "scipy_openblas_get_corename" + suffix)
                config.restype = core.restype = ctypes.c_char_p
                owner = next(d.name for d in Path(path).parents if d.parent.name == "site-packages")
                user = {"numpy.libs": "numpy", "scipy.libs": "scipy"}.get(owner, "vexa")
                facts.append(f"{owner} (used by {user}): {config().decode()}, "
                             f"core {core().decode()}")  # fmt: skip
                break
    return facts


def cell(column, value):
    if value is None:
        return "—"
    if isinstance(value, str):
        return value
    scale, digits = {"ns": (1e9, 0), "µs": (1e6, 3), "ms": (1e3, 3), "/s": (1, 1)}.get(
        column[-2:], (1, 2)
    )
    return f"{value * scale:.{digits}f}"


def table(columns, rows):
    lines = ["| " + " | ".join(columns) + " |", "|" + "---|" * len(columns)]
    return lines + ["| " + " | ".join(map(cell, columns, row)) + " |" for row in rows]


def write_report(out_dir, mode, floor, small, dispatch, large, io):
    paragraphs = [part for line in LEGEND for part in (line, "")]
    out = [f"# vexa call overhead and throughput ({mode} mode, {time.strftime('%Y-%m-%d %H:%M')})",
           "", *paragraphs, *[f"- {fact}" for fact in machine()],
           f"- floor: `len(())` takes {cell('ns', floor)} ns",
           "", "## Small operands (8 elements, 8x8), ns per call", "",
           "Targets: the slower of vexa's first and last overload ≤ 1.0 × scipy and ≤ 0.5 × numpy; "
           "last ≤ 1.5 × first. ls rows time copy A, copy b, solve on both vexa and scipy "
           "(lwork precomputed for scipy); numpy runs lstsq. Element access has no target.", "",
           *table(SMALL_COLUMNS, small), "",
           "![call overhead](overhead.png)", "",
           "## The call alone (empty operands): the chain's first and last selectable overload", "",
           "Through the front (vexa.NAME) and through the overload chain (vexa.NAME.__self__).", "",
           *table(DISPATCH_COLUMNS, dispatch), "",
           "## Large operands (10^6 elements, gemv 4000x4000, gemm 2000x2000, ls 2000x500)", "",
           "Target: vexa ≤ 1.03 × the faster of numpy and scipy. vexa/scipy compares the same "
           "BLAS routine called through both wrappers. Each library runs one BLAS thread: with "
           "their default threads the three OpenBLAS pools in the process take the two cores from "
           "each other. vexa/vexa times vexa against a second allocation of the same operands: "
           "the row's noise.", "",
           *table(LARGE_COLUMNS, large), "",
           "Throughput of each library: GFLOP/s for gemm and matmul, otherwise elements of the "
           "largest operand per second (10^6 for vectors, 1.6·10^7 for gemv's A, 10^6 for ls's A).",
           "", "![large-operand throughput](throughput.png)", "",
           "## Bulk exchange through vexa_io", "",
           "Targets: asbuffer under 0.5 µs whatever the size; from_buffer ≤ 1.5 × numpy.copy of "
           "a contiguous array, ≤ 2 × numpy.asfortranarray of a C-ordered or strided one; wrap "
           "under 1 µs whatever the size; pickling a matd with protocol 5 (loads of dumps in "
           "band, dumps alone out of band) ≤ 1.2 × the same for a numpy array of its shape.", "",
           *table(IO_COLUMNS, io)]  # fmt: skip
    (out_dir / "results.md").write_text("\n".join(out) + "\n")
    data = {"mode": mode, "floor": floor, "small": [SMALL_COLUMNS, *small],
            "dispatch": [DISPATCH_COLUMNS, *dispatch],
            "large": [LARGE_COLUMNS, *large], "io": [IO_COLUMNS, *io],
            "throughput": [THROUGHPUT_COLUMNS, *map(throughput, large)]}  # fmt: skip
    (out_dir / "results.json").write_text(json.dumps(data, indent=1))


def plot_overhead(out_dir, small, floor):
    """Only measured bars: gemm and matmul have no last overload, so their
    second slot stays empty."""
    rows = [row for row in small if row.scipy is not None]
    fig, ax = plt.subplots(figsize=(18, 6))
    bars = [
        ("vexa, first overload in the chain", "vexa_first"),
        ("vexa, last overload in the chain", "vexa_last"),
        ("scipy", "scipy"),
        ("numpy", "numpy"),
    ]
    for i, (label, field) in enumerate(bars):
        measured = [(j, getattr(row, field)) for j, row in enumerate(rows)]
        measured = [(j, t) for j, t in measured if t is not None]
        ax.bar([j + (i - 1.5) * 0.2 for j, _ in measured], [t * 1e9 for _, t in measured], 0.2,
               label=label)  # fmt: skip
    ax.axhline(floor * 1e9, color="black", linewidth=0.8, label="floor: len(())")
    ax.set_xticks(range(len(rows)), [f"{row.function} {row.kind}" for row in rows], rotation=90)
    title = "vexa call overhead (gemm and matmul: one overload per kind, no last bar)"
    ax.set(yscale="log", ylabel="ns per call (8 elements, 8x8)", title=title)
    ax.legend()
    fig.tight_layout()
    fig.savefig(out_dir / "overhead.png", dpi=110)


def plot_throughput(out_dir, large):
    """One panel per function, the kinds side by side, higher is faster."""
    rows = [throughput(row) for row in large]
    functions = list(dict.fromkeys(row[0] for row in rows))
    columns = 4
    fig, axes = plt.subplots(math.ceil(len(functions) / columns), columns, figsize=(16, 10),
                             squeeze=False)  # fmt: skip
    for ax, function in zip(axes.flat, functions, strict=False):
        mine = [row for row in rows if row[0] == function]
        for i, library in enumerate(THROUGHPUT_COLUMNS[3:]):
            values = [row[3 + i] for row in mine]
            ax.bar([j + (i - 1) * 0.27 for j in range(len(mine))], values, 0.27, label=library,
                   color=f"C{i}")  # fmt: skip
        ax.set_xticks(range(len(mine)), [row[1] for row in mine])
        ax.set_title(function)
        ax.set_ylabel(mine[0][2])
    for ax in axes.flat[len(functions) :]:
        ax.remove()
    fig.legend(*axes.flat[0].get_legend_handles_labels(), loc="upper right", ncol=3)
    fig.suptitle("Large-operand throughput, one BLAS thread per library (higher is faster)")
    fig.tight_layout(rect=(0, 0, 1, 0.96))
    fig.savefig(out_dir / "throughput.png", dpi=110)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--quick", action="store_true", help="fewer repeats; large: kind d only")
    parser.add_argument(
        "--out", type=Path, help=f"where to write (default {RESULTS}, with --quick {QUICK_OUT})"
    )
    args = parser.parse_args()
    quick, out_dir = args.quick, (args.out or (QUICK_OUT if args.quick else RESULTS)).resolve()
    if quick and out_dir == RESULTS:
        parser.error(f"--quick never writes over the committed results in {RESULTS}")
    repeat, budget = (3, 0.004) if quick else (7, 0.02)
    out_dir.mkdir(parents=True, exist_ok=True)
    floor = race([("f(a)", {"f": len, "a": ()})], repeat, budget)[0]
    small = small_rows(repeat, budget)
    dispatch = dispatch_rows(repeat, budget)
    large = large_rows("d" if quick else "sdcz", 1.0 if quick else 6.0)
    io = io_rows(1.0 if quick else 6.0)
    write_report(out_dir, "quick" if quick else "full", floor, small, dispatch, large, io)
    plot_overhead(out_dir, small, floor)
    plot_throughput(out_dir, large)
    missed = [row for row in small + dispatch + large + io if row.result.startswith("FAIL")]
    print(*LEGEND, sep="\n")
    for row in missed:
        print(f"  {row[0]} {getattr(row, 'kind', '')}".rstrip() + f": {row.result}")
    print(f"{len(missed)} rows missed a target ({'quick' if quick else 'full'} run); "
          f"tables and plots in {out_dir}")  # fmt: skip


if __name__ == "__main__":
    main()
