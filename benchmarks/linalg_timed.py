"""vexa_linalg's timed rows: each routine on large operands (1000 x 1000, level-1 functions on
10^6 elements, kind d) beside scipy.linalg.blas's wrapper of the same routine, timed side by
side in one process; and two algorithms beside the same Python loop written with numpy: CGLS
(examples/cgls.py, 300 x 100) and GMRES without restarts (classical Gram-Schmidt twice through
gemv on the basis built so far, nrm2, trsv) against numpy's modified Gram-Schmidt loop.

    .venv/bin/python benchmarks/linalg_timed.py [--quick] [--out DIR]

Every library runs one BLAS thread. Writes linalg.md to DIR: by default benchmarks/results, the
committed results, for a full run and build/bench-quick for a quick one. Time it on a quiet
machine: the rows are ratios of times, which load from elsewhere distorts.
"""

import argparse
import math
import sys
from pathlib import Path

import numpy as np
import vexa
import vexa_io
import vexa_linalg as la
from cases import TARGETS
from report import add_output_options, machine, output_dir
from scipy.linalg import blas
from threadpoolctl import threadpool_limits
from timing import Statement, calling, race, race_large

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "examples"))
from cgls import problem, solvers  # noqa: E402

N, LEVEL1 = 1000, 10**6
GMRES_N, GMRES_STEPS = 200, 40

# name: (vexa_linalg statement, scipy statement); f is vexa_linalg's function, g scipy's.
LARGE = {
    "gemv N": ("f('N', a, b, A, x, y)", "g(a, Aa, xa, b, ya, overwrite_y=1)", "dgemv"),
    "gemv T": ("f('T', a, b, A, x, y)", "g(a, Aa, xa, b, ya, trans=1, overwrite_y=1)", "dgemv"),
    "gemm N T": ("f('N', 'T', a, b, A, B, C)", "g(a, Aa, Ba, b, Ca, trans_b=1, overwrite_c=1)",
                 "dgemm"),
    "syrk": ("f('U', 'N', a, b, A, C)", "g(a, Aa, b, Ca, overwrite_c=1)", "dsyrk"),
    "ger": ("f(small, x, y, A)", "g(small, xa, ya, a=Aa, overwrite_a=1)", "dger"),
    "trsv": ("f('U', 'N', 'N', T, x)", "g(Ta, xa, overwrite_x=1)", "dtrsv"),
    "trsm": ("f('L', 'U', 'N', 'N', 1.0, T, B)", "g(1.0, Ta, Ba, overwrite_b=1)", "dtrsm"),
    "nrm2": ("f(v)", "g(va)", "dnrm2"),
    "asum": ("f(v)", "g(va)", "dasum"),
    "iamax": ("f(v)", "g(va)", "idamax"),
    "mul": ("f(u, w)", "g(0, ua, wa, overwrite_x=1)", "dtbmv"),
}  # fmt: skip


def large_operands(rng):
    """vexa containers over numpy arrays of their own (so each side has its own storage) for
    the large rows; repeated in-place updates stay bounded."""
    i, j = np.indices((N, N))
    # A unit upper triangle with tiny elements above the diagonal: repeated solves barely grow.
    triangle = np.where(i == j, 1.0, np.where(i < j, 1e-6, 0.5))
    arrays = {
        "A": rng.standard_normal((N, N)) / N, "B": rng.standard_normal((N, N)) / N,
        "C": rng.standard_normal((N, N)) / N, "T": triangle, "x": rng.standard_normal(N),
        "y": rng.standard_normal(N), "v": rng.standard_normal(LEVEL1),
        "u": np.resize([1.0, -1.0], LEVEL1), "w": rng.standard_normal(LEVEL1),
    }  # fmt: skip
    made = {"a": 0.5, "b": 0.5, "small": 1e-9}
    for name, values in arrays.items():
        values = np.asfortranarray(values)
        made[name] = vexa_io.from_buffer(values)
        made[name + "a"] = values.copy(order="F")
    made["ua"] = made["ua"].reshape(1, LEVEL1).copy(order="F")
    return made


