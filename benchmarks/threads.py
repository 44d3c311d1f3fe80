"""vexa's calls and Python's interpreter lock: what releasing and retaking the lock costs, from
which amount of work each family of routines releases it, how long other Python threads stall
during a call, and how far threads run in parallel.

    .venv/bin/python benchmarks/threads.py [SECTION ...] [--baseline PYTHON] [--out FILE]

Sections (all by default):
  counts      callgrind: instructions per call of small kind-d calls, in this build and, with
              --baseline, in the vexa that another interpreter imports (a build from before the
              lock was released); and the instructions of one release and retake: scale at the
              level-1 threshold minus scale one element below it
  thresholds  per operation and kind, the smallest amount of work from which a release and
              retake costs at most 1% of the call: by callgrind counts (OPENBLAS_NUM_THREADS=1)
              and by wall time in one process (OpenBLAS's default threads); and what one
              release costs the caller while another Python thread wants the lock
  stalls      a second Python thread's longest stall during one call, as a fraction of the
              call's length (median of 3), above and below the thresholds, numpy beside
  parallel    two threads each running a 1500x1500 dgemm against one thread running both, and
              dask's threaded scheduler against its synchronous one on a vexa kernel, both with
              OPENBLAS_NUM_THREADS=1

The callgrind sections need valgrind and its callgrind.h header, the wall time of a release needs
Python's headers, both a C compiler; parallel's dask row needs dask[array] (the bench extra).
Writes benchmarks/results/threads.md by default; the thresholds are read from
src/Operations/unlocked.hpp.
"""

import argparse
import ctypes
import json
import math
import os
import platform
import re
import statistics
import subprocess
import sys
import sysconfig
import tempfile
import threading
import time
from pathlib import Path

from scalars import MARKS, loop
from scalars import counts as callgrind_counts
from timing import Statement, race

HERE = Path(__file__).resolve().parent
HEADER = HERE.parent / "src" / "Operations" / "unlocked.hpp"
KINDS = "sdcz"
# The lock held and released around a thread of C code that waits `work` seconds of wall time
# without it; called through ctypes.PyDLL, which keeps the lock held across the call.
RELEASE = r"""
#include <Python.h>
#include <time.h>
static double now(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (double)t.tv_sec + 1e-9 * (double)t.tv_nsec;
}
double release_pairs(long n, double work) {
  const double start = now();
  for (long i = 0; i < n; ++i) {
    PyThreadState* state = PyEval_SaveThread();
    const double until = now() + work;
    while (work > 0 && now() < until) {
    }
    PyEval_RestoreThread(state);
  }
  return now() - start - (double)n * work;
}
"""
# Operations by family, each with the shapes of its ladder (the amount of work is the product).
LADDERS = {
    "level1": {op: [(2**p,) for p in range(10, 19)] for op in ("scale", "axpy", "dot", "copy")},
    "product": {
        "gemm": [(n, n, n) for n in (16, 24, 32, 40, 48, 64, 80, 96, 128)],
        "gemv": [(n, n) for n in (64, 128, 181, 256, 362, 512, 1024)],
    },
    "solve": {"ls": [(2 * n, n, n) for n in (4, 8, 12, 16, 24, 32, 48, 64)]},
}
SMALL = [("scale", (8,)), ("axpy", (8,)), ("dot", (8,)), ("gemv", (8, 8)), ("gemm", (8, 8, 8)),
         ("ls", (8, 4, 4))]  # fmt: skip


def thresholds():
    """Each family's threshold, as unlocked.hpp states it."""
    found = re.findall(r"case Work::(\w+):\s*return ([0-9.e+]+);", HEADER.read_text())
    return {family: float(value) for family, value in found}


