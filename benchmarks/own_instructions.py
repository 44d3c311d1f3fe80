"""Instructions per call of vexa's small calls and of a conjugate-gradient solve, split by the
object file that runs them: CPython, vexa's own code (its extension modules), OpenBLAS, the C
libraries (libc, libm, the loader) and the C++ runtime (libstdc++, libgcc). Counted by valgrind's
callgrind, so the figures do not depend on the machine's load.

    .venv/bin/python benchmarks/own_instructions.py [--calls N] [--save FILE] [--before FILE]
                                                    [--out FILE]

Runs itself under callgrind (needs valgrind, its callgrind.h header and a C compiler), with one
OpenBLAS thread. Each figure is (I(2N) - I(N)) / N: a loop of 2N calls minus a loop of N calls,
each between callgrind client requests, so that what a loop costs once cancels. Operands hold 8
elements, matrices are 8x8; ls solves an 8x4 system restored by two copies before each call,
whose own count is subtracted. The CG row is one 50-iteration solve of examples/cg.py at n = 16.
--save writes the measured figures as JSON; --before reads such a file (for example from a build
of an earlier commit) and adds its vexa and total columns beside the new ones:
benchmarks/results/own_instructions_main.json holds those of the build before the class index,
the inline native objects and checks, and ls without its query. To measure another build, put
its modules first on PYTHONPATH. Writes benchmarks/results/own_instructions.md by default.
"""

import argparse
import json
import os
import re
import subprocess
import sys
import tempfile
from dataclasses import dataclass
from pathlib import Path

from scalars import loop

# Collection runs only between zero() and dump(): the split by object file sums the functions'
# own costs, and with costs zeroed in the middle of a collection, callgrind charges the code
# run between two loops to functions of the next.
MARKS = r"""
#include <valgrind/callgrind.h>
void zero(void) { CALLGRIND_ZERO_STATS; CALLGRIND_TOGGLE_COLLECT; }
void dump(const char* label) { CALLGRIND_TOGGLE_COLLECT; CALLGRIND_DUMP_STATS_AT(label); }
"""
HERE = Path(__file__).resolve().parent
RESULTS = HERE / "results"
CG_SIZE = 16
LS_COPIES = "copy(A0, L); copy(b0, b)"


@dataclass(frozen=True)
class Call:
    """A statement calling f, its kinds, and the most of vexa's own instructions it may take
    (None: no limit on vexa's own part alone)."""

    name: str
    statement: str
    kinds: str
    own_limit: float | None


CALLS = [
    Call("scale", "f(unit, x)", "dz", 100),
    Call("copy", "f(x, y)", "dz", 130),
    Call("swap", "f(x, y)", "dz", 130),
    Call("dot", "f(x, y)", "dz", 130),
    Call("axpy", "f(alpha, x, y)", "dz", 150),
    Call("sum", "f(x, y)", "dz", 150),
    Call("gemv", "f(alpha, beta, A, x, y)", "dz", 300),
    Call("matvec", "f(A, x, y)", "dz", 300),
    Call("gemm", "f(alpha, beta, A, B, C)", "dz", 330),
    Call("matmul", "f(A, B, C)", "dz", 330),
    Call("ls 8x4", f"{LS_COPIES}; f(L, b)", "dz", None),
]
# Totals that must fall by at least so many instructions from the earlier build's (ls), or to at
# most this share of it (CG).
LS_SAVING = 1000
CG_SHARE = 0.8
# A cost line: a position (a line number, its difference to the last, or * for the same) and
# a count.
COST = re.compile(r"^(\*|[+-]?\d+) \d+$")
GROUPS = ["CPython", "vexa", "OpenBLAS", "C libraries", "C++ runtime", "other"]


def group_of(obj):
    name = Path(obj).name
    if name.startswith("python") or name.startswith("libpython"):
        return "CPython"
    if name.startswith("vexa"):
        return "vexa"
    if "openblas" in name:
        return "OpenBLAS"
    if re.match(r"(libc|libm|ld-linux.*|libpthread)[.-]", name):
        return "C libraries"
    if re.match(r"(libstdc\+\+|libgcc_s)[.-]", name):
        return "C++ runtime"
    return "other"


def self_costs(path):
    """Instructions spent in each group's own code in one callgrind dump: the cost lines of each
    function, without those after calls= (a call's inclusive cost), by the object file that
    the function's ob= names (the dumps name files in full: --compress-strings=no)."""
    totals = dict.fromkeys(GROUPS, 0)
    obj, group, after_call = "", "other", False
    text = path.read_text()
    for line in text.splitlines():
        if line.startswith("ob="):
            obj = line[3:]
        elif line.startswith("fn="):
            group = group_of(obj)
        elif line.startswith("calls="):
            after_call = True
        elif COST.match(line):
            if after_call:
                after_call = False
            else:
                totals[group] += int(line.split()[1])
    summary = int(re.search(r"^(?:summary|totals): (\d+)", text, re.M).group(1))
    assert sum(totals.values()) == summary, (path, totals, summary)
    return totals


