"""A linear model fitted to data that no single process holds: vexa_dask.lstsq on a two-worker
distributed.LocalCluster on this machine.

    .venv/bin/python examples/dask_lstsq.py                  # 10**8 rows x 8 columns, 6.4 GB
    .venv/bin/python examples/dask_lstsq.py --rows 2000000   # a small run

The workers generate A and b = A coef + noise block by block; each block is reduced to a 9 x 9
triangle where it was made, so only triangles travel. The example prints the fitted
coefficients, the residual sum of squares, the time (generation included) and each worker's peak
memory, then fits the same data with dask.array.linalg.lstsq for comparison, unless it is too
large for dask, whose method holds a Q factor as large as A.
"""

import argparse
import importlib.util
import math
import resource
import time

import dask
import dask.array as da
import numpy as np
from distributed import Client, LocalCluster

import vexa_dask

COLUMNS = 8
COEF = np.arange(1.0, COLUMNS + 1)
NOISE = 0.5


def peak_rss_mb():
    """The peak resident memory of the process that runs it, in MB."""
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024


def problem(rows, block):
    """A and b as dask arrays whose blocks the workers generate from a seed."""
    rng = da.random.default_rng(2026)
    A = rng.standard_normal((rows, COLUMNS), chunks=(block, COLUMNS))
    b = A @ COEF + NOISE * rng.standard_normal(rows, chunks=block)
    return A, b


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rows", type=int, default=10**8)
    parser.add_argument(
        "--dask-rows",
        type=int,
        default=10**7,
        help="largest problem also solved with dask.array.linalg.lstsq (default 10**7)",
    )
    args = parser.parse_args()
    # Blocks of at most a million rows (64 MB of A), and at least eight of them.
    block = min(10**6, math.ceil(args.rows / 8))
    with (
        LocalCluster(
            n_workers=2, threads_per_worker=1, host="127.0.0.1", dashboard_address=None
        ) as cluster,
        Client(cluster) as client,
    ):
        A, b = problem(args.rows, block)
        print(f"A: {args.rows} x {COLUMNS} float64 in {A.numblocks[0]} blocks of {block} rows")
        start = time.perf_counter()
        x, rss = vexa_dask.lstsq(A, b)
        seconds = time.perf_counter() - start
        print("vexa_dask.lstsq:")
        print("  x   =", np.array2string(x, precision=6))
        print(f"  rss = {rss:.6g} (expected about {NOISE**2 * args.rows:.6g})")
        print(f"  time {seconds:.2f} s, generating the data included")
        peaks = client.run(peak_rss_mb).values()
        print("  peak memory per worker:", ", ".join(f"{peak:.0f} MB" for peak in peaks))
        if args.rows > args.dask_rows:
            print(f"dask.array.linalg.lstsq: skipped above {args.dask_rows} rows (--dask-rows)")
            return
        if importlib.util.find_spec("scipy") is None:
            print("dask.array.linalg.lstsq: skipped, it needs scipy")
            return
        start = time.perf_counter()
        theirs, residuals = dask.compute(*da.linalg.lstsq(A, b)[:2])
        seconds_dask = time.perf_counter() - start
        difference = np.linalg.norm(theirs - x) / np.linalg.norm(theirs)
        print("dask.array.linalg.lstsq:")
        print(f"  time {seconds_dask:.2f} s ({seconds_dask / seconds:.1f}x vexa_dask's)")
        print(f"  x differs by {difference:.1e} relative, rss by {abs(residuals[0] - rss):.1e}")


if __name__ == "__main__":
    main()