def statement(op, kind, shape):
    """The code of one call of op on kind's operands of the given shape, and its namespace.
    Coefficients keep repeated calls bounded; ls restores its operands by two copies first, and
    "ls copies" is those copies alone."""
    import numpy as np
    import vexa
    import vexa_io

    rng = np.random.default_rng(5)
    dtype = {"s": np.float32, "d": np.float64, "c": np.complex64, "z": np.complex128}[kind]

    def array(*dims):
        values = rng.standard_normal(dims) + (1j * rng.standard_normal(dims) if kind in "cz" else 0)
        return vexa_io.from_buffer(np.asfortranarray(values.astype(dtype)))

    one = 1.0 if kind in "sd" else complex(1.0)
    ns = {"f": getattr(vexa, op.split()[0]), "one": one, "zero": 0 * one, "small": 1e-6 * one}
    if op in ("scale", "axpy", "dot", "copy"):
        ns.update(x=array(shape[0]), y=array(shape[0]))
        code = {"scale": "f(-one, x)", "axpy": "f(small, x, y)"}.get(op, "f(x, y)")
    elif op == "gemv":
        ns.update(A=array(*shape), x=array(shape[1]), y=array(shape[0]))
        code = "f(one, zero, A, x, y)"
    elif op == "gemm":
        m, n, k = shape
        ns.update(A=array(m, k), X=array(k, n), Y=array(m, n))
        code = "f(one, zero, A, X, Y)"
    else:
        m, n, _ = shape
        ns.update(A0=array(m, n), b0=array(m), A=array(m, n), x=array(m), copy=vexa.copy)
        code = "copy(A0, A); copy(b0, x)" + ("" if op == "ls copies" else "; f(A, x)")
    return code, ns


# Counting: a child process under callgrind runs each case between client requests.


def count_child(spec, marks):
    lib = ctypes.CDLL(marks)
    lib.zero()  # ctypes prepares each function on its first call
    lib.dump(b"warm-up")
    for label, op, kind, shape, calls in json.loads(Path(spec).read_text()):
        code, ns = statement(op, kind, tuple(shape))
        for mark, run in ((label, loop(code, ns)), ("empty", loop("pass", ns))):
            run(range(3), **ns)  # warm the caches of the interpreter and of vexa
            lib.zero()
            run(range(calls), **ns)
            lib.dump(mark.encode())


def count(cases, python=sys.executable):
    """Instructions per call of each case (label, op, kind, shape), run by python's vexa."""
    spec = [(label, op, kind, shape, calls_for(op, shape)) for label, op, kind, shape in cases]
    with tempfile.TemporaryDirectory() as tmp:
        tmp = Path(tmp)
        (tmp / "marks.c").write_text(MARKS)
        (tmp / "spec.json").write_text(json.dumps(spec))
        marks = tmp / "marks.so"
        subprocess.run(["cc", "-shared", "-fPIC", "-O1", "-o", marks, tmp / "marks.c"], check=True)
        command = ["valgrind", "--tool=callgrind", f"--callgrind-out-file={tmp}/cg.out.%p",
                   "--dump-instr=no", "--dump-line=no", python, __file__, "--count-child",
                   str(tmp / "spec.json"), str(marks)]  # fmt: skip
        env = dict(os.environ, OPENBLAS_NUM_THREADS="1", PYTHONHASHSEED="0")
        subprocess.run(command, check=True, stderr=subprocess.DEVNULL, env=env)
        measured = callgrind_counts(tmp)
    calls = {label: n for label, _, _, _, n in spec}
    return {
        label: (total - empty) / calls[label]
        for (label, total), (_, empty) in zip(measured[::2], measured[1::2], strict=True)
    }


def calls_for(op, shape):
    """Enough calls for a few million instructions, at least five."""
    amount = math.prod(shape)
    return 2000 if amount <= 512 else max(5, min(2000, int(4e6 / amount)))


def release_count(python=sys.executable):
    """Instructions of one release and retake: scale at the level-1 threshold minus scale one
    element below it."""
    n = int(thresholds()["level1"])
    per_call = count([("at", "scale", "d", (n,)), ("below", "scale", "d", (n - 1,))], python)
    return per_call["at"] - per_call["below"]