def large_rows(seconds):
    made = large_operands(np.random.default_rng(2))
    rows = []
    for name, (ours, theirs, routine) in LARGE.items():
        function = getattr(la, name.split()[0])
        entries = {
            "vexa_linalg": Statement(ours, {"f": function, **made}),
            "scipy": Statement(theirs, {"g": getattr(blas, routine), **made}),
        }
        times = race_large(entries, seconds)
        ratio = times["vexa_linalg"] / times["scipy"]
        verdict = TARGETS["linalg large"].miss(ratio)
        rows.append((name, times["vexa_linalg"], times["scipy"], ratio, verdict or "PASS"))
        print(f"{name}: vexa_linalg {times['vexa_linalg'] * 1e3:.3f} ms, "
              f"scipy {times['scipy'] * 1e3:.3f} ms")  # fmt: skip
    return rows


def givens(h, cs, sn, g, j):
    """Applies the earlier rotations to column j of the Hessenberg matrix (h, j + 2 numbers),
    makes the rotation that zeroes h[j + 1], and applies it to the right-hand side g."""
    for i in range(j):
        h[i], h[i + 1] = cs[i] * h[i] + sn[i] * h[i + 1], cs[i] * h[i + 1] - sn[i] * h[i]
    rho = math.hypot(h[j], h[j + 1])
    cs[j], sn[j] = h[j] / rho, h[j + 1] / rho
    h[j], h[j + 1] = rho, 0.0
    g[j], g[j + 1] = cs[j] * g[j], -sn[j] * g[j]


def vexa_gmres(A, b, V, R, y, c, x, steps=GMRES_STEPS):
    """x after `steps` GMRES steps from 0: V (n x steps+1) holds the Krylov basis, R the
    triangular factor, y the coefficients (steps + 1 elements), c the second pass's."""
    beta = la.nrm2(b)
    first = la.column(V, 0)
    vexa.copy(b, first)
    vexa.scale(1.0 / beta, first)
    g, cs, sn = [beta] + [0.0] * steps, [0.0] * steps, [0.0] * steps
    for j in range(steps):
        w, basis, h = la.column(V, j + 1), la.columns(V, 0, j + 1), y[0 : j + 1]
        la.gemv("N", 1.0, 0.0, A, la.column(V, j), w)
        # Classical Gram-Schmidt, twice: two products with the basis per pass.
        la.gemv("T", 1.0, 0.0, basis, w, h)
        la.gemv("N", -1.0, 1.0, basis, h, w)
        correction = c[0 : j + 1]
        la.gemv("T", 1.0, 0.0, basis, w, correction)
        la.gemv("N", -1.0, 1.0, basis, correction, w)
        vexa.sum(correction, h)
        norm = la.nrm2(w)
        vexa.scale(1.0 / norm, w)
        column = [h[i] for i in range(j + 1)] + [norm]
        givens(column, cs, sn, g, j)
        for i in range(j + 1):
            R[i, j] = column[i]
    for i in range(steps):
        y[i] = g[i]
    coefficients = y[0:steps]
    la.trsv("U", "N", "N", R, coefficients)
    return la.gemv("N", 1.0, 0.0, la.columns(V, 0, steps), coefficients, x)


def numpy_gmres(A, b, steps=GMRES_STEPS):
    """The same steps with numpy arrays and modified Gram-Schmidt."""
    V, R = np.zeros((len(b), steps + 1)), np.zeros((steps, steps))
    beta = np.linalg.norm(b)
    V[:, 0] = b / beta
    g, cs, sn = [beta] + [0.0] * steps, [0.0] * steps, [0.0] * steps
    for j in range(steps):
        w = A @ V[:, j]
        column = []
        for i in range(j + 1):
            column.append(w @ V[:, i])
            w -= column[i] * V[:, i]
        norm = np.linalg.norm(w)
        V[:, j + 1] = w / norm
        column.append(norm)
        givens(column, cs, sn, g, j)
        R[: j + 1, j] = column[: j + 1]
    return V[:, :steps] @ np.linalg.solve(R, g[:steps])


