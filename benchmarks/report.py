"""results.md, results.json and the plots, from the measured rows; also where
results go, for the benchmark and the examples alike."""

import ctypes
import json
import math
import os
import platform
import time
from pathlib import Path

import matplotlib
import numpy as np
import scipy
from cases import TARGETS
from measure import DispatchRow, IoRow, LargeRow, SmallRow, ThroughputRow

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
    "makes the position irrelevant (target last/first ≤ "
    f"{TARGETS['last/first'].limit}). gemm and matmul have one overload per kind, hence no last.",
]


def add_output_options(parser, quick_help):
    """--quick and --out, for a script writing into the committed results."""
    parser.add_argument("--quick", action="store_true", help=quick_help)
    parser.add_argument(
        "--out", type=Path, help=f"where to write (default {RESULTS}, with --quick {QUICK_OUT})"
    )


def output_dir(parser, args):
    """The directory to write to; a quick run never writes over the committed results."""
    out_dir = (args.out or (QUICK_OUT if args.quick else RESULTS)).resolve()
    if args.quick and out_dir == RESULTS:
        parser.error(f"--quick never writes over the committed results in {RESULTS}")
    out_dir.mkdir(parents=True, exist_ok=True)
    return out_dir


def machine():
    """CPU, versions, OPENBLAS_* settings, and the configuration and core of
    every OpenBLAS library loaded in this process (numpy, scipy and vexa each
    bring their own)."""
    cpu = [line.split(":")[1].strip() for line in open("/proc/cpuinfo") if "model name" in line]
    env = {key: value for key, value in os.environ.items() if key.startswith("OPENBLAS")}
    facts = [f"CPU {cpu[0] if cpu else platform.processor()}, {os.cpu_count()} cores; "
             f"Python {platform.python_version()}, numpy {np.__version__}, scipy "
             f"{scipy.__version__}; OPENBLAS_* environment: {env or 'none set'}"]  # fmt: skip
    for path in sorted(
        {line.split()[-1] for line in open("/proc/self/maps") if "openblas" in line}
    ):
        lib = ctypes.CDLL(path)
        for suffix in ("64_", ""):
            if hasattr(lib, "scipy_openblas_get_config" + suffix):
                config = getattr(lib, "scipy_openblas_get_config" + suffix)
                core = getattr(lib, "scipy_openblas_get_corename" + suffix)
                config.restype = core.restype = ctypes.c_char_p
                owner = next(
                    parent.name for parent in Path(path).parents
                    if parent.parent.name == "site-packages"
                )  # fmt: skip
                user = {"numpy.libs": "numpy", "scipy.libs": "scipy"}.get(owner, "vexa")
                facts.append(f"{owner} (used by {user}): {config().decode()}, "
                             f"core {core().decode()}")  # fmt: skip
                break
    return facts


def cell(column, value):
    """A value as its column shows it: times in the column's unit, ratios to two places."""
    if value is None:
        return "—"
    if isinstance(value, str):
        return value
    scale, digits = {"ns": (1e9, 0), "µs": (1e6, 3), "ms": (1e3, 3), "/s": (1, 1)}.get(
        column[-2:], (1, 2)
    )
    return f"{value * scale:.{digits}f}"


def table(record, rows):
    columns = record.columns()
    lines = ["| " + " | ".join(columns) + " |", "|" + "---|" * len(columns)]
    return lines + ["| " + " | ".join(map(cell, columns, row.values())) + " |" for row in rows]