def section_counts(args):
    names = [
        f"{op} {'x'.join(map(str, shape[:2] if op == 'ls' else shape))}" for op, shape in SMALL
    ]
    cases = [(f"{name} {kind}", op, kind, shape) for kind in KINDS
             for name, (op, shape) in zip(names, SMALL, strict=True)]  # fmt: skip
    cases += [(f"ls copies {kind}", "ls copies", kind, SMALL[-1][1]) for kind in KINDS]
    builds = {"this build": sys.executable}
    if args.baseline:
        builds["baseline"] = args.baseline
    measured = {name: count(cases, python) for name, python in builds.items()}
    for per_call in measured.values():
        for kind in KINDS:
            per_call[f"{names[-1]} {kind}"] -= per_call.pop(f"ls copies {kind}")
    released = {name: release_count(python) for name, python in builds.items()}
    lines = [
        "## Small calls: instructions per call",
        "",
        "callgrind instructions per call (a loop of calls minus an empty loop), "
        "OPENBLAS_NUM_THREADS=1; `ls` without the two copies that restore its operands. "
        + (f"Baseline: the vexa that `{args.baseline}` imports. " if args.baseline else "")
        + "Target: this build within 1% of the baseline.",
        "",
        "| call | kind | " + " | ".join(builds) + (" | ratio |" if args.baseline else " |"),
        "|---|---|" + "---|" * (len(builds) + bool(args.baseline)),
    ]
    for kind in KINDS:
        for name in names:
            label = f"{name} {kind}"
            row = [f"{measured[build][label]:.0f}" for build in builds]
            if args.baseline:
                row.append(f"{measured['this build'][label] / measured['baseline'][label]:.4f}")
            lines.append(f"| {name} | {kind} | " + " | ".join(row) + " |")
    n = int(thresholds()["level1"])
    lines += ["", f"One release and retake (scale d of {n} elements minus {n - 1}): "
              + ", ".join(f"{name} {value:.0f} instructions" for name, value in released.items())
              + "."]  # fmt: skip
    return lines


# Thresholds: per operation and kind, where a release costs 1% of the call.


def release_library(tmp):
    source, lib = Path(tmp) / "release.c", Path(tmp) / "release.so"
    source.write_text(RELEASE)
    include = sysconfig.get_paths()["include"]
    subprocess.run(["cc", "-shared", "-fPIC", "-O2", f"-I{include}", "-o", lib, source], check=True)
    release = ctypes.PyDLL(str(lib)).release_pairs
    release.restype, release.argtypes = ctypes.c_double, [ctypes.c_long, ctypes.c_double]
    return release


def release_seconds(release, rounds=20, pairs=20000):
    """Seconds per release and retake without other threads: the fastest of some rounds."""
    return min(release(pairs, 0.0) / pairs for _ in range(rounds))


def contended(release, work, pairs):
    """Per release around `work` seconds without the lock while another Python thread runs: the
    caller's extra seconds, and the other thread's steps, per release."""
    stop, steps = threading.Event(), [0]

    def spin():
        while not stop.is_set():
            steps[0] += 1

    other = threading.Thread(target=spin)
    other.start()
    time.sleep(0.02)
    before = steps[0]
    extra = release(pairs, work)
    made = steps[0] - before
    stop.set()
    other.join()
    return extra / pairs, made / pairs


def crossing(points, cost):
    """The smallest amount of work from which cost is at most 1% of every call at or above it,
    interpolated in log-log between the ladder's points (amount, cost per call); None when even
    the largest call costs less than 100 times cost."""
    passing = len(points)
    while passing > 0 and cost <= 0.01 * points[passing - 1][1]:
        passing -= 1
    if passing == len(points):
        return None
    if passing == 0:
        return points[0][0]
    (a0, c0), (a1, c1) = points[passing - 1], points[passing]
    t = (math.log(100 * cost) - math.log(c0)) / (math.log(c1) - math.log(c0))
    return math.exp(math.log(a0) + t * (math.log(a1) - math.log(a0)))


def ladder_cases():
    for family, ops in LADDERS.items():
        for op, shapes in ops.items():
            for kind in KINDS:
                for shape in shapes:
                    yield family, op, kind, shape


