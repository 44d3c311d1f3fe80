"""Whether ?gels gains from more than LAPACK's documented minimum workspace, k + max(k, nrhs)
with k = min(m, n), and so where ls may size its workspace without asking ?gels first.

    .venv/bin/python benchmarks/gels_workspace.py [--out FILE]

Calls LAPACKE_?gels_work of the OpenBLAS that vexa links (scipy_openblas32) through ctypes, for
tall (4k x k) and wide (k x 4k) random problems in kinds d and z: with the workspace that a
query (lwork = -1) asks for, and with the documented minimum. ?geqrf, ?gelqf, ?ormqr and ?ormlq
run unblocked for k up to their block size whatever the workspace, so there the minimum must give
the same bits in less time (no query); beyond it the blocked algorithms may gain. Writes
benchmarks/results/gels_workspace.md by default.
"""

import argparse
import ctypes
import timeit
from pathlib import Path

import numpy as np
import scipy_openblas32

RESULTS = Path(__file__).resolve().parent / "results"
COL_MAJOR = 102
ORDERS = (4, 8, 16, 32, 33, 48, 64, 128, 200)
KINDS = {"s": np.float32, "d": np.float64, "c": np.complex64, "z": np.complex128}


def routine(kind):
    library = ctypes.CDLL(str(Path(scipy_openblas32.get_lib_dir()) / "libscipy_openblas.so"))
    function = getattr(library, f"scipy_LAPACKE_{kind}gels_work")
    function.restype = ctypes.c_int
    return function


def solve(function, a, b, lwork):
    """A copy of a and b solved with a workspace of lwork elements (-1: the query)."""
    m, n = a.shape
    a, x = a.copy(order="F"), np.zeros(max(m, n), a.dtype)
    x[:m] = b
    work = np.zeros(max(lwork, 1), a.dtype)
    pointer = ctypes.c_void_p
    info = function(COL_MAJOR, ord("N"), m, n, 1, pointer(a.ctypes.data), max(m, 1),
                    pointer(x.ctypes.data), max(m, n, 1), pointer(work.ctypes.data),
                    lwork)  # fmt: skip
    assert info == 0, info
    return a, x, work[0]


def random(rng, shape, kind):
    values = rng.standard_normal(shape)
    if kind in "cz":
        values = values + 1j * rng.standard_normal(shape)
    return values.astype(KINDS[kind])


def compare(kind, k, shape, rng):
    """The block size that the query implies, whether both workspaces give the same bits, and
    the time of a solve with the minimum over that of a query and a solve with its answer."""
    function = routine(kind)
    m, n = (4 * k, k) if shape == "tall" else (k, 4 * k)
    a, b = random(rng, (m, n), kind), random(rng, m, kind)
    wanted = int(np.real(solve(function, a, b, -1)[2]))
    queried = solve(function, a, b, wanted)
    minimum = solve(function, a, b, k + max(k, 1))
    same = all(np.array_equal(q, p) for q, p in zip(queried[:2], minimum[:2], strict=True))
    calls = {
        "queried": lambda: (solve(function, a, b, -1), solve(function, a, b, wanted)),
        "minimum": lambda: solve(function, a, b, k + max(k, 1)),
    }
    best = dict.fromkeys(calls, float("inf"))
    number = max(1, 20000 // (m * n))
    for _ in range(5):  # interleaved, so that both see the same machine load
        for name, call in calls.items():
            best[name] = min(best[name], min(timeit.repeat(call, number=number, repeat=3)))
    return (wanted - k) // k, same, best["minimum"] / best["queried"]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--out", type=Path, default=RESULTS / "gels_workspace.md")
    args = parser.parse_args()
    lines = [
        "# ?gels: the queried workspace against the documented minimum",
        "",
        "`benchmarks/gels_workspace.py`: random tall (4k x k) and wide (k x 4k) problems with "
        "one right-hand side, solved by LAPACKE_?gels_work of vexa's OpenBLAS with the "
        "workspace its query asks for and with k + max(k, 1). Block size: (queried - k) / k. "
        "Same bits: whether factor and solution agree in every bit. Time ratio: a solve with "
        "the minimum over a query and a solve with its answer (best of interleaved repeats, "
        "same process).",
        "",
        "| kind | shape | k | block size | same bits | time ratio |",
        "|---|---|---|---|---|---|",
    ]
    rng = np.random.default_rng(5)
    for kind in "dz":
        for shape in ("tall", "wide"):
            for k in ORDERS:
                block, same, ratio = compare(kind, k, shape, rng)
                lines.append(
                    f"| {kind} | {shape} | {k} | {block} | {'yes' if same else 'no'} "
                    f"| {ratio:.3f} |"
                )
                print(lines[-1])
    args.out.write_text("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
