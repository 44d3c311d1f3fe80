"""Conjugate gradient on a dense symmetric positive definite system, timed
against the same loop in numpy (idiomatic, and with out= arguments) and
against scipy.sparse.linalg.cg, all running 50 iterations.

    .venv/bin/python examples/cg.py [--quick] [--out DIR]

The vexa loop works on preallocated containers with in-place calls only
(gemv, dot, axpy, scale, copy); its data come from numpy through
vexa_io.from_buffer. "vexa on numpy" runs the same loop on containers that
vexa_io.wrap makes over numpy arrays, so the solution lands in the caller's
own array, at the same speed. Every library runs one BLAS thread (numpy, scipy and
vexa each bring an OpenBLAS, whose pools would take the two cores from each
other). Writes cg.md and cg.png to DIR: by default benchmarks/results, the
committed results, for a full run and build/bench-quick for a quick one,
which may never write over the committed results.
"""

import argparse
import sys
from dataclasses import dataclass
from pathlib import Path

import matplotlib
import numpy as np
import vexa
import vexa_io
from scipy.sparse.linalg import cg
from threadpoolctl import threadpool_limits

# The benchmark's timing loop, results directory and targets.
sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "benchmarks"))
from cases import TARGETS  # noqa: E402
from report import add_output_options, output_dir  # noqa: E402
from timing import calling, race  # noqa: E402

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

SIZES = (16, 64, 256, 1024)
ITERATIONS = 50
# Eigenvalues from 1 to 10: 50 iterations reach the solution to rounding
# at every n, so all the solvers must agree with a direct solve.
CONDITION = 10.0


def system(n, rng):
    basis, _ = np.linalg.qr(rng.standard_normal((n, n)))
    A = (basis * np.geomspace(1.0, CONDITION, n)) @ basis.T
    return np.asfortranarray((A + A.T) / 2), rng.standard_normal(n)


def vexa_cg(A, b, x, r, p, Ap):
    vexa.scale(0.0, x)
    vexa.copy(b, r)
    vexa.copy(b, p)
    rs = vexa.dot(r, r)
    for _ in range(ITERATIONS):
        vexa.gemv(1.0, 0.0, A, p, Ap)
        alpha = rs / vexa.dot(p, Ap)
        vexa.axpy(alpha, p, x)
        vexa.axpy(-alpha, Ap, r)
        rs_new = vexa.dot(r, r)
        vexa.scale(rs_new / rs, p)
        vexa.axpy(1.0, r, p)
        rs = rs_new
    return x


def numpy_cg(A, b):
    x = np.zeros_like(b)
    r = b.copy()
    p = b.copy()
    rs = r @ r
    for _ in range(ITERATIONS):
        Ap = A @ p
        alpha = rs / (p @ Ap)
        x += alpha * p
        r -= alpha * Ap
        rs_new = r @ r
        p = r + (rs_new / rs) * p
        rs = rs_new
    return x


def numpy_out_cg(A, b, x, r, p, Ap, scratch):
    x.fill(0.0)
    np.copyto(r, b)
    np.copyto(p, b)
    rs = np.dot(r, r)
    for _ in range(ITERATIONS):
        np.dot(A, p, out=Ap)
        alpha = rs / np.dot(p, Ap)
        np.multiply(p, alpha, out=scratch)
        np.add(x, scratch, out=x)
        np.multiply(Ap, alpha, out=scratch)
        np.subtract(r, scratch, out=r)
        rs_new = np.dot(r, r)
        np.multiply(p, rs_new / rs, out=p)
        np.add(p, r, out=p)
        rs = rs_new
    return x


def scipy_cg(A, b, x0):
    # rtol = atol = 0: the stopping test (residual norm below 0) never holds.
    x, info = cg(A, b, x0=x0, rtol=0.0, atol=0.0, maxiter=ITERATIONS)
    assert info == ITERATIONS, info
    return x