def section_thresholds(args):
    cases = list(ladder_cases())
    labels = [f"{op} {kind} {'x'.join(map(str, shape))}" for _, op, kind, shape in cases]
    instructions = count([(label, op, kind, shape) for label, (_, op, kind, shape) in
                          zip(labels, cases, strict=True)])  # fmt: skip
    released = release_count()
    with tempfile.TemporaryDirectory() as tmp:
        release = release_library(tmp)
        entries = {}
        for label, (_, op, kind, shape) in zip(labels, cases, strict=True):
            code, ns = statement(op, kind, shape)
            entries[label] = Statement(code, ns)
            if op == "ls":
                entries[label + " copies"] = Statement(*statement("ls copies", kind, shape))
        seconds = race(entries, repeat=5, budget=0.01)
        release_time = release_seconds(release)
        waits = [(work, *contended(release, work, pairs)) for work, pairs in
                 ((1e-5, 200), (1e-4, 40), (1e-3, 10))]  # fmt: skip
    for label in list(seconds):
        if label.endswith(" copies"):
            seconds[label[: -len(" copies")]] -= seconds.pop(label)
    limits = thresholds()
    lines = [
        "## Thresholds",
        "",
        f"One release and retake costs {released:.0f} instructions (callgrind: scale d at the "
        f"level-1 threshold minus one element below it) and {release_time * 1e9:.0f} ns of wall "
        "time without other threads (PyEval_SaveThread and PyEval_RestoreThread in a loop, "
        "fastest of 20 rounds). Per operation and kind: the smallest amount of work (level-1: "
        "elements; products: m·n·k, gemv m·n; solves: m·n·min(m, n)) from which that costs at "
        "most 1% of every call of the ladder at or above it, interpolated between the ladder's "
        "sizes. Instructions: callgrind, OPENBLAS_NUM_THREADS=1; time: fastest of 5 rounds, "
        "OpenBLAS's default threads, in one process. ls is timed without the two copies that "
        "restore its operands.",
        "",
        "| family | threshold | operation | kind | 1% by instructions | 1% by time | "
        "instructions at threshold | µs at threshold |",
        "|---|---|---|---|---|---|---|---|",
    ]
    for family, ops in LADDERS.items():
        limit = limits[family]
        for op, shapes in ops.items():
            for kind in KINDS:
                keys = [(math.prod(shape), f"{op} {kind} {'x'.join(map(str, shape))}")
                        for shape in shapes]  # fmt: skip
                by_count = crossing([(a, instructions[k]) for a, k in keys], released)
                by_time = crossing([(a, seconds[k]) for a, k in keys], release_time)
                at_count = interpolate([(a, instructions[k]) for a, k in keys], limit)
                at_time = interpolate([(a, seconds[k]) for a, k in keys], limit)
                cells = [family, f"{limit:.0f}", op, kind, amount(by_count), amount(by_time),
                         f"{at_count:.0f}", f"{at_time * 1e6:.1f}"]  # fmt: skip
                lines.append("| " + " | ".join(cells) + " |")
    lines += [
        "",
        "While another Python thread runs, a release lets it take the lock, and the caller waits "
        f"for its turn (the switch interval, {sys.getswitchinterval() * 1e3:g} ms) before it "
        "retakes it: per release around work without the lock, the caller's extra time and the "
        "other thread's loop steps.",
        "",
        "| work without the lock | caller's extra ms | other thread's steps |",
        "|---|---|---|",
    ]
    lines += [f"| {work * 1e6:.0f} µs | {extra * 1e3:.3f} | {steps:.0f} |"
              for work, extra, steps in waits]  # fmt: skip
    return lines


def amount(value):
    return "above the ladder" if value is None else f"{value:.0f}"


def interpolate(points, at):
    """Cost per call at an amount of work, log-log between the ladder's points."""
    for (a0, c0), (a1, c1) in zip(points, points[1:], strict=False):
        if a0 <= at <= a1:
            t = (math.log(at) - math.log(a0)) / (math.log(a1) - math.log(a0))
            return math.exp(math.log(c0) + t * (math.log(c1) - math.log(c0)))
    return math.nan


# Stalls: how long another Python thread waits while one call runs.


def stall_fraction(call, prepare=None):
    """The longest time within one call of `call` in which a second Python thread made no step,
    over the call's length; `prepare`, run before the watch starts, puts operands back."""
    if prepare:
        prepare()
    stop, gaps = threading.Event(), []

    def watch():
        last = time.perf_counter()
        while not stop.is_set():
            now = time.perf_counter()
            if now - last > 20e-6:
                gaps.append((last, now))
            last = now

    watcher = threading.Thread(target=watch)
    watcher.start()
    time.sleep(0.02)
    start = time.perf_counter()
    call()
    end = time.perf_counter()
    time.sleep(0.02)
    stop.set()
    watcher.join()
    longest = max((min(b, end) - max(a, start) for a, b in gaps), default=0.0)
    return max(longest, 0.0) / (end - start), end - start


