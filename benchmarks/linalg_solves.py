"""vexa_linalg's solves by a factorization (gesv, posv, potrf, potrs): instructions per call on
small problems beside scipy.linalg.lapack's wrappers of the same routines plus the condition
estimate, and beside the LAPACK routines' own count; timed rows side by side in one process; and
the order of the Hilbert matrix from which each kind refuses.

    .venv/bin/python benchmarks/linalg_solves.py [--quick] [--out DIR] [--calls N]

Instructions: valgrind's callgrind runs this file with --child, as benchmarks/linalg_calls.py
does. Each figure is a loop of N calls minus a loop of N turns of the statements that put the
operands back (every call overwrites them), between callgrind client requests; the LAPACK
routines' count is the inclusive cost of the LAPACKE_*_work calls inside vexa's loop, the
routines themselves without the bindings and checks. scipy's statement is its wrapper of the
same driver plus what a caller needs for the same refusal: ?lange's 1-norm before factoring and
?gecon or ?pocon after (potrf and potrs: the routine alone, as vexa's). One BLAS thread.

Timed rows (one BLAS thread per library, the entries interleaved round by round): 10,000
separate 4 x 4 gesv calls from a Python loop beside the same loop over scipy's dgesv; the ridge
path of examples/ridge.py beside numpy's fastest formulation; 1000 x 1000 gesv and posv beside
scipy's drivers with and without the condition estimate. Writes linalg_solves.md to DIR: by
default benchmarks/results, and build/bench-quick for --quick.
"""

import argparse
import sys
import time
from dataclasses import dataclass
from pathlib import Path

from cases import Target
from linalg_calls import loop
from report import add_output_options, machine, output_dir
from scalars import counted_loops

KINDS = "sdcz"
SIZES = ((4, 1), (4, 8), (8, 1), (8, 8), (50, 1), (50, 8))
TARGETS = {
    "scipy": Target("scipy", 0.6, "vexa ≤ {limit} × the instructions of scipy's statement"),
    "lapack": Target("LAPACK", 1.25, "≤ {limit} × those of the LAPACK routines alone"),
    "batch": Target("scipy", 0.5, "vexa ≤ {limit} × scipy's time (at least 2× faster)"),
    "ridge": Target("numpy", 1.0, "vexa ≤ {limit} × numpy's fastest formulation"),
    "large": Target("scipy", 1.05, "vexa ≤ {limit} × scipy's time"),
}


@dataclass(frozen=True)
class Solve:
    """A function's statements: vexa's call and scipy's, each after the statements that put its
    operands back, which alone make the baseline loop. f is the vexa function, g scipy's
    driver, con its condition estimate, lange its norm."""

    vexa: str
    vexa_back: str
    scipy: str
    scipy_back: str
    scipy_names: str  # driver|estimate, {r} the kind's letter
    rhs: bool = True


BACK = "copy(A0, A); copy(B0, B)"
BACK_ARRAYS = "Aa[...] = A0a; Ba[...] = B0a"
ESTIMATED = "norm = lange('1', Aa); g(Aa, Ba, overwrite_a=1, overwrite_b=1); con(Aa, norm)"
SOLVES = {
    "gesv": Solve("f(A, B)", BACK, ESTIMATED, BACK_ARRAYS, "{r}gesv|{r}gecon"),
    "posv": Solve("f('U', A, B)", BACK, ESTIMATED, BACK_ARRAYS, "{r}posv|{r}pocon"),
    "potrf": Solve("f('U', A)", "copy(A0, A)", "g(Aa, clean=0, overwrite_a=1)", "Aa[...] = A0a",
                   "{r}potrf|", rhs=False),
    "potrs": Solve("f('U', C, B)", "copy(B0, B)", "g(Ca, Ba, overwrite_b=1)", "Ba[...] = B0a",
                   "{r}potrs|"),
}  # fmt: skip


def cases():
    for name, solve in SOLVES.items():
        for n, nrhs in SIZES:
            if solve.rhs or nrhs == 1:
                yield name, n, nrhs if solve.rhs else 0


def positive_definite(kind, n, rng):
    """A well-conditioned Hermitian positive definite matrix of the kind (Fortran order)."""
    import numpy as np

    dtype = {"s": np.float32, "d": np.float64, "c": np.complex64, "z": np.complex128}[kind]
    m = rng.standard_normal((n, n))
    if kind in "cz":
        m = m + 1j * rng.standard_normal((n, n))
    return np.asfortranarray(m @ m.conj().T + n * np.eye(n)).astype(dtype, order="F")


