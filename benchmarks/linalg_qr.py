"""Instructions per call of vexa_linalg's geqrf, ormqr and gels beside scipy.linalg.lapack's
wrappers of the same routines (for gels with ?trcon, the condition estimate gels makes when its
bound does not settle the test), and beside the LAPACK routines' own part of the vexa call,
counted by valgrind's callgrind as benchmarks/linalg_calls.py counts them.

    .venv/bin/python benchmarks/linalg_qr.py [--calls N] [--kinds sdcz] [--out FILE]

Runs itself under callgrind (needs valgrind, its callgrind.h header and a C compiler). geqrf
and gels overwrite A (and B), so each call is preceded by a copy of the operands from a saved
original, and each figure is a loop of N copies and calls minus a loop of N copies alone; ormqr
applies Q^T (Q^H) to C again and again, which keeps C's norm. Matrices are n x n with n = 4, 8
and 50, well conditioned; B and C have 1 or 8 columns (a vector for vexa at 1). scipy's wrappers
work in place (Fortran-ordered arrays, overwrite_* set) with the workspace they choose, except
?ormqr's, which takes the size its query gives. In LAPACK: the instructions inside the LAPACK
routines that the vexa call enters (its workspace query included), counted as the inclusive cost
of each call of one of them from outside LAPACK. OpenBLAS runs one thread. Writes
benchmarks/results/linalg_qr.md by default.
"""

import argparse
from dataclasses import dataclass
from pathlib import Path

from cases import TARGETS
from linalg_calls import loop
from scalars import counted_loops

RESULTS = Path(__file__).resolve().parent / "results"
SIZES = (4, 8, 50)
# (function, right-hand sides): geqrf has none.
CALLS = [("geqrf", 0)] + [(name, r) for name in ("ormqr", "gels") for r in (1, 8)]
# The LAPACK routines the calls reach, by the names the libraries export them under.
ROUTINE = r"(scipy_)?[sdcz](geqrf|ormqr|unmqr|gels|trcon)_"


def operands(kind, n, r):
    """vexa containers and Fortran-ordered numpy arrays of the same values: A and its saved
    original, tau, B (r columns) and its original; F and t, A's factors by ?geqrf, for ormqr."""
    import numpy as np
    import vexa
    import vexa_io

    dtype = {"s": np.float32, "d": np.float64, "c": np.complex64, "z": np.complex128}[kind]
    i, j = np.indices((n, n))
    a = (np.eye(n) * 4 + 1 / (1 + i + 2 * j)).astype(dtype)
    if kind in "cz":
        a = a + (0.5j / (2 + i + j)).astype(dtype)
    b = np.cos(np.arange(n * max(r, 1)).reshape(n, max(r, 1), order="F") + 1).astype(dtype)
    h, tau = np.linalg.qr(a, mode="raw")
    f = np.asfortranarray(h.T.astype(dtype))
    tau = tau.astype(dtype)

    def made(array):
        return vexa_io.from_buffer(array[:, 0] if array.ndim == 2 and r == 1 else array)

    space = {}
    for name, array in {"A": a, "A0": a, "B": b, "B0": b, "F": f, "t": tau}.items():
        array = np.asfortranarray(array).copy(order="F")
        space[name + "a"] = array
        space[name] = vexa_io.from_buffer(array) if name in ("A", "A0", "F", "t") else made(array)
    space["copy"], space["copyto"] = vexa.copy, np.copyto
    return space


def statements(name, kind, n, r):
    """The vexa call, scipy's calls, and the copies each needs before it, as statements."""
    trans = "C" if kind in "cz" else "T"
    if name == "geqrf":
        return ("f(A, tv)", "copy(A0, A)", "g(Aa, overwrite_a=1)", "copyto(Aa, A0a)")
    if name == "ormqr":
        return (
            f"f('L', '{trans}', F, t, B)",
            "",
            f"g('L', '{trans}', Fa, ta, Ba, lwork, overwrite_c=1)",
            "",
        )
    restore = "copy(A0, A); copy(B0, B)"
    return (
        "f(A, B)",
        restore,
        "g(Aa, Ba, overwrite_a=1, overwrite_b=1); h(Aa)",
        "copyto(Aa, A0a); copyto(Ba, B0a)",
    )


def scipy_functions(name, kind, space):
    from scipy.linalg import lapack

    if name == "geqrf":
        return {"g": getattr(lapack, kind + "geqrf")}
    if name == "ormqr":
        routine = getattr(lapack, kind + ("unmqr" if kind in "cz" else "ormqr"))
        trans = "C" if kind in "cz" else "T"
        work = routine("L", trans, space["Fa"], space["ta"], space["Ba"], -1)[1]
        return {"g": routine, "lwork": max(1, int(work[0].real))}
    return {"g": getattr(lapack, kind + "gels"), "h": getattr(lapack, kind + "trcon")}


