"""Instructions per call of each vexa_linalg function beside the vexa function nearest in shape
and scipy.linalg.blas's wrapper of the same routine, counted by valgrind's callgrind as
benchmarks/scalars.py counts them, so the figures do not depend on the machine's load.

    .venv/bin/python benchmarks/linalg_calls.py [--calls N] [--out FILE]

Runs itself under callgrind (needs valgrind, its callgrind.h header and a C compiler). Each
figure is a loop of N statements minus an empty loop of N turns, between callgrind client
requests. Operands hold 8 elements, matrices are 8x8, coefficients are the kind's own type; the
values keep repeated in-place updates bounded. OpenBLAS runs one thread: with more, its ?tbmv
(mul) hands even 8 elements to its threads, and callgrind would count the waiting threads'
spinning. Writes benchmarks/results/linalg_calls.md by default.
"""

import argparse
from dataclasses import dataclass
from pathlib import Path

from cases import TARGETS
from scalars import counted_loops, loop

RESULTS = Path(__file__).resolve().parent / "results"
KINDS = "sdcz"
# The CBLAS routines, by the names the libraries export them under (scipy_cblas_* in the
# OpenBLAS that scipy bundles).
CBLAS = r"(scipy_)?cblas_"


@dataclass(frozen=True)
class Row:
    """One vexa_linalg call, the vexa call nearest in shape, and scipy's call of the same
    routine ("" where scipy has none), each a statement calling f; {r} in scipy's routine
    stands for the kind's letter, split at | into the real kinds' and the complex kinds'."""

    name: str
    linalg: str
    neighbour: str
    vexa: str
    routine: str
    scipy: str
    kinds: str = KINDS


N8 = "alpha, beta, A, x, y"
ROWS = [
    Row("gemv N", f"f('N', {N8})", "gemv", f"f({N8})", "{r}gemv",
        "f(alpha, Aa, xa, beta, ya, overwrite_y=1)"),
    Row("gemv T", f"f('T', {N8})", "gemv", f"f({N8})", "{r}gemv",
        "f(alpha, Aa, xa, beta, ya, trans=1, overwrite_y=1)"),
    Row("gemm N T", "f('N', 'T', alpha, beta, A, B, C)", "gemm", "f(alpha, beta, A, B, C)",
        "{r}gemm", "f(alpha, Aa, Ba, beta, Ca, trans_b=1, overwrite_c=1)"),
    Row("syrk", "f('U', 'N', alpha, beta, A, C)", "gemm", "f(alpha, beta, A, B, C)", "{r}syrk",
        "f(alpha, Aa, beta, Ca, overwrite_c=1)"),
    Row("herk", "f('U', 'N', 0.5, 0.5, A, C)", "gemm", "f(alpha, beta, A, B, C)", "{r}herk",
        "f(0.5, Aa, 0.5, Ca, overwrite_c=1)", "cz"),
    Row("ger", "f(small, x, y, A)", "gemv", f"f({N8})", "{r}ger|{r}geru",
        "f(small, xa, ya, a=Aa, overwrite_a=1)"),
    Row("gerc", "f(small, x, y, A)", "gemv", f"f({N8})", "{r}gerc",
        "f(small, xa, ya, a=Aa, overwrite_a=1)", "cz"),
    Row("trsv", "f('U', 'N', 'N', T, x)", "gemv", f"f({N8})", "{r}trsv",
        "f(Ta, xa, overwrite_x=1)"),
    Row("trsm", "f('L', 'U', 'N', 'N', one, T, B)", "gemm", "f(alpha, beta, A, B, C)", "{r}trsm",
        "f(one, Ta, Ba, overwrite_b=1)"),
    Row("nrm2", "f(x)", "dot", "f(x, y)", "{r}nrm2|{r}{r}nrm2", "f(xa)"),
    Row("asum", "f(x)", "dot", "f(x, y)", "{r}asum|{r}{r}asum", "f(xa)"),
    Row("iamax", "f(x)", "dot", "f(x, y)", "i{r}amax", "f(xa)"),
    Row("axpby", "f(alpha, x, beta, y)", "axpy", "f(alpha, x, y)", "", ""),
    Row("mul", "f(u, y)", "axpy", "f(alpha, x, y)", "{r}tbmv", "f(0, ua, ya, overwrite_x=1)"),
    Row("scale_rows", "f(u, A)", "gemv", f"f({N8})", "", ""),
    Row("scale_columns", "f(u, A)", "gemv", f"f({N8})", "", ""),
    Row("column", "f(A, 3)", "slice", "x[2:6]", "", ""),
    Row("columns", "f(A, 2, 5)", "slice", "x[2:6]", "", ""),
    Row("as_matrix", "f(x, 2, 4)", "slice", "x[2:6]", "", ""),
]  # fmt: skip