def stall_rows():
    import numpy as np
    import vexa
    import vexa_io
    import vexa_linalg as la

    rng = np.random.default_rng(3)

    def matrix(m, n):
        return np.asfortranarray(rng.standard_normal((m, n)))

    def vexa_call(name, shape):
        if name == "gemm":
            a, x, y = (vexa_io.wrap(matrix(*shape)) for _ in range(3))
            return lambda: vexa.gemm(1.0, 0.0, a, x, y)
        if name == "gemv":
            a, x, y = vexa_io.wrap(matrix(*shape)), vexa_io.from_buffer(np.ones(shape[1])), None
            y = vexa_io.from_buffer(np.zeros(shape[0]))
            return lambda: vexa.gemv(1.0, 0.0, a, x, y)
        if name in ("ls", "gels"):
            a0, b0 = matrix(*shape), rng.standard_normal(shape[0])
            a, x = vexa_io.wrap(a0.copy(order="F")), vexa_io.wrap(b0.copy())
            solve = vexa.ls if name == "ls" else la.gels
            return lambda: solve(a, x)
        # The factorizations and trsm overwrite what the next call reads: each call gets the
        # same operands back before the watch starts.
        n = shape[0]
        a0 = matrix(n, n)
        a0 = {"trsm": np.triu(a0), "gesv": a0, "posv": a0 @ a0.T}[name] + n * np.eye(n)
        a1, b1 = np.asfortranarray(a0), np.asfortranarray(matrix(n, 1 if name != "trsm" else n))
        a, b = vexa_io.wrap(a1), vexa_io.wrap(b1)
        keep = a0.copy(order="F"), b1.copy(order="F")
        call = {
            "trsm": lambda: la.trsm("L", "U", "N", "N", 1.0, a, b),
            "gesv": lambda: la.gesv(a, b),
            "posv": lambda: la.posv("U", a, b),
        }[name]
        call.prepare = lambda: (np.copyto(a1, keep[0]), np.copyto(b1, keep[1]))
        return call

    def numpy_call(name, shape):
        a = matrix(*shape)
        if name == "gemm":
            out = np.empty(shape)
            return lambda: np.matmul(a, a, out=out)
        if name == "gemv":
            x, out = np.ones(shape[1]), np.empty(shape[0])
            return lambda: np.matmul(a, x, out=out)
        b = rng.standard_normal(shape[0])
        if name in ("ls", "gels"):
            return lambda: np.linalg.lstsq(a, b, rcond=None)
        if name == "gesv":
            shifted = a + shape[0] * np.eye(shape[0])
            return lambda: np.linalg.solve(shifted, b)
        return None

    square, tall = [(1500, 1500), (60, 60)], [(4000, 400), (100, 50)]
    sizes = {"gemm": square, "gemv": [(4000, 4000), (500, 500)], "ls": tall,
             "trsm": square, "gesv": square, "posv": square, "gels": tall}  # fmt: skip
    limits = thresholds()
    family = {"gemm": "product", "gemv": "product"}
    # Work as the calls reckon it: gesv and posv n^2 (n + right-hand sides), trsm m n order.
    amounts = {"gemm": lambda m, n: m * n * n, "gemv": lambda m, n: m * n,
               "ls": lambda m, n: m * n * min(m, n), "gels": lambda m, n: m * n * min(m, n),
               "trsm": lambda m, n: m * n * n, "gesv": lambda m, n: n * n * (n + 1),
               "posv": lambda m, n: n * n * (n + 1)}  # fmt: skip
    rows = []
    for name, shapes in sizes.items():
        for shape in shapes:
            work = amounts[name](*shape)
            side = "above" if work >= limits[family.get(name, "solve")] else "below"
            for library, make in (("vexa", vexa_call), ("numpy", numpy_call)):
                call = None if library == "numpy" and side == "below" else make(name, shape)
                if call is None:
                    continue
                prepare = getattr(call, "prepare", None)
                stall_fraction(call, prepare)
                measured = [stall_fraction(call, prepare) for _ in range(3)]
                fraction = statistics.median(f for f, _ in measured)
                length = statistics.median(t for _, t in measured)
                rows.append((f"{library} {name}", "x".join(map(str, shape)), work, side, length,
                             fraction))  # fmt: skip
    return rows