def operands(kind, n, nrhs, rng):
    """vexa containers and numpy arrays with the same values: A0 and B0 to put A and B back
    from, C the Cholesky factor of A0 (upper); a single right-hand side is a vector for vexa and
    an n x 1 array for scipy."""
    import numpy as np
    import scipy.linalg
    import vexa
    import vexa_io

    a = positive_definite(kind, n, rng)
    b = np.asfortranarray(rng.standard_normal((n, max(nrhs, 1)))).astype(a.dtype, order="F")
    c = np.asfortranarray(scipy.linalg.cholesky(a))
    made = {"copy": vexa.copy}
    for name, values in (("A", a), ("B", b), ("C", c)):
        flat = values[:, 0].copy() if name == "B" and nrhs <= 1 else values
        made[name] = vexa_io.from_buffer(flat)
        made[name + "0"] = vexa_io.from_buffer(flat)
        made[name + "a"] = values.copy(order="F")
        made[name + "0a"] = values.copy(order="F")
    return made


def child(calls, marks):
    import ctypes

    import numpy as np
    import vexa_linalg
    from scipy.linalg import lapack

    lib = ctypes.CDLL(marks)
    lib.zero()  # ctypes prepares each function on its first call
    lib.dump(b"warm-up")
    rng = np.random.default_rng(7)
    for name, n, nrhs in cases():
        solve = SOLVES[name]
        turns = calls if n <= 8 else max(calls // 10, 5)
        for kind in KINDS:
            namespace = operands(kind, n, nrhs, rng)
            driver, estimate = solve.scipy_names.format(r=kind).split("|")
            namespace |= {"g": getattr(lapack, driver), "lange": getattr(lapack, kind + "lange")}
            if estimate:
                namespace["con"] = getattr(lapack, estimate)
            names = sorted(namespace)
            sides = (
                ("vexa", solve.vexa_back, solve.vexa, getattr(vexa_linalg, name)),
                ("scipy", solve.scipy_back, solve.scipy, None),
            )
            for side, back, statement, function in sides:
                run = loop(f"{back}; {statement}", ["f", *names])
                empty = loop(back, ["f", *names])
                arguments = {"f": function, **namespace}
                run(range(5), **arguments)  # warm the interpreter's and the libraries' caches
                for mark, timed in ((f"{name}|{n}|{nrhs}|{kind}|{side}|{turns}", run),
                                    ("empty", empty)):  # fmt: skip
                    lib.zero()
                    timed(range(turns), **arguments)
                    lib.dump(mark.encode())


@dataclass
class Counted:
    name: str
    n: int
    nrhs: int
    kind: str
    vexa: float
    lapack: float  # of which in the LAPACKE routines
    scipy: float

    def result(self):
        missed = [
            text
            for target, value in (
                (TARGETS["scipy"], self.vexa / self.scipy),
                (TARGETS["lapack"], self.vexa / self.lapack),
            )
            if (text := target.miss(value))
        ]
        return "FAIL: " + ", ".join(missed) if missed else "PASS"


def instructions(calls):
    """Runs the child under callgrind; the counted rows."""
    per_call = {}
    loops = counted_loops(__file__, ["--calls", str(calls)], r"(scipy_)?LAPACKE_\w+_work$")
    for label, loop_count, empty_count, lapack_count in loops:
        name, n, nrhs, kind, side, turns = label.split("|")
        sides = per_call.setdefault((name, int(n), int(nrhs), kind), {})
        sides[side] = (loop_count - empty_count) / int(turns)
        sides[side + " lapack"] = lapack_count / int(turns)
    return [
        Counted(name, n, nrhs, kind, sides["vexa"], sides["vexa lapack"], sides["scipy"])
        for (name, n, nrhs, kind), sides in per_call.items()
    ]


def interleaved(entries, rounds):
    """Seconds of each entry's run(), the minimum over rounds that take the entries in turn;
    each entry's prepare() runs untimed before its run()."""
    best = dict.fromkeys(entries, float("inf"))
    for _ in range(rounds):
        for name, (prepare, run) in entries.items():
            prepare()
            start = time.perf_counter()
            run()
            best[name] = min(best[name], time.perf_counter() - start)
    return best


def batch_row(rounds, count=10_000):
    """count separate 4 x 4 gesv calls from a Python loop, and the same loop over dgesv."""
    import numpy as np
    import vexa
    import vexa_io
    import vexa_linalg as la
    from scipy.linalg import lapack

    rng = np.random.default_rng(8)
    arrays = [(positive_definite("d", 4, rng), rng.standard_normal((4, 1))) for _ in range(count)]
    pristine = [(vexa_io.from_buffer(a), vexa_io.from_buffer(b[:, 0].copy())) for a, b in arrays]
    ours = [(vexa_io.from_buffer(a), vexa_io.from_buffer(b[:, 0].copy())) for a, b in arrays]
    theirs = [(a.copy(order="F"), b.copy(order="F")) for a, b in arrays]
    gesv, dgesv, copy = la.gesv, lapack.dgesv, vexa.copy

    def back_ours():
        for (a0, b0), (a, b) in zip(pristine, ours, strict=True):
            copy(a0, a)
            copy(b0, b)

    def back_theirs():
        for (a0, b0), (a, b) in zip(arrays, theirs, strict=True):
            a[...], b[...] = a0, b0

    def run_ours():
        for a, b in ours:
            gesv(a, b)

    def run_theirs():
        for a, b in theirs:
            dgesv(a, b, overwrite_a=1, overwrite_b=1)

    times = interleaved({"vexa": (back_ours, run_ours), "scipy": (back_theirs, run_theirs)}, rounds)
    back_ours()
    run_ours()
    solutions = np.array([[b[i] for i in range(4)] for _, b in ours])
    expected = np.array([np.linalg.solve(a, b[:, 0]) for a, b in arrays])
    assert np.abs(solutions - expected).max() < 1e-10
    return (f"{count} separate 4x4 gesv calls", times["vexa"], times["scipy"], "scipy dgesv",
            TARGETS["batch"])  # fmt: skip


def ridge_row(rounds):
    """examples/ridge.py's path beside numpy's fastest formulation of it."""
    import numpy as np

    sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "examples"))
    from ridge import NUMPY, VexaRidge, problem

    X, y = problem(np.random.default_rng(5))
    ridge = VexaRidge(X, y)
    entries = {"vexa": (lambda: None, ridge.run)}
    entries |= {name: (lambda: None, lambda f=f: f(X, y)) for name, f in NUMPY.items()}
    times = interleaved({name: (prepare, lambda r=run: [r() for _ in range(20)])
                         for name, (prepare, run) in entries.items()}, rounds)  # fmt: skip
    best = min((name for name in NUMPY), key=times.get)
    assert np.abs(ridge.run() - NUMPY[best](X, y)).max() < 1e-9
    return ("ridge path, 500x50, 20 penalties", times["vexa"] / 20, times[best] / 20,
            f"numpy, {best}", TARGETS["ridge"], {n: times[n] / 20 for n in NUMPY})  # fmt: skip