def child(calls, kinds, marks):
    import ctypes

    import vexa
    import vexa_linalg

    lib = ctypes.CDLL(marks)
    lib.zero()  # ctypes prepares each function on its first call
    lib.dump(b"warm-up")
    for kind in kinds:
        for name, r in CALLS:
            for n in SIZES:
                space = operands(kind, n, r)
                space["tv"] = getattr(vexa, "vec" + kind)(n)
                space |= scipy_functions(name, kind, space)
                space["f"] = getattr(vexa_linalg, name)
                call, restore, peer, peer_restore = statements(name, kind, n, r)
                names = sorted(space)
                sides = (("vexa", call, restore), ("scipy", peer, peer_restore))
                for side, statement, baseline in sides:
                    timed = loop(f"{baseline}; {statement}" if baseline else statement, names)
                    empty = loop(baseline or "pass", names)
                    timed(range(20), **space)  # warm the caches
                    for mark, run in ((f"{name}|{r}|{n}|{kind}|{side}", timed), ("base", empty)):
                        lib.zero()
                        run(range(calls), **space)
                        lib.dump(mark.encode())


@dataclass
class Measured:
    name: str
    rhs: int
    n: int
    kind: str
    vexa: float
    vexa_lapack: float
    scipy: float
    scipy_lapack: float

    def result(self):
        missed = [
            text
            for target, value in (
                (TARGETS["qr/scipy"], self.vexa / self.scipy),
                (TARGETS["qr/lapack"], self.vexa / self.vexa_lapack),
            )
            if (text := target.miss(value))
        ]
        return "FAIL: " + ", ".join(missed) if missed else "PASS"


def parent(calls, kinds, out):
    per_call = {}
    loops = counted_loops(__file__, ["--calls", str(calls), "--kinds", kinds], ROUTINE)
    for label, loop_count, base_count, lapack_count in loops:
        name, r, n, kind, side = label.split("|")
        sides = per_call.setdefault((name, int(r), int(n), kind), {})
        sides[side] = (loop_count - base_count) / calls
        sides[side + " lapack"] = lapack_count / calls
    rows = [
        Measured(*key, s["vexa"], s["vexa lapack"], s["scipy"], s["scipy lapack"])
        for key, s in per_call.items()
    ]
    write(out, calls, rows)
    missed = [row for row in rows if row.result() != "PASS"]
    for row in missed:
        print(f"  {row.name} {row.n}x{row.n} r={row.rhs} {row.kind}: {row.result()}")
    print(f"{len(missed)} of {len(rows)} rows missed a target; table in {out}")


def write(out, calls, rows):
    lines = [
        "# vexa_linalg's QR: instructions per call",
        "",
        "valgrind callgrind instruction counts per call, from a loop of "
        f"{calls} calls minus a loop of as many turns without the call "
        "(`benchmarks/linalg_qr.py`, whose docstring says what each loop does). n x n matrices, "
        "r right-hand sides (columns of B for gels, of C for ormqr, which applies Q^T or Q^H). "
        "scipy: scipy.linalg.lapack's wrapper of the same routine, in place; for gels ?gels and "
        "?trcon on its factor. In LAPACK: the part of a call inside the LAPACK routines it "
        "enters (vexa's workspace queries included). OpenBLAS runs one thread. "
        f"Targets: {TARGETS['qr/scipy']}, {TARGETS['qr/lapack']}.",
        "",
        "| function | n | r | kind | vexa | in LAPACK | vexa/LAPACK | scipy | in LAPACK "
        "| vexa/scipy | result |",
        "|---|---|---|---|---|---|---|---|---|---|---|",
    ]
    for row in rows:
        lines.append(
            f"| {row.name} | {row.n} | {row.rhs or '—'} | {row.kind} | {row.vexa:.0f} | "
            f"{row.vexa_lapack:.0f} | {row.vexa / row.vexa_lapack:.2f} | {row.scipy:.0f} | "
            f"{row.scipy_lapack:.0f} | {row.vexa / row.scipy:.2f} | {row.result()} |"
        )
    out.write_text("\n".join(lines) + "\n")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--calls", type=int, default=200, help="calls per loop (default 200)")
    parser.add_argument("--kinds", default="sdcz", help="kinds measured (default sdcz)")
    parser.add_argument("--out", type=Path, default=RESULTS / "linalg_qr.md")
    parser.add_argument("--child", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.child:
        child(args.calls, args.kinds, args.child)
    else:
        parent(args.calls, args.kinds, args.out.resolve())


if __name__ == "__main__":
    main()