def section_stalls(args):
    lines = [
        "## Stalls",
        "",
        "A second Python thread loops on `time.perf_counter()`; its stall is the longest time "
        "within one call in which it made no step, over the call's length (median of 3 calls; "
        "1.0: the call held the lock throughout). Kind d; amounts as in the thresholds table; "
        "vexa_linalg's solves (trsm, gesv, posv, gels) beside vexa's; numpy: `matmul(out=)`, "
        "`linalg.lstsq` and `linalg.solve`.",
        "",
        "| call | shape | amount | threshold | call ms | stall / call |",
        "|---|---|---|---|---|---|",
    ]
    for name, shape, work, side, length, fraction in stall_rows():
        lines.append(f"| {name} | {shape} | {work} | {side} | {length * 1e3:.2f} | "
                     f"{fraction:.2f} |")  # fmt: skip
    return lines


# Parallel: children with OPENBLAS_NUM_THREADS=1, so that the parallelism is the threads'.


PAIR_ROUNDS = 21


def pair_child():
    import numpy as np
    import vexa
    import vexa_io

    rng = np.random.default_rng(4)
    operands = [[vexa_io.wrap(np.asfortranarray(rng.standard_normal((1500, 1500))))
                 for _ in range(3)] for _ in range(2)]  # fmt: skip

    def run(a, x, y):
        vexa.gemm(1.0, 0.0, a, x, y)

    def serial():
        for ops in operands:
            run(*ops)

    def parallel():
        threads = [threading.Thread(target=run, args=ops) for ops in operands]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()

    serial()
    ratios = []
    # A round lasts a fraction of a second on a fast core: enough of them that one disturbed by
    # other work on the machine does not move the median.
    for _ in range(PAIR_ROUNDS):
        begin = time.perf_counter()
        serial()
        middle = time.perf_counter()
        parallel()
        end = time.perf_counter()
        ratios.append((middle - begin, end - middle))
    return {"serial": [s for s, _ in ratios], "parallel": [p for _, p in ratios]}


def dask_child():
    import dask.array as da
    import numpy as np
    import vexa
    import vexa_io

    rng = np.random.default_rng(6)
    n, blocks = 1000, 8
    b = np.asfortranarray(rng.standard_normal((n, n)))
    right = vexa_io.wrap(b)

    def vexa_kernel(block):
        out = np.zeros((block.shape[0], n), order="F")
        vexa.gemm(1.0, 0.0, vexa_io.from_buffer(block), right, vexa_io.wrap(out))
        return out

    def numpy_kernel(block):
        return block @ b

    data = da.from_array(rng.standard_normal((n * blocks, n)), chunks=(n, n))
    times = {}
    for name, kernel in (("vexa", vexa_kernel), ("numpy", numpy_kernel)):
        result = data.map_blocks(kernel, dtype=float)
        result.compute(scheduler="synchronous")
        for scheduler in ("synchronous", "threads"):
            rounds = []
            for _ in range(3):
                begin = time.perf_counter()
                result.compute(scheduler=scheduler, num_workers=2)
                rounds.append(time.perf_counter() - begin)
            times[f"{name} {scheduler}"] = min(rounds)
    return times


def child_result(flag):
    env = dict(os.environ, OPENBLAS_NUM_THREADS="1")
    done = subprocess.run([sys.executable, __file__, flag], check=True, capture_output=True,
                          text=True, env=env)  # fmt: skip
    return json.loads(done.stdout)