def scipy_routine(row, kind):
    """scipy's routine name for the kind: {r} is the kind's letter, and for complex nrm2 and
    asum the pair that BLAS names them by (dznrm2, scasum)."""
    real, _, complex_ = row.routine.partition("|")
    if kind in "cz" and complex_:
        pair = {"c": "sc", "z": "dz"}[kind]
        return complex_.replace("{r}{r}", pair).format(r=kind)
    return real.format(r=kind)


def operands(kind):
    """vexa containers and numpy arrays (Fortran order) with the same values, and the
    coefficients: updates repeated thousands of times stay bounded."""
    import numpy as np
    import vexa

    dtype = {"s": np.float32, "d": np.float64, "c": np.complex64, "z": np.complex128}[kind]
    complex_kind = kind in "cz"
    i, j = np.indices((8, 8))
    square = (0.5 / (1 + i + j)).astype(dtype)
    # A unit upper triangle with small elements above the diagonal: solving with it again and
    # again grows x only polynomially.
    triangle = np.where(i == j, 1.0, np.where(i < j, 0.01, 0.5)).astype(dtype)
    units = np.resize([1, -1j if complex_kind else -1], 8).astype(dtype)
    arrays = {
        "A": square, "B": square.copy(), "C": square.copy(), "T": triangle,
        "x": np.full(8, 0.5, dtype), "y": np.full(8, 0.25, dtype), "u": units,
    }  # fmt: skip
    made = {}
    for name, values in arrays.items():
        if values.ndim == 2:
            container = getattr(vexa, "mat" + kind)(8, 8)
            for (r, c), value in np.ndenumerate(values):
                container[r, c] = value.item()
        else:
            container = getattr(vexa, "vec" + kind)(8)
            for r, value in enumerate(values):
                container[r] = value.item()
        made[name] = container
        made[name + "a"] = np.asfortranarray(values)
    made["ua"] = units.reshape(1, 8).copy(order="F")
    alpha, beta = (0.5 + 0.25j, 0.5 - 0.25j) if complex_kind else (0.5, 0.5)
    return made | {"alpha": alpha, "beta": beta, "one": 1.0, "small": 1e-3}


def child(calls, marks):
    import ctypes

    import vexa
    import vexa_linalg
    from scipy.linalg import blas

    lib = ctypes.CDLL(marks)
    lib.zero()  # ctypes prepares each function on its first call
    lib.dump(b"warm-up")
    for row in ROWS:
        for kind in row.kinds:
            namespace = operands(kind)
            names = sorted(namespace)
            empty = loop("pass", ["f", *names])
            entries = [("linalg", row.linalg, getattr(vexa_linalg, row.name.split()[0]))]
            neighbour = getattr(vexa, row.neighbour, None)
            entries.append(("neighbour", row.vexa, neighbour))
            if row.routine:
                entries.append(("scipy", row.scipy, getattr(blas, scipy_routine(row, kind))))
            for side, statement, function in entries:
                run = loop(statement, ["f", *names])
                arguments = {"f": function, **namespace}
                run(range(50), **arguments)  # warm the interpreter's and the libraries' caches
                for mark, timed in ((f"{row.name}|{kind}|{side}", run), ("empty", empty)):
                    lib.zero()
                    timed(range(calls), **arguments)
                    lib.dump(mark.encode())