def large_rows(rounds, n=1000):
    """gesv and posv on n x n beside scipy's drivers, with and without the condition estimate;
    each time is that of putting the operands back and solving, less that of putting them back."""
    import numpy as np
    import vexa
    import vexa_io
    import vexa_linalg as la
    from scipy.linalg import lapack

    rng = np.random.default_rng(9)
    a, b = positive_definite("d", n, rng), np.asfortranarray(rng.standard_normal((n, 1)))
    A0, B0, A, B = (vexa_io.from_buffer(v) for v in (a, b[:, 0].copy(), a, b[:, 0].copy()))
    Aa, Ba = a.copy(order="F"), b.copy(order="F")

    def back_ours():
        vexa.copy(A0, A)
        vexa.copy(B0, B)

    def back_theirs():
        Aa[...], Ba[...] = a, b

    rows = []
    for name, driver, estimate in (("gesv", "dgesv", "dgecon"), ("posv", "dposv", "dpocon")):
        ours = (lambda: la.gesv(A, B)) if name == "gesv" else (lambda: la.posv("U", A, B))
        g, con = getattr(lapack, driver), getattr(lapack, estimate)

        def bare(g=g):
            g(Aa, Ba, overwrite_a=1, overwrite_b=1)

        def estimated(g=g, con=con):
            norm = lapack.dlange("1", Aa)
            con(g(Aa, Ba, overwrite_a=1, overwrite_b=1)[0], norm)

        entries = {
            "vexa": (back_ours, lambda o=ours: (back_ours(), o())),
            "vexa back": (back_ours, back_ours),
            "scipy": (back_theirs, lambda: (back_theirs(), bare())),
            "scipy estimated": (back_theirs, lambda e=estimated: (back_theirs(), e())),
            "scipy back": (back_theirs, back_theirs),
        }
        times = interleaved(entries, rounds)
        ours_time = times["vexa"] - times["vexa back"]
        for label in ("scipy", "scipy estimated"):
            theirs = times[label] - times["scipy back"]
            routines = f"{driver} + dlange + {estimate}" if label != "scipy" else driver
            rows.append((f"{name} {n}x{n}", ours_time, theirs, routines, TARGETS["large"]))
    return rows