def operands(kind):
    import numpy as np
    import vexa
    import vexa_io

    complex_kind = kind in "cz"
    dtype = {"s": np.float32, "d": np.float64, "c": np.complex64, "z": np.complex128}[kind]
    i, j = np.indices((8, 8))
    # Products with beta 0.5 and these elements stay bounded however often they repeat, and a
    # unit scale factor keeps x's size; sum and axpy grow y only linearly.
    square = np.asfortranarray((0.5 / (1 + i + j)).astype(dtype))
    rng = np.random.default_rng(7)
    fit = rng.standard_normal((8, 4)) + (1j * rng.standard_normal((8, 4)) if complex_kind else 0)
    rhs = rng.standard_normal(8) + (1j * rng.standard_normal(8) if complex_kind else 0)
    made = {
        name: vexa_io.from_buffer(values)
        for name, values in {
            "A": square, "B": square.copy(order="F"), "C": square.copy(order="F"),
            "x": np.full(8, 0.5, dtype), "y": np.full(8, 0.25, dtype),
            "A0": np.asfortranarray(fit.astype(dtype)), "b0": rhs.astype(dtype),
        }.items()
    }  # fmt: skip
    made["L"] = getattr(vexa, "mat" + kind)(8, 4)
    made["b"] = getattr(vexa, "vec" + kind)(8)
    alpha, beta = (0.5 + 0.25j, 0.5 - 0.25j) if complex_kind else (0.5, 0.5)
    unit = 0.6 + 0.8j if complex_kind else -1.0
    return made | {"alpha": alpha, "beta": beta, "unit": unit, "copy": vexa.copy}