@dataclass
class Measured:
    name: str
    kind: str
    linalg: float
    neighbour: float
    scipy: float | None
    linalg_blas: float  # of which in CBLAS routines
    neighbour_blas: float

    def result(self):
        missed = [
            text
            for target, value in (
                (TARGETS["linalg/vexa"], self.linalg / self.neighbour),
                (TARGETS["linalg/scipy"], self.linalg / self.scipy if self.scipy else 0.0),
            )
            if (text := target.miss(value))
        ]
        return "FAIL: " + ", ".join(missed) if missed else "PASS"


def parent(calls, out):
    per_call = {}
    loops = counted_loops(__file__, ["--calls", str(calls)], CBLAS)
    for label, loop_count, empty_count, blas_count in loops:
        name, kind, side = label.split("|")
        sides = per_call.setdefault((name, kind), {})
        sides[side] = (loop_count - empty_count) / calls
        sides[side + " blas"] = blas_count / calls
    rows = [
        Measured(name, kind, sides["linalg"], sides["neighbour"], sides.get("scipy"),
                 sides["linalg blas"], sides["neighbour blas"])
        for (name, kind), sides in per_call.items()
    ]  # fmt: skip
    write(out, calls, rows)
    missed = [row for row in rows if row.result() != "PASS"]
    for row in missed:
        print(f"  {row.name} {row.kind}: {row.result()}")
    print(f"{len(missed)} of {len(rows)} rows missed a target; table in {out}")


def write(out, calls, rows):
    neighbours = {row.name: row.neighbour for row in ROWS}
    lines = [
        "# vexa_linalg: instructions per call",
        "",
        "valgrind callgrind instruction counts per call, from a loop of "
        f"{calls} calls minus an empty loop of as many turns (`benchmarks/linalg_calls.py`). "
        "Operands: vectors of 8 elements, 8x8 matrices, coefficients of the kind's own type. "
        "The vexa neighbour is the vexa function nearest in shape (slice: `x[2:6]`, which makes "
        "a view); scipy is scipy.linalg.blas's wrapper of the same routine, where it has one. "
        "In BLAS: the part of a call spent in CBLAS routines; without it: the ratio of the "
        "rest, the interpreter's and the bindings' part of both calls. "
        "OpenBLAS runs one thread (OPENBLAS_NUM_THREADS=1): with more, its ?tbmv (`mul`) hands "
        "even 8 elements to its threads, which costs about 13 µs a call on 2 threads. "
        f"Targets: {TARGETS['linalg/vexa']}, {TARGETS['linalg/scipy']}.",
        "",
        "| function | kind | vexa_linalg | in BLAS | vexa neighbour | neighbour "
        "| in BLAS | linalg/neighbour | without BLAS | scipy | linalg/scipy | result |",
        "|---|---|---|---|---|---|---|---|---|---|---|---|",
    ]
    for row in rows:
        scipy_cells = f"{row.scipy:.0f} | {row.linalg / row.scipy:.2f}" if row.scipy else "— | —"
        rest = (row.linalg - row.linalg_blas) / (row.neighbour - row.neighbour_blas)
        lines.append(
            f"| {row.name} | {row.kind} | {row.linalg:.0f} | {row.linalg_blas:.0f} | "
            f"{neighbours[row.name]} | {row.neighbour:.0f} | {row.neighbour_blas:.0f} | "
            f"{row.linalg / row.neighbour:.2f} | {rest:.2f} | {scipy_cells} | {row.result()} |"
        )
    out.write_text("\n".join(lines) + "\n")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--calls", type=int, default=2000, help="calls per loop (default 2000)")
    parser.add_argument("--out", type=Path, default=RESULTS / "linalg_calls.md")
    parser.add_argument("--child", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.child:
        child(args.calls, args.child)
    else:
        parent(args.calls, args.out.resolve())


if __name__ == "__main__":
    main()