def section_parallel(args):
    pair = child_result("--pair-child")
    ratios = [s / p for s, p in zip(pair["serial"], pair["parallel"], strict=True)]
    lines = [
        "## Parallel threads",
        "",
        "OPENBLAS_NUM_THREADS=1 in a child process. Two 1500x1500 dgemm: one thread running both "
        f"against two threads running one each ({PAIR_ROUNDS} rounds, median); target ≥ 1.7 on 2 "
        "cores.",
        "",
        "| one thread s | two threads s | speedup |",
        "|---|---|---|",
        f"| {statistics.median(pair['serial']):.3f} | {statistics.median(pair['parallel']):.3f} "
        f"| {statistics.median(ratios):.2f} |",
    ]
    try:
        times = child_result("--dask-child")
    except subprocess.CalledProcessError as failure:
        return lines + ["", f"dask: not measured ({failure.stderr.strip().splitlines()[-1]})"]
    lines += [
        "",
        "dask.array.map_blocks over eight 1000x1000 blocks, each multiplied by one 1000x1000 "
        'matrix: `compute(scheduler="synchronous")` against `scheduler="threads"` with two '
        "workers (fastest of 3). The vexa kernel copies its block in (`vexa_io.from_buffer`) and "
        "runs `vexa.gemm` into a wrapped output; numpy's is `block @ b`.",
        "",
        "| kernel | synchronous s | threads s | speedup |",
        "|---|---|---|---|",
    ]
    for name in ("vexa", "numpy"):
        sync, threads = times[f"{name} synchronous"], times[f"{name} threads"]
        lines.append(f"| {name} | {sync:.3f} | {threads:.3f} | {sync / threads:.2f} |")
    return lines


def openblas():
    """The configuration and threading of the OpenBLAS that vexa loaded."""
    import vexa  # noqa: F401 (loads its OpenBLAS)

    for path in sorted(
        {line.split()[-1] for line in open("/proc/self/maps") if "openblas" in line}
    ):
        lib = ctypes.CDLL(path)
        for prefix in ("scipy_", ""):
            if hasattr(lib, prefix + "openblas_get_config"):
                config, parallel = (getattr(lib, prefix + name) for name in
                                    ("openblas_get_config", "openblas_get_parallel"))  # fmt: skip
                config.restype = ctypes.c_char_p
                threading_model = {0: "sequential", 1: "pthreads", 2: "OpenMP"}[parallel()]
                return f"{config().decode().strip()}, threading {threading_model}"
    return "not found"


SECTIONS = {
    "counts": section_counts,
    "thresholds": section_thresholds,
    "stalls": section_stalls,
    "parallel": section_parallel,
}


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("sections", nargs="*", help=f"any of {', '.join(SECTIONS)} (default all)")
    parser.add_argument("--baseline", help="an interpreter whose vexa the counts compare with")
    parser.add_argument("--out", type=Path, default=HERE / "results" / "threads.md")
    parser.add_argument("--count-child", nargs=2, help=argparse.SUPPRESS)
    parser.add_argument("--pair-child", action="store_true", help=argparse.SUPPRESS)
    parser.add_argument("--dask-child", action="store_true", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.count_child:
        count_child(*args.count_child)
        return
    if args.pair_child or args.dask_child:
        print(json.dumps(pair_child() if args.pair_child else dask_child()))
        return
    args.sections = args.sections or list(SECTIONS)
    unknown = set(args.sections) - set(SECTIONS)
    if unknown:
        parser.error(f"unknown sections {sorted(unknown)}: choose from {', '.join(SECTIONS)}")
    cpu = [line.split(":")[1].strip() for line in open("/proc/cpuinfo") if "model name" in line]
    lines = [
        f"# Threads and the interpreter lock ({time.strftime('%Y-%m-%d %H:%M')})",
        "",
        f"- CPU {cpu[0] if cpu else platform.processor()}, {os.cpu_count()} cores; Python "
        f"{platform.python_version()}; load average {os.getloadavg()[0]:.1f} at the start",
        f"- vexa's OpenBLAS: {openblas()}",
        "- thresholds (src/Operations/unlocked.hpp): "
        + ", ".join(f"{family} {value:.0f}" for family, value in thresholds().items()),
        f"- `.venv/bin/python benchmarks/threads.py {' '.join(args.sections)}`",
    ]
    for name in args.sections:
        print(f"{name}...", flush=True)
        lines += ["", *SECTIONS[name](args)]
    args.out.write_text("\n".join(lines) + "\n")
    print(f"written to {args.out}")


if __name__ == "__main__":
    main()