def write_report(out_dir, mode, floor, small, dispatch, large, io):
    paragraphs = [part for line in LEGEND for part in (line, "")]
    io_targets = (
        f"{TARGETS['asbuffer']}; {TARGETS['from_buffer']}, {TARGETS['from_buffer reordered']}; "
        f"{TARGETS['wrap']}; {TARGETS['pickle']}"
    )
    out = [f"# vexa call overhead and throughput ({mode} mode, {time.strftime('%Y-%m-%d %H:%M')})",
           "", *paragraphs, *[f"- {fact}" for fact in machine()],
           f"- floor: `len(())` takes {cell('ns', floor)} ns",
           "", "## Small operands (8 elements, 8x8), ns per call", "",
           f"Targets: {TARGETS['small/scipy']} and {TARGETS['small/numpy']}; "
           f"{TARGETS['last/first']}. ls rows time copy A, copy b, solve on both vexa and scipy "
           "(lwork precomputed for scipy); numpy runs lstsq. Element access has no target.", "",
           *table(SmallRow, small), "",
           "![call overhead](overhead.png)", "",
           "## The call alone (empty operands): the chain's first and last selectable overload", "",
           "Through the front (vexa.NAME) and through the overload chain (vexa.NAME.__self__).", "",
           *table(DispatchRow, dispatch), "",
           "## Large operands (10^6 elements, gemv 4000x4000, gemm 2000x2000, ls 2000x500)", "",
           f"Target: {TARGETS['large']}. vexa/scipy compares the same "
           "BLAS routine called through both wrappers. Each library runs one BLAS thread: with "
           "their default threads the three OpenBLAS pools in the process take the two cores from "
           "each other. vexa/vexa times vexa against a second allocation of the same operands: "
           "the row's noise.", "",
           *table(LargeRow, large), "",
           "Throughput of each library: GFLOP/s for gemm and matmul, otherwise elements of the "
           "largest operand per second (10^6 for vectors, 1.6·10^7 for gemv's A, 10^6 for ls's A).",
           "", "![large-operand throughput](throughput.png)", "",
           "## Bulk exchange through vexa_io", "",
           f"Targets: {io_targets}.", "",
           *table(IoRow, io)]  # fmt: skip
    (out_dir / "results.md").write_text("\n".join(out) + "\n")
    throughput = [ThroughputRow.of(row) for row in large]
    data = {"mode": mode, "floor": floor}
    for name, record, rows in [("small", SmallRow, small), ("dispatch", DispatchRow, dispatch),
                               ("large", LargeRow, large), ("io", IoRow, io),
                               ("throughput", ThroughputRow, throughput)]:  # fmt: skip
        data[name] = [record.columns(), *(row.values() for row in rows)]
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
    for slot, (label, name) in enumerate(bars):
        measured = [(place, getattr(row, name)) for place, row in enumerate(rows)]
        measured = [(place, seconds) for place, seconds in measured if seconds is not None]
        ax.bar([place + (slot - 1.5) * 0.2 for place, _ in measured],
               [seconds * 1e9 for _, seconds in measured], 0.2, label=label)  # fmt: skip
    ax.axhline(floor * 1e9, color="black", linewidth=0.8, label="floor: len(())")
    ax.set_xticks(range(len(rows)), [f"{row.function} {row.kind}" for row in rows], rotation=90)
    title = "vexa call overhead (gemm and matmul: one overload per kind, no last bar)"
    ax.set(yscale="log", ylabel="ns per call (8 elements, 8x8)", title=title)
    ax.legend()
    fig.tight_layout()
    fig.savefig(out_dir / "overhead.png", dpi=110)


def plot_throughput(out_dir, large):
    """One panel per function, the kinds side by side, higher is faster."""
    rows = [ThroughputRow.of(row) for row in large]
    functions = list(dict.fromkeys(row.function for row in rows))
    columns = 4
    fig, axes = plt.subplots(math.ceil(len(functions) / columns), columns, figsize=(16, 10),
                             squeeze=False)  # fmt: skip
    for ax, function in zip(axes.flat, functions, strict=False):
        mine = [row for row in rows if row.function == function]
        for slot, library in enumerate(("vexa", "scipy", "numpy")):
            values = [getattr(row, library) for row in mine]
            ax.bar([place + (slot - 1) * 0.27 for place in range(len(mine))], values, 0.27,
                   label=library, color=f"C{slot}")  # fmt: skip
        ax.set_xticks(range(len(mine)), [row.kind for row in mine])
        ax.set_title(function)
        ax.set_ylabel(mine[0].unit)
    for ax in axes.flat[len(functions) :]:
        ax.remove()
    fig.legend(*axes.flat[0].get_legend_handles_labels(), loc="upper right", ncol=3)
    fig.suptitle("Large-operand throughput, one BLAS thread per library (higher is faster)")
    fig.tight_layout(rect=(0, 0, 1, 0.96))
    fig.savefig(out_dir / "throughput.png", dpi=110)