def child(calls, marks):
    import ctypes

    import numpy as np
    import vexa

    sys.path.insert(0, str(HERE.parent / "examples"))
    from cg import system, vexa_cg

    lib = ctypes.CDLL(marks)
    lib.zero()  # ctypes prepares each function on its first call
    lib.dump(b"warm-up")

    def count(label, run, turns, arguments):
        run(range(50), **arguments)  # warm the interpreter's and the libraries' caches
        for times in (turns, 2 * turns):
            lib.zero()
            run(range(times), **arguments)
            lib.dump(f"{label}|{times}".encode())

    for call in CALLS:
        for kind in call.kinds:
            namespace = operands(kind) | {"f": getattr(vexa, call.name.split()[0])}
            names = sorted(namespace)
            count(f"{call.name}|{kind}", loop(call.statement, names), calls, namespace)
            if call.name.startswith("ls"):
                count(f"copies|{kind}", loop(LS_COPIES, names), calls, namespace)
    A, b = system(CG_SIZE, np.random.default_rng(11))
    import vexa_io

    vectors = [vexa.vecd(CG_SIZE) for _ in range(4)]
    arguments = {"A": vexa_io.from_buffer(A), "b": vexa_io.from_buffer(b)}
    solve = loop("cg(A, b, *vectors)", ["cg", "A", "b", "vectors"])
    count("cg|d", solve, max(1, calls // 200), arguments | {"cg": vexa_cg, "vectors": vectors})


def parent(calls):
    with tempfile.TemporaryDirectory() as tmp:
        tmp = Path(tmp)
        (tmp / "marks.c").write_text(MARKS)
        marks = tmp / "marks.so"
        subprocess.run(["cc", "-shared", "-fPIC", "-O1", "-o", marks, tmp / "marks.c"], check=True)
        command = ["valgrind", "--tool=callgrind", "--collect-atstart=no",
                   f"--callgrind-out-file={tmp}/cg.out.%p",
                   "--dump-instr=no", "--dump-line=no", "--compress-strings=no",
                   sys.executable, __file__, "--child", str(marks),
                   "--calls", str(calls)]  # fmt: skip
        env = os.environ | {"OPENBLAS_NUM_THREADS": "1", "PYTHONHASHSEED": "0"}
        subprocess.run(command, check=True, stderr=subprocess.DEVNULL, env=env)
        dumps = sorted(tmp.glob("cg.out.*"), key=lambda p: int(p.name.split(".")[-1]))
        counted = {}
        for path in dumps:
            label = re.search(r"^desc: Trigger: Client Request: (.*)$", path.read_text(), re.M)
            if label and label.group(1) != "warm-up":
                counted[label.group(1)] = self_costs(path)
    per_call = {}
    for label, costs in counted.items():
        name, kind, turns = label.split("|")
        if int(turns) % 2 == 0 and f"{name}|{kind}|{int(turns) // 2}" in counted:
            once = counted[f"{name}|{kind}|{int(turns) // 2}"]
            half = int(turns) // 2
            per_call[name, kind] = {g: (costs[g] - once[g]) / half for g in GROUPS}
    for (name, kind), costs in list(per_call.items()):
        if name.startswith("ls"):
            copies = per_call.pop(("copies", kind))
            per_call[name, kind] = {g: costs[g] - copies[g] for g in GROUPS}
    return [{"call": name, "kind": kind, **costs} for (name, kind), costs in per_call.items()]


def verdict(row, before):
    """PASS or the targets missed: vexa's own part under the call's limit; ls's total at least
    LS_SAVING below the earlier build's, CG's at most CG_SHARE of it."""
    limits = {call.name: call.own_limit for call in CALLS}
    total = sum(row[g] for g in GROUPS)
    missed = []
    limit = limits.get(row["call"])
    if limit is not None and row["vexa"] > limit:
        missed.append(f"vexa {row['vexa']:.0f} > {limit}")
    if before is not None:
        earlier = sum(before[g] for g in GROUPS)
        if row["call"].startswith("ls") and row["kind"] == "d" and earlier - total < LS_SAVING:
            missed.append(f"saves {earlier - total:.0f} < {LS_SAVING}")
        if row["call"] == "cg" and total > CG_SHARE * earlier:
            missed.append(f"total {total / earlier:.2f} of before > {CG_SHARE}")
    return "FAIL: " + ", ".join(missed) if missed else "PASS"


def write(out, calls, rows, before):
    earlier = {(row["call"], row["kind"]): row for row in before or []}
    head = "| call | kind | total | " + " | ".join(GROUPS)
    rule = "|---|---|---|" + "---|" * len(GROUPS)
    if before is not None:
        head += " | total before | vexa before | total after/before"
        rule += "---|---|---|"
    lines = [
        "# vexa's own instructions per call",
        "",
        "valgrind callgrind instruction counts per call, split by the object file whose code "
        f"runs them: (I(2N) - I(N)) / N with N = {calls} calls "
        f"(CG: {max(1, calls // 200)} solves), one OpenBLAS thread "
        "(`benchmarks/own_instructions.py`). Operands: vectors of 8 elements, 8x8 matrices; ls "
        "solves 8x4 (the two copies that restore A and b before each call are subtracted); CG is "
        f"one {50}-iteration solve of `examples/cg.py` at n = {CG_SIZE}. "
        "Targets: vexa's own part at most 100 for scale, 130 for copy, swap and dot, 150 for "
        "axpy and sum, 300 for gemv and matvec, 330 for gemm and matmul; "
        f"against the earlier build: ls d at least {LS_SAVING} cheaper in total, CG at most "
        f"{CG_SHARE} of its total.",
        "",
        head + " | result |",
        rule + "---|",
    ]
    missed = []
    for row in rows:
        old = earlier.get((row["call"], row["kind"]))
        total = sum(row[g] for g in GROUPS)
        cells = [f"{row[g]:.0f}" for g in GROUPS]
        line = f"| {row['call']} | {row['kind']} | {total:.0f} | " + " | ".join(cells)
        if before is not None:
            if old is None:
                line += " | — | — | —"
            else:
                old_total = sum(old[g] for g in GROUPS)
                line += f" | {old_total:.0f} | {old['vexa']:.0f} | {total / old_total:.3f}"
        result = verdict(row, old)
        lines.append(line + f" | {result} |")
        if result != "PASS":
            missed.append(f"{row['call']} {row['kind']}: {result}")
    out.write_text("\n".join(lines) + "\n")
    return missed


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--calls", type=int, default=1000, help="N, calls per loop (default 1000)")
    parser.add_argument("--out", type=Path, default=RESULTS / "own_instructions.md")
    parser.add_argument("--save", type=Path, help="write the figures as JSON here")
    parser.add_argument("--before", type=Path, help="figures of an earlier build (--save's JSON)")
    parser.add_argument("--child", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.child:
        child(args.calls, args.child)
        return
    rows = parent(args.calls)
    if args.save:
        args.save.write_text(json.dumps(rows, indent=1) + "\n")
    before = json.loads(args.before.read_text()) if args.before else None
    missed = write(args.out.resolve(), args.calls, rows, before)
    for text in missed:
        print(f"  {text}")
    print(f"{len(missed)} of {len(rows)} rows missed a target; table in {args.out}")


if __name__ == "__main__":
    main()