def gmres_solvers(rng):
    # Eigenvalues around 2 within a disc of radius about 1/2: the steps converge steadily.
    A = np.asfortranarray(2 * np.eye(GMRES_N) + rng.standard_normal((GMRES_N, GMRES_N)) / 28)
    b = rng.standard_normal(GMRES_N)
    vA, vb = vexa_io.wrap(A, vexa.matd), vexa_io.wrap(b, vexa.vecd)
    V, R = vexa.matd(GMRES_N, GMRES_STEPS + 1), vexa.matd(GMRES_STEPS, GMRES_STEPS)
    y, c, x = vexa.vecd(GMRES_STEPS + 1), vexa.vecd(GMRES_STEPS), vexa.vecd(GMRES_N)
    solution = np.asarray(vexa_io.asbuffer(x))
    return {
        "vexa": lambda: (vexa_gmres(vA, vb, V, R, y, c, x), solution)[1],
        "numpy": lambda: numpy_gmres(A, b),
    }


def algorithm_rows(repeat, budget):
    rows = []
    rng = np.random.default_rng(4)
    A, b = problem(300, 100, rng)
    for name, calls, target in (
        ("CGLS 300x100, 60 iterations", solvers(A, b), "cgls"),
        (f"GMRES {GMRES_N}x{GMRES_N}, {GMRES_STEPS} steps", gmres_solvers(rng), "gmres"),
    ):
        results = {side: call().copy() for side, call in calls.items()}
        agree = np.linalg.norm(results["vexa"] - results["numpy"]) / np.linalg.norm(
            results["numpy"]
        )
        assert agree < 1e-9, (name, agree)
        times = race({side: calling(call) for side, call in calls.items()}, repeat, budget)
        ratio = times["vexa"] / times["numpy"]
        rows.append((name, times["vexa"], times["numpy"], ratio, TARGETS[target]))
        print(f"{name}: vexa {times['vexa'] * 1e6:.1f} µs, numpy {times['numpy'] * 1e6:.1f} µs")
    return rows


def write(out_dir, mode, large, algorithms):
    lines = [
        f"# vexa_linalg: large operands and algorithms ({mode} mode)",
        "",
        *(f"- {fact}" for fact in machine()),
        "",
        f"## Large operands, kind d ({N}x{N}; level-1 functions on {LEVEL1} elements)",
        "",
        f"Fastest batch, one BLAS thread per library; target: {TARGETS['linalg large']}.",
        "",
        "| function | vexa_linalg ms | scipy ms | vexa_linalg/scipy | result |",
        "|---|---|---|---|---|",
    ]
    for name, ours, theirs, ratio, verdict in large:
        lines.append(
            f"| {name} | {ours * 1e3:.3f} | {theirs * 1e3:.3f} | {ratio:.3f} | {verdict} |"
        )
    lines += [
        "",
        "## Algorithms",
        "",
        "Microseconds per solve (minimum over repeats, one BLAS thread per library).",
        "",
        "| algorithm | vexa µs | numpy µs | vexa/numpy | target | result |",
        "|---|---|---|---|---|---|",
    ]
    for name, ours, theirs, ratio, target in algorithms:
        verdict = target.miss(ratio) or "PASS"
        lines.append(
            f"| {name} | {ours * 1e6:.1f} | {theirs * 1e6:.1f} | {ratio:.3f} | {target} | "
            f"{verdict} |"
        )
    (out_dir / "linalg.md").write_text("\n".join(lines) + "\n")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    add_output_options(parser, "shorter races")
    args = parser.parse_args()
    out_dir = output_dir(parser, args)
    with threadpool_limits(limits=1, user_api="blas"):
        large = large_rows(0.3 if args.quick else 3.0)
        algorithms = algorithm_rows(3 if args.quick else 7, 0.05 if args.quick else 0.2)
    write(out_dir, "quick" if args.quick else "full", large, algorithms)
    missed = [row for row in large if row[4] != "PASS"]
    missed += [row for row in algorithms if row[4].miss(row[3])]
    print(f"{len(missed)} rows missed their target; table in {out_dir / 'linalg.md'}")


if __name__ == "__main__":
    main()
