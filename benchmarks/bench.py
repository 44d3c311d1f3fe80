"""Call overhead and throughput of vexa, side by side with scipy.linalg.blas
(scipy.linalg.lapack for "ls") and numpy, in one process.

    .venv/bin/python benchmarks/bench.py [--quick] [--out DIR]

Small operands (8 elements, 8x8) measure the cost of a call, large ones the
throughput. Times are minima over interleaved repeats; every ratio compares
times from the same run. Writes results.md, results.json, overhead.png and
throughput.png to DIR: by default benchmarks/results, the committed results,
for a full run and build/bench-quick for a quick one, which may never write
over the committed results.

The cases and their targets are in cases.py, the timing loops in timing.py,
the rows in measure.py, the tables and plots in report.py.
"""

import argparse

from kinds import KINDS
from measure import dispatch_rows, io_rows, large_rows, small_rows
from report import (
    LEGEND,
    add_output_options,
    output_dir,
    plot_overhead,
    plot_throughput,
    write_report,
)
from timing import Statement, race


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    add_output_options(parser, "fewer repeats; large: kind d only")
    args = parser.parse_args()
    quick, out_dir = args.quick, output_dir(parser, args)
    mode = "quick" if quick else "full"
    repeat, budget = (3, 0.004) if quick else (7, 0.02)
    floor = race({"floor": Statement("len(empty)", {"len": len, "empty": ()})}, repeat, budget)
    small = small_rows(repeat, budget)
    dispatch = dispatch_rows(repeat, budget)
    large = large_rows("d" if quick else KINDS, 1.0 if quick else 6.0)
    io = io_rows(1.0 if quick else 6.0)
    write_report(out_dir, mode, floor["floor"], small, dispatch, large, io)
    plot_overhead(out_dir, small, floor["floor"])
    plot_throughput(out_dir, large)
    missed = [row for row in small + dispatch + large + io if row.result.startswith("FAIL")]
    print(*LEGEND, sep="\n")
    for row in missed:
        print(f"  {row.label}: {row.result}")
    print(f"{len(missed)} rows missed a target ({mode} run); tables and plots in {out_dir}")


if __name__ == "__main__":
    main()