def hilbert_orders(largest=20):
    """For each kind and for gesv and posv, the smallest order of the Hilbert matrix refused
    and the text that refuses it."""
    import numpy as np
    import vexa_io
    import vexa_linalg as la

    found = []
    for kind in KINDS:
        dtype = {"s": np.float32, "d": np.float64, "c": np.complex64, "z": np.complex128}[kind]
        for name in ("gesv", "posv"):
            for n in range(2, largest + 1):
                h = np.asfortranarray(1.0 / (np.arange(n)[:, None] + np.arange(n) + 1.0))
                A, b = vexa_io.from_buffer(h.astype(dtype)), vexa_io.from_buffer(np.ones(n, dtype))
                try:
                    la.gesv(A, b) if name == "gesv" else la.posv("L", A, b)
                except RuntimeError as error:
                    found.append((kind, name, n, str(error)))
                    break
    return found


def write(out, mode, calls, counted, timed, orders):
    lines = [
        f"# vexa_linalg: solves by a factorization ({mode} mode)",
        "",
        *(f"- {fact}" for fact in machine()),
        "",
        "## Instructions per call",
        "",
        "callgrind instruction counts per call (`benchmarks/linalg_solves.py`), from loops of "
        f"{calls} calls ({max(calls // 10, 5)} at 50x50) less loops that only put the operands "
        "back. vexa: the whole call from Python; LAPACK: the LAPACKE routines that ran inside it "
        "(?getrf and ?getrs, ?potrf and ?potrs; ?gecon and ?pocon only where the bound from the "
        "factor leaves the verdict open, which on these matrices it never does), without bindings "
        "or checks; scipy: "
        "scipy.linalg.lapack's driver plus ?lange and ?gecon or ?pocon for the same refusal "
        "(potrf and potrs: the routine alone). Matrices are well-conditioned and positive "
        f"definite; one BLAS thread. Targets: {TARGETS['scipy']}, {TARGETS['lapack']}.",
        "",
        "| function | n | rhs | kind | vexa | LAPACK | vexa/LAPACK | scipy | vexa/scipy | result |",
        "|---|---|---|---|---|---|---|---|---|---|",
    ]
    for row in counted:
        lines.append(
            f"| {row.name} | {row.n} | {row.nrhs or '—'} | {row.kind} | {row.vexa:.0f} | "
            f"{row.lapack:.0f} | {row.vexa / row.lapack:.3f} | {row.scipy:.0f} | "
            f"{row.vexa / row.scipy:.2f} | {row.result()} |"
        )
    lines += [
        "",
        "## Timed rows, kind d",
        "",
        "Minimum over interleaved rounds, one BLAS thread per library.",
        "",
        "| case | vexa ms | peer ms | peer | vexa/peer | target | result |",
        "|---|---|---|---|---|---|---|",
    ]
    for case, ours, theirs, peer, target, *extra in timed:
        ratio = ours / theirs
        lines.append(
            f"| {case} | {ours * 1e3:.3f} | {theirs * 1e3:.3f} | {peer} | {ratio:.3f} | "
            f"{target} | {target.miss(ratio) or 'PASS'} |"
        )
        for formulations in extra:
            every = ", ".join(f"{name} {t * 1e3:.3f} ms" for name, t in formulations.items())
            lines.append(f"| (numpy formulations: {every}) | | | | | | |")
    lines += [
        "",
        "## Where the Hilbert matrix is refused",
        "",
        "The smallest order n of the Hilbert matrix 1 / (i + j + 1) that each kind refuses, and "
        "the refusal.",
        "",
        "| kind | function | order | refusal |",
        "|---|---|---|---|",
        *(f"| {kind} | {name} | {n} | {text} |" for kind, name, n, text in orders),
    ]
    out.write_text("\n".join(lines) + "\n")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    add_output_options(parser, "fewer calls and rounds")
    parser.add_argument("--calls", type=int, help="calls per loop (default 100, 20 with --quick)")
    parser.add_argument("--child", help=argparse.SUPPRESS)
    args = parser.parse_args()
    calls = args.calls or (20 if args.quick else 100)
    if args.child:
        child(calls, args.child)
        return
    from threadpoolctl import threadpool_limits

    out_dir = output_dir(parser, args)
    counted = instructions(calls)
    rounds = 3 if args.quick else 7
    with threadpool_limits(limits=1, user_api="blas"):
        timed = [batch_row(rounds), ridge_row(rounds), *large_rows(rounds)]
    orders = hilbert_orders()
    out = out_dir / "linalg_solves.md"
    write(out, "quick" if args.quick else "full", calls, counted, timed, orders)
    missed = [row for row in counted if row.result() != "PASS"]
    missed += [row for row in timed if row[4].miss(row[1] / row[2])]
    print(f"{len(missed)} rows missed a target; table in {out}")


if __name__ == "__main__":
    main()