def solvers(A, b):
    """The solvers, each a call without arguments returning its x as
    a numpy array, with its operands allocated once."""
    n = len(b)
    vA, vb = vexa_io.from_buffer(A), vexa_io.from_buffer(b)
    vx, vr, vp, vAp = (vexa.vecd(n) for _ in range(4))
    x_out = np.asarray(vexa_io.asbuffer(vx))
    # The caller's own arrays, worked on in place: x is where the solution goes.
    x, r, p, Ap = (np.empty(n) for _ in range(4))
    vectors = (b, x, r, p, Ap)
    wrapped = [vexa_io.wrap(A, vexa.matd), *(vexa_io.wrap(array, vexa.vecd) for array in vectors)]
    work = [np.empty(n) for _ in range(5)]
    x0 = np.zeros(n)
    return {
        "vexa": lambda: (vexa_cg(vA, vb, vx, vr, vp, vAp), x_out)[1],
        "vexa on numpy": lambda: (vexa_cg(*wrapped), x)[1],
        "numpy": lambda: numpy_cg(A, b),
        "numpy out=": lambda: numpy_out_cg(A, b, *work),
        "scipy cg": lambda: scipy_cg(A, b, x0),
    }


@dataclass
class Size:
    """One system size's measurements: a row of cg.md."""

    n: int
    times: dict  # seconds per solve, by solver
    vexa_best: float  # vexa over the fastest other solver
    on_numpy: float  # the loop on wrapped numpy arrays over the loop on vexa's containers
    error: float  # the largest relative error against a direct solve


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    add_output_options(parser, "fewer repeats")
    args = parser.parse_args()
    out_dir = output_dir(parser, args)
    repeat = 3 if args.quick else 7
    rng = np.random.default_rng(11)
    rows = []
    with threadpool_limits(limits=1, user_api="blas"):
        for n in SIZES:
            A, b = system(n, rng)
            calls = solvers(A, b)
            exact = np.linalg.solve(A, b)
            errors = {
                name: np.linalg.norm(call() - exact) / np.linalg.norm(exact)
                for name, call in calls.items()
            }
            assert max(errors.values()) < 1e-12, (n, errors)
            # Rounds of about 0.2 s, so that even n = 1024 repeats a few times in each.
            times = race({name: calling(call) for name, call in calls.items()}, repeat, 0.2)
            others = [seconds for name, seconds in times.items() if not name.startswith("vexa")]
            size = Size(
                n=n,
                times=times,
                vexa_best=times["vexa"] / min(others),
                on_numpy=times["vexa on numpy"] / times["vexa"],
                error=max(errors.values()),
            )
            rows.append(size)
            spent = ", ".join(f"{name} {seconds * 1e6:.1f} us" for name, seconds in times.items())
            print(f"n = {n}: {spent}")
    write(out_dir, rows, "quick" if args.quick else "full")
    missed = sum(TARGETS["cg"].miss(row.vexa_best) is not None for row in rows)
    print(f"{missed} sizes missed the target ({TARGETS['cg']}); table in {out_dir / 'cg.md'}")


def write(out_dir, rows, mode):
    names = list(rows[0].times)
    lines = [
        f"# Conjugate gradient, {ITERATIONS} iterations, dense SPD system ({mode} mode)",
        "",
        "Microseconds per solve (minimum over repeats, one BLAS thread per library); "
        f"target: {TARGETS['cg']}. vexa/best compares vexa with the fastest other; "
        "on numpy/vexa compares the loop on wrapped numpy arrays with the loop on vexa's own "
        "containers; error: the largest relative error against a direct solve.",
        "",
        "| n | "
        + " | ".join(f"{name} µs" for name in names)
        + " | vexa/best | on numpy/vexa | error |",
        "|" + "---|" * (len(names) + 4),
    ]
    for row in rows:
        cells = [f"{row.times[name] * 1e6:.1f}" for name in names]
        lines.append(
            f"| {row.n} | "
            + " | ".join(cells)
            + f" | {row.vexa_best:.2f} | {row.on_numpy:.2f} | {row.error:.1e} |"
        )
    (out_dir / "cg.md").write_text("\n".join(lines) + "\n")

    fig, ax = plt.subplots(figsize=(7, 4.5))
    sizes = [row.n for row in rows]
    for name in names:
        ax.plot(sizes, [row.times[name] * 1e6 for row in rows], marker="o", label=name)
    ax.set(xscale="log", yscale="log", xlabel="n", ylabel="µs per solve")
    ax.set_title(f"Conjugate gradient, {ITERATIONS} iterations")
    ax.set_xticks(sizes, [str(n) for n in sizes])
    ax.legend()
    fig.tight_layout()
    fig.savefig(out_dir / "cg.png", dpi=110)


if __name__ == "__main__":
    main()
